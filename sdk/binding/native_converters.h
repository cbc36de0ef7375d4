// Native converters: the FieldConverter of every native member type, and typed conversion of whole
// native values.
//
// ConverterFor<T>() is the one process-wide converter of native type T; TypeBuilder::AddField<T> fixes
// it on the member. The BindingProperty forms are:
//   bool                     <-> bool
//   int8 .. int64            <-> signed (sign-extended); read with the type's own bounds
//   uint8 .. uint64          <-> unsigned (zero-extended)
//   float, double            <-> float
//   std::string              <-> string (an enum value reads as its enumerator's name)
//   BindingProperty          <-> the value as it is
//   Blob                     <-> blob
//   registered enumeration   <-> enum with the type's identifier (reads names and numbers too)
//   registered structure     <-> structure (see struct_conversion.h)
//   std::vector<E>           <-> collection of E's forms; empty input elements leave default elements
//   std::map<std::string, E> <-> structure with one field per entry; empty input fields are skipped
//   std::optional<E>         <-> E's form, or the empty value for nothing; the empty value reads as nothing

#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/conversion_result.h"
#include "sdk/binding/field_converter.h"
#include "sdk/binding/native_kind.h"
#include "sdk/binding/struct_conversion.h"
#include "sdk/binding/type_identifier.h"
#include "sdk/binding/value_readers.h"

namespace Quarn {

// Reads a blob input into bytes; every other kind is refused.
void ReadBlob(ConversionResult& result, Blob& bytes, const BindingProperty& input, std::string_view name);

namespace ConversionDetail {

template <class T>
inline constexpr bool kIsOptional = false;
template <class T>
inline constexpr bool kIsOptional<std::optional<T>> = true;

template <class T>
inline constexpr bool kUnsupportedMember = false;

constexpr bool IsSignedKind(NativeKind kind) {
  return kind == NativeKind::Int8 || kind == NativeKind::Int16 || kind == NativeKind::Int32 ||
         kind == NativeKind::Int64;
}
constexpr bool IsUnsignedKind(NativeKind kind) {
  return kind == NativeKind::UInt8 || kind == NativeKind::UInt16 || kind == NativeKind::UInt32 ||
         kind == NativeKind::UInt64;
}
constexpr bool RefersToType(NativeKind kind) {
  return kind == NativeKind::Struct || kind == NativeKind::Enum;
}

template <class T>
void ReadNative(ConversionResult& result, T& value, const BindingProperty& input, std::string_view name,
                const TypeInfo* type, const TypeRegistry& registry);

inline constexpr const char* kValueCopyOutOfMemoryMessage = "Couldn't copy a value: out of memory.";

// Writes value's form into target. type is the registered structure or enumeration the value (or its
// elements) refers to.
template <class T>
void WriteNative(ConversionResult& status, BindingProperty& target, const T& value, const TypeInfo* type,
                 const TypeRegistry& registry) {
  constexpr NativeKind kKind = TypeTraits<T>::kKind;
  if constexpr (kIsOptional<T>) {
    if (value.has_value()) return WriteNative(status, target, *value, type, registry);
    target.Reset();
  } else if constexpr (kKind == NativeKind::Bool) {
    target.SetBool(value);
  } else if constexpr (IsSignedKind(kKind)) {
    target.SetSigned(value);
  } else if constexpr (IsUnsignedKind(kKind)) {
    target.SetUnsigned(value);
  } else if constexpr (kKind == NativeKind::Float || kKind == NativeKind::Double) {
    target.SetFloat(value);
  } else if constexpr (kKind == NativeKind::String) {
    target.SetString(value);
  } else if constexpr (kKind == NativeKind::Object) {
    target = value;
    // A copy cut short by the heap would be written as some other value.
    if (target.AllocationFailed()) status.Fail(kValueCopyOutOfMemoryMessage);
  } else if constexpr (kKind == NativeKind::Blob) {
    target.SetBlob(std::span<const std::uint8_t>(value));
  } else if constexpr (kKind == NativeKind::Enum) {
    target.SetEnum(static_cast<std::int32_t>(value), &TypeIdOf<T>());
  } else if constexpr (kKind == NativeKind::Struct) {
    StructToPropertyAt(status, target, &value, type, registry);
  } else if constexpr (kKind == NativeKind::Vector) {
    target.Reset();
    target.MakeCollection();
    target.Reserve(value.size());
    for (const auto& element : value) {
      WriteNative(status, target.Append(), element, type, registry);
      if (!status.Ok()) return;
    }
  } else if constexpr (kKind == NativeKind::Map) {
    target.Reset();
    target.MakeStructure();
    for (const auto& [key, element] : value) {
      WriteNative(status, target.Field(key), element, type, registry);
      if (!status.Ok()) return;
    }
  } else {
    static_assert(kUnsupportedMember<T>, "no conversion for this native member type");
  }
}

// Reads input into value; a refusal fails result and leaves scalars unchanged.
template <class T>
void ReadNative(ConversionResult& result, T& value, const BindingProperty& input, std::string_view name,
                const TypeInfo* type, const TypeRegistry& registry) {
  if (!result.Ok()) return;
  constexpr NativeKind kKind = TypeTraits<T>::kKind;
  const auto assign = [&](const auto& read) {
    if (result.Ok()) value = static_cast<T>(read);
  };
  if constexpr (kIsOptional<T>) {
    if (input.Kind() == BindingKind::Empty) return value.reset();
    typename T::value_type inner{};
    ReadNative(result, inner, input, name, type, registry);
    if (result.Ok()) value = std::move(inner);
  } else if constexpr (kKind == NativeKind::Bool) {
    assign(ReadBool(result, input, name));
  } else if constexpr (IsSignedKind(kKind)) {
    assign(ReadSigned(result, input, name, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(),
                      NativeKindName(kKind)));
  } else if constexpr (IsUnsignedKind(kKind)) {
    assign(ReadUnsigned(result, input, name, std::numeric_limits<T>::max(), NativeKindName(kKind)));
  } else if constexpr (kKind == NativeKind::Float || kKind == NativeKind::Double) {
    assign(ReadFloating(result, input, name, std::numeric_limits<T>::lowest(), std::numeric_limits<T>::max(),
                        NativeKindName(kKind)));
  } else if constexpr (kKind == NativeKind::String) {
    std::string text = ReadString(result, input, name, &registry);
    if (result.Ok()) value = std::move(text);
  } else if constexpr (kKind == NativeKind::Object) {
    ReadObject(result, value, input, name);
  } else if constexpr (kKind == NativeKind::Blob) {
    ReadBlob(result, value, input, name);
  } else if constexpr (kKind == NativeKind::Enum) {
    assign(ReadEnum(result, input, name, type));
  } else if constexpr (kKind == NativeKind::Struct) {
    ReadStruct(result, &value, input, name, type, registry);
  } else if constexpr (kKind == NativeKind::Vector || kKind == NativeKind::Map) {
    const auto readElement = [&](ConversionResult& elementResult, auto& element, const BindingProperty& from,
                                 std::string_view elementName) {
      ReadNative(elementResult, element, from, elementName, type, registry);
    };
    if constexpr (kKind == NativeKind::Vector) {
      ReadVector(result, value, input, name, readElement);
    } else {
      ReadMap(result, value, input, name, readElement);
    }
  } else {
    static_assert(kUnsupportedMember<T>, "no conversion for this native member type");
  }
}

// The converter of native type T.
template <class T>
class NativeConverter final : public FieldConverter {
 public:
  void ToProperty(ConversionResult& result, const void* member, const TypeInfo* typeInfo,
                  const TypeRegistry& registry) const override {
    if (!result.Ok()) return;
    result.Init();
    ConversionResult status;
    WriteNative(status, result.Value(), *static_cast<const T*>(member), typeInfo, registry);
    if (!status.Ok()) result.Fail(status.Message());
  }

