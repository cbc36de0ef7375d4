#include "sdk/binding/type_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

#include "tests/support/type_text.h"

namespace Quarn {
namespace {

struct Inner {
  std::int32_t value = 0;
};
struct Outer {};
struct Reserved {};
enum class Letters : std::int32_t {};

}  // namespace

template <>
struct TypeTraits<Inner> : StructTypeTraits<0x7E570001> {};
template <>
struct TypeTraits<Outer> : StructTypeTraits<0x7E570002> {};
template <>
struct TypeTraits<std::vector<Inner>> : VectorTypeTraits<0x7E570003, Inner> {};
template <>
struct TypeTraits<std::optional<Inner>> : OptionalTypeTraits<0x7E570004, Inner> {};
template <>
struct TypeTraits<Reserved> : StructTypeTraits<kReservedTypeId> {};
template <>
struct TypeTraits<Letters> : EnumTypeTraits<0x7E570005> {};

namespace {

using Texts = std::vector<std::string>;

// Identity records for types made up at run time; they outlive every registry of the tests.
const TypeIdentifier kSharedA{0x7E570010, "#7E570010"};
const TypeIdentifier kSharedB{0x7E570010, "#7E570010"};

// Counts its own destruction, to see when the registry lets go of a function's callable.
class CountingCallable : public FunctionCallable {
 public:
  explicit CountingCallable(int& destroyed) : destroyed_(destroyed) {}
  ~CountingCallable() override { ++destroyed_; }

