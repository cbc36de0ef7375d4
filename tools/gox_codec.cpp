// gox-codec: decodes request bodies the way the plugin's endpoints do, for people who write or debug
// them, and prints the value as the plugin sees it.
//
//   gox-codec decode --from json|msgpack|yaml [FILE]   decoded value as indented JSON, or the failure
//   gox-codec encode --to json [--pretty] [FILE]       JSON rewritten in canonical form (fields sorted)
//
// Input comes from FILE or standard input. Exit status: 0 on success (and for --help, which prints the
// usage on standard output), 1 when the input is refused (the message goes to standard error), 2 for a
// usage error or an unreadable file.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

#include "sdk/binding/conversion_result.h"
#include "sdk/diagnostics/message_format.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/json_encoder.h"
#include "sdk/serialization/msgpack_decoder.h"
#include "sdk/serialization/yaml_decoder.h"

namespace {

constexpr int kRefused = 1;
constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: gox-codec decode --from json|msgpack|yaml [FILE]\n"
    "       gox-codec encode --to json [--pretty] [FILE]\n";
constexpr const char* kExtraMessagePackData = "Extra data after the MessagePack value at position %1.";
constexpr const char* kUnreadableFile = "Cannot read %1.";

struct Options {
  std::string command;  // "decode" or "encode"
  std::string format;   // json, msgpack or yaml
  bool pretty = false;
  std::string file;  // empty: standard input
};

bool ParseOptions(int argc, char** argv, Options& options) {
  if (argc < 2) return false;
  options.command = argv[1];
  const std::string_view formatFlag = options.command == "decode" ? "--from" : "--to";
  if (options.command != "decode" && options.command != "encode") return false;
  for (int i = 2; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == formatFlag && i + 1 < argc) {
      options.format = argv[++i];
    } else if (argument == "--pretty" && options.command == "encode") {
      options.pretty = true;
    } else if (!argument.starts_with("--") && options.file.empty()) {
      options.file = argv[i];
    } else {
      return false;
    }
  }
  if (options.command == "encode") return options.format == "json";
  return options.format == "json" || options.format == "msgpack" || options.format == "yaml";
}

bool ReadInput(const std::string& file, std::string& input) {
  if (file.empty() || file == "-") {
    input.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return !std::cin.bad();
  }
  std::ifstream stream(file, std::ios::binary);
  if (!stream) return false;
  input.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
  return !stream.bad();
}

Quarn::ConversionResult Decode(const std::string& format, const std::string& input) {
  if (format == "yaml") return Quarn::DecodeYaml(input);
  if (format == "json") return Quarn::DecodeJson(input.data(), input.size());
  Quarn::ConversionResult result;
  std::size_t consumed = 0;
  Quarn::DecodeMessagePack(result, consumed, reinterpret_cast<const std::uint8_t*>(input.data()),
                           input.size());
  if (result.Ok() && consumed < input.size()) {
    result.Fail(Quarn::FormatString(kExtraMessagePackData, static_cast<std::uint64_t>(consumed)));
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  std::string input;
  if (!ReadInput(options.file, input)) {
    std::fprintf(stderr, "%s\n", Quarn::FormatString(kUnreadableFile, options.file).c_str());
    return kUsageError;
  }
  const Quarn::ConversionResult result = Decode(options.format, input);
  if (!result.Ok()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(result.Message().size()), result.Message().data());
    return kRefused;
  }
  const bool pretty = options.command == "decode" || options.pretty;
  const std::string output = Quarn::EncodeJson(result.Value(), nullptr, pretty ? "\n" : "");
  std::fwrite(output.data(), 1, output.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}
