#include "sdk/diagnostics/assertion_report.h"

#include <algorithm>
#include <cstdio>

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/logger.h"

namespace Quarn {
namespace {

constexpr const char* kHeading = "Assertion failed!\n\n";
constexpr const char* kFileEntry = "File: %s\n";
constexpr const char* kLineEntry = "Line: %d\n\n";
constexpr const char* kFunctionEntry = "Function: %s\n\n";
constexpr const char* kExpressionEntry = "Expression: %s";
constexpr const char* kDescriptionEntry = "\n\nDescription: %s";
constexpr const char* kReportFormat = "%s";

bool IsGiven(const char* text) {
  return text != nullptr && *text != '\0';
}

// Builds the report in a fixed buffer; parts that do not fit are cut, as the logger cuts messages anyway.
class ReportBuilder {
 public:
  template <typename Value>
  void Add(const char* format, Value value) {
    if (length_ + 1 >= sizeof text_) return;
    const int written = std::snprintf(text_ + length_, sizeof text_ - length_, format, value);
    if (written > 0) length_ = std::min(length_ + static_cast<std::size_t>(written), sizeof text_ - 1);
  }

  [[nodiscard]] const char* Text() const { return text_; }

 private:
  char text_[kLogBufferSize] = {};
  std::size_t length_ = 0;
};

}  // namespace

void ReportAssertion(const char* expression, const char* description, const char* file, std::int32_t line,
                     const char* function) {
  ReportBuilder report;
  report.Add(kReportFormat, kHeading);
  if (IsGiven(file)) report.Add(kFileEntry, file);
  if (line != 0) report.Add(kLineEntry, static_cast<int>(line));
  if (IsGiven(function)) report.Add(kFunctionEntry, function);
  if (IsGiven(expression)) report.Add(kExpressionEntry, expression);
  if (IsGiven(description)) report.Add(kDescriptionEntry, description);
  Log(kLogLevelError, kCategoryDebug, kReportFormat, report.Text());
}

}  // namespace Quarn