 private:
  int& destroyed_;
};

FunctionInfo MakeFunction(std::string name, int* destroyed = nullptr) {
  FunctionInfo function;
  function.name = std::move(name);
  if (destroyed != nullptr) function.callable = std::make_unique<CountingCallable>(*destroyed);
  return function;
}

TEST(TypeRegistryTest, SecondRegistrationOfANameChangesNothing) {
  TypeRegistry registry;
  TypeBuilder first = registry.RegisterType(4, "Thing", TypeIdOf<Inner>(), false);
  first.AddField<std::int32_t>("value", 0).SetDescription("first").AddTag("one");
  ASSERT_FALSE(first.AlreadyRegistered());

  TypeBuilder second = registry.RegisterType(64, "Thing", TypeIdOf<Outer>(), true);
  second.AddField<std::string>("other", 8).AddEnumValue("X", 1).SetDescription("second").AddTag("two");

  EXPECT_TRUE(second.AlreadyRegistered());
  EXPECT_EQ(&second.Info(), &first.Info());
  const TypeInfo* found = registry.FindTypeByName("Thing");
  ASSERT_EQ(found, &first.Info());
  EXPECT_EQ(found->size, 4u);
  EXPECT_FALSE(found->isEnum);
  EXPECT_EQ(test::MemberTexts(*found), Texts{"value: int32 #1C4DE261"});
  EXPECT_TRUE(found->values.empty());
  EXPECT_EQ(found->description, "first");
  EXPECT_EQ(found->tags, Texts{"one"});
  EXPECT_EQ(registry.FindTypeById(TypeIdOf<Outer>().id), nullptr);
  EXPECT_EQ(registry.FindTypeById(TypeIdOf<Inner>().id), found);
}

TEST(TypeRegistryTest, ReservedIdentifierIsFoundByNameOnly) {
  TypeRegistry registry;
  const TypeInfo& inner = registry.RegisterType<Inner>("Inner").Info();
  const TypeInfo& reserved = registry.RegisterType<Reserved>("ReservedOne").Info();
  const TypeInfo& another = registry.RegisterType(1, "ReservedTwo", TypeIdOf<Reserved>(), false).Info();

  EXPECT_EQ(registry.FindTypeByName("ReservedOne"), &reserved);
  EXPECT_EQ(registry.FindTypeByName("ReservedTwo"), &another);
  EXPECT_EQ(reserved.identifier, kReservedTypeId);
  EXPECT_EQ(registry.FindTypeById(kReservedTypeId), nullptr);
  EXPECT_EQ(registry.FindTypeById(TypeIdOf<Inner>().id), &inner);
  EXPECT_EQ(registry.SnapshotTypes().size(), 3u);
}

TEST(TypeRegistryTest, LastTypeRegisteredUnderAnIdentifierIsFoundByIt) {
  TypeRegistry registry;
  const TypeInfo& first = registry.RegisterType(1, "First", kSharedA, false).Info();
  const TypeInfo& second = registry.RegisterType(2, "Second", kSharedB, false).Info();
  EXPECT_EQ(registry.FindTypeById(0x7E570010), &second);
  EXPECT_EQ(registry.FindTypeByName("First"), &first);
  EXPECT_EQ(second.identifierRef, &kSharedB);
}

TEST(TypeRegistryTest, EmptyTagsAreSkippedAndOthersKeepTheirOrder) {
  TypeRegistry registry;
  TypeBuilder builder = registry.RegisterType<Inner>("Inner");
  builder.AddTag("zeta").AddTag("").AddTag("alpha").AddTag("").AddTag("zeta");
  EventBuilder event = registry.RegisterEvent("OnThing", &builder.Info());
  event.AddTag("").AddTag("b").AddTag("a");
  EXPECT_EQ(builder.Info().tags, (Texts{"zeta", "alpha", "zeta"}));
  EXPECT_EQ(event.Info().tags, (Texts{"b", "a"}));
}

// Enumerators are kept in byte-wise name order, whatever order they were added in; lookups by value
// take the first in that order.
TEST(TypeRegistryTest, EnumeratorsAreOrderedByNameBytes) {
  TypeRegistry registry;
  TypeBuilder builder = registry.RegisterType<Letters>("Letters");
  builder.AddEnumValue("b", 1, "bee").AddEnumValue("a", 1, "ay");
  builder.AddEnumValue("z", 3).AddEnumValue("B", 4).AddEnumValue("\xC3\xA9", 5).AddEnumValue("Z", 3);
  builder.AddEnumValue("z", 6, "overwritten");

  EXPECT_EQ(test::EnumeratorTexts(builder.Info()),
            (Texts{"B=4: ", "Z=3: ", "a=1: ay", "b=1: bee", "z=6: overwritten", "\xC3\xA9=5: "}));
  EXPECT_TRUE(builder.Info().isEnum);
  for (const auto& [name, enumerator] : builder.Info().values)
    EXPECT_EQ(enumerator.owner, &builder.Info());

  struct Case {
    std::uint32_t id;
    std::int32_t value;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {0x7E570005, 1, "a"},          {0x7E570005, 3, "Z"},          {0x7E570005, 6, "z"},
      {0x7E570005, 2, std::nullopt}, {0x7E570099, 1, std::nullopt},  // unregistered identifier
  };
  for (const Case& c : cases)
    EXPECT_EQ(registry.FindEnumName(c.id, c.value), c.name) << c.value;
}

// Each typed member records its native type's identity, kinds and optional flag; a member that refers to
// a registered type points at it, or at nothing when that type was not registered before the member.
TEST(TypeRegistryTest, TypedMembersDescribeTheirNativeType) {
  TypeRegistry registry;
  TypeBuilder early = registry.RegisterType<Outer>("Early");
  early.AddField<Inner>("inner", 0).AddField<std::vector<Inner>>("inners", 0).AddField<Letters>("letters", 0);
  (void)registry.RegisterType<Inner>("Inner");
  TypeBuilder late = registry.RegisterType(64, "Late", kSharedA, false);
  late.AddField<bool>("a", 0)
      .AddField<std::int32_t>("b", 0)
      .AddField<std::uint32_t>("c", 0)
      .AddField<BindingProperty>("d", 0)
      .AddField<std::vector<std::string>>("e", 0)
      .AddField<std::map<std::string, BindingProperty>>("f", 0)
      .AddField<std::vector<BindingProperty>>("g", 0)
      .AddField<std::optional<std::int32_t>>("h", 0)
      .AddField<Inner>("i", 0)
      .AddField<std::vector<Inner>>("j", 0)
      .AddField<std::optional<Inner>>("k", 0);

  EXPECT_EQ(test::MemberTexts(early.Info()),
            (Texts{"inner: ? #7E570001", "inners: vector<?> #7E570003", "letters: ? #7E570005"}));
  EXPECT_EQ(test::MemberTexts(late.Info()),
            (Texts{"a: bool #6AB1187C", "b: int32 #1C4DE261", "c: uint32 #3494B562", "d: object #AF98C378",
                   "e: vector<string> #BFDBCD22", "f: map<object> #FB403709", "g: vector<object> #E980F126",
                   "h: int32? #2BE4F0A0", "i: Inner #7E570001", "j: vector<Inner> #7E570003",
                   "k: Inner? #7E570004"}));
  EXPECT_EQ(early.Info().fields[2].descriptor.kind, NativeKind::Enum);
}

// Member names are matched by their FNV-1a hash, which stops at the first NUL; a secondary descriptor
// without a kind is dropped whole.
TEST(TypeRegistryTest, MemberRecordsKeepWhatTheCallerGave) {
  TypeRegistry registry;
  TypeBuilder builder = registry.RegisterType<Outer>("Outer");
  const TypeDescriptor secondary{NativeKind::Int32, NativeKind::None, nullptr};
  const TypeDescriptor kindless{NativeKind::None, NativeKind::String, &builder.Info()};
  builder.AddField<Inner>("", 4, "empty", kFieldRequired, secondary)
      .AddField<Inner>("a", 8, "", kFieldOmitWhenEmpty, kindless)
      .AddField<Inner>(std::string_view("ab\0cd", 5), 12)
      .AddField<Inner>("foobar", 16);
  const std::uint32_t hashes[] = {0x811C9DC5, 0xE40C292C, 0x4D2505CA, 0xBF9CF968};
  const std::vector<FieldInfo>& fields = builder.Info().fields;
  ASSERT_EQ(fields.size(), std::size(hashes));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i].nameHash, hashes[i]) << i;
    EXPECT_EQ(fields[i].offset, 4 * (i + 1));
    EXPECT_EQ(fields[i].owner, &builder.Info());
  }
  EXPECT_EQ(fields[0].secondary.kind, NativeKind::Int32);
  EXPECT_EQ(fields[0].flags, kFieldRequired);
  EXPECT_EQ(fields[0].description, "empty");
  EXPECT_EQ(fields[1].secondary.elementKind, NativeKind::None);
  EXPECT_EQ(fields[1].secondary.typeInfo, nullptr);
}

