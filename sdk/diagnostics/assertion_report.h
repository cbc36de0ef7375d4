// AssertionReport: the report of a condition the SDK or the plugin cannot continue from, written to the
// log as an error.

#pragma once

#include <cstdint>

namespace Quarn {

// Logs an assertion report at level 2 with category "DBG". The report reads "Assertion failed!" and two
// line feeds, then whichever parts are given, in this order: "File: " file and one line feed; "Line: "
// line and two line feeds (line 0 means none); "Function: " function and two line feeds; "Expression: "
// expression; two line feeds and "Description: " description. Null texts count as empty. Never fails; the
// caller decides what happens next. Safe on any thread.
// Example: ReportAssertion("ALE-6238ECBF", "Failed to get regionSettings", nullptr, 0, nullptr).
void ReportAssertion(const char* expression, const char* description, const char* file, std::int32_t line,
                     const char* function);

}  // namespace Quarn
