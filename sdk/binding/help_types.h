// The API help types: native structures that describe a registered API (its functions, types and
// events) and the enumeration of help formats. They are registered with the SDK's builtin types and
// convert like any other registered structure.

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/binding/type_identifier.h"

namespace Quarn {

class TypeRegistry;

// The form in which help is produced.
enum class BindingHelpFormat : std::int32_t {
  Full = 1,     // the Binding* help structures below
  Epytext = 2,  // one Python epytext text per item
};

// The type of a value: its type text and, for vectors and maps, the element's.
struct BindingFullTypeIdentifier {
  std::string type;
  std::string elementType;
};

struct BindingFullArgumentHelp {
  std::string name;
  std::string description;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullFunctionHelp {
  std::string name;
  std::string nameSpace;
  std::vector<BindingFullArgumentHelp> arguments;
  BindingFullTypeIdentifier returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string async;
  std::vector<std::string> tags;
};

struct BindingFullEnumValueHelp {
  std::string name;
  std::string description;
  std::int32_t value = 0;
};

struct BindingFullFieldHelp {
  std::string name;
  std::string description;
  std::uint32_t offset = 0;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullTypeHelp {
  std::string name;
  std::string nameSpace;
  std::uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFullFieldHelp> fields;
  std::vector<BindingFullEnumValueHelp> values;
};

struct BindingFullEventHelp {
  std::string name;
  std::string nameSpace;
  BindingFullTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};

struct BindingFullApiHelp {
  std::vector<BindingFullFunctionHelp> functions;
  std::vector<BindingFullTypeHelp> types;
  std::vector<BindingFullEventHelp> events;
};

// clang-format off
template <> struct TypeTraits<BindingHelpFormat> : EnumTypeTraits<0x2698AA94> {};
template <> struct TypeTraits<BindingFullTypeIdentifier> : StructTypeTraits<0x88B6D4CA> {};
template <> struct TypeTraits<BindingFullArgumentHelp> : StructTypeTraits<0x65FF9F6F> {};
template <> struct TypeTraits<BindingFullFunctionHelp> : StructTypeTraits<0x835D167A> {};
template <> struct TypeTraits<BindingFullEnumValueHelp> : StructTypeTraits<0xD0706E0C> {};
template <> struct TypeTraits<BindingFullFieldHelp> : StructTypeTraits<0x5E9DFDF6> {};
template <> struct TypeTraits<BindingFullTypeHelp> : StructTypeTraits<0x7534AFEA> {};
template <> struct TypeTraits<BindingFullEventHelp> : StructTypeTraits<0x6178093A> {};
template <> struct TypeTraits<BindingFullApiHelp> : StructTypeTraits<0x7DFB1102> {};
template <> struct TypeTraits<std::vector<BindingFullArgumentHelp>> : VectorTypeTraits<0xAE376D12, BindingFullArgumentHelp> {};
template <> struct TypeTraits<std::vector<BindingFullFieldHelp>> : VectorTypeTraits<0x91BDEEC6, BindingFullFieldHelp> {};
template <> struct TypeTraits<std::vector<BindingFullEnumValueHelp>> : VectorTypeTraits<0xF613EC9E, BindingFullEnumValueHelp> {};
template <> struct TypeTraits<std::vector<BindingFullFunctionHelp>> : VectorTypeTraits<0x334BF406, BindingFullFunctionHelp> {};
template <> struct TypeTraits<std::vector<BindingFullTypeHelp>> : VectorTypeTraits<0xE98B65D6, BindingFullTypeHelp> {};
template <> struct TypeTraits<std::vector<BindingFullEventHelp>> : VectorTypeTraits<0xC8AF01A6, BindingFullEventHelp> {};
// clang-format on

// Registers BindingHelpFormat and the BindingFull* structures, in that order, each nested type before
// the types that hold it, tagged "$builtin" and "help".
void RegisterHelpTypes(TypeRegistry& registry);

}  // namespace Quarn