// A second registration of a name keeps the first record and counts no change; a detached record is
// not entered, and removing it leaves the registered record of the same name alone.
TEST(TypeRegistryTest, FunctionsRegisterOnceAndDetachedOnesStayOut) {
  int destroyed = 0;  // outlives the registry, which may destroy callables last
  TypeRegistry registry;
  FunctionRegistration first = registry.RegisterFunction(MakeFunction("Get", &destroyed));
  FunctionRegistration again = registry.RegisterFunction(MakeFunction("Get", &destroyed));
  FunctionRegistration detached = registry.RegisterFunction(MakeFunction("Get"), true);

  EXPECT_FALSE(first.alreadyRegistered);
  EXPECT_TRUE(again.alreadyRegistered);
  EXPECT_EQ(again.function, first.function);
  EXPECT_EQ(destroyed, 1);  // the refused record's callable
  EXPECT_FALSE(detached.alreadyRegistered);
  EXPECT_EQ(detached.function->owner, &registry);
  EXPECT_FALSE(registry.UnregisterFunction(*detached.function));
  EXPECT_EQ(registry.FindFunction("Get"), first.function);
  EXPECT_EQ(registry.ChangeCount(), 1u);
}

TEST(TypeRegistryTest, EventsRegisterOnce) {
  TypeRegistry registry;
  const TypeInfo& payload = registry.RegisterType<Inner>("Inner").Info();
  EventBuilder first = registry.RegisterEvent("OnInner", &payload);
  first.SetDescription("Fired for inner.").AddTag("$builtin");
  EventBuilder second = registry.RegisterEvent("OnInner", nullptr);
  second.SetDescription("other").AddTag("other");

  EXPECT_TRUE(second.AlreadyRegistered());
  std::shared_ptr<const EventInfo> found = registry.FindEvent("OnInner");
  ASSERT_EQ(found.get(), &first.Info());
  EXPECT_EQ(found->payload, &payload);
  EXPECT_EQ(found->description, "Fired for inner.");
  EXPECT_EQ(found->tags, Texts{"$builtin"});
}

// Snapshots are copies that later registrations and removals leave alone; a walker holds the records it
// walks, so removing a function or an event meanwhile destroys neither it nor the function's callable.
TEST(TypeRegistryTest, SnapshotsAreCopiesThatKeepTheirRecords) {
  int destroyed = 0;  // outlives the registry, which may destroy callables last
  TypeRegistry registry;
  (void)registry.RegisterType<Inner>("Inner");
  (void)registry.RegisterEvent("OnA", nullptr);
  const FunctionInfo* run = registry.RegisterFunction(MakeFunction("Run", &destroyed)).function.get();
  const TypeRegistry::TypeMap types = registry.SnapshotTypes();
  const TypeRegistry::EventMap events = registry.SnapshotEvents();
  TypeRegistry::FunctionMap functions = registry.SnapshotFunctions();

  (void)registry.RegisterType<Outer>("Outer");
  (void)registry.RegisterFunction(MakeFunction("B"));
  const std::uint64_t before = registry.ChangeCount();
  EXPECT_TRUE(registry.UnregisterEvent("OnA"));
  EXPECT_FALSE(registry.UnregisterEvent("OnA"));
  EXPECT_TRUE(registry.UnregisterFunction(*run));
  EXPECT_FALSE(registry.UnregisterFunction(*run));
  EXPECT_EQ(registry.ChangeCount(), before + 1);
  EXPECT_EQ(registry.FindFunction("Run"), nullptr);
  EXPECT_EQ(registry.FindEvent("OnA"), nullptr);

  EXPECT_EQ(types.size(), 1u);
  EXPECT_EQ(types.at("Inner"), registry.FindTypeByName("Inner"));
  EXPECT_EQ(events.at("OnA")->name, "OnA");
  ASSERT_EQ(functions.size(), 1u);
  EXPECT_EQ(functions.at("Run")->name, "Run");
  EXPECT_EQ(destroyed, 0);
  functions.clear();
  EXPECT_EQ(destroyed, 1);
}

