#include "sdk/serialization/json_encoder.h"

// clang-format off
#include "sdk/serialization/json_library.h"
// clang-format on

#include <cmath>
#include <optional>

#include "sdk/binding/base64.h"
#include "sdk/binding/type_identifier.h"
#include "sdk/binding/type_registry.h"
#include "sdk/binding/value_visitor.h"

namespace Quarn {
namespace {

// The most decimal places a float is written with: enough for every double's shortest form.
constexpr int kMaxDecimalPlaces = 324;
// The most capacity a thread's output buffer keeps between calls.
constexpr std::size_t kRetainedBufferSize = std::size_t{1} << 20;
// Pretty output indents each level by this many spaces.
constexpr unsigned kIndentWidth = 4;

// A thread's buffer between calls: kept (counted as released) up to kRetainedBufferSize, freed when the
// thread ends.
struct ThreadTextBuffer : JsonTextBuffer {
  ThreadTextBuffer() = default;
  ThreadTextBuffer(const ThreadTextBuffer&) = delete;
  ThreadTextBuffer& operator=(const ThreadTextBuffer&) = delete;
  ~ThreadTextBuffer() { HeapDiscardKept(data); }
};

// The buffer of one call, given back when the call ends: the thread's keeps it unless it grew large.
class CallTextBuffer {
 public:
  CallTextBuffer() {
    if (threadInUse_ || !HeapReclaim(thread_.data)) return;
    threadInUse_ = true;
    buffer_ = &thread_;
  }
  CallTextBuffer(const CallTextBuffer&) = delete;
  CallTextBuffer& operator=(const CallTextBuffer&) = delete;
  ~CallTextBuffer() {
    if (buffer_ != &thread_) {
      HeapFree(own_.data);
      return;
    }
    if (thread_.capacity > kRetainedBufferSize) {
      HeapFree(std::exchange(thread_.data, nullptr));
      thread_.capacity = 0;
    } else {
      HeapKeep(thread_.data);
    }
    threadInUse_ = false;
  }
  JsonTextBuffer& Get() { return *buffer_; }

 private:
  static thread_local ThreadTextBuffer thread_;
  static thread_local bool threadInUse_;
  JsonTextBuffer own_;
  JsonTextBuffer* buffer_ = &own_;
};

thread_local ThreadTextBuffer CallTextBuffer::thread_;
thread_local bool CallTextBuffer::threadInUse_ = false;

// Writes each visited operation as the writer's token; the writer supplies separators and indentation.
template <class Writer>
class JsonWriterVisitor final : public ValueVisitor {
 public:
  JsonWriterVisitor(Writer& writer, const TypeRegistry* registry) : writer_(writer), registry_(registry) {}

  void Empty() override { writer_.Null(); }
  void Bool(bool value) override { writer_.Bool(value); }
  void Signed(std::int64_t value) override { writer_.Int64(value); }
  void Unsigned(std::uint64_t value) override { writer_.Uint64(value); }
  // The writer refuses NaN and infinities after writing their separator, which would leave a hole in
  // the text; null keeps the document well formed.
  void Float(double value) override {
    if (std::isfinite(value))
      writer_.Double(value);
    else
      writer_.Null();
  }
  void String(std::string_view text) override { WriteString(text); }
  void Blob(std::span<const std::uint8_t> bytes) override { WriteString(EncodeBase64(bytes)); }
  void Enum(std::int32_t value, const TypeIdentifier* type) override {
    if (registry_ != nullptr && type != nullptr) {
      if (const std::optional<std::string> name = registry_->FindEnumName(type->id, value)) {
        WriteString(*name);
        return;
      }
    }
    writer_.Int(value);
  }
  void BeginCollection(std::size_t) override { writer_.StartArray(); }
  void BeginElement(std::size_t) override {}
  void EndElement(std::size_t) override {}
  void EndCollection() override { writer_.EndArray(); }
  void BeginStructure(std::size_t) override { writer_.StartObject(); }
  void BeginField(std::string_view name) override {
    writer_.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
  }
  void EndField(std::string_view) override {}
  void EndStructure() override { writer_.EndObject(); }

 private:
  void WriteString(std::string_view text) {
    writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  }

  Writer& writer_;
  const TypeRegistry* registry_;
};

// Walks value into a fresh writer of the given kind over output; false when the walk was cut short.
template <class Writer>
bool WriteValue(const BindingProperty& value, const TypeRegistry* registry, JsonOutput& output) {
  Writer writer(output);
  writer.SetMaxDecimalPlaces(kMaxDecimalPlaces);
  if constexpr (requires { writer.SetIndent(' ', kIndentWidth); }) writer.SetIndent(' ', kIndentWidth);
  JsonWriterVisitor<Writer> visitor(writer, registry);
  return value.Accept(visitor);
}

// text with every line feed replaced by separator.
std::string ReplaceLineFeeds(std::string_view text, std::string_view separator) {
  std::string replaced;
  replaced.reserve(text.size() + text.size() / 8 * separator.size());
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
    replaced.append(text, start, end - start);
    replaced.append(separator);
  }
  replaced.append(text, start);
  return replaced;
}

}  // namespace

std::string EncodeJson(const BindingProperty& value, const TypeRegistry* registry,
                       std::string_view lineSeparator) {
  if (value.Kind() == BindingKind::Empty) return std::string();
  // The thread's buffer keeps its capacity between calls unless it grew large; a nested call (none is
  // expected) takes a buffer of its own, as does a call whose thread buffer cannot be had back.
  CallTextBuffer buffer;
  JsonOutput output(buffer.Get());
  const bool pretty = !lineSeparator.empty();
  const bool complete = pretty ? WriteValue<JsonPrettyWriter>(value, registry, output)
                               : WriteValue<JsonCompactWriter>(value, registry, output);
  if (!complete) return std::string();
  if (pretty && lineSeparator != "\n") return ReplaceLineFeeds(output.Text(), lineSeparator);
  return std::string(output.Text());
}

}  // namespace Quarn
