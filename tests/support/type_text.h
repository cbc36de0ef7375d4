// Text forms of registry records, so that tests compare a whole type against one table row.

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sdk/binding/type_registry.h"

namespace Quarn::test {

// "name: type #ID (description)", without the parenthesis when the description is empty. type is the native
// kind's text, or the referenced registered type's name ("?" while unresolved), inside "vector<...>" or
// "map<...>" for those kinds, followed by "?" for an optional wrapper; ID is the member type's identifier in
// eight hexadecimal digits. Example: "arguments: vector<BindingFullArgumentHelp> #AE376D12".
[[nodiscard]] std::string MemberText(const FieldInfo& field);
[[nodiscard]] std::vector<std::string> MemberTexts(const TypeInfo& type);

// "name=value: description" for each enumerator, in stored order.
[[nodiscard]] std::vector<std::string> EnumeratorTexts(const TypeInfo& type);

// What a test expects of one registered type. members holds MemberTexts for structures and
// EnumeratorTexts for enumerations.
struct ExpectedType {
  const char* name;
  std::uint32_t id;
  std::size_t size;
  const char* description;
  std::vector<std::string> tags;
  std::vector<std::string> members;
};

// Expects a type found by name and by identifier that matches expected in every part.
void ExpectRegistered(const TypeRegistry& registry, const ExpectedType& expected);

}  // namespace Quarn::test