  void ToPropertyAt(ConversionResult& status, BindingProperty& target, const void* member,
                    const TypeInfo* typeInfo, const TypeRegistry& registry) const override {
    if (status.Ok()) WriteNative(status, target, *static_cast<const T*>(member), typeInfo, registry);
  }

  void ToNative(ConversionResult& result, void* member, const BindingProperty& input, std::string_view name,
                const TypeInfo* typeInfo, const TypeRegistry& registry) const override {
    ReadNative(result, *static_cast<T*>(member), input, name, typeInfo, registry);
  }
};

// The registered type a value of native type T refers to, or null.
template <class T>
[[nodiscard]] const TypeInfo* ReferencedType(const TypeRegistry& registry) {
  using Traits = TypeTraits<T>;
  if constexpr (RefersToType(Traits::kKind) || RefersToType(Traits::kElementKind)) {
    return FindTypeInfo(registry, Traits::kReferencedId);
  } else {
    return nullptr;
  }
}

}  // namespace ConversionDetail

// The process-wide converter of native member type T.
template <class T>
[[nodiscard]] const FieldConverter* ConverterFor() {
  static const ConversionDetail::NativeConverter<T> converter;
  return &converter;
}

// Converts a native value of any registered member type into result, e.g. a response structure:
//   ConversionResult result;
//   ToProperty(result, response, registry);
template <class T>
void ToProperty(ConversionResult& result, const T& value, const TypeRegistry& registry) {
  ConverterFor<T>()->ToProperty(result, &value, ConversionDetail::ReferencedType<T>(registry), registry);
}

// Reads input into a native value of any registered member type; name labels it in messages. A
// structure read from the empty value fails as a missing value.
template <class T>
void ToNative(ConversionResult& result, T& value, const BindingProperty& input, std::string_view name,
              const TypeRegistry& registry) {
  ConverterFor<T>()->ToNative(result, &value, input, name, ConversionDetail::ReferencedType<T>(registry),
                              registry);
}

}  // namespace Quarn
