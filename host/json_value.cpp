#include "host/json_value.h"

namespace GoxHost {

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) {
    JsonDocument copy;
    CopyJson(other.Get(), copy, copy.GetAllocator());
    document_.Swap(copy);
  }
  return *this;
}

std::optional<JsonValue> JsonValue::Parse(std::string_view text) {
  JsonValue result;
  // Numbers are read to the nearest double, so that a number this writes reads back as itself.
  result.document_.Parse<rapidjson::kParseFullPrecisionFlag>(text.data(), text.size());
  if (result.document_.HasParseError()) return std::nullopt;
  return result;
}

JsonValue JsonValue::String(std::string_view text) {
  JsonValue result;
  result.document_.SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()),
                             result.document_.GetAllocator());
  return result;
}

void CopyJson(const rapidjson::Value& from, rapidjson::Value& to,
              rapidjson::MemoryPoolAllocator<>& allocator) {
  if (from.IsString()) {
    to.SetString(from.GetString(), from.GetStringLength(), allocator);
  } else if (from.IsArray()) {
    to.SetArray();
    to.Reserve(from.Size(), allocator);
    for (const rapidjson::Value& item : from.GetArray()) {
      rapidjson::Value copy;
      CopyJson(item, copy, allocator);
      to.PushBack(copy, allocator);
    }
  } else if (from.IsObject()) {
    to.SetObject();
    for (const auto& member : from.GetObject()) {
      rapidjson::Value name(member.name.GetString(), member.name.GetStringLength(), allocator);
      rapidjson::Value copy;
      CopyJson(member.value, copy, allocator);
      to.AddMember(name, copy, allocator);
    }
  } else {
    to = rapidjson::Value(from, allocator);  // scalars: no stack involved
  }
}

std::string JsonValue::Text() const {
  return JsonText(document_);
}

std::string JsonText(const rapidjson::Value& value) {
  JsonBuffer buffer;
  JsonWriter writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace GoxHost
