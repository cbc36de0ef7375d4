#include "sdk/binding/binding_property.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sdk/binding/page_pool.h"
#include "sdk/binding/property_context.h"
#include "sdk/binding/value_readers.h"
#include "sdk/binding/value_visitor.h"
#include "tests/support/small_stack.h"

namespace Quarn {
namespace {

using test::OnSmallStack;

// Enum types are identified by the address of their TypeIdentifier, which values never look into.
const char kColourTag = 0;
const TypeIdentifier* const kColour = reinterpret_cast<const TypeIdentifier*>(&kColourTag);

// Writes the walk as text: scalars as themselves, "[" "]" around collections, "{name:" "}" around fields.
class TextVisitor : public ValueVisitor {
 public:
  std::string text;
  std::size_t depth = 0;
  std::size_t maxDepth = 0;

  void Empty() override { text += "~"; }
  void Bool(bool value) override { text += value ? "T" : "F"; }
  void Signed(std::int64_t value) override { text += std::to_string(value); }
  void Unsigned(std::uint64_t value) override { text += std::to_string(value) + "u"; }
  void Float(double value) override { text += std::to_string(value); }
  void String(std::string_view value) override { (text += '"').append(value) += '"'; }
  void Blob(std::span<const std::uint8_t> bytes) override { text += "b" + std::to_string(bytes.size()); }
  void Enum(std::int32_t value, const TypeIdentifier* type) override {
    text += "e" + std::to_string(value) + (type == kColour ? "#colour" : "#?");
  }
  void BeginCollection(std::size_t) override {
    text += "[";
    maxDepth = std::max(maxDepth, ++depth);
  }
  void BeginElement(std::size_t index) override {
    if (index > 0) text += ",";
  }
  void EndElement(std::size_t) override {}
  void EndCollection() override {
    text += "]";
    --depth;
  }
  void BeginStructure(std::size_t) override {
    text += "{";
    maxDepth = std::max(maxDepth, ++depth);
  }
  void BeginField(std::string_view name) override { text.append(name) += ":"; }
  void EndField(std::string_view) override { text += ";"; }
  void EndStructure() override {
    text += "}";
    --depth;
  }
};

std::string Walk(const BindingProperty& value) {
  TextVisitor visitor;
  EXPECT_TRUE(value.Accept(visitor));
  return visitor.text;
}

// A tree with every kind, texts long enough for heap buffers, containers that grow, and a structure
// large enough to keep its name order in an index.
void BuildSample(BindingProperty& root) {
  root.Field("name").SetString("a name longer than the inline capacity of a string");
  root.Field("flag").SetBool(true);
  static const std::uint8_t kBytes[] = {1, 2, 3};
  root.Field("blob").SetBlob(kBytes);
  root.Field("colour").SetEnum(2, kColour);
  BindingProperty& items = root.Field("items");
  for (int i = 0; i < 40; ++i) {
    BindingProperty& item = items.Append();
    item.Field("id").SetSigned(i);
    item.Field("key").SetString("key-" + std::to_string(i % 5) + "-shared-between-items");
    item.Field("weight").SetFloat(i / 2.0);
  }
  for (int i = 0; i < 20; ++i)
    root.Field("extra" + std::to_string(19 - i)).SetUnsigned(static_cast<unsigned>(i));
  BindingProperty& wide = root.Field("wide");
  for (int i = 0; i < 300; ++i)
    wide.Field("w" + std::to_string(i * 37 % 300)).SetSigned(i);
}

TEST(BindingPropertyTest, FreshValueIsAnEmptyRootWithoutStorage) {
  BindingProperty value;
  EXPECT_EQ(value.Kind(), BindingKind::Empty);
  EXPECT_EQ(value.Count(), 0u);
  EXPECT_EQ(value.GetSigned(5), 5);
  EXPECT_TRUE(value.OwnsContext());
  EXPECT_EQ(value.Context(), nullptr);
  EXPECT_EQ(sizeof(BindingProperty), 24u);
}

// A record of a dozen fields, strings, an enum and a short list, as a small request body holds, lives in
// its context alone: no page is taken from the pool, so building it touches no fresh memory.
TEST(BindingPropertyTest, SmallTreeTakesNoPageFromThePool) {
  const std::size_t blocksBefore = PagePool::Instance().ReadUsage().blocks;
  BindingProperty record;
  for (int i = 0; i < 12; ++i)
    record.Field("member" + std::to_string(i)).SetString("value number " + std::to_string(i));
  record.Field("colour").SetEnum(2, kColour);
  for (int i = 0; i < 4; ++i)
    record.Field("list").Append().SetString("entry " + std::to_string(i));
  ASSERT_FALSE(record.AllocationFailed());
  EXPECT_EQ(record.Context()->SlabInUse().PagesHeld(), 0u);
  EXPECT_EQ(PagePool::Instance().ReadUsage().blocks, blocksBefore);
  EXPECT_EQ(record.Field("member7").GetString(""), "value number 7");
  EXPECT_EQ(record.Field("list").Element(3).GetString(""), "entry 3");
}

TEST(BindingPropertyTest, GettersReadOnlyTheirOwnKind) {
  const std::uint8_t bytes[] = {7, 8};
  struct Case {
    const char* name;
    std::function<void(BindingProperty&)> set;
    BindingKind kind;
    std::size_t count;
  };
  const Case cases[] = {
      {"bool", [](BindingProperty& v) { v.SetBool(true); }, BindingKind::Bool, 1},
      {"signed", [](BindingProperty& v) { v.SetSigned(-1); }, BindingKind::Signed, 1},
      {"unsigned", [](BindingProperty& v) { v.SetUnsigned(9); }, BindingKind::Unsigned, 1},
      {"float", [](BindingProperty& v) { v.SetFloat(0.5); }, BindingKind::Float, 1},
      {"string", [](BindingProperty& v) { v.SetString("abc"); }, BindingKind::String, 3},
      {"blob", [&](BindingProperty& v) { v.SetBlob(bytes); }, BindingKind::Blob, 2},
      {"enum", [](BindingProperty& v) { v.SetEnum(3, kColour); }, BindingKind::Enum, 1},
  };
  for (const Case& c : cases) {
    BindingProperty v;
    c.set(v);
    EXPECT_EQ(v.Kind(), c.kind) << c.name;
    EXPECT_EQ(BindingProperty::KindName(v.Kind()), c.name);
    EXPECT_EQ(v.Count(), c.count) << c.name;
    EXPECT_EQ(v.GetBool(false), v.Kind() == BindingKind::Bool) << c.name;
    EXPECT_EQ(v.GetSigned(7), v.Kind() == BindingKind::Signed ? -1 : 7) << c.name;
    EXPECT_EQ(v.GetUnsigned(7), v.Kind() == BindingKind::Unsigned ? 9u : 7u) << c.name;
    EXPECT_EQ(v.GetFloat(7.0), v.Kind() == BindingKind::Float ? 0.5 : 7.0) << c.name;
    EXPECT_EQ(v.GetString("d"), v.Kind() == BindingKind::String ? "abc" : "d") << c.name;
    EXPECT_EQ(v.GetBlob({}).size(), v.Kind() == BindingKind::Blob ? 2u : 0u) << c.name;
    EXPECT_EQ(v.GetEnum({-4, nullptr}).value, v.Kind() == BindingKind::Enum ? 3 : -4) << c.name;
  }
  EXPECT_EQ(BindingProperty::KindName(8), "collection");
  EXPECT_EQ(BindingProperty::KindName(9), "structure");
  EXPECT_EQ(BindingProperty::KindName(10), "");
}

TEST(BindingPropertyTest, EmptyTextNeedsNoStorage) {
  BindingProperty value;
  value.SetString("");
  EXPECT_EQ(value.Kind(), BindingKind::String);
  EXPECT_EQ(value.Count(), 0u);
  EXPECT_EQ(value.Context(), nullptr);

  BindingProperty named;
  named.Field("").SetString("");
  ASSERT_TRUE(named.HasField(""));
  EXPECT_EQ(named.Context()->Strings().Size(), 0u);  // neither the name nor the value is stored
  named.Reset();
  value.Reset();
  EXPECT_EQ(StringTable::Empty()->references, 0u);
}

TEST(BindingPropertyTest, FieldsAreKeptInByteWiseNameOrder) {
  BindingProperty value;
  for (const char* name : {"b", "a", "B", "ab", "\xc3\xa9", "", "a"})
    value.Field(name).SetString(name);
  EXPECT_EQ(value.Count(), 6u);
  std::vector<std::string_view> names;
  for (const auto& [name, field] : value.Fields()) {
    names.push_back(name);
    EXPECT_EQ(field.GetString("?"), name);
  }
  EXPECT_EQ(names, (std::vector<std::string_view>{"", "B", "a", "ab", "b", "\xc3\xa9"}));
  EXPECT_EQ(Walk(value), "{:\"\";B:\"B\";a:\"a\";ab:\"ab\";b:\"b\";\xc3\xa9:\"\xc3\xa9\";}");
  EXPECT_EQ(std::as_const(value).Field("ab").GetString(""), "ab");
  EXPECT_FALSE(value.HasField("c"));
  EXPECT_EQ(&std::as_const(value).Field("c"), &BindingProperty::EmptyValue());
}

TEST(BindingPropertyTest, ManyFieldsInAnyOrderStayFindable) {
  BindingProperty value;
  std::vector<std::string> names;
  for (int i = 0; i < 500; ++i)
    names.push_back("f" + std::to_string((i * 7919) % 500));
  for (const std::string& name : names)
    value.Field(name).SetString(name);
  ASSERT_EQ(value.Count(), 500u);
  std::string previous;
  for (const auto& [name, field] : value.Fields()) {
    EXPECT_LT(previous, name);
    EXPECT_EQ(field.GetString(""), name);
    previous = std::string(name);
  }
  for (const std::string& name : names)
    EXPECT_EQ(std::as_const(value).Field(name).GetString(""), name);
}

// Large structures take names that sort after all others without a search; names arriving out of
// order after such a run, and names already present (the last one above all), must still land right.
TEST(BindingPropertyTest, FieldsArrivingInOrderThenOutOfOrder) {
  const auto padded = [](int i) {
    std::string digits = std::to_string(i);
    return "f" + std::string(4 - digits.size(), '0') + digits;
  };
  struct Case {
    const char* label;
    std::vector<std::string> names;  // in arrival order, repeats included
    std::size_t distinct;
  };
  std::vector<Case> cases(3);
  cases[0].label = "ascending";
  for (int i = 0; i < 300; ++i)
    cases[0].names.push_back(padded(i * 2));
  cases[0].distinct = 300;
  cases[1] = cases[0];
  cases[1].label = "ascending, then the last again, then gaps and names below all";
  for (const std::string& name : {padded(598), padded(598), padded(301), padded(1), std::string("a"),
                                  std::string("f"), padded(599), padded(0)})
    cases[1].names.push_back(name);
  cases[1].distinct = 300 + 5;
  cases[2].label = "descending";
  for (int i = 299; i >= 0; --i)
    cases[2].names.push_back(padded(i));
  cases[2].distinct = 300;
  for (const Case& c : cases) {
    BindingProperty value;
    for (const std::string& name : c.names)
      value.Field(name).SetString(name);
    ASSERT_EQ(value.Count(), c.distinct) << c.label;
    std::string previous;
    for (const auto& [name, field] : value.Fields()) {
      EXPECT_LT(previous, name) << c.label;
      EXPECT_EQ(field.GetString(""), name) << c.label;
      previous = std::string(name);
    }
    for (const std::string& name : c.names)
      EXPECT_EQ(std::as_const(value).Field(name).GetString(""), name) << c.label;
  }
}

// Room reserved up front, below and above the size at which a structure keeps an index, and on a
// structure that already has fields, changes nothing a reader can see.
TEST(BindingPropertyTest, ReservedFieldsChangeNothingVisible) {
  struct Case {
    std::size_t reserve;
    int before;  // fields added before reserving
    int after;   // fields added after
  };
  const Case cases[] = {{0, 0, 5}, {5, 0, 5}, {12, 0, 30}, {100, 0, 3}, {100, 0, 150}, {200, 40, 100}};
  for (const Case& c : cases) {
    BindingProperty value;
    value.MakeStructure();
    int added = 0;
    const auto add = [&](int count) {
      for (int i = 0; i < count; ++i, ++added) {
        const std::string name = "n" + std::to_string(added * 37 % 1000);
        value.Field(name).SetString(name);
      }
    };
    add(c.before);
    value.ReserveFields(c.reserve);
    add(c.after);
    ASSERT_FALSE(value.AllocationFailed());
    ASSERT_EQ(value.Count(), static_cast<std::size_t>(c.before + c.after)) << c.reserve;
    std::string previous;
    for (const auto& [name, field] : value.Fields()) {
      EXPECT_LT(previous, name) << c.reserve;
      EXPECT_EQ(field.GetString(""), name) << c.reserve;
      previous = std::string(name);
    }
  }
  BindingProperty scalar;
  scalar.SetSigned(4);
  scalar.ReserveFields(10);  // not a structure: nothing
  EXPECT_EQ(scalar.GetSigned(0), 4);
}

TEST(BindingPropertyTest, WideStructureFilledInRandomOrder) {
  constexpr std::size_t kFields = 200000;
  BindingProperty value;
  std::vector<std::string> names(kFields);
  for (std::size_t i = 0; i < kFields; ++i)
    names[i] = "k" + std::to_string(i * 7919 % kFields);
  for (std::size_t i = 0; i < kFields; ++i)
    value.Field(names[i]).SetSigned(static_cast<std::int64_t>(i));
  for (std::size_t i = 0; i < kFields; i += 1000)
    value.Field(names[i]);  // present already: nothing added
  ASSERT_EQ(value.Count(), kFields);
  ASSERT_FALSE(value.AllocationFailed());
  const BindingProperty copy = value;
  for (const BindingProperty* tree : {static_cast<const BindingProperty*>(&value), &copy}) {
    std::string previous;
    std::size_t seen = 0;
    for (const auto& [name, field] : tree->Fields()) {
      ASSERT_LT(previous, name);
      ASSERT_EQ(names[static_cast<std::size_t>(field.GetSigned(-1))], name);
      previous = std::string(name);
      ++seen;
    }
    EXPECT_EQ(seen, kFields);
    for (std::size_t i = 0; i < kFields; ++i)
      ASSERT_EQ(tree->Field(names[i]).GetSigned(-1), static_cast<std::int64_t>(i)) << names[i];
    EXPECT_FALSE(tree->HasField("k"));
    EXPECT_FALSE(tree->HasField("k999999"));
  }
}

TEST(BindingPropertyTest, WritingAccessorsConvertAndReadingOnesDoNot) {
  BindingProperty value;
  value.Element(3);
  EXPECT_EQ(value.Kind(), BindingKind::Collection);
  EXPECT_EQ(value.Count(), 4u);
  EXPECT_EQ(Walk(value), "[~,~,~,~]");
  EXPECT_EQ(&std::as_const(value).Element(10), &BindingProperty::EmptyValue());
  EXPECT_EQ(value.Count(), 4u);
  EXPECT_FALSE(value.Element(2).OwnsContext());
  EXPECT_EQ(value.Element(2).Context(), value.Context());

  BindingProperty number;
  number.SetSigned(5);
  number.Field("x");
  EXPECT_EQ(Walk(number), "{x:~;}");
  EXPECT_EQ(std::as_const(number).Element(0).Kind(), BindingKind::Empty);

  BindingProperty list;
  list.Append().SetSigned(1);
  list.MakeCollection();  // keeps the elements
  list.Append().SetSigned(2);
  EXPECT_EQ(Walk(list), "[1,2]");
  list.MakeStructure();
  EXPECT_EQ(Walk(list), "{}");
  list.Reserve(10);  // not a collection: nothing
  EXPECT_EQ(list.Kind(), BindingKind::Structure);
}

TEST(BindingPropertyTest, CopyIntoAnotherTreeOutlivesTheSource) {
  BindingProperty target;
  target.Field("keep").SetString("kept");
  {
    BindingProperty source;
    BuildSample(source);
    target.Field("copy") = source.Field("items");
    target.Field("whole") = source;
    EXPECT_EQ(Walk(target.Field("whole")), Walk(source));
  }
  const BindingProperty& items = std::as_const(target).Field("copy");
  ASSERT_EQ(items.Count(), 40u);
  EXPECT_EQ(items.Element(39).Field("key").GetString(""), "key-4-shared-between-items");
  EXPECT_EQ(std::as_const(target).Field("whole").Field("blob").AsText(), "AQID");
  EXPECT_EQ(Walk(std::as_const(target).Field("whole").Field("colour")), "e2#colour");  // the type travels
  // Names and texts live in the target's table: five keys, the field names and the long name.
  EXPECT_GE(target.Context()->Strings().Size(), 5u);
}

TEST(BindingPropertyTest, CopyFromOwnDescendantOrAncestor) {
  BindingProperty root;
  BuildSample(root);
  const std::string item = Walk(root.Field("items").Element(3));
  root = std::as_const(root).Field("items").Element(3);
  EXPECT_EQ(Walk(root), item);

  BindingProperty nested;
  nested.Field("a").SetSigned(1);
  nested.Field("a") = nested;
  EXPECT_EQ(Walk(nested), "{a:{a:1;};}");

  nested = std::move(nested.Field("a"));  // a move out of its own child
  EXPECT_EQ(Walk(nested), "{a:1;}");
}

// Each writer reads its argument from the value it replaces: the copy must be taken before the old payload
// is released.
TEST(BindingPropertyTest, WritersAcceptTheirOwnPayload) {
  const std::string text = "a text long enough to live in the tree's own storage";
  BindingProperty value;
  value.SetString(text);
  value.SetString(value.GetString(""));
  EXPECT_EQ(value.GetString("<gone>"), text);

  const BlobBytes bytes(100, 7);
  value.SetBlob(std::span<const std::uint8_t>(bytes));
  value.SetBlob(value.GetBlob({}));
  EXPECT_EQ(value.GetBlob({}).size(), bytes.size());
  EXPECT_TRUE(std::ranges::equal(value.GetBlob({}), bytes));

  value.SetString(text);
  value.Field(value.GetString("")).SetSigned(1);
  EXPECT_EQ(Walk(value), "{" + text + ":1;}");

  BindingProperty list;
  list.Append().SetString(text);
  list.Field(list.Element(0).GetString("")).SetBool(true);  // the name lies inside a released element
  EXPECT_EQ(Walk(list), "{" + text + ":T;}");

  BindingProperty tree;
  tree.Field("inner").Field("leaf").SetString(text);
  ConversionResult result;
  ReadObject(result, tree, tree.Field("inner"), "v");
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(Walk(tree), "{leaf:\"" + text + "\";}");
}

TEST(BindingPropertyTest, MovesSwapRootsAndCopyElsewhere) {
  BindingProperty a, b;
  a.SetString("first");
  b.Field("x").SetSigned(1);
  const PropertyContext* contextA = a.Context();
  const std::uint64_t allocations = ReadMemoryStats().allocationCount;
  a = std::move(b);
  EXPECT_EQ(ReadMemoryStats().allocationCount, allocations) << "a move between roots allocates";
  EXPECT_EQ(Walk(a), "{x:1;}");
  EXPECT_EQ(b.Kind(), BindingKind::Empty);
  EXPECT_EQ(b.Context(), contextA);  // b holds a's old context, emptied

  BindingProperty list;
  list.Append().SetString("one");
  list.Append().Field("y").SetSigned(2);
  BindingProperty taken = std::move(list.Element(1));
  EXPECT_EQ(Walk(taken), "{y:2;}");
  EXPECT_NE(taken.Context(), list.Context());
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(Walk(list), "[\"one\",~]");

  list.Element(0) = std::move(taken);  // a root moved into a tree: copied, then the root reset
  EXPECT_EQ(Walk(list), "[{y:2;},~]");
  EXPECT_EQ(taken.Kind(), BindingKind::Empty);
}

TEST(BindingPropertyTest, ValuesSharingStorageUseOneContext) {
  const std::uint64_t inUse = HeapBytesInUse();
  {
    BindingProperty storage;
    std::vector<BindingProperty> values(3);
    for (BindingProperty& value : values)
      value.ShareStorage(storage);
    values[0].SetString("a text longer than the inline capacity of a string");
    values[1].SetString("a text longer than the inline capacity of a string");
    values[2].Field("name").SetString("short");
    ASSERT_NE(storage.Context(), nullptr);
    for (const BindingProperty& value : values) {
      EXPECT_EQ(value.Context(), storage.Context());
      EXPECT_FALSE(value.OwnsContext());
    }
    EXPECT_EQ(storage.Context()->Strings().Size(), 3u);  // one record for the two equal texts
    EXPECT_EQ(storage.Kind(), BindingKind::Empty);

    // Moving out of a sharing value copies into a root of its own; the sharer stays usable.
    BindingProperty taken = std::move(values[2]);
    EXPECT_EQ(Walk(taken), "{name:\"short\";}");
    EXPECT_NE(taken.Context(), storage.Context());
    values[2].SetSigned(4);
    EXPECT_EQ(values[2].GetSigned(0), 4);

    // A value with storage of its own, or one that is no root, keeps what it has.
    BindingProperty own;
    own.SetString("mine");
    const PropertyContext* ownContext = own.Context();
    own.ShareStorage(storage);
    EXPECT_EQ(own.Context(), ownContext);
    EXPECT_TRUE(own.OwnsContext());
    values[0].ShareStorage(own);
    EXPECT_EQ(values[0].Context(), storage.Context());
    values.clear();  // the sharers go first, as they must
    EXPECT_EQ(storage.Context()->Strings().Size(), 0u);
  }
  EXPECT_EQ(HeapBytesInUse(), inUse);
}

// A context its holder keeps, as a call keeps its arguments' on its frame: the sharers' texts and
// containers live in it, what is moved or copied out of them survives it, and the module heap gets back
// all it gave for them.
TEST(BindingPropertyTest, ValuesSharingAHeldContextLeaveCopiesThatOutliveIt) {
  const std::uint64_t inUse = HeapBytesInUse();
  {
    BindingProperty kept;
    BindingProperty copied;
    {
      FramePropertyContext context;
      std::vector<BindingProperty> values(3);
      for (BindingProperty& value : values)
        value.ShareStorage(context);
      values[0].SetString("a text longer than the inline capacity of a string");
      values[1].SetString("a text longer than the inline capacity of a string");
      values[2].Field("list").Append().SetString("short");
      for (const BindingProperty& value : values) {
        EXPECT_EQ(value.Context(), &context);
        EXPECT_FALSE(value.OwnsContext());
      }
      EXPECT_EQ(context.Strings().Size(), 3u);
      kept = std::move(values[2]);
      copied = values[0];
      EXPECT_NE(kept.Context(), &context);
      EXPECT_NE(copied.Context(), &context);
      // A value that already holds storage keeps it.
      values[1].ShareStorage(*PropertyContext::Refusing());
      EXPECT_EQ(values[1].Context(), &context);
      values.clear();
      EXPECT_EQ(context.Strings().Size(), 0u);
    }
    EXPECT_EQ(Walk(kept), "{list:[\"short\"];}");
    EXPECT_EQ(copied.GetString(""), "a text longer than the inline capacity of a string");
  }
  EXPECT_EQ(HeapBytesInUse(), inUse);
}

TEST(BindingPropertyTest, EqualStringsShareOneRecord) {
  BindingProperty list;
  for (int i = 0; i < 200; ++i)
    list.Append().SetString("the same text in every element");
  const StringTable& strings = list.Context()->Strings();
  EXPECT_EQ(strings.Size(), 1u);
  const std::string_view first = list.Element(0).GetString("");
  EXPECT_EQ(list.Element(199).GetString("").data(), first.data());
  for (int i = 0; i < 200; ++i)
    list.Element(static_cast<std::size_t>(i)).Reset();
  EXPECT_EQ(strings.Size(), 0u);
}

TEST(BindingPropertyTest, LooseReadings) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::function<void(BindingProperty&)> set;
    bool truth;
    std::string text;
  };
  const std::vector<Case> cases = {
      {[](BindingProperty&) {}, false, ""},
      {[](BindingProperty& v) { v.SetBool(true); }, true, "true"},
      {[](BindingProperty& v) { v.SetBool(false); }, false, "false"},
      {[](BindingProperty& v) { v.SetSigned(-42); }, true, "-42"},
      {[](BindingProperty& v) { v.SetSigned(0); }, false, "0"},
      {[](BindingProperty& v) { v.SetUnsigned(18446744073709551615u); }, true, "18446744073709551615"},
      {[](BindingProperty& v) { v.SetFloat(1.5); }, true, "1.500000"},
      {[](BindingProperty& v) { v.SetFloat(-0.0); }, false, "-0.000000"},
      {[&](BindingProperty& v) { v.SetFloat(nan); }, true, "nan"},
      {[](BindingProperty& v) { v.SetFloat(1e20); }, true, "100000000000000000000.000000"},
      {[](BindingProperty& v) { v.SetString("true"); }, true, "true"},
      {[](BindingProperty& v) { v.SetString("1"); }, true, "1"},
      {[](BindingProperty& v) { v.SetString("True"); }, false, "True"},
      {[](BindingProperty& v) { v.SetString("yes"); }, false, "yes"},
      {[](BindingProperty& v) {
         v.SetBlob(BlobBytes{'f', 'o', 'o', 'b'});
       },
       true, "Zm9vYg=="},
      {[](BindingProperty& v) { v.SetBlob(BlobBytes{}); }, false, ""},
      {[](BindingProperty& v) { v.SetEnum(-3, kColour); }, true, "-3"},
      {[](BindingProperty& v) { v.SetEnum(0, kColour); }, false, "0"},
      {[](BindingProperty& v) { v.MakeCollection(); }, false, ""},
      {[](BindingProperty& v) { v.Append(); }, true, ""},
      {[](BindingProperty& v) { v.MakeStructure(); }, false, ""},
      {[](BindingProperty& v) { v.Field("a"); }, true, ""},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    BindingProperty v;
    cases[i].set(v);
    EXPECT_EQ(v.AsBool(), cases[i].truth) << "case " << i;
    EXPECT_EQ(v.AsText(), cases[i].text) << "case " << i;
  }
}

