#include "sdk/binding/host_value_conversion.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "sdk/binding/module_heap.h"
#include "sdk/binding/nesting_limit.h"
#include "sdk/binding/type_registry.h"
#include "sdk/diagnostics/message_format.h"

namespace Quarn {

// The packed layouts the host core reads: a pointer and a 32-bit count fill the payload.
static_assert(sizeof(HostValue) == 4 + sizeof(void*) + 4);
static_assert(sizeof(HostValueMember) == sizeof(void*) + sizeof(HostValue) + 1);
static_assert(sizeof(HostValueError) == sizeof(HostValue) + sizeof(void*) + 1);
static_assert(sizeof(void*) != 8 || (sizeof(HostValue) == 16 && sizeof(HostValueMember) == 25));

namespace {

// %1 name, %2 the empty text.
constexpr const char* kIncompatibleTypeMessage =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible type '%2'.";
// %1 name, %2 the nesting limit.
constexpr const char* kHostNestingMessage = "Host value for '%1' is nested deeper than %2 levels.";
// %1 name, %2 type code.
constexpr const char* kHostNullDataMessage = "Host value for '%1' of type %2 has a null pointer.";
// %1 name.
constexpr const char* kHostOutOfMemoryMessage = "Host value for '%1' could not be stored: out of memory.";
// %1 the nesting limit.
constexpr const char* kWriteNestingMessage = "The value is nested deeper than %1 levels.";
// %1 the largest count.
constexpr const char* kWriteCountMessage = "The value has a text, blob or container of more than %1 items.";
constexpr const char* kWriteMemoryMessage = "Out of memory writing the value as a host value.";

// The most elements a collection reserves from its declared count before reading them: the count is the
// host's word, and an array that short of memory is found out element by element, not by one reservation.
constexpr std::uint32_t kMaxReservedElements = 1024;

constexpr std::uint32_t kMaxCount = std::numeric_limits<std::uint32_t>::max();

// Reads one host tree into BindingProperty values, reporting the first refusal into the error record.
class HostReader {
 public:
  HostReader(HostValueError& error, std::string_view name) : error_(error), name_(name) {}

  bool Read(BindingProperty& target, const HostValue& value, std::size_t depth) {
    const HostValueSpan span = value.payload.span;
    switch (value.type) {
      case kHostValueEmpty:
        target.Reset();
        return true;
      case kHostValueBool:
        target.SetBool(value.payload.boolean != 0);
        return true;
      case kHostValueSigned:
        target.SetSigned(value.payload.signedValue);
        return true;
      case kHostValueUnsigned:
        target.SetUnsigned(value.payload.unsignedValue);
        return true;
      case kHostValueFloat:
        target.SetFloat(value.payload.floatValue);
        return true;
      case kHostValueText:
      case kHostValueOwnedText: {
        const char* text =
            value.type == kHostValueText ? value.payload.text : static_cast<const char*>(span.data);
        if (text == nullptr) return NullData(value.type);
        target.SetString(text);
        return true;
      }
      case kHostValueBytes:
      case kHostValueOwnedBytes:
        if (span.data == nullptr && span.count != 0) return NullData(value.type);
        target.SetBlob(
            std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(span.data), span.count));
        return true;
      case kHostValueCollection:
        return ReadCollection(target, span, depth);
      case kHostValueStructure:
        return ReadStructure(target, span, depth);
      default:
        return Fail(FormatString(kIncompatibleTypeMessage, name_, ""));
    }
  }

 private:
  bool ReadCollection(BindingProperty& target, HostValueSpan span, std::size_t depth) {
    if (!EnterContainer(span, kHostValueCollection, depth)) return false;
    target.Reset();
    target.MakeCollection();
    target.Reserve(std::min(span.count, kMaxReservedElements));
    const auto* elements = static_cast<const HostValue*>(span.data);
    for (std::uint32_t i = 0; i < span.count; ++i) {
      if (!Read(target.Append(), elements[i], depth + 1)) return false;
    }
    return true;
  }

