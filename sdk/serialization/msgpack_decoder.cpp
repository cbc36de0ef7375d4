#include "sdk/serialization/msgpack_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "sdk/binding/frame_stack.h"
#include "sdk/binding/nesting_limit.h"
#include "sdk/binding/property_context.h"
#include "sdk/diagnostics/message_format.h"

namespace Quarn {
namespace {

// %1: the offset after the type byte.
constexpr const char* kInvalidData = "Invalid MessagePack data at position %1.";
constexpr const char* kKeyNotString = "Invalid MessagePack data at position %1. Map keys must be strings.";
// %1: the offset after the container's type byte; %2: the limit.
constexpr const char* kNestedTooDeep =
    "Invalid MessagePack data at position %1. Containers are nested deeper than %2 levels.";
// %1: the offset at which the number or length starts.
constexpr const char* kTruncated8 =
    "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated16 =
    "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated32 =
    "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated64 =
    "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";
// %1: the declared length or count; %2: the offset of the first byte or item.
constexpr const char* kStringTruncated =
    "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
constexpr const char* kBytesTruncated =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";
constexpr const char* kArrayTruncated =
    "Invalid MessagePack data. Array of size %1 at position %2 is truncated.";
constexpr const char* kMapTruncated = "Invalid MessagePack data. Map of size %1 at position %2 is truncated.";
// %1: the offset reached.
constexpr const char* kOutOfMemory = "Not enough memory to decode MessagePack data at position %1.";

// What a type byte starts. One table lookup and one jump dispatch every item.
enum class Op : std::uint8_t {
  kInvalid,
  kPositiveFixint,
  kNegativeFixint,
  kFixMap,
  kFixArray,
  kFixStr,
  kNil,
  kFalse,
  kTrue,
  kBin8,
  kBin16,
  kBin32,
  kFloat32,
  kFloat64,
  kUInt8,
  kUInt16,
  kUInt32,
  kUInt64,
  kInt8,
  kInt16,
  kInt32,
  kInt64,
  kStr8,
  kStr16,
  kStr32,
  kArray16,
  kArray32,
  kMap16,
  kMap32,
};

constexpr std::array<Op, 256> kOps = [] {
  std::array<Op, 256> ops{};
  for (std::size_t b = 0; b < ops.size(); ++b) {
    if (b <= 0x7f) {
      ops[b] = Op::kPositiveFixint;
    } else if (b <= 0x8f) {
      ops[b] = Op::kFixMap;
    } else if (b <= 0x9f) {
      ops[b] = Op::kFixArray;
    } else if (b <= 0xbf) {
      ops[b] = Op::kFixStr;
    } else if (b >= 0xe0) {
      ops[b] = Op::kNegativeFixint;
    }
  }
  // 0xc1, ext 8/16/32 (0xc7-0xc9) and fixext (0xd4-0xd8) stay invalid.
  const std::pair<std::size_t, Op> formats[] = {
      {0xc0, Op::kNil},     {0xc2, Op::kFalse},  {0xc3, Op::kTrue},    {0xc4, Op::kBin8},
      {0xc5, Op::kBin16},   {0xc6, Op::kBin32},  {0xca, Op::kFloat32}, {0xcb, Op::kFloat64},
      {0xcc, Op::kUInt8},   {0xcd, Op::kUInt16}, {0xce, Op::kUInt32},  {0xcf, Op::kUInt64},
      {0xd0, Op::kInt8},    {0xd1, Op::kInt16},  {0xd2, Op::kInt32},   {0xd3, Op::kInt64},
      {0xd9, Op::kStr8},    {0xda, Op::kStr16},  {0xdb, Op::kStr32},   {0xdc, Op::kArray16},
      {0xdd, Op::kArray32}, {0xde, Op::kMap16},  {0xdf, Op::kMap32},
  };
  for (const auto& [byte, op] : formats)
    ops[byte] = op;
  return ops;
}();

// A big-endian unsigned number of sizeof(T) bytes.
template <class T>
[[nodiscard]] T LoadBigEndian(const std::uint8_t* bytes) noexcept {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::little && sizeof(T) == 2)
    value = __builtin_bswap16(value);
  if constexpr (std::endian::native == std::endian::little && sizeof(T) == 4)
    value = __builtin_bswap32(value);
  if constexpr (std::endian::native == std::endian::little && sizeof(T) == 8)
    value = __builtin_bswap64(value);
  return value;
}

// An open array or map.
struct Frame {
  BindingProperty* container;
  std::uint64_t left;      // items still to come; a map's keys and values count one each
  std::size_t start;       // offset of the first item
  std::uint32_t declared;  // the declared element or pair count
  bool structure;
};

// The open containers, innermost on top; room for 16 before the stack moves to the module heap.
using ContainerStack = FrameStack<Frame, 16>;

class Decoder {
 public:
  Decoder(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  // Fills root with the value at the start of the input; false, with Message() set, on the first fault.
  [[nodiscard]] bool Decode(BindingProperty& root);

  [[nodiscard]] std::size_t Position() const noexcept { return position_; }
  [[nodiscard]] const std::string& Message() const noexcept { return message_; }

 private:
  bool Fail(std::string message) {
    message_ = std::move(message);
    return false;
  }

  [[nodiscard]] std::size_t Remaining() const noexcept { return size_ - position_; }

  // Reads a big-endian number of sizeof(T) bytes.
  template <class T>
  [[nodiscard]] bool Read(T& value) {
    if (Remaining() < sizeof(T)) {
      constexpr const char* kTemplate = sizeof(T) == 1   ? kTruncated8
                                        : sizeof(T) == 2 ? kTruncated16
                                        : sizeof(T) == 4 ? kTruncated32
                                                         : kTruncated64;
      return Fail(FormatString(kTemplate, position_));
    }
    value = LoadBigEndian<T>(data_ + position_);
    position_ += sizeof(T);
    return true;
  }

  // Reads a length of sizeof(T) bytes, then that many bytes.
  template <class T>
  [[nodiscard]] bool ReadRun(std::string_view& run, const char* truncated) {
    T length;
    if (!Read(length)) return false;
    return Take(length, run, truncated);
  }

  [[nodiscard]] bool Take(std::size_t length, std::string_view& run, const char* truncated) {
    if (Remaining() < length) return Fail(FormatString(truncated, length, position_));
    run = std::string_view(reinterpret_cast<const char*>(data_ + position_), length);
    position_ += length;
    return true;
  }

  // Reads sizeof(Wire) bytes into target as the kind of As: float, signed or unsigned.
  template <class Wire, class As>
  [[nodiscard]] bool Number(BindingProperty& target) {
    Wire bits;
    if (!Read(bits)) return false;
    if constexpr (std::is_floating_point_v<As>) {
      target.SetFloat(std::bit_cast<As>(bits));
    } else if constexpr (std::is_signed_v<As>) {
      target.SetSigned(static_cast<As>(bits));
    } else {
      target.SetUnsigned(bits);
    }
    return true;
  }

  template <class T>
  [[nodiscard]] bool ReadCount(BindingProperty& target, bool structure) {
    T count;
    return Read(count) && Open(target, count, structure);
  }

  [[nodiscard]] bool ReadItem(BindingProperty& target);
  [[nodiscard]] bool ReadKey(std::string_view& key);
  [[nodiscard]] bool Open(BindingProperty& target, std::uint32_t count, bool structure);
  [[nodiscard]] bool Truncated(const Frame& frame) {
    return Fail(FormatString(frame.structure ? kMapTruncated : kArrayTruncated, frame.declared, frame.start));
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  std::size_t typeEnd_ = 0;  // offset after the type byte of the item being read
  // Items the open containers still expect. Each needs at least one byte of input, so this bounds how
  // much room a new container may reserve.
  std::uint64_t pending_ = 0;
  ContainerStack stack_;
  std::string message_;
};

bool Decoder::Decode(BindingProperty& root) {
  if (size_ == 0) return true;
  BindingProperty* target = &root;
  for (;;) {
    if (!ReadItem(*target)) return false;
    // Closes the containers the item completed and finds the slot of the next item.
    for (;;) {
      if (stack_.Empty()) return true;
      Frame& frame = stack_.Top();
      if (frame.left == 0) {
        stack_.Pop();
        continue;
      }
      if (position_ == size_) return Truncated(frame);
      --pending_;
      if (!frame.structure) {
        target = &frame.container->Element(frame.declared - frame.left--);
        break;
      }
      std::string_view key;
      if (!ReadKey(key)) return false;
      if (position_ == size_) return Truncated(frame);
      frame.left -= 2;
      --pending_;
      target = &frame.container->Field(key);
      break;
    }
  }
}

bool Decoder::ReadKey(std::string_view& key) {
  const std::uint8_t type = data_[position_++];
  switch (kOps[type]) {
    case Op::kFixStr:
      return Take(type & 0x1fu, key, kStringTruncated);
    case Op::kStr8:
      return ReadRun<std::uint8_t>(key, kStringTruncated);
    case Op::kStr16:
      return ReadRun<std::uint16_t>(key, kStringTruncated);
    case Op::kStr32:
      return ReadRun<std::uint32_t>(key, kStringTruncated);
    default:
      return Fail(FormatString(kKeyNotString, position_));
  }
}

bool Decoder::ReadItem(BindingProperty& target) {
  const std::uint8_t type = data_[position_++];
  typeEnd_ = position_;
  std::string_view run;
  switch (kOps[type]) {
    case Op::kPositiveFixint:
      target.SetSigned(type);
      return true;
    case Op::kNegativeFixint:
      target.SetSigned(static_cast<std::int8_t>(type));
      return true;
    case Op::kFixMap:
      return Open(target, type & 0x0fu, true);
    case Op::kFixArray:
      return Open(target, type & 0x0fu, false);
    case Op::kFixStr:
      if (!Take(type & 0x1fu, run, kStringTruncated)) return false;
      target.SetString(run);
      return true;
    case Op::kNil:
      return true;
    case Op::kFalse:
    case Op::kTrue:
      target.SetBool(type == 0xc3);
      return true;
    case Op::kBin8:
    case Op::kBin16:
    case Op::kBin32: {
      const bool read = type == 0xc4   ? ReadRun<std::uint8_t>(run, kBytesTruncated)
                        : type == 0xc5 ? ReadRun<std::uint16_t>(run, kBytesTruncated)
                                       : ReadRun<std::uint32_t>(run, kBytesTruncated);
      if (!read) return false;
      target.SetBlob(std::span(reinterpret_cast<const std::uint8_t*>(run.data()), run.size()));
      return true;
    }
    case Op::kFloat32:
      return Number<std::uint32_t, float>(target);
    case Op::kFloat64:
      return Number<std::uint64_t, double>(target);
    case Op::kUInt8:
      return Number<std::uint8_t, std::uint8_t>(target);
    case Op::kUInt16:
      return Number<std::uint16_t, std::uint16_t>(target);
    case Op::kUInt32:
      return Number<std::uint32_t, std::uint32_t>(target);
    case Op::kUInt64:
      return Number<std::uint64_t, std::uint64_t>(target);
    case Op::kInt8:
      return Number<std::uint8_t, std::int8_t>(target);
    case Op::kInt16:
      return Number<std::uint16_t, std::int16_t>(target);
    case Op::kInt32:
      return Number<std::uint32_t, std::int32_t>(target);
    case Op::kInt64:
      return Number<std::uint64_t, std::int64_t>(target);
    case Op::kStr8:
    case Op::kStr16:
    case Op::kStr32: {
      const bool read = type == 0xd9   ? ReadRun<std::uint8_t>(run, kStringTruncated)
                        : type == 0xda ? ReadRun<std::uint16_t>(run, kStringTruncated)
                                       : ReadRun<std::uint32_t>(run, kStringTruncated);
      if (!read) return false;
      target.SetString(run);
      return true;
    }
    case Op::kArray16:
      return ReadCount<std::uint16_t>(target, false);
    case Op::kArray32:
      return ReadCount<std::uint32_t>(target, false);
    case Op::kMap16:
      return ReadCount<std::uint16_t>(target, true);
    case Op::kMap32:
      return ReadCount<std::uint32_t>(target, true);
    case Op::kInvalid:
      break;
  }
  return Fail(FormatString(kInvalidData, position_));
}

// Turns target into a container (keeping the elements or fields it already has) and opens it. Every
// item needs at least one byte, so a count the rest of the input cannot hold is refused at once, and the
// room reserved never exceeds what the input still has to fill after the outer containers' items.
bool Decoder::Open(BindingProperty& target, std::uint32_t count, bool structure) {
  const std::uint64_t items = structure ? std::uint64_t{count} * 2 : count;
  const std::size_t remaining = Remaining();
  if (items > remaining)
    return Fail(FormatString(structure ? kMapTruncated : kArrayTruncated, count, position_));
  if (stack_.Size() == kMaxNestingDepth)
    return Fail(FormatString(kNestedTooDeep, typeEnd_, kMaxNestingDepth));
  if (!stack_.Push({&target, items, position_, count, structure}))
    return Fail(FormatString(kOutOfMemory, position_));
  if (structure) {
    target.MakeStructure();
    if (remaining > pending_)
      target.ReserveFields(std::min<std::uint64_t>(count, (remaining - pending_) / 2));
  } else {
    target.MakeCollection();
    if (remaining > pending_) target.Reserve(std::min<std::uint64_t>(items, remaining - pending_));
  }
  pending_ += items;
  return true;
}

// Whether a value of this first byte is a number, nil or a boolean.
bool IsPlainScalar(std::uint8_t first) noexcept {
  return first <= 0x7f || first >= 0xe0 || first == 0xc0 || first == 0xc2 || first == 0xc3 ||
         (first >= 0xca && first <= 0xd3);
}

// Bytes of records per byte of a message, about: denser than JSON text.
constexpr std::size_t kRecordBytesPerByte = 8;

}  // namespace

void DecodeMessagePack(ConversionResult& result, std::size_t& consumed, const std::uint8_t* data,
                       std::size_t size) {
  result.Init();
  // A message that is one number, nil or boolean needs no storage at all.
  if (size != 0 && !IsPlainScalar(data[0]))
    result.Value().SizeStorageFor(ExpectedRecordBytes(size, kRecordBytesPerByte));
  Decoder decoder(data, size);
  const bool decoded = decoder.Decode(result.Value());
  consumed = decoder.Position();
  if (decoded && !result.Value().AllocationFailed()) return;
  // A fresh root, so that the message does not depend on the storage that was refused.
  result.Value() = BindingProperty();
  result.Fail(decoded ? FormatString(kOutOfMemory, consumed) : decoder.Message());
}

}  // namespace Quarn
