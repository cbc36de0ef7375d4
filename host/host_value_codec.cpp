#include "host/host_value_codec.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace GoxHost {
namespace {

constexpr const char* kUnknownCode = "host value has the unknown type code ";
constexpr const char* kNullSpan = "host value of code %u has a null pointer and a count of %u";
constexpr const char* kNullText = "host value of code 5 has a null text";
constexpr const char* kNullMemberName = "structure member %u has a null name";
constexpr const char* kNotFinite = "host value of code 4 is not a finite number";
constexpr const char* kTooDeep = "host value nests deeper than the limit";

std::string Printf(const char* format, std::uint32_t a, std::uint32_t b = 0) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

char* CopyBytes(const char* data, std::size_t length) {
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (length > 0) std::memcpy(copy, data, length);
  copy[length] = '\0';
  return copy;
}

HostValue Build(const rapidjson::Value& json, std::uint32_t depth) {
  HostValue value{};
  if (depth > kMaxHostValueDepth) return value;
  if (json.IsBool()) {
    value.type = kHostValueBool;
    value.payload.boolean = json.GetBool() ? 1 : 0;
  } else if (json.IsInt64()) {
    value.type = kHostValueSigned;
    value.payload.signedValue = json.GetInt64();
  } else if (json.IsUint64()) {
    value.type = kHostValueUnsigned;
    value.payload.unsignedValue = json.GetUint64();
  } else if (json.IsNumber()) {
    value.type = kHostValueFloat;
    value.payload.floatValue = json.GetDouble();
  } else if (json.IsString()) {
    value.type = kHostValueOwnedText;
    value.payload.span.data = CopyBytes(json.GetString(), json.GetStringLength());
    value.payload.span.count = json.GetStringLength();
  } else if (json.IsArray()) {
    const std::uint32_t count = json.Size();
    auto* items = static_cast<HostValue*>(std::calloc(count == 0 ? 1 : count, sizeof(HostValue)));
    for (std::uint32_t i = 0; i < count; ++i)
      items[i] = Build(json[i], depth + 1);
    value.type = kHostValueCollection;
    value.payload.span = HostValueSpan{items, count};
  } else if (json.IsObject()) {
    const std::uint32_t count = json.MemberCount();
    auto* members =
        static_cast<HostValueMember*>(std::calloc(count == 0 ? 1 : count, sizeof(HostValueMember)));
    std::uint32_t i = 0;
    for (const auto& member : json.GetObject()) {
      members[i].name = CopyBytes(member.name.GetString(), member.name.GetStringLength());
      members[i].ownsName = 1;
      members[i].value = Build(member.value, depth + 1);
      ++i;
    }
    value.type = kHostValueStructure;
    value.payload.span = HostValueSpan{members, count};
  }
  return value;
}

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const unsigned char* data, std::uint32_t count) {
  std::string text;
  text.reserve((count + 2) / 3 * 4);
  for (std::uint32_t i = 0; i < count; i += 3) {
    const std::uint32_t remaining = count - i;
    std::uint32_t triple = static_cast<std::uint32_t>(data[i]) << 16;
    if (remaining > 1) triple |= static_cast<std::uint32_t>(data[i + 1]) << 8;
    if (remaining > 2) triple |= data[i + 2];
    text += kBase64Alphabet[(triple >> 18) & 63];
    text += kBase64Alphabet[(triple >> 12) & 63];
    text += remaining > 1 ? kBase64Alphabet[(triple >> 6) & 63] : '=';
    text += remaining > 2 ? kBase64Alphabet[triple & 63] : '=';
  }
  return text;
}

// Reads one host value into `out`; returns false with `error` set at the first broken rule.
class Reader {
 public:
  explicit Reader(rapidjson::Document::AllocatorType& allocator) : allocator_(allocator) {}

