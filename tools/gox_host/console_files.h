// ConsoleFiles: the developer console's static files, looked up by request path. No HTTP here: the
// front door asks for a path and sends the bytes with their content type.
//
//   GET /                    index.html
//   GET /console/NAME        the file NAME of the console folder (letters, digits, '-', '_', '.';
//                            no folders, no name starting with '.')
//
// The folder is installed beside gox-host (`console/`); nothing is fetched from elsewhere. Any other
// path, a name outside those characters (so no "..", "/" or "%2e") or a file that is missing is not
// the console's, and the caller goes on with its own routing.

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace GoxHostApp {

struct ConsoleFile {
  std::string bytes;
  std::string contentType;
};

class ConsoleFiles {
 public:
  // `folder` is the console folder; empty turns the console off.
  explicit ConsoleFiles(std::string folder) : folder_(std::move(folder)) {}

  // The file for a request path without its query, or nothing when the path is not the console's.
  [[nodiscard]] std::optional<ConsoleFile> Find(std::string_view path) const;

 private:
  std::string folder_;
};

// The console folder of an installed or built gox-host: `console` beside the executable.
[[nodiscard]] std::string DefaultConsoleFolder(const std::string& executablePath);

// The content type a console file is sent with, by its extension.
[[nodiscard]] std::string_view ConsoleContentType(std::string_view name);

}  // namespace GoxHostApp
