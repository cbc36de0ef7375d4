#include "sdk/binding/type_identifier.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "sdk/binding/builtin_types.h"
#include "sdk/binding/help_types.h"

namespace Quarn {
namespace {

struct LowIdStruct {};
struct HighIdStruct {};

}  // namespace

template <>
struct TypeTraits<LowIdStruct> : StructTypeTraits<0x0000ABCD> {};
template <>
struct TypeTraits<HighIdStruct> : StructTypeTraits<0xFFFFFFFF> {};
template <>
struct TypeTraits<std::optional<LowIdStruct>> : OptionalTypeTraits<0x7E57009A, LowIdStruct> {};

namespace {

template <class... T>
std::vector<const TypeIdentifier*> IdentifiersOf() {
  return {&TypeIdOf<T>()...};
}

// Every identifier the SDK fixes, its own member types and its registered types alike, plus the fixed
// identifiers of types that join later: a new identifier that collides with any of them makes two native
// types indistinguishable to the registry and to the host core.
TEST(TypeIdentifierTest, AllFixedIdentifiersAreDistinctAndNoneIsReserved) {
  using std::int16_t, std::int32_t, std::int64_t, std::int8_t, std::map, std::optional, std::string,
      std::uint16_t, std::uint32_t, std::uint64_t, std::uint8_t, std::vector;
  std::vector<const TypeIdentifier*> records =
      IdentifiersOf<bool, int8_t, uint8_t, int16_t, uint16_t, int32_t, uint32_t, int64_t, uint64_t, float,
                    double, string, BindingProperty, Blob, vector<int8_t>, vector<int16_t>, vector<uint16_t>,
                    vector<int32_t>, vector<uint32_t>, vector<int64_t>, vector<uint64_t>, vector<float>,
                    vector<double>, vector<string>, vector<Blob>, vector<BindingProperty>, map<string, bool>,
                    map<string, int8_t>, map<string, uint8_t>, map<string, int16_t>, map<string, uint16_t>,
                    map<string, int32_t>, map<string, uint32_t>, map<string, int64_t>, map<string, uint64_t>,
                    map<string, float>, map<string, double>, map<string, string>, map<string, Blob>,
                    map<string, BindingProperty>, optional<bool>, optional<int8_t>, optional<uint8_t>,
                    optional<int16_t>, optional<uint16_t>, optional<int32_t>, optional<uint32_t>,
                    optional<int64_t>, optional<uint64_t>, optional<float>, optional<double>,
                    optional<string>, optional<Blob>, optional<vector<string>>>();
  const std::vector<const TypeIdentifier*> registered = IdentifiersOf<
      BindingHelpFormat, BindingFullTypeIdentifier, BindingFullArgumentHelp, BindingFullFunctionHelp,
      BindingFullEnumValueHelp, BindingFullFieldHelp, BindingFullTypeHelp, BindingFullEventHelp,
      BindingFullApiHelp, vector<BindingFullArgumentHelp>, vector<BindingFullFieldHelp>,
      vector<BindingFullEnumValueHelp>, vector<BindingFullFunctionHelp>, vector<BindingFullTypeHelp>,
      vector<BindingFullEventHelp>, BindingAsyncState, BindingAsyncFailureEvent, BindingAsyncCancelEvent>();
  records.insert(records.end(), registered.begin(), registered.end());

  std::set<std::uint32_t> seen = {
      0x2A500213,  // BindingGenericEvent
      0x4B3E42BB,  // BindingCallbackEvent
      0x78B7AC8F,  // BindingGenericAsyncEvent
      0x466F9860,  // the two asynchronous result types
      0x89462EBF,
  };
  for (const TypeIdentifier* record : records) {
    EXPECT_NE(record->id, kReservedTypeId) << record->name;
    EXPECT_TRUE(seen.insert(record->id).second) << "0x" << std::hex << record->id << " is used twice";
  }
}

// Registered types show "#" and eight upper-case hexadecimal digits, zero-padded, and the whole text
// fits the ten-byte buffer even for the largest identifier; member types show their kind's text.
TEST(TypeIdentifierTest, DisplayNames) {
  struct Case {
    const TypeIdentifier& record;
    const char* name;
  };
  const Case cases[] = {
      {TypeIdOf<BindingAsyncState>(), "#4B896D21"},
      {TypeIdOf<LowIdStruct>(), "#0000ABCD"},
      {TypeIdOf<HighIdStruct>(), "#FFFFFFFF"},
      {TypeIdOf<std::optional<LowIdStruct>>(), "#7E57009A"},
      {TypeIdOf<std::int32_t>(), "int32"},
      {TypeIdOf<std::optional<std::uint64_t>>(), "uint64"},
      {TypeIdOf<std::vector<std::string>>(), "vector"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.record.name, c.name);
}

}  // namespace
}  // namespace Quarn