  bool Read(const HostValue& value, rapidjson::Value& out, std::uint32_t depth) {
    if (depth > kMaxHostValueDepth) return Fail(kTooDeep);
    const HostValueSpan& span = value.payload.span;
    switch (value.type) {
      case kHostValueEmpty:
        out.SetNull();
        return true;
      case kHostValueBool:
        out.SetBool(value.payload.boolean != 0);
        return true;
      case kHostValueSigned:
        out.SetInt64(value.payload.signedValue);
        return true;
      case kHostValueUnsigned:
        out.SetUint64(value.payload.unsignedValue);
        return true;
      case kHostValueFloat:
        if (!std::isfinite(value.payload.floatValue)) return Fail(kNotFinite);
        out.SetDouble(value.payload.floatValue);
        return true;
      case kHostValueText:
        if (value.payload.text == nullptr) return Fail(kNullText);
        out.SetString(value.payload.text, allocator_);
        return true;
      case kHostValueOwnedText:
        if (!CheckSpan(value)) return false;
        out.SetString(span.count == 0 ? "" : static_cast<const char*>(span.data), span.count, allocator_);
        return true;
      case kHostValueBytes:
      case kHostValueOwnedBytes: {
        if (!CheckSpan(value)) return false;
        const std::string text = Base64(static_cast<const unsigned char*>(span.data), span.count);
        out.SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator_);
        return true;
      }
      case kHostValueCollection: {
        if (!CheckSpan(value)) return false;
        out.SetArray();
        const auto* items = static_cast<const HostValue*>(span.data);
        for (std::uint32_t i = 0; i < span.count; ++i) {
          rapidjson::Value item;
          if (!Read(items[i], item, depth + 1)) return false;
          out.PushBack(item, allocator_);
        }
        return true;
      }
      case kHostValueStructure: {
        if (!CheckSpan(value)) return false;
        out.SetObject();
        const auto* members = static_cast<const HostValueMember*>(span.data);
        for (std::uint32_t i = 0; i < span.count; ++i) {
          if (members[i].name == nullptr) return Fail(Printf(kNullMemberName, i));
          rapidjson::Value item;
          if (!Read(members[i].value, item, depth + 1)) return false;
          if (out.HasMember(members[i].name)) {
            out[members[i].name] = item;
          } else {
            out.AddMember(rapidjson::Value(members[i].name, allocator_), item, allocator_);
          }
        }
        return true;
      }
      default:
        return Fail(kUnknownCode + std::to_string(value.type));
    }
  }

  const std::string& Error() const { return error_; }

 private:
  bool CheckSpan(const HostValue& value) {
    if (value.payload.span.data != nullptr || value.payload.span.count == 0) return true;
    return Fail(Printf(kNullSpan, value.type, value.payload.span.count));
  }

  bool Fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  rapidjson::Document::AllocatorType& allocator_;
  std::string error_;
};

}  // namespace

HostValue ToHostValue(const rapidjson::Value& json) {
  return Build(json, 0);
}

void ReleaseHostValue(HostValue* value) {
  if (value == nullptr) return;
  HostValueSpan& span = value->payload.span;
  switch (value->type) {
    case kHostValueOwnedText:
    case kHostValueOwnedBytes:
      std::free(span.data);
      break;
    case kHostValueCollection: {
      auto* items = static_cast<HostValue*>(span.data);
      for (std::uint32_t i = 0; items != nullptr && i < span.count; ++i)
        ReleaseHostValue(&items[i]);
      std::free(items);
      break;
    }
    case kHostValueStructure: {
      auto* members = static_cast<HostValueMember*>(span.data);
      for (std::uint32_t i = 0; members != nullptr && i < span.count; ++i) {
        if (members[i].ownsName != 0) std::free(const_cast<char*>(members[i].name));
        ReleaseHostValue(&members[i].value);
      }
      std::free(members);
      break;
    }
    default:
      break;
  }
  *value = HostValue{};
}

HostValueReading FromHostValue(const HostValue& value) {
  HostValueReading reading;
  JsonValue json;
  Reader reader(json.Edit().GetAllocator());
  rapidjson::Value root;
  if (!reader.Read(value, root, 0)) {
    reading.error = reader.Error();
    return reading;
  }
  static_cast<rapidjson::Value&>(json.Edit()) = root;
  reading.value = std::move(json);
  return reading;
}

}  // namespace GoxHost
