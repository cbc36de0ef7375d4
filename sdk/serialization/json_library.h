// The RapidJSON types behind the JSON encoder and decoder.
//
// RapidJSON 1.1.0 grows its internal stacks (the reader's string stack, the writer's level stack, the
// string buffer) with a check that adds an offset to a null pointer on first use, which is undefined
// behaviour. The SDK's types use their own allocator type, so that the stack's reserve step can be
// replaced for exactly these types by one that compares sizes instead. Include this header before any
// other RapidJSON header.

#pragma once

#include <rapidjson/allocators.h>
#include <rapidjson/internal/stack.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstddef>

namespace Quarn {

// The C heap, as RapidJSON's own allocator uses it; a type of its own so that the mends below touch no
// other user of RapidJSON.
class JsonStackAllocator : public rapidjson::CrtAllocator {};

using JsonReader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, JsonStackAllocator>;
using JsonBuffer = rapidjson::GenericStringBuffer<rapidjson::UTF8<>, JsonStackAllocator>;
using JsonCompactWriter =
    rapidjson::Writer<JsonBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonStackAllocator>;
using JsonPrettyWriter =
    rapidjson::PrettyWriter<JsonBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonStackAllocator>;

// The writer's record of one open array or object, named so that its stack can be mended below.
struct JsonWriterLevels : JsonCompactWriter {
  using JsonCompactWriter::Level;
};

}  // namespace Quarn

namespace rapidjson::internal {

// Room for count more characters (reader's strings, output buffer) or writer levels, without pointer
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
