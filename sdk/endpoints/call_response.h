// Writing the answer of an endpoint call into the host's response record.
//
// Every text and array the record points to belongs to the module and stays valid until the host core
// calls the record's release function, which the writer always sets: it frees the body host value, the
// error and reason texts and the header pairs, and clears the record's pointers.

#pragma once

#include <cstdint>
#include <string_view>

#include "plugin/plugin_abi.h"
#include "sdk/binding/type_registry.h"
#include "sdk/endpoints/endpoint_handler.h"

namespace Quarn {

// %1 the function's name.
inline constexpr const char* kResultToHostMessage = "Couldn't convert the result of '%1' for the host.";

// Zero-fills the record.
void ResetResponse(PluginResponse& response) noexcept;

// Writes the call's outcome: the failure message when the call failed, else the result as the body host
// value (enumerators by name); then the response flag, the mode (1, 2 or 3, else 0), the status, the
// reason, the headers and the stream. A result that cannot be written as a host value answers status
// 400 with kResultToHostMessage. REQUIRES: response was reset (or released) before.
void WriteResponse(PluginResponse& response, CallStatus& status, const TypeRegistry& registry,
                   std::string_view functionName);

// Answers a failure with a status and a message, nothing else. Never throws: when no memory can be had
// for the message, a fixed text stands in for it.
void WriteFailure(PluginResponse& response, std::int32_t statusCode, std::string_view message) noexcept;

}  // namespace Quarn
