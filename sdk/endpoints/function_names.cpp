#include "sdk/endpoints/function_names.h"

#include <cctype>

namespace Quarn {

std::string_view MethodText(std::uint32_t method) {
  static constexpr std::string_view kMethods[] = {"",        "DELETE", "GET",  "HEAD",
                                                  "OPTIONS", "PATCH",  "POST", "PUT"};
  return method < std::size(kMethods) ? kMethods[method] : std::string_view();
}

std::string MakeFunctionName(std::uint32_t method, std::string_view pathTemplate) {
  std::string combined;
  const std::string_view text = MethodText(method);
  if (!text.empty()) {
    combined += text[0];
    for (std::size_t i = 1; i < text.size(); ++i)
      combined += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    combined += '/';
  }
  combined += pathTemplate;

  std::string name;
  name.reserve(combined.size() + 8);
  bool upper = true;
  for (const char c : combined) {
    switch (c) {
      case '!':
      case '+':
      case '-':
      case '.':
      case '/':
      case '_':
        upper = true;
        break;
      case '{':
        name += "By";
        upper = true;
        break;
      case '}':
        break;
      default:
        name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        upper = false;
    }
  }
  return name;
}

}  // namespace Quarn
