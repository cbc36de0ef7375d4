#include "host/json_value.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace GoxHost {

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) {
    rapidjson::Document copy;
    copy.CopyFrom(other.Get(), copy.GetAllocator());
    document_.Swap(copy);
  }
  return *this;
}

std::optional<JsonValue> JsonValue::Parse(std::string_view text) {
  JsonValue result;
  result.document_.Parse(text.data(), text.size());
  if (result.document_.HasParseError()) return std::nullopt;
  return result;
}

JsonValue JsonValue::String(std::string_view text) {
  JsonValue result;
  result.document_.SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()),
                             result.document_.GetAllocator());
  return result;
}

std::string JsonValue::Text() const {
  return JsonText(document_);
}

std::string JsonText(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace GoxHost