TEST(TypeRegistryTest, ClearWorksOnlyOnASetUpRegistry) {
  int destroyed = 0;  // outlives the registry, which may destroy callables last
  TypeRegistry registry;
  (void)registry.RegisterType<Inner>("Inner");
  (void)registry.RegisterFunction(MakeFunction("F", &destroyed));
  registry.Clear();
  EXPECT_NE(registry.FindTypeByName("Inner"), nullptr);

  registry.Initialize();
  (void)registry.RegisterEvent("OnInner", registry.FindTypeByName("Inner"));
  (void)registry.RegisterFunction(MakeFunction("G", &destroyed));
  const std::uint64_t before = registry.ChangeCount();
  registry.Clear();

  EXPECT_TRUE(registry.SnapshotTypes().empty());
  EXPECT_TRUE(registry.SnapshotEvents().empty());
  EXPECT_TRUE(registry.SnapshotFunctions().empty());
  EXPECT_EQ(registry.FindTypeById(TypeIdOf<Inner>().id), nullptr);
  EXPECT_EQ(registry.FindTypeById(0x7DFB1102), nullptr);
  EXPECT_EQ(registry.ChangeCount(), before + 2);
  EXPECT_EQ(destroyed, 2);

  // Cleared, the registry takes registrations afresh; setting up twice keeps one record per type.
  EXPECT_FALSE(registry.RegisterType<Inner>("Inner").AlreadyRegistered());
  registry.Initialize();
  const TypeRegistry::TypeMap types = registry.SnapshotTypes();
  registry.Initialize();
  EXPECT_EQ(registry.SnapshotTypes(), types);
  EXPECT_EQ(types.size(), 16u);  // Inner, nine help types and six builtin types
}

// Registrations and lookups from several threads at once: every type ends up found by name and by
// identifier, a name contended by all threads is registered exactly once, and every function counts.
TEST(TypeRegistryTest, ConcurrentRegistrationAndLookup) {
  constexpr int kThreads = 4;
  constexpr int kTypesPerThread = 50;
  static std::vector<TypeIdentifier> identifiers;  // outlives the registry, as identity records do
  static std::vector<std::string> names;
  if (identifiers.empty()) {
    names.reserve(kThreads * kTypesPerThread);  // identifiers view these texts: they must not move
    for (int i = 0; i < kThreads * kTypesPerThread; ++i) {
      names.push_back("Type" + std::to_string(i));
      identifiers.push_back({0x7E571000u + static_cast<std::uint32_t>(i), names.back()});
    }
  }
  TypeRegistry registry;
  registry.Initialize();
  std::atomic<int> firstRegistrations = 0;
  std::atomic<int> misses = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t * kTypesPerThread; i < (t + 1) * kTypesPerThread; ++i) {
        registry.RegisterType(4, names[i], identifiers[i], false).AddTag("mine");
        if (!registry.RegisterType<Inner>("Contended").AlreadyRegistered()) ++firstRegistrations;
        (void)registry.RegisterFunction(MakeFunction(names[i]));
        (void)registry.RegisterEvent("On" + names[i], registry.FindTypeById(identifiers[i].id));
        if (registry.FindTypeByName(names[i]) == nullptr || registry.FindTypeById(0x7DFB1102) == nullptr)
          ++misses;
        (void)registry.FindEnumName(0x4B896D21, 1);
        (void)registry.SnapshotTypes();
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();

  EXPECT_EQ(firstRegistrations, 1);
  EXPECT_EQ(misses, 0);
  EXPECT_EQ(registry.SnapshotFunctions().size(), static_cast<std::size_t>(kThreads * kTypesPerThread));
  for (std::size_t i = 0; i < identifiers.size(); ++i) {
    const TypeInfo* byId = registry.FindTypeById(identifiers[i].id);
    ASSERT_NE(byId, nullptr);
    EXPECT_EQ(byId, registry.FindTypeByName(names[i]));
    ASSERT_NE(registry.FindEvent("On" + names[i]), nullptr);
    EXPECT_EQ(registry.FindEvent("On" + names[i])->payload, byId);
  }
}

}  // namespace
}  // namespace Quarn