TEST(BindingPropertyTest, WalkReportsEveryKindInOrder) {
  BindingProperty value;
  BuildSample(value);
  value.Reset();
  value.Append().SetBool(false);
  value.Append().SetUnsigned(3);
  value.Append().SetEnum(4, kColour);
  value.Append().SetBlob(BlobBytes{1});
  value.Append().Field("z").Append();
  EXPECT_EQ(Walk(value), "[F,3u,e4#colour,b1,{z:[~];}]");
}

// Nests depth containers, collections and structures in turn, with a string at the bottom.
void BuildDeep(BindingProperty& root, std::size_t depth) {
  BindingProperty* current = &root;
  for (std::size_t i = 0; i < depth; ++i)
    current = i % 2 == 0 ? &current->Append() : &current->Field("k");
  current->SetString("bottom");
}

TEST(BindingPropertyTest, DeepTreesOnASmallStack) {
  const std::uint64_t bytesBefore = HeapBytesInUse();
  OnSmallStack([] {
    BindingProperty root;
    BuildDeep(root, 512);
    BindingProperty copy = root;
    TextVisitor visitor;
    const std::uint64_t allocations = ReadMemoryStats().allocationCount;
    EXPECT_TRUE(copy.Accept(visitor));
    EXPECT_EQ(ReadMemoryStats().allocationCount, allocations) << "the walk of a decodable tree allocates";
    EXPECT_EQ(visitor.maxDepth, 512u);
    EXPECT_EQ(visitor.depth, 0u);
    EXPECT_NE(visitor.text.find("\"bottom\""), std::string::npos);
  });
  // Far deeper than any decoder produces: copying, walking and destroying never recurse.
  OnSmallStack([] {
    BindingProperty root;
    BuildDeep(root, 200000);
    TextVisitor visitor;
    EXPECT_TRUE(root.Accept(visitor));
    EXPECT_EQ(visitor.maxDepth, 200000u);
    FailNthHeapAllocation(1);
    EXPECT_FALSE(root.Accept(visitor)) << "a walk whose stack is refused must stop";
    FailNthHeapAllocation(0);
    BindingProperty copy(root);
    root.Reset();
    const BindingProperty* bottom = &copy;
    for (std::size_t i = 0; i < 200000; ++i)
      bottom = i % 2 == 0 ? &bottom->Element(0) : &bottom->Field("k");
    EXPECT_EQ(bottom->GetString(""), "bottom");
  });
  EXPECT_EQ(HeapBytesInUse(), bytesBefore);
}