  bool ReadStructure(BindingProperty& target, HostValueSpan span, std::size_t depth) {
    if (!EnterContainer(span, kHostValueStructure, depth)) return false;
    target.Reset();
    target.MakeStructure();
    const auto* members = static_cast<const HostValueMember*>(span.data);
    for (std::uint32_t i = 0; i < span.count; ++i) {
      const HostValueMember& member = members[i];
      if (member.name == nullptr) return NullData(kHostValueStructure);
      if (!Read(target.Field(member.name), member.value, depth + 1)) return false;
    }
    return true;
  }

  // Refuses a container nested too deep or without its array.
  bool EnterContainer(HostValueSpan span, std::uint32_t type, std::size_t depth) {
    if (depth >= kMaxNestingDepth) return Fail(FormatString(kHostNestingMessage, name_, kMaxNestingDepth));
    if (span.data == nullptr && span.count != 0) return NullData(type);
    return true;
  }

  bool NullData(std::uint32_t type) { return Fail(FormatString(kHostNullDataMessage, name_, type)); }

  bool Fail(const std::string& message) {
    ReleaseHostValue(error_.value);
    HeapFree(error_.message);
    error_.message = HeapDuplicateText(message);
    error_.failed = 1;
    return false;
  }

  HostValueError& error_;
  std::string_view name_;
};

// Writes one BindingProperty tree into host values allocated on the module heap. On false the target
// may hold part of the tree; the caller releases it.
class HostWriter {
 public:
  explicit HostWriter(const TypeRegistry* registry) : registry_(registry) {}

  // Why the last Write refused.
  [[nodiscard]] const std::string& Refusal() const { return refusal_; }

  bool Write(HostValue& target, const BindingProperty& property, std::size_t depth) {
    ReleaseHostValue(target);
    switch (property.Kind()) {
      case BindingKind::Empty:
        return true;
      case BindingKind::Bool:
        target.type = kHostValueBool;
        target.payload.boolean = property.GetBool(false) ? 1 : 0;
        return true;
      case BindingKind::Signed:
        target.type = kHostValueSigned;
        target.payload.signedValue = property.GetSigned(0);
        return true;
      case BindingKind::Unsigned:
        target.type = kHostValueUnsigned;
        target.payload.unsignedValue = property.GetUnsigned(0);
        return true;
      case BindingKind::Float:
        target.type = kHostValueFloat;
        target.payload.floatValue = property.GetFloat(0);
        return true;
      case BindingKind::String:
        return WriteText(target, property.GetString({}));
      case BindingKind::Blob:
        return WriteBytes(target, property.GetBlob({}));
      case BindingKind::Enum:
        return WriteEnum(target, property.GetEnum({}));
      case BindingKind::Collection:
        return WriteCollection(target, property, depth);
      case BindingKind::Structure:
        return WriteStructure(target, property, depth);
    }
    return true;
  }

 private:
  bool WriteText(HostValue& target, std::string_view text) {
    if (text.size() > kMaxCount) return Refuse(FormatString(kWriteCountMessage, kMaxCount));
    char* copy = HeapDuplicateText(text);
    if (copy == nullptr) return Refuse(kWriteMemoryMessage);
    target.type = kHostValueOwnedText;
    target.payload.span = {copy, static_cast<std::uint32_t>(text.size())};
    return true;
  }

  bool WriteBytes(HostValue& target, std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxCount) return Refuse(FormatString(kWriteCountMessage, kMaxCount));
    void* copy = nullptr;
    if (!bytes.empty()) {
      copy = HeapAllocate(bytes.size());
      if (copy == nullptr) return Refuse(kWriteMemoryMessage);
      std::memcpy(copy, bytes.data(), bytes.size());
    }
    target.type = kHostValueOwnedBytes;
    target.payload.span = {copy, static_cast<std::uint32_t>(bytes.size())};
    return true;
  }

  bool WriteEnum(HostValue& target, EnumValue value) {
    if (registry_ != nullptr && value.type != nullptr) {
      if (const std::optional<std::string> found = registry_->FindEnumName(value.type->id, value.value))
        return WriteText(target, *found);
    }
    target.type = kHostValueSigned;
    target.payload.signedValue = value.value;
    return true;
  }

