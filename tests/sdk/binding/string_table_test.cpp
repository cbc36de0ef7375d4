#include "sdk/binding/string_table.h"
#include "tests/support/inline_slab.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Quarn {
namespace {

TEST(StringTableTest, HashIsFnv1aUpToTheFirstNul) {
  struct Case {
    std::string_view text;
    std::uint32_t hash;
  };
  const Case cases[] = {
      {"", 2166136261u},       {"a", 0xE40C292Cu},
      {"foobar", 0xBF9CF968u}, {std::string_view("a\0b", 3), 0xE40C292Cu},
      {"\xff", 0x7A0B824Eu},  // bytes are taken as unsigned
  };
  for (const Case& c : cases)
    EXPECT_EQ(StringTable::Hash(c.text), c.hash) << c.text;
}

TEST(StringTableTest, GrowthKeepsEveryRecordReachable) {
  InlineSlab slab;
  StringTable table(slab);
  std::vector<StringRecord*> records;
  for (int i = 0; i < 1000; ++i)
    records.push_back(table.Intern("name-" + std::to_string(i) + "-long-enough-for-the-heap"));
  EXPECT_EQ(table.Size(), 1000u);
  EXPECT_GE(table.SlotCount(), 2 * table.Size());
  for (int i = 0; i < 1000; ++i) {
    StringRecord* again = table.Intern("name-" + std::to_string(i) + "-long-enough-for-the-heap");
    EXPECT_EQ(again, records[static_cast<std::size_t>(i)]);
    table.Release(again);
  }
  for (StringRecord* record : records)
    table.Release(record);
  EXPECT_EQ(table.Size(), 0u);
}

// Distinct short texts: by default enough for a table to outgrow its inline slots and use its cache of
// repeated texts; 1100 make it large enough to keep its longer texts in the slab.
std::vector<StringRecord*> InternOthers(StringTable& table, std::size_t count = 40) {
  std::vector<StringRecord*> others;
  for (std::size_t i = 0; i < count; ++i)
    others.push_back(table.Intern("other " + std::to_string(i)));
  return others;
}

// Texts that share length and end bytes compete for the cache of repeated texts; a record freed while
// cached must not be handed out again.
TEST(StringTableTest, RepeatedTextsStayDistinctAndFreedOnesAreForgotten) {
  InlineSlab slab;
  StringTable table(slab);
  std::vector<StringRecord*> others = InternOthers(table);
  const std::string texts[] = {"axc", "ayc", "azc", "a long text kept on the heap, number one",
                               "a long text kept on the heap, number two"};
  std::vector<StringRecord*> records;
  for (int round = 0; round < 3; ++round)
    for (const std::string& text : texts)
      records.push_back(table.Intern(text));
  for (std::size_t i = 0; i < records.size(); ++i)
    ASSERT_EQ(records[i]->View(), texts[i % std::size(texts)]);
  EXPECT_EQ(table.Size(), others.size() + std::size(texts));
  for (StringRecord* record : records)
    table.Release(record);
  EXPECT_EQ(table.Size(), others.size());
  for (const std::string& text : texts) {
    StringRecord* again = table.Intern(text);
    EXPECT_EQ(again->View(), text);
    EXPECT_EQ(again->references, 1u);
    table.Release(again);
  }
  EXPECT_EQ(table.Size(), others.size());
  for (StringRecord* record : others)
    table.Release(record);
  EXPECT_EQ(table.Size(), 0u);
}

// Texts compared for equality: every length a short text takes, each one against texts of its length
// that differ in one byte only. Once a text is cached as repeated, the others share its cache slot
// unless they differ in its first, middle or last byte, so it is their text that tells them apart.
TEST(StringTableTest, TextsThatDifferInOneByteAreDistinct) {
  InlineSlab slab;
  StringTable table(slab);
  std::vector<StringRecord*> held = InternOthers(table);
  for (std::size_t length = 1; length <= 20; ++length) {
    std::string base;
    for (std::size_t i = 0; i < length; ++i)
      base += static_cast<char>('a' + i);
    StringRecord* record = table.Intern(base);
    held.push_back(record);
    held.push_back(table.Intern(base));  // now cached as repeated
    ASSERT_EQ(held.back(), record);
    for (std::size_t at = 0; at < length; ++at) {
      std::string variant = base;
      variant[at] = 'Z';
      StringRecord* other = table.Intern(variant);
      held.push_back(other);
      EXPECT_NE(other, record) << variant;
      EXPECT_EQ(other->View(), variant);
    }
    EXPECT_EQ(table.Intern(std::string_view(base)), record) << base;
    held.push_back(record);
  }
  for (StringRecord* record : held)
    table.Release(record);
  EXPECT_EQ(table.Size(), 0u);
}

// Erasing a record moves the ones probed past it; every record left must stay findable, in whatever
// order the others go.
TEST(StringTableTest, ReleasingInAnyOrderKeepsTheOthersFindable) {
  constexpr std::size_t kTexts = 300;
  const auto forward = [](std::size_t i) { return i; };
  const auto backward = [](std::size_t i) { return kTexts - 1 - i; };
  const auto strided = [](std::size_t i) { return i * 7 % kTexts; };  // 7 and 300 are coprime
  for (std::size_t (*order)(std::size_t) : {+forward, +backward, +strided}) {
    InlineSlab slab;
    StringTable table(slab);
    std::vector<StringRecord*> records;
    for (std::size_t i = 0; i < kTexts; ++i)
      records.push_back(table.Intern("t" + std::to_string(i)));
    for (std::size_t step = 0; step < kTexts; ++step) {
      const std::size_t gone = order(step);
      table.Release(records[gone]);
      records[gone] = nullptr;
      if (step % 25 != 0) continue;
      for (std::size_t i = 0; i < kTexts; ++i) {
        if (records[i] == nullptr) continue;
        StringRecord* again = table.Intern("t" + std::to_string(i));
        ASSERT_EQ(again, records[i]) << "t" << i << " lost after " << step + 1 << " releases";
        table.Release(again);
      }
    }
    EXPECT_EQ(table.Size(), 0u);
  }
}

// A table dropped with its records still held frees the texts that live on the heap and returns the
// slab-held ones with its slab, whatever mix of placements it holds, small or large, and also when
// some were released in between.
TEST(StringTableTest, DroppedTableFreesTheTextsItStillHolds) {
  const std::string heapText(RecordText::kLongestInSlab + 1, 'h');
  const std::string mediumText(RecordText::kInlineCapacity + 10, 'm');
  for (std::size_t fillerCount : {std::size_t{0}, std::size_t{1100}}) {
    for (int heapCount : {0, 1, 40}) {
      for (int mediumCount : {0, 1, 40}) {
        for (int inlineCount : {0, 3, 40}) {
          const std::uint64_t bytesBefore = HeapBytesInUse();
          {
            InlineSlab slab;
            StringTable table(slab);
            std::vector<StringRecord*> held = InternOthers(table, fillerCount);
            for (int i = 0; i < heapCount; ++i)
              held.push_back(table.Intern(heapText + std::to_string(i)));
            for (int i = 0; i < mediumCount; ++i)
              held.push_back(table.Intern(mediumText + std::to_string(i)));
            for (int i = 0; i < inlineCount; ++i)
              held.push_back(table.Intern("s" + std::to_string(i)));
            for (std::size_t i = 0; i < held.size(); i += 3)
              table.Release(held[i]);
          }
          EXPECT_EQ(HeapBytesInUse(), bytesBefore) << fillerCount << " filler, " << heapCount << " long, "
                                                   << mediumCount << " medium, " << inlineCount << " short";
        }
      }
    }
  }
}

// Texts of every length around the places where their bytes move (inside the record, the slab, the
// heap), in a small table and a large one, keep their bytes and the NUL after them, are found again,
// and give back what they took. Only the large table keeps any in its slab.
TEST(StringTableTest, TextsOnEitherSideOfAPlacementBoundaryRoundTrip) {
  std::vector<std::size_t> lengths;
  for (const std::size_t boundary : {RecordText::kInlineCapacity, RecordText::kLongestInSlab})
    for (std::size_t length = boundary - 2; length <= boundary + 2; ++length)
      lengths.push_back(length);
  for (const std::size_t fillerCount : {std::size_t{0}, std::size_t{1100}}) {
    const std::uint64_t bytesBefore = HeapBytesInUse();
    {
      InlineSlab slab;
      StringTable table(slab);
      std::vector<StringRecord*> held = InternOthers(table, fillerCount);
      std::vector<std::string> texts;
      for (const std::size_t length : lengths) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i)
          text += static_cast<char>('!' + (i * 7 + length) % 90);
        texts.push_back(text);
        held.push_back(table.Intern(text));
      }
      for (std::size_t i = 0; i < texts.size(); ++i) {
        const StringRecord* record = held[held.size() - texts.size() + i];
        ASSERT_EQ(record->View(), texts[i]) << lengths[i];
        EXPECT_EQ(record->text.data()[lengths[i]], '\0') << lengths[i];
        const bool medium =
            lengths[i] > RecordText::kInlineCapacity && lengths[i] <= RecordText::kLongestInSlab;
        EXPECT_EQ(record->text.InSlab(), medium && fillerCount != 0)
            << lengths[i] << " after " << fillerCount;
        EXPECT_EQ(record->text.OnHeap(), lengths[i] > RecordText::kInlineCapacity && !record->text.InSlab());
        StringRecord* again = table.Intern(texts[i]);
        EXPECT_EQ(again, record) << lengths[i];
        table.Release(again);
      }
      for (StringRecord* record : held)
        table.Release(record);
      EXPECT_EQ(table.Size(), 0u);
      EXPECT_EQ(slab.PagesHeld(), 0u);
    }
    EXPECT_EQ(HeapBytesInUse(), bytesBefore) << fillerCount;
  }
}

