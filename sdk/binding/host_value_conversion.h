// Host value conversion: BindingProperty trees to and from the plain host value records in which
// values cross the host core's plain-function interface.
//
// Reading trusts no part of a host value: unknown type codes, null texts, null arrays with a count and
// nesting deeper than kMaxNestingDepth are refused with a message, never followed. Writing allocates
// every buffer through the module heap hooks; the caller releases what it gets with ReleaseHostValue.

#pragma once

#include <string>
#include <string_view>

#include "plugin/plugin_abi.h"
#include "sdk/binding/binding_property.h"

namespace Quarn {

class TypeRegistry;

// Fills target from value. Texts and bytes are copied, so value may be released afterwards; a later
// member of a structure overwrites an earlier one of the same name. On refusal error.failed is set,
// error.message holds a newly allocated message quoting name, error.value is released, target holds
// what was read so far, and the result is false. A tree that could not get the memory it needed
// (AllocationFailed()) is refused too. A container's declared count is not reserved beyond a small bound
// before its elements are read.
[[nodiscard]] bool FromHost(HostValueError& error, BindingProperty& target, const HostValue& value,
                            std::string_view name);

// Releases target, then writes property into it: texts as owned copies (code 6), blobs as owned copies
// (code 8), collections and structures as owned arrays (codes 9, 10, members in name order with owned
// names). An enum value becomes its enumerator's name when registry (may be null) knows one, else its
// value as a signed integer. Returns false, with target empty, when the tree is nested deeper than
// kMaxNestingDepth, a count exceeds 32 bits or the heap refuses memory; message (when given) then says
// which.
// REQUIRES: target holds a valid host value (the zeroed record is one).
[[nodiscard]] bool ToHost(HostValue& target, const BindingProperty& property, const TypeRegistry* registry,
                          std::string* message = nullptr);

// Frees what value owns, by type code, and zeroes it to the empty value. Null arrays are skipped.
void ReleaseHostValue(HostValue& value) noexcept;

// Frees the error's message, releases its value and clears its failure flag.
void ReleaseHostValueError(HostValueError& error) noexcept;

}  // namespace Quarn