  // Makes target a container of type holding a zeroed array of count records of size bytes (null for
  // none), so that a failure while filling the array releases what was filled.
  bool AllocateArray(HostValue& target, std::uint32_t type, std::size_t count, std::size_t size) {
    if (count > kMaxCount || count > std::numeric_limits<std::size_t>::max() / size)
      return Refuse(FormatString(kWriteCountMessage, kMaxCount));
    void* array = nullptr;
    if (count != 0) {
      array = HeapAllocate(count * size);
      if (array == nullptr) return Refuse(kWriteMemoryMessage);
      std::memset(array, 0, count * size);
    }
    target.type = type;
    target.payload.span = {array, static_cast<std::uint32_t>(count)};
    return true;
  }

  bool WriteCollection(HostValue& target, const BindingProperty& property, std::size_t depth) {
    if (depth >= kMaxNestingDepth) return Refuse(FormatString(kWriteNestingMessage, kMaxNestingDepth));
    const auto elements = property.Elements();
    if (!AllocateArray(target, kHostValueCollection, elements.size(), sizeof(HostValue))) return false;
    auto* array = static_cast<HostValue*>(target.payload.span.data);
    for (std::size_t i = 0; i < elements.size(); ++i) {
      if (!Write(array[i], elements[i], depth + 1)) return false;
    }
    return true;
  }

  bool WriteStructure(HostValue& target, const BindingProperty& property, std::size_t depth) {
    if (depth >= kMaxNestingDepth) return Refuse(FormatString(kWriteNestingMessage, kMaxNestingDepth));
    if (!AllocateArray(target, kHostValueStructure, property.Count(), sizeof(HostValueMember))) return false;
    auto* members = static_cast<HostValueMember*>(target.payload.span.data);
    std::size_t i = 0;
    for (const auto field : property.Fields()) {
      HostValueMember& member = members[i++];
      member.name = HeapDuplicateText(field.name);
      if (member.name == nullptr) return Refuse(kWriteMemoryMessage);
      member.ownsName = 1;
      if (!Write(member.value, field.value, depth + 1)) return false;
    }
    return true;
  }

  bool Refuse(std::string why) {
    refusal_ = std::move(why);
    return false;
  }

  const TypeRegistry* registry_;
  std::string refusal_;
};

}  // namespace

bool FromHost(HostValueError& error, BindingProperty& target, const HostValue& value, std::string_view name) {
  HostReader reader(error, name);
  if (!reader.Read(target, value, 0)) return false;
  // A tree that ran out of memory lost part of what it read: that is no conversion.
  if (!target.AllocationFailed()) return true;
  ReleaseHostValue(error.value);
  HeapFree(error.message);
  error.message = HeapDuplicateText(FormatString(kHostOutOfMemoryMessage, name));
  error.failed = 1;
  return false;
}

bool ToHost(HostValue& target, const BindingProperty& property, const TypeRegistry* registry,
            std::string* message) {
  HostWriter writer(registry);
  if (writer.Write(target, property, 0)) return true;
  ReleaseHostValue(target);
  if (message != nullptr) *message = writer.Refusal();
  return false;
}

void ReleaseHostValue(HostValue& value) noexcept {
  const HostValueSpan span = value.payload.span;
  switch (value.type) {
    case kHostValueOwnedText:
    case kHostValueOwnedBytes:
      HeapFree(span.data);
      break;
    case kHostValueCollection:
      if (span.data != nullptr) {
        auto* elements = static_cast<HostValue*>(span.data);
        for (std::uint32_t i = 0; i < span.count; ++i)
          ReleaseHostValue(elements[i]);
        HeapFree(span.data);
      }
      break;
    case kHostValueStructure:
      if (span.data != nullptr) {
        auto* members = static_cast<HostValueMember*>(span.data);
        for (std::uint32_t i = 0; i < span.count; ++i) {
          if (members[i].ownsName != 0) HeapFree(const_cast<char*>(members[i].name));
          ReleaseHostValue(members[i].value);
        }
        HeapFree(span.data);
      }
      break;
    default:
      break;
  }
  std::memset(&value, 0, sizeof value);
}

void ReleaseHostValueError(HostValueError& error) noexcept {
  ReleaseHostValue(error.value);
  HeapFree(error.message);
  error.message = nullptr;
  error.failed = 0;
}

}  // namespace Quarn