// A small tree's few longer texts of many lengths take their bytes from the heap, not a slab page
// for each length.
TEST(StringTableTest, ASmallTableTakesNoSlabPagesForItsLongerTexts) {
  InlineSlab slab;
  StringTable table(slab);
  std::vector<StringRecord*> held;
  for (std::size_t length = RecordText::kInlineCapacity + 1; length <= RecordText::kLongestInSlab;
       length += 4)
    held.push_back(table.Intern(std::string(length, 'x')));
  EXPECT_EQ(slab.PagesHeld(), 0u);
  for (StringRecord* record : held)
    table.Release(record);
}

// A text whose bytes cannot be had leaves no record behind, wherever they would have gone.
TEST(StringTableTest, RefusedTextBytesLeaveNoRecord) {
  InlineSlab slab;
  StringTable table(slab);
  std::vector<StringRecord*> held = InternOthers(table);
  const std::string heapText(RecordText::kLongestInSlab + 1, 'h');
  FailHeapAllocationsFrom(1);
  EXPECT_EQ(table.Intern(heapText), nullptr);
  FailNthHeapAllocation(0);
  EXPECT_EQ(table.Size(), held.size());
  StringRecord* record = table.Intern(heapText);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->View(), heapText);
  held.push_back(record);
  for (StringRecord* each : held)
    table.Release(each);
  EXPECT_EQ(table.Size(), 0u);
}

TEST(StringTableTest, InterningARecordOfAnotherTableCopiesIt) {
  InlineSlab slabA, slabB;
  StringTable a(slabA), b(slabB);
  StringRecord* original = a.Intern("a text that lives in table a");
  StringRecord* copy = b.Intern(*original);
  EXPECT_NE(copy, original);
  EXPECT_EQ(copy->View(), original->View());
  EXPECT_EQ(b.Intern(*copy), copy);
  EXPECT_EQ(copy->references, 2u);
  a.Release(original);
  EXPECT_EQ(copy->View(), "a text that lives in table a");
  b.Release(copy);
  b.Release(copy);
}

}  // namespace
}  // namespace Quarn
