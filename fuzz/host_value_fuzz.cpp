// Arbitrary host value trees through FromHost: reading never crashes or leaks, refuses with a message and
// the failure flag, and a tree it accepts goes back through ToHost and FromHost unchanged, with every
// host buffer released afterwards.
//
// Input: a stream of bytes, each choosing the next node's type code (codes beyond 10 included), its
// count, and whether a pointer is left null; one code builds a chain of collections about as deep as
// the nesting limit.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sdk/binding/host_value_conversion.h"
#include "sdk/binding/module_heap.h"
#include "sdk/binding/value_equality.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Builds a host tree from the input; every pointer it hands out stays valid until the builder goes.
class TreeBuilder {
 public:
  TreeBuilder(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  HostValue Build(int depth) {
    HostValue value{};
    const std::uint8_t code = Next();
    value.type = code % 13u;
    const bool leaveNull = (code & 0x80) != 0 && (code & 0x40) != 0;
    switch (value.type) {
      case 1:
        value.payload.boolean = Next();
        break;
      case 2:
      case 3:
      case 4:
        for (int i = 0; i < 8; ++i)
          value.payload.unsignedValue = (value.payload.unsignedValue << 8) | Next();
        break;
      case 5:
      case 6:
      case 7:
      case 8: {
        const std::string& text = Text();
        const char* pointer = leaveNull ? nullptr : text.c_str();
        if (value.type == 5) {
          value.payload.text = pointer;
        } else {
          value.payload.span = {const_cast<char*>(pointer), static_cast<std::uint32_t>(text.size())};
        }
        break;
      }
      case 9:
      case 10:
        BuildContainer(value, depth, leaveNull);
        break;
      case 12:
        // A chain of collections around the nesting limit.
        value = Chain(500 + Next() % 24);
        break;
      default:
        break;
    }
    return value;
  }

 private:
  std::uint8_t Next() { return position_ < size_ ? data_[position_++] : 0; }

  const std::string& Text() {
    const std::size_t length = Next() % 8;
    std::string& text = texts_.emplace_back();
    for (std::size_t i = 0; i < length; ++i)
      text.push_back(static_cast<char>(Next() | 1));
    return text;
  }

  void BuildContainer(HostValue& value, int depth, bool leaveNull) {
    const std::uint32_t count = depth > 8 ? 0 : Next() % 5;
    if (value.type == 9) {
      HostValue* elements = values_.emplace_back(std::make_unique<HostValue[]>(count + 1)).get();
      for (std::uint32_t i = 0; i < count; ++i)
        elements[i] = Build(depth + 1);
      value.payload.span = {leaveNull ? nullptr : elements, count};
    } else {
      HostValueMember* members = members_.emplace_back(std::make_unique<HostValueMember[]>(count + 1)).get();
      for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t nameCode = Next();
        members[i].name = nameCode == 0xFF ? nullptr : Text().c_str();
        members[i].value = Build(depth + 1);
      }
      value.payload.span = {leaveNull ? nullptr : members, count};
    }
  }

  HostValue Chain(std::size_t depth) {
    HostValue* links = values_.emplace_back(std::make_unique<HostValue[]>(depth)).get();
    for (std::size_t i = 0; i < depth; ++i) {
      links[i].type = 9;
      links[i].payload.span = {i + 1 < depth ? &links[i + 1] : nullptr, i + 1 < depth ? 1u : 0u};
    }
    return links[0];
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  std::deque<std::string> texts_;
  std::vector<std::unique_ptr<HostValue[]>> values_;
  std::vector<std::unique_ptr<HostValueMember[]>> members_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace Quarn;
  TreeBuilder builder(data, size);
  const HostValue host = builder.Build(0);

  HostValueError error{};
  BindingProperty read;
  const bool accepted = FromHost(error, read, host, "v");
  Check(accepted == (error.failed == 0));
  Check(accepted || (error.message != nullptr && error.message[0] != '\0'));
  ReleaseHostValueError(error);
  if (!accepted) return 0;

  // Writing and releasing leaves the module heap as it found it.
  const std::uint64_t before = HeapBytesInUse();
  HostValue written{};
  Check(ToHost(written, read, nullptr));
  ReleaseHostValue(written);
  Check(written.type == 0 && HeapBytesInUse() == before);

  Check(ToHost(written, read, nullptr));
  BindingProperty back;
  Check(FromHost(error, back, written, "v"));
  Check(SameValue(back, read));
  ReleaseHostValue(written);
  return 0;
}
