// Arbitrary bytes through DecodeMessagePack: it must never crash, read outside the input or report a
// consumed count beyond it. A value it accepts is written again as MessagePack and decoded a second
// time; the second tree must equal the first and take every written byte. The writer keeps each
// integer's kind (fixints and int formats for signed, uint formats for unsigned), so the round trip is
// exact; the decoder produces no enums, the writer's one lossy kind.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sdk/binding/value_equality.h"
#include "sdk/serialization/msgpack_decoder.h"
// The fuzz targets link only the SDK, so the test writer's source is compiled in here.
#include "tests/support/msgpack_writer.cpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace Quarn;
  ConversionResult first;
  std::size_t consumed = 0;
  DecodeMessagePack(first, consumed, data, size);
  if (consumed > size) std::abort();
  if (!first.Ok()) {
    if (first.Message().empty()) std::abort();
    return 0;
  }
  const std::vector<std::uint8_t> written = test::EncodeMessagePack(first.Value());
  ConversionResult second;
  std::size_t secondConsumed = 0;
  DecodeMessagePack(second, secondConsumed, written.data(), written.size());
  if (!second.Ok() || secondConsumed != written.size() || !SameValue(first.Value(), second.Value()))
    std::abort();
  return 0;
}