TEST(BindingPropertyTest, TreesOnSeveralThreadsBalanceTheCounters) {
  const std::uint64_t bytesBefore = HeapBytesInUse();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int round = 0; round < 30; ++round) {
        BindingProperty root;
        BuildSample(root);
        root.Field("thread").SetSigned(t);
        BindingProperty copy = root;
        ASSERT_EQ(std::as_const(copy).Field("thread").GetSigned(-1), t);
        ASSERT_FALSE(copy.AllocationFailed());
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(HeapBytesInUse(), bytesBefore);
}

// Fails each allocation of building and copying trees in turn: a failure that loses content is
// reported on the tree, nothing leaks, and what was built stays a well-formed tree.
TEST(BindingPropertyTest, EachFailedAllocationIsReportedAndNothingLeaks) {
  std::string sample, deepSample;
  {
    BindingProperty root, deep;
    BuildSample(root);
    BuildDeep(deep, 100);
    sample = Walk(root);
    deepSample = Walk(deep);
  }
  const std::uint64_t bytesBefore = HeapBytesInUse();
  for (std::uint64_t nth = 1;; ++nth) {
    bool fired;
    {
      BindingProperty root;
      FailNthHeapAllocation(nth);
      BuildSample(root);
      BindingProperty copy = root;
      BindingProperty deep;
      BuildDeep(deep, 100);
      BindingProperty deepCopy = deep;
      fired = FailNthHeapAllocation(0) == 0;
      const bool reported = root.AllocationFailed() || copy.AllocationFailed() || deep.AllocationFailed() ||
                            deepCopy.AllocationFailed();
      EXPECT_TRUE(fired || !reported) << "allocation " << nth;
      const std::string walks[] = {Walk(root), Walk(copy), Walk(deep), Walk(deepCopy)};
      if (!reported) {
        // Only a failure that loses nothing (a hash table that could not grow) goes unreported.
        EXPECT_EQ(walks[0], sample) << "allocation " << nth;
        EXPECT_EQ(walks[1], sample) << "allocation " << nth;
        EXPECT_EQ(walks[3], deepSample) << "allocation " << nth;
      }
    }
    EXPECT_EQ(HeapBytesInUse(), bytesBefore) << "allocation " << nth;
    if (!fired) break;
    ASSERT_LT(nth, 5000u);
  }
}

