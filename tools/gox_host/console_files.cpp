#include "tools/gox_host/console_files.h"

#include <fstream>
#include <iterator>

namespace GoxHostApp {
namespace {

constexpr std::string_view kIndexPath = "/";
constexpr std::string_view kIndexFile = "index.html";
constexpr std::string_view kFilesPrefix = "/console/";
constexpr std::size_t kLargestName = 128;

bool IsPlainName(std::string_view name) {
  if (name.empty() || name.size() > kLargestName || name.front() == '.') return false;
  for (char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    if (!plain) return false;
  }
  return true;
}

}  // namespace

std::optional<ConsoleFile> ConsoleFiles::Find(std::string_view path) const {
  if (folder_.empty()) return std::nullopt;
  std::string_view name;
  if (path == kIndexPath)
    name = kIndexFile;
  else if (path.starts_with(kFilesPrefix))
    name = path.substr(kFilesPrefix.size());
  else
    return std::nullopt;
  if (!IsPlainName(name)) return std::nullopt;
  std::ifstream in(folder_ + "/" + std::string(name), std::ios::binary);
  if (!in) return std::nullopt;
  ConsoleFile file;
  file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  file.contentType = ConsoleContentType(name);
  return file;
}

std::string DefaultConsoleFolder(const std::string& executablePath) {
  const std::size_t slash = executablePath.rfind('/');
  return (slash == std::string::npos ? std::string(".") : executablePath.substr(0, slash)) + "/console";
}

std::string_view ConsoleContentType(std::string_view name) {
  struct Type {
    std::string_view extension;
    std::string_view contentType;
  };
  static constexpr Type kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".png", "image/png"},
      {".svg", "image/svg+xml"},
  };
  for (const Type& type : kTypes)
    if (name.ends_with(type.extension)) return type.contentType;
  return "application/octet-stream";
}

}  // namespace GoxHostApp
