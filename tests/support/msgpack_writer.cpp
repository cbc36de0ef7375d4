#include "tests/support/msgpack_writer.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <span>
#include <string_view>
#include <utility>

#include "sdk/binding/value_visitor.h"

namespace Quarn::test {
namespace {

class MessagePackWriter : public ValueVisitor {
 public:
  std::vector<std::uint8_t> bytes;

  void Empty() override { bytes.push_back(0xc0); }
  void Bool(bool value) override { bytes.push_back(value ? 0xc3 : 0xc2); }
  void Signed(std::int64_t value) override {
    if (value >= -32 && value <= 127) {
      bytes.push_back(static_cast<std::uint8_t>(value));
    } else if (value >= INT8_MIN && value <= INT8_MAX) {
      Number(0xd0, static_cast<std::uint8_t>(value), 1);
    } else if (value >= INT16_MIN && value <= INT16_MAX) {
      Number(0xd1, static_cast<std::uint16_t>(value), 2);
    } else if (value >= INT32_MIN && value <= INT32_MAX) {
      Number(0xd2, static_cast<std::uint32_t>(value), 4);
    } else {
      Number(0xd3, static_cast<std::uint64_t>(value), 8);
    }
  }
  void Unsigned(std::uint64_t value) override { Sized(0xcc, value); }
  void Float(double value) override {
    // Only doubles within float's range may be converted to float at all.
    if (!std::isfinite(value) || (std::fabs(value) <= FLT_MAX && static_cast<float>(value) == value)) {
      Number(0xca, std::bit_cast<std::uint32_t>(static_cast<float>(value)), 4);
    } else {
      Number(0xcb, std::bit_cast<std::uint64_t>(value), 8);
    }
  }
  void String(std::string_view text) override {
    if (text.size() <= 31) {
      bytes.push_back(static_cast<std::uint8_t>(0xa0 | text.size()));
    } else {
      Sized(0xd9, text.size());
    }
    bytes.insert(bytes.end(), text.begin(), text.end());
  }
  void Blob(std::span<const std::uint8_t> data) override {
    Sized(0xc4, data.size());
    bytes.insert(bytes.end(), data.begin(), data.end());
  }
  void Enum(std::int32_t value, const TypeIdentifier*) override { Signed(value); }
  void BeginCollection(std::size_t count) override { Header(0x90, 0xdc, count); }
  void BeginElement(std::size_t) override {}
  void EndElement(std::size_t) override {}
  void EndCollection() override {}
  void BeginStructure(std::size_t count) override { Header(0x80, 0xde, count); }
  void BeginField(std::string_view name) override { String(name); }
  void EndField(std::string_view) override {}
  void EndStructure() override {}

 private:
  // The type byte, then the low `width` bytes of value, most significant first.
  void Number(std::uint8_t type, std::uint64_t value, int width) {
    bytes.push_back(type);
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
      bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  // One of a family of formats whose number grows 1, 2, 4, 8 bytes from the first type byte: uint, and
  // the lengths of str and bin, whose families stop at 4 bytes.
  void Sized(std::uint8_t first, std::uint64_t value) {
    if (value <= 0xff) {
      Number(first, value, 1);
    } else if (value <= 0xffff) {
      Number(first + 1, value, 2);
    } else if (value <= 0xffffffff) {
      Number(first + 2, value, 4);
    } else {
      Number(first + 3, value, 8);
    }
  }
  // A fix format for up to 15 items, else the 16- or 32-bit form.
  void Header(std::uint8_t fix, std::uint8_t wide, std::size_t count) {
    if (count <= 15) {
      bytes.push_back(static_cast<std::uint8_t>(fix | count));
    } else if (count <= 0xffff) {
      Number(wide, count, 2);
    } else {
      Number(wide + 1, count, 4);
    }
  }
};

}  // namespace

std::vector<std::uint8_t> EncodeMessagePack(const BindingProperty& value) {
  MessagePackWriter writer;
  if (!value.Accept(writer)) writer.bytes.clear();
  return std::move(writer.bytes);
}

}  // namespace Quarn::test
