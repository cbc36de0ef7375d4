// The RapidJSON types behind the JSON encoder and decoder, and the output the writers write to.
//
// RapidJSON 1.1.0 grows its internal stacks (the reader's string stack, the writer's level stack) with a
// check that adds an offset to a null pointer on first use, which is undefined behaviour. The SDK's types use
// their own allocator type, so that the stack's reserve step can be replaced for exactly these types by one
// that compares sizes instead. Include this header before any other RapidJSON header.

#pragma once

#include <rapidjson/allocators.h>
#include <rapidjson/internal/stack.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "sdk/binding/module_heap.h"

namespace Quarn {

// The C heap, as RapidJSON's own allocator uses it; a type of its own so that the mends below touch no
// other user of RapidJSON.
class JsonStackAllocator : public rapidjson::CrtAllocator {};

// A text buffer on the module heap, kept by its owner from call to call.
struct JsonTextBuffer {
  char* data = nullptr;
  std::size_t capacity = 0;
};

// The writers' output: characters appended to the caller's text buffer, whose capacity doubles when the
// writer asks for more room than is left. The buffer grows by reallocation, so that a large text's pages
// are moved rather than copied and nothing is cleared first. Writing goes through a cursor rather than
// the buffer, so that the compiler can keep it in a register. A buffer that cannot grow throws
// std::bad_alloc, as a string would.
class JsonOutput {
 public:
  using Ch = char;

  explicit JsonOutput(JsonTextBuffer& buffer) : buffer_(buffer) {
    if (buffer_.capacity < kInitialSize) Grow(kInitialSize);
    cursor_ = buffer_.data;
    end_ = buffer_.data + buffer_.capacity;
  }
  void Put(char c) {
    if (cursor_ == end_) Grow(1);
    *cursor_++ = c;
  }
  // Room for count more characters, which PutUnsafe then writes without checks.
  void Reserve(std::size_t count) {
    if (static_cast<std::size_t>(end_ - cursor_) < count) Grow(count);
  }
  void PutUnsafe(char c) { *cursor_++ = c; }
  // count characters to write in place; Pop gives back what was not used.
  char* Push(std::size_t count) {
    Reserve(count);
    char* at = cursor_;
    cursor_ += count;
    return at;
  }
  void Pop(std::size_t count) { cursor_ -= count; }
  void Flush() {}
  [[nodiscard]] std::string_view Text() const {
    return {buffer_.data, static_cast<std::size_t>(cursor_ - buffer_.data)};
  }

 private:
  static constexpr std::size_t kInitialSize = 256;

  void Grow(std::size_t count) {
    const std::size_t length = buffer_.data == nullptr ? 0 : static_cast<std::size_t>(cursor_ - buffer_.data);
    const std::size_t capacity = std::max(buffer_.capacity * 2, length + count);
    auto* grown = static_cast<char*>(HeapReallocate(buffer_.data, capacity));
    if (grown == nullptr) throw std::bad_alloc();
    buffer_.data = grown;
    buffer_.capacity = capacity;
    cursor_ = grown + length;
    end_ = grown + capacity;
  }

  JsonTextBuffer& buffer_;
  char* cursor_ = nullptr;
  char* end_ = nullptr;
};

// Formats a number straight into output: room for the longest form, then the unused tail given back.
template <std::size_t Longest, class Format>
bool WriteNumber(JsonOutput& output, Format format) {
  char* start = output.Push(Longest);
  const char* end = format(start);
  output.Pop(Longest - static_cast<std::size_t>(end - start));
  return true;
}

// The writers' fast path for JsonOutput, found by argument-dependent lookup.
inline void PutReserve(JsonOutput& output, std::size_t count) {
  output.Reserve(count);
}
inline void PutUnsafe(JsonOutput& output, char c) {
  output.PutUnsafe(c);
}

using JsonReader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, JsonStackAllocator>;
using JsonCompactWriter =
    rapidjson::Writer<JsonOutput, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonStackAllocator>;
using JsonPrettyWriter =
    rapidjson::PrettyWriter<JsonOutput, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonStackAllocator>;

// The writer's record of one open array or object, named so that its stack can be mended below.
struct JsonWriterLevels : JsonCompactWriter {
  using JsonCompactWriter::Level;
};

}  // namespace Quarn

namespace rapidjson::internal {

// Room for count more characters of the reader's strings or count writer levels, without pointer
// arithmetic on the null stack of a stack that has not allocated yet.
template <>
template <>
inline void Stack<Quarn::JsonStackAllocator>::Reserve<char>(std::size_t count) {
  if (RAPIDJSON_UNLIKELY(static_cast<std::size_t>(stackEnd_ - stackTop_) < count)) Expand<char>(count);
}
template <>
template <>
inline void Stack<Quarn::JsonStackAllocator>::Reserve<Quarn::JsonWriterLevels::Level>(std::size_t count) {
  using Level = Quarn::JsonWriterLevels::Level;
  if (RAPIDJSON_UNLIKELY(static_cast<std::size_t>(stackEnd_ - stackTop_) < sizeof(Level) * count))
    Expand<Level>(count);
}

}  // namespace rapidjson::internal

namespace rapidjson {

// Numbers are formatted in place, as RapidJSON does for its own string buffer, rather than character by
// character. NaN and infinities never reach the writer.
template <>
inline bool Writer<Quarn::JsonOutput, UTF8<>, UTF8<>, Quarn::JsonStackAllocator>::WriteInt(int i) {
  return Quarn::WriteNumber<11>(*os_, [i](char* at) { return internal::i32toa(i, at); });
}
template <>
inline bool Writer<Quarn::JsonOutput, UTF8<>, UTF8<>, Quarn::JsonStackAllocator>::WriteInt64(std::int64_t i) {
  return Quarn::WriteNumber<21>(*os_, [i](char* at) { return internal::i64toa(i, at); });
}
template <>
inline bool Writer<Quarn::JsonOutput, UTF8<>, UTF8<>, Quarn::JsonStackAllocator>::WriteUint64(
    std::uint64_t u) {
  return Quarn::WriteNumber<20>(*os_, [u](char* at) { return internal::u64toa(u, at); });
}
template <>
inline bool Writer<Quarn::JsonOutput, UTF8<>, UTF8<>, Quarn::JsonStackAllocator>::WriteDouble(double d) {
  if (internal::Double(d).IsNanOrInf()) return false;
  const int places = maxDecimalPlaces_;
  return Quarn::WriteNumber<25>(*os_, [d, places](char* at) { return internal::dtoa(d, at, places); });
}

}  // namespace rapidjson
