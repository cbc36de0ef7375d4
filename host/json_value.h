// JsonValue: the stand-in host core's own JSON value, a copyable owner of one RapidJSON document.
//
// The stand-in keeps resources, request parameters and event payloads as JSON. It never shares a value
// type with the module, so that a fault in the module's values cannot be mirrored here and hidden.
//
// RapidJSON 1.1.0 grows its internal stacks with a check that adds an offset to a null pointer on first
// use, which is undefined behaviour. The stand-in's documents, buffers and writers use a stack allocator
// type of their own, so that the reserve step can be replaced for exactly these types (end of file).

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <rapidjson/allocators.h>
#include <rapidjson/document.h>
#include <rapidjson/internal/stack.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace GoxHost {

// The C heap, as RapidJSON's own stack allocator uses it; a type of its own for the mend below.
class JsonStackAllocator : public rapidjson::CrtAllocator {};

using JsonDocument =
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<>, JsonStackAllocator>;
using JsonBuffer = rapidjson::GenericStringBuffer<rapidjson::UTF8<>, JsonStackAllocator>;
using JsonWriter = rapidjson::Writer<JsonBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonStackAllocator>;

// Deep-copies `from` into `to` with `allocator`. RapidJSON's own deep copy goes through a document with
// the default stack allocator, which the mend below does not reach.
void CopyJson(const rapidjson::Value& from, rapidjson::Value& to,
              rapidjson::MemoryPoolAllocator<>& allocator);

// The writer's record of one open array or object, named so that its stack can be mended below.
struct JsonWriterLevels : JsonWriter {
  using JsonWriter::Level;
};

// One JSON value (null by default) with value semantics: copies are deep, equality is structural.
//
//   JsonValue session = JsonValue::Parse(R"({"puuid":"p-1","accountId":7})").value();
//   session.Text();  // {"puuid":"p-1","accountId":7}
class JsonValue {
 public:
  JsonValue() = default;
  explicit JsonValue(const rapidjson::Value& value) { CopyJson(value, document_, document_.GetAllocator()); }
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
  [[nodiscard]] JsonDocument& Edit() { return document_; }
  // Compact JSON text.
  [[nodiscard]] std::string Text() const;

  friend bool operator==(const JsonValue& a, const JsonValue& b) { return a.Get() == b.Get(); }

 private:
  JsonDocument document_;
};

// Compact JSON text of any RapidJSON value.
[[nodiscard]] std::string JsonText(const rapidjson::Value& value);

}  // namespace GoxHost

namespace rapidjson::internal {

// Room for `count` more items on a stack of the stand-in's types, without pointer arithmetic on the null
// stack of a stack that has not allocated yet.
#define GOX_HOST_MEND_STACK_RESERVE(Item)                                                           \
  template <>                                                                                       \
  template <>                                                                                       \
  inline void Stack<GoxHost::JsonStackAllocator>::Reserve<Item>(std::size_t count) {                \
    if (RAPIDJSON_UNLIKELY(static_cast<std::size_t>(stackEnd_ - stackTop_) < sizeof(Item) * count)) \
      Expand<Item>(count);                                                                          \
  }
GOX_HOST_MEND_STACK_RESERVE(char)
GOX_HOST_MEND_STACK_RESERVE(rapidjson::Value)
GOX_HOST_MEND_STACK_RESERVE(GoxHost::JsonWriterLevels::Level)
#undef GOX_HOST_MEND_STACK_RESERVE

}  // namespace rapidjson::internal
