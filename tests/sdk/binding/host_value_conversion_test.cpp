#include "sdk/binding/host_value_conversion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/binding/module_heap.h"
#include "sdk/binding/value_equality.h"
#include "tests/support/conversion_samples.h"

namespace Quarn {
namespace {

using test::Mood;
using test::SampleRegistry;

// A tree with every kind but enum, nested three levels.
BindingProperty SampleTree() {
  BindingProperty tree;
  tree.Field("flag").SetBool(true);
  tree.Field("signed").SetSigned(-5);
  tree.Field("unsigned").SetUnsigned(~0ULL);
  tree.Field("float").SetFloat(2.5);
  tree.Field("text").SetString("hello");
  tree.Field("empty text").SetString("");
  const std::uint8_t bytes[] = {0, 9, 255};
  tree.Field("bytes").SetBlob(bytes);
  BindingProperty& list = tree.Field("list");
  list.Append();
  list.Append().Field("inner").Append().SetString("deep");
  list.Append().MakeCollection();
  tree.Field("none");
  return tree;
}

// A copy of a field of a packed record, which gtest must not bind a reference to.
template <class T>
T Unpacked(T value) {
  return value;
}

HostValue Scalar(std::uint32_t type) {
  HostValue value{};
  value.type = type;
  return value;
}

TEST(HostValueConversionTest, RoundTripKeepsTheTreeAndReleasesEverything) {
  const std::uint64_t before = HeapBytesInUse();
  {
    const BindingProperty tree = SampleTree();
    HostValue host{};
    ASSERT_TRUE(ToHost(host, tree, nullptr));
    EXPECT_EQ(Unpacked(host.type), static_cast<std::uint32_t>(kHostValueStructure));
    EXPECT_EQ(Unpacked(host.payload.span.count), tree.Count());
    const auto* members = static_cast<const HostValueMember*>(host.payload.span.data);
    EXPECT_STREQ(members[0].name, "bytes");  // name order
    EXPECT_EQ(Unpacked(members[0].value.type), static_cast<std::uint32_t>(kHostValueOwnedBytes));
    EXPECT_EQ(Unpacked(members[0].ownsName), 1);

    HostValueError error{};
    BindingProperty back;
    ASSERT_TRUE(FromHost(error, back, host, "v"));
    EXPECT_EQ(error.failed, 0);
    EXPECT_TRUE(SameValue(back, tree));

    ASSERT_TRUE(ToHost(host, back.Field("text"), nullptr));  // the old tree is released first
    EXPECT_EQ(Unpacked(host.type), static_cast<std::uint32_t>(kHostValueOwnedText));
    EXPECT_EQ(Unpacked(host.payload.span.count), 5u);
    ReleaseHostValue(host);
    EXPECT_EQ(Unpacked(host.type), 0u);
  }
  EXPECT_EQ(HeapBytesInUse(), before);
}

TEST(HostValueConversionTest, EnumsBecomeNamesWhenRegistered) {
  BindingProperty named;
  named.SetEnum(2, &TypeIdOf<Mood>());
  BindingProperty unnamed;
  unnamed.SetEnum(-7, &TypeIdOf<Mood>());
  HostValue host{};
  ASSERT_TRUE(ToHost(host, named, &SampleRegistry()));
  ASSERT_EQ(host.type, static_cast<std::uint32_t>(kHostValueOwnedText));
  EXPECT_STREQ(static_cast<const char*>(host.payload.span.data), "Sad");
  ASSERT_TRUE(ToHost(host, unnamed, &SampleRegistry()));
  EXPECT_EQ(Unpacked(host.type), static_cast<std::uint32_t>(kHostValueSigned));
  EXPECT_EQ(Unpacked(host.payload.signedValue), -7);
  ASSERT_TRUE(ToHost(host, named, nullptr));
  EXPECT_EQ(Unpacked(host.payload.signedValue), 2);
}

// A chain of depth collections, each holding the next; the innermost holds an integer.
struct HostChain {
  explicit HostChain(std::size_t depth) : links(depth) {
    for (std::size_t i = 0; i < depth; ++i) {
      links[i].type = kHostValueCollection;
      links[i].payload.span = {i + 1 < depth ? &links[i + 1] : &leaf, 1};
    }
    leaf.type = kHostValueSigned;
  }
  std::vector<HostValue> links;
  HostValue leaf{};
};

TEST(HostValueConversionTest, HostileHostValuesAreRefused) {
  HostValueMember unnamed{};
  HostChain deepest(512);
  HostChain tooDeep(513);
  const std::vector<std::pair<HostValue, std::string>> cases = {
      {Scalar(11),
       "Couldn't assign value to 'v' of type object because the input is of an incompatible type ''."},
      {Scalar(kHostValueText), "Host value for 'v' of type 5 has a null pointer."},
      {Scalar(kHostValueOwnedText), "Host value for 'v' of type 6 has a null pointer."},
      {HostValue{kHostValueBytes, {.span = {nullptr, 3}}},
       "Host value for 'v' of type 7 has a null pointer."},
      {HostValue{kHostValueCollection, {.span = {nullptr, 2}}},
       "Host value for 'v' of type 9 has a null pointer."},
      {HostValue{kHostValueStructure, {.span = {&unnamed, 1}}},
       "Host value for 'v' of type 10 has a null pointer."},
      {tooDeep.links[0], "Host value for 'v' is nested deeper than 512 levels."},
      {deepest.links[0], ""},
      {HostValue{kHostValueCollection, {.span = {nullptr, 0}}}, ""},
  };
  const std::uint64_t before = HeapBytesInUse();
  for (const auto& [host, expected] : cases) {
    HostValueError error{};
    BindingProperty target;
    const bool read = FromHost(error, target, host, "v");
    EXPECT_EQ(read, expected.empty());
    EXPECT_EQ(error.failed, expected.empty() ? 0 : 1);
    EXPECT_EQ(error.message != nullptr ? std::string(error.message) : "", expected);
    ReleaseHostValueError(error);
  }
  EXPECT_EQ(HeapBytesInUse(), before);
}

// A collection whose declared count its array cannot hold (4 Mi elements in an array of 2): the count is
// not reserved up front, and the read fails at the first bad element without allocating for the rest.
TEST(HostValueConversionTest, DeclaredCountIsNotReservedBlindly) {
  HostValue elements[2] = {Scalar(kHostValueSigned), Scalar(kHostValueText)};  // the second: null text
  const HostValue host{kHostValueCollection, {.span = {elements, 0x00400000}}};
  HostValueError error{};
  BindingProperty target;
  const std::uint64_t allocatedBefore = ReadMemoryStats().bytesAllocated;
  EXPECT_FALSE(FromHost(error, target, host, "v"));
  EXPECT_LT(ReadMemoryStats().bytesAllocated - allocatedBefore, 1u << 20);
  EXPECT_STREQ(error.message, "Host value for 'v' of type 5 has a null pointer.");
  ReleaseHostValueError(error);
}

// Each allocation of the read refused in turn: a tree that lost part of what it read is a failure, never
// a success.
TEST(HostValueConversionTest, RefusedMemoryWhileReadingIsAFailure) {
  const BindingProperty tree = SampleTree();
  HostValue host{};
  ASSERT_TRUE(ToHost(host, tree, nullptr));
  for (std::uint64_t nth = 1;; ++nth) {
    HostValueError error{};
    BindingProperty target;
    FailNthHeapAllocation(nth);
    const bool read = FromHost(error, target, host, "v");
    const bool fired = FailNthHeapAllocation(0) == 0;
    if (!fired) {
      EXPECT_TRUE(read);
      break;
    }
    if (read) {
      EXPECT_FALSE(target.AllocationFailed()) << nth;
      EXPECT_TRUE(SameValue(target, tree)) << nth;
    } else {
      EXPECT_EQ(error.failed, 1) << nth;
    }
    ReleaseHostValueError(error);
  }
  ReleaseHostValue(host);
}

TEST(HostValueConversionTest, LaterMemberOfTheSameNameWins) {
  HostValueMember members[2] = {{"a", {kHostValueSigned, {.signedValue = 1}}, 0},
                                {"a", {kHostValueSigned, {.signedValue = 2}}, 0}};
  const HostValue host{kHostValueStructure, {.span = {members, 2}}};
  HostValueError error{};
  BindingProperty target;
  ASSERT_TRUE(FromHost(error, target, host, "v"));
  EXPECT_EQ(target.Count(), 1u);
  EXPECT_EQ(target.Field("a").GetSigned(0), 2);
}

TEST(HostValueConversionTest, WritingStopsAtTheNestingLimitAndOnRefusedMemory) {
  const std::uint64_t before = HeapBytesInUse();
  {
    BindingProperty deep;
    BindingProperty* at = &deep;
    for (int i = 0; i < 513; ++i)
      at = &at->Append();
    HostValue host{};
    EXPECT_FALSE(ToHost(host, deep, nullptr));
    EXPECT_EQ(Unpacked(host.type), 0u);

    // Each allocation of the walk refused in turn: false, nothing left behind.
    const BindingProperty tree = SampleTree();
    for (std::uint64_t nth = 1;; ++nth) {
      FailNthHeapAllocation(nth);
      const bool written = ToHost(host, tree, nullptr);
      const bool fired = FailNthHeapAllocation(0) == 0;
      if (!fired) {
        EXPECT_TRUE(written);
        break;
      }
      EXPECT_FALSE(written) << nth;
      EXPECT_EQ(Unpacked(host.type), 0u);
    }
    ReleaseHostValue(host);
  }
  EXPECT_EQ(HeapBytesInUse(), before);
}

}  // namespace
}  // namespace Quarn
