#include "sdk/serialization/msgpack_decoder.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "sdk/binding/module_heap.h"
#include "sdk/binding/value_equality.h"
#include "tests/support/msgpack_writer.h"
#include "tests/support/thread_cpu_time.h"

namespace Quarn {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Builder = std::function<void(BindingProperty&)>;

Bytes Repeat(const Bytes& unit, std::size_t times, const Bytes& tail = {}) {
  Bytes bytes(unit.size() * times);
  for (std::size_t i = 0; i < bytes.size(); i += unit.size())
    std::copy(unit.begin(), unit.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i));
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

std::size_t Decode(ConversionResult& result, const Bytes& bytes) {
  std::size_t consumed = 12345;
  DecodeMessagePack(result, consumed, bytes.data(), bytes.size());
  return consumed;
}

// Runs the work on a thread whose stack is 256 KiB.
void OnSmallStack(const std::function<void()>& work) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  auto run = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(MessagePackDecoderTest, DecodesEachFormatIntoItsKind) {
  struct Case {
    Bytes bytes;
    Builder expected;
    std::size_t consumed;
  };
  const Case cases[] = {
      {{0x05}, [](BindingProperty& v) { v.SetSigned(5); }, 1},
      {{0xcc, 0x05}, [](BindingProperty& v) { v.SetUnsigned(5); }, 2},
      {{0xff}, [](BindingProperty& v) { v.SetSigned(-1); }, 1},
      {{0xd0, 0x80}, [](BindingProperty& v) { v.SetSigned(-128); }, 2},
      {{0xd1, 0x80, 0x00}, [](BindingProperty& v) { v.SetSigned(-32768); }, 3},
      {{0xd2, 0xff, 0xff, 0xff, 0xfe}, [](BindingProperty& v) { v.SetSigned(-2); }, 5},
      {{0xd3, 0x80, 0, 0, 0, 0, 0, 0, 0},
       [](BindingProperty& v) { v.SetSigned(std::numeric_limits<std::int64_t>::min()); },
       9},
      {{0xcd, 0xff, 0xfe}, [](BindingProperty& v) { v.SetUnsigned(65534); }, 3},
      {{0xce, 0x80, 0, 0, 1}, [](BindingProperty& v) { v.SetUnsigned(0x80000001u); }, 5},
      {{0xcf, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
       [](BindingProperty& v) { v.SetUnsigned(std::numeric_limits<std::uint64_t>::max()); },
       9},
      {{0xca, 0x3f, 0xc0, 0x00, 0x00}, [](BindingProperty& v) { v.SetFloat(1.5); }, 5},
      {{0xcb, 0xc0, 0x04, 0, 0, 0, 0, 0, 0}, [](BindingProperty& v) { v.SetFloat(-2.5); }, 9},
      {{0xc2}, [](BindingProperty& v) { v.SetBool(false); }, 1},
      {{0xc3}, [](BindingProperty& v) { v.SetBool(true); }, 1},
      {{0xc0}, [](BindingProperty&) {}, 1},
      {{0xa3, 'a', 0, 'b'}, [](BindingProperty& v) { v.SetString(std::string("a\0b", 3)); }, 4},
      {{0xd9, 0x01, 'x'}, [](BindingProperty& v) { v.SetString("x"); }, 3},
      {{0xda, 0x00, 0x01, 'x'}, [](BindingProperty& v) { v.SetString("x"); }, 4},
      {{0xdb, 0, 0, 0, 0x01, 'x'}, [](BindingProperty& v) { v.SetString("x"); }, 6},
      {{0xc4, 0x02, 0xde, 0xad},
       [](BindingProperty& v) {
         v.SetBlob(Bytes{0xde, 0xad});
       },
       4},
      {{0xc5, 0x00, 0x00}, [](BindingProperty& v) { v.SetBlob(Bytes{}); }, 3},
      {{0xc6, 0, 0, 0, 1, 7}, [](BindingProperty& v) { v.SetBlob(Bytes{7}); }, 6},
      {{0x90}, [](BindingProperty& v) { v.MakeCollection(); }, 1},
      {{0xdc, 0x00, 0x02, 0xc0, 0x01},
       [](BindingProperty& v) {
         v.Element(0);
         v.Element(1).SetSigned(1);
       },
       5},
      {{0xdd, 0, 0, 0, 1, 0x91, 0x90},
       [](BindingProperty& v) { v.Element(0).Element(0).MakeCollection(); },
       7},
      {{0x80}, [](BindingProperty& v) { v.MakeStructure(); }, 1},
      {{0x81, 0xa1, 'a', 0xc0}, [](BindingProperty& v) { v.Field("a"); }, 4},
      {{0xde, 0x00, 0x02, 0xa1, 'b', 0x01, 0xa0, 0x02},
       [](BindingProperty& v) {
         v.Field("b").SetSigned(1);
         v.Field("").SetSigned(2);
       },
       8},
      {{0xdf, 0, 0, 0, 1, 0xd9, 1, 'k', 0xdb, 0, 0, 0, 0},
       [](BindingProperty& v) { v.Field("k").SetString(""); },
       13},
      // One value is read; what follows is left to the caller.
      {{0x01, 0x02}, [](BindingProperty& v) { v.SetSigned(1); }, 1},
      {{0x91, 0x01, 0xc1}, [](BindingProperty& v) { v.Element(0).SetSigned(1); }, 2},
      // Nothing to read leaves the value empty.
      {{}, [](BindingProperty&) {}, 0},
      // A repeated key keeps one field: a map merges, an array is overwritten from index 0, nil keeps
      // what was there.
      {{0x82, 0xa1, 'a', 0x01, 0xa1, 'a', 0x02}, [](BindingProperty& v) { v.Field("a").SetSigned(2); }, 7},
      {{0x82, 0xa1, 'a', 0x81, 0xa1, 'x', 0x01, 0xa1, 'a', 0x81, 0xa1, 'y', 0x02},
       [](BindingProperty& v) {
         v.Field("a").Field("x").SetSigned(1);
         v.Field("a").Field("y").SetSigned(2);
       },
       13},
      {{0x82, 0xa1, 'a', 0x92, 0x01, 0x02, 0xa1, 'a', 0x91, 0x03},
       [](BindingProperty& v) {
         v.Field("a").Element(0).SetSigned(3);
         v.Field("a").Element(1).SetSigned(2);
       },
       10},
      {{0x82, 0xa1, 'a', 0x01, 0xa1, 'a', 0xc0}, [](BindingProperty& v) { v.Field("a").SetSigned(1); }, 7},
  };
  for (const Case& c : cases) {
    ConversionResult result;
    const std::size_t consumed = Decode(result, c.bytes);
    BindingProperty expected;
    c.expected(expected);
    const std::string what = ::testing::PrintToString(c.bytes);
    ASSERT_TRUE(result.Ok()) << what << ": " << result.Message();
    EXPECT_TRUE(SameValue(result.Value(), expected)) << what;
    EXPECT_EQ(consumed, c.consumed) << what;
  }
}

TEST(MessagePackDecoderTest, RefusesMalformedInputNamingThePosition) {
  struct Case {
    Bytes bytes;
    const char* message;
    std::size_t consumed;
  };
  const Case cases[] = {
      {{0x81, 0x01, 0x02}, "Invalid MessagePack data at position 2. Map keys must be strings.", 2},
      {{0x81, 0x91, 0xa0, 0x01}, "Invalid MessagePack data at position 2. Map keys must be strings.", 2},
      {{0xc1}, "Invalid MessagePack data at position 1.", 1},
      {{0x91, 0xc7, 0x01, 0x01, 0x00}, "Invalid MessagePack data at position 2.", 2},
      {{0xd4, 0x01, 0x00}, "Invalid MessagePack data at position 1.", 1},
      {{0xd0}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.", 1},
      {{0xda, 0x00}, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.", 1},
      {{0xca, 0, 0, 0}, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated.", 1},
      {{0x91, 0xcb, 0, 0}, "Invalid MessagePack data. 64-bit integer value at position 2 is truncated.", 2},
      {{0xd9, 0x05, 0x61}, "Invalid MessagePack data. String of size 5 at position 2 is truncated.", 2},
      {{0x81, 0xa2, 'k'}, "Invalid MessagePack data. String of size 2 at position 2 is truncated.", 2},
      {{0xc4, 0x03, 0x01}, "Invalid MessagePack data. Raw bytes of size 3 at position 2 are truncated.", 2},
      // Input that ends inside an array or map is truncated, however much of it was read.
      {{0x92, 0x01}, "Invalid MessagePack data. Array of size 2 at position 1 is truncated.", 1},
      {{0x92, 0xcd, 0x00, 0x01}, "Invalid MessagePack data. Array of size 2 at position 1 is truncated.", 4},
      {{0x82, 0xa1, 'a', 0x01}, "Invalid MessagePack data. Map of size 2 at position 1 is truncated.", 1},
      {{0x81, 0xa1, 'a'}, "Invalid MessagePack data. Map of size 1 at position 1 is truncated.", 3},
      {{0x91, 0x81, 0xa0, 0x91}, "Invalid MessagePack data. Array of size 1 at position 4 is truncated.", 4},
      // A count the rest of the input cannot hold is refused before anything is read or reserved.
      {{0xdd, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0},
       "Invalid MessagePack data. Array of size 4294967295 at position 5 is truncated.",
       5},
      {{0xde, 0x00, 0x02, 0xa0, 0x01},
       "Invalid MessagePack data. Map of size 2 at position 3 is truncated.",
       3},
  };
  for (const Case& c : cases) {
    ConversionResult result;
    const std::size_t consumed = Decode(result, c.bytes);
    const std::string what = ::testing::PrintToString(c.bytes);
    EXPECT_FALSE(result.Ok()) << what;
    EXPECT_EQ(result.Message(), c.message) << what;
    EXPECT_EQ(consumed, c.consumed) << what;
  }
}

TEST(MessagePackDecoderTest, NestsUpToTheLimitAndNoDeeper) {
  OnSmallStack([] {
    ConversionResult result;
    EXPECT_EQ(Decode(result, Repeat({0x91}, 511, {0x90})), 512u);
    EXPECT_TRUE(result.Ok()) << result.Message();
    EXPECT_EQ(Decode(result, Repeat({0x81, 0xa0}, 511, {0x80})), 1023u);
    EXPECT_TRUE(result.Ok()) << result.Message();
    EXPECT_EQ(Decode(result, Repeat({0x91}, 513, {0x90})), 513u);
    EXPECT_EQ(result.Message(),
              "Invalid MessagePack data at position 513. Containers are nested deeper than 512 levels.");
  });
}

// Hostile inputs are refused with a message, in bounded CPU time and memory, on a small stack; doubling
// them must not allocate more than about double.
TEST(MessagePackDecoderTest, RefusesHostileInputCheaply) {
  struct Case {
    const char* what;
    std::function<Bytes(std::size_t)> make;  // the input at scale 1 or 2
    const char* message;                     // at scale 1
  };
  std::vector<std::uint8_t> arrayKey = {0x81, 0x91, 0x01, 0x01};
  const Case cases[] = {
      {"array of 4294967295 elements with nothing after it",
       [](std::size_t) {
         return Bytes{0xdd, 0xff, 0xff, 0xff, 0xff};
       },
       "Invalid MessagePack data. Array of size 4294967295 at position 5 is truncated."},
      {"4 GiB string with two bytes",
       [](std::size_t) { return Bytes{0xdb, 0xff, 0xff, 0xff, 0xff, 0x61, 0x62}; },
       "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated."},
      {"arrays of 65535 nested 24000 deep",
       [](std::size_t n) {
         return Repeat({0xdc, 0xff, 0xff}, 24'000 * n);
       },
       "Invalid MessagePack data at position 1537. Containers are nested deeper than 512 levels."},
      {"100000 nested arrays around nil", [](std::size_t n) { return Repeat({0x91}, 100'000 * n, {0xc0}); },
       "Invalid MessagePack data at position 513. Containers are nested deeper than 512 levels."},
      {"a million nested arrays", [](std::size_t n) { return Repeat({0x91}, 1'000'000 * n); },
       "Invalid MessagePack data at position 513. Containers are nested deeper than 512 levels."},
      {"a lone never-used byte", [](std::size_t) { return Bytes{0xc1}; },
       "Invalid MessagePack data at position 1."},
      {"a map with an array key", [&](std::size_t) { return arrayKey; },
       "Invalid MessagePack data at position 2. Map keys must be strings."},
  };
  OnSmallStack([&] {
    for (const Case& c : cases) {
      std::uint64_t allocated[2] = {};  // bytes the decode allocated, at scale 1 and 2
      for (std::size_t scale : {1u, 2u}) {
        const Bytes bytes = c.make(scale);
        const std::uint64_t inUse = HeapBytesInUse();
        const MemoryStats before = ReadMemoryStats();
        ConversionResult result;
        const double start = test::ThreadCpuSeconds();
        Decode(result, bytes);
        EXPECT_LT(test::ThreadCpuSeconds() - start, test::kHostileInputCpuSeconds) << c.what;
        allocated[scale - 1] = ReadMemoryStats().bytesAllocated - before.bytesAllocated;
        const std::uint64_t peakBefore = before.peakBytesInUse;
        EXPECT_FALSE(result.Ok()) << c.what;
        if (scale == 1) {
          EXPECT_EQ(result.Message(), c.message) << c.what;
        }
        // The peak moves only when this decode set it; then it stays within a bound of the input size.
        const std::uint64_t peak = ReadMemoryStats().peakBytesInUse;
        if (peak > peakBefore) {
          EXPECT_LE(peak - inUse, 64 * bytes.size() + (1u << 20)) << c.what;
        }
      }
      EXPECT_LE(allocated[1], 3 * allocated[0] + (1u << 20))
          << c.what << ": " << allocated[0] << " bytes, then " << allocated[1] << " bytes";
    }
  });
}

// Every allocation refused in turn: the decode fails with the memory message or, when the refused
// allocation was not its own, succeeds with the whole tree; it never reports a partial tree as success.
// A message that is one number, nil or boolean takes no storage; one that holds records takes storage
// sized to it, and a small one far less than a large tree's.
TEST(MessagePackDecoderTest, StorageFollowsTheMessage) {
  struct Case {
    Bytes bytes;
    std::uint64_t mostBytes;  // in use while the value is held
  };
  const Case cases[] = {
      {{0x2a}, 0},                                                  // 42
      {{0xcb, 0x40, 0x09, 0x21, 0xf9, 0xf0, 0x1b, 0x86, 0x6e}, 0},  // 3.14159
      {{0xc3}, 0},                                                  // true
      {{0x82, 0xa1, 'a', 0x01, 0xa1, 'b', 0x92, 0xa1, 'x', 0xc0}, 4096},
      {{0xa3, 'a', 'b', 'c'}, 4096},
  };
  for (const Case& c : cases) {
    const std::uint64_t inUse = HeapBytesInUse();
    {
      ConversionResult result;
      ASSERT_EQ(Decode(result, c.bytes), c.bytes.size());
      ASSERT_TRUE(result.Ok()) << result.Message();
      EXPECT_LE(HeapBytesInUse() - inUse, c.mostBytes) << static_cast<int>(c.bytes[0]);
    }
    EXPECT_EQ(HeapBytesInUse(), inUse);
  }
}

TEST(MessagePackDecoderTest, ReportsRefusedMemoryAsFailure) {
  const Bytes bytes = {0x92, 0x82, 0xa4, 'n',  'a',  'm',  'e',  0xa3, 'x',  'y',  'z',
                       0xa1, 'l',  0x93, 0x01, 0xc4, 0x01, 0x02, 0xa0, 0x81, 0xa1, 'k',
                       0x91, 0xcb, 0,    0,    0,    0,    0,    0,    0,    0};
  ConversionResult whole;
  Decode(whole, bytes);
  ASSERT_TRUE(whole.Ok());
  for (std::uint64_t nth = 1; nth < 64; ++nth) {
    FailNthHeapAllocation(nth);
    ConversionResult result;
    Decode(result, bytes);
    const bool fired = FailNthHeapAllocation(0) == 0;
    if (result.Ok()) {
      EXPECT_TRUE(SameValue(result.Value(), whole.Value())) << nth;
    } else {
      EXPECT_TRUE(fired);
      EXPECT_EQ(result.Message(), "Not enough memory to decode MessagePack data at position 32.") << nth;
    }
  }
}

TEST(MessagePackWriterTest, ChoosesTheSmallestFormat) {
  struct Case {
    Builder value;
    Bytes bytes;
  };
  const Case cases[] = {
      {[](BindingProperty& v) { v.SetSigned(127); }, {0x7f}},
      {[](BindingProperty& v) { v.SetSigned(128); }, {0xd1, 0x00, 0x80}},
      {[](BindingProperty& v) { v.SetSigned(-32); }, {0xe0}},
      {[](BindingProperty& v) { v.SetSigned(-33); }, {0xd0, 0xdf}},
      {[](BindingProperty& v) { v.SetSigned(-40000); }, {0xd2, 0xff, 0xff, 0x63, 0xc0}},
      {[](BindingProperty& v) { v.SetUnsigned(5); }, {0xcc, 0x05}},
      {[](BindingProperty& v) { v.SetUnsigned(0x10000); }, {0xce, 0x00, 0x01, 0x00, 0x00}},
      {[](BindingProperty& v) { v.SetFloat(1.5); }, {0xca, 0x3f, 0xc0, 0x00, 0x00}},
      {[](BindingProperty& v) { v.SetFloat(0.1); }, {0xcb, 0x3f, 0xb9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9a}},
      {[](BindingProperty& v) { v.Field("b").Element(0); }, {0x81, 0xa1, 'b', 0x91, 0xc0}},
  };
  for (const Case& c : cases) {
    BindingProperty value;
    c.value(value);
    EXPECT_EQ(test::EncodeMessagePack(value), c.bytes) << ::testing::PrintToString(c.bytes);
  }
}

TEST(MessagePackWriterTest, RoundTripsThroughTheDecoder) {
  BindingProperty value;
  value.Field("long text").SetString(std::string(70'000, 't'));
  value.Field("text 32").SetString(std::string(32, 's'));
  value.Field("blob").SetBlob(Bytes(300, 0xab));
  value.Field("nan").SetFloat(std::numeric_limits<double>::quiet_NaN());
  value.Field("max").SetUnsigned(std::numeric_limits<std::uint64_t>::max());
  value.Field("min").SetSigned(std::numeric_limits<std::int64_t>::min());
  value.Field("bool").SetBool(true);
  BindingProperty& many = value.Field("many");
  for (int i = 0; i < 70'000; ++i)
    many.Append().SetSigned(i - 35'000);
  BindingProperty& fields = value.Field("fields");
  for (int i = 0; i < 20; ++i)
    fields.Field(std::to_string(i)).Element(static_cast<std::size_t>(i));
  const Bytes bytes = test::EncodeMessagePack(value);
  ConversionResult result;
  EXPECT_EQ(Decode(result, bytes), bytes.size());
  ASSERT_TRUE(result.Ok()) << result.Message();
  EXPECT_TRUE(SameValue(result.Value(), value));
}

}  // namespace
}  // namespace Quarn
