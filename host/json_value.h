// JsonValue: the stand-in host core's own JSON value, a copyable owner of one RapidJSON document.
//
// The stand-in keeps resources, request parameters and event payloads as JSON. It never shares a value
// type with the module, so that a fault in the module's values cannot be mirrored here and hidden.

#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <rapidjson/document.h>

namespace GoxHost {

// One JSON value (null by default) with value semantics: copies are deep, equality is structural.
//
//   JsonValue session = JsonValue::Parse(R"({"puuid":"p-1","accountId":7})").value();
//   session.Text();  // {"puuid":"p-1","accountId":7}
class JsonValue {
 public:
  JsonValue() = default;
  explicit JsonValue(const rapidjson::Value& value) { document_.CopyFrom(value, document_.GetAllocator()); }
  JsonValue(const JsonValue& other) : JsonValue(other.Get()) {}
  JsonValue(JsonValue&& other) noexcept = default;
  JsonValue& operator=(const JsonValue& other);
  JsonValue& operator=(JsonValue&& other) noexcept = default;
  ~JsonValue() = default;

  // Parses a JSON text; empty when the text is not one complete JSON value.
  [[nodiscard]] static std::optional<JsonValue> Parse(std::string_view text);
  // A JSON string holding `text`.
  [[nodiscard]] static JsonValue String(std::string_view text);

  [[nodiscard]] const rapidjson::Value& Get() const { return document_; }
  // The document, for building a value in place with its allocator.
  [[nodiscard]] rapidjson::Document& Edit() { return document_; }
  // Compact JSON text.
  [[nodiscard]] std::string Text() const;

  friend bool operator==(const JsonValue& a, const JsonValue& b) { return a.Get() == b.Get(); }

 private:
  rapidjson::Document document_;
};

// Compact JSON text of any RapidJSON value.
[[nodiscard]] std::string JsonText(const rapidjson::Value& value);

}  // namespace GoxHost