TEST(BindingPropertyTest, ScratchValueAbsorbsWritesAfterAFailure) {
  BindingProperty root;
  root.MakeStructure();
  FailNthHeapAllocation(1);  // the first field's entry array
  BindingProperty& field = root.Field("a");
  FailNthHeapAllocation(0);
  EXPECT_TRUE(root.AllocationFailed());
  EXPECT_EQ(root.Count(), 0u);
  field.Field("x").SetString("a text that would need storage");
  field.Append().Element(3).SetSigned(1);
  EXPECT_NE(field.Kind(), BindingKind::Structure);
  EXPECT_NE(field.Kind(), BindingKind::String);
  EXPECT_EQ(root.Count(), 0u);
  root = BindingProperty();  // a fresh root replaces the failed tree
  EXPECT_FALSE(root.AllocationFailed());
}

TEST(BindingPropertyTest, RefusedContextLeavesTheValueEmpty) {
  BindingProperty value;
  FailNthHeapAllocation(1);
  value.SetString("needs a context");
  FailNthHeapAllocation(0);
  EXPECT_EQ(value.Kind(), BindingKind::Empty);
  EXPECT_TRUE(value.AllocationFailed());
  value.Field("a").SetSigned(1);
  EXPECT_EQ(value.Kind(), BindingKind::Empty);
  value.Element(1'000'000'000'000);  // beyond any count: refused, not attempted
  EXPECT_EQ(value.Count(), 0u);

  BindingProperty huge;
  huge.Element(std::numeric_limits<std::size_t>::max()).SetSigned(1);
  EXPECT_TRUE(huge.AllocationFailed());
  EXPECT_EQ(huge.Count(), 0u);
}

}  // namespace
}  // namespace Quarn
