#include "tests/support/conversion_samples.h"

#include <cstddef>

// Record holds std::map members, which the standard library does not lay out as standard-layout types;
// offsetof still gives the member offsets on the compilers the project supports.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace Quarn::test {

#define QUARN_SAMPLE_MEMBER(Struct, member) \
  AddField<decltype(Struct::member)>(#member, offsetof(Struct, member))

namespace {

void RegisterSamples(TypeRegistry& made) {
  made.RegisterType<Mood>("Mood").AddEnumValue("Calm", 0).AddEnumValue("Happy", 1).AddEnumValue("Sad", 2);
  made.RegisterType<Point>("Point")
      .AddField<std::int32_t>("x", offsetof(Point, x), "", kFieldRequired)
      .QUARN_SAMPLE_MEMBER(Point, y);
  made.RegisterType<Holder>("Holder").QUARN_SAMPLE_MEMBER(Holder, lost);
  made.RegisterType<Record>("Record")
      .QUARN_SAMPLE_MEMBER(Record, flag)
      .QUARN_SAMPLE_MEMBER(Record, tiny)
      .QUARN_SAMPLE_MEMBER(Record, small)
      .QUARN_SAMPLE_MEMBER(Record, big)
      .QUARN_SAMPLE_MEMBER(Record, huge)
      .QUARN_SAMPLE_MEMBER(Record, ratio)
      .QUARN_SAMPLE_MEMBER(Record, precise)
      .QUARN_SAMPLE_MEMBER(Record, label)
      .QUARN_SAMPLE_MEMBER(Record, extra)
      .QUARN_SAMPLE_MEMBER(Record, bytes)
      .QUARN_SAMPLE_MEMBER(Record, mood)
      .QUARN_SAMPLE_MEMBER(Record, origin)
      .QUARN_SAMPLE_MEMBER(Record, points)
      .QUARN_SAMPLE_MEMBER(Record, tags)
      .QUARN_SAMPLE_MEMBER(Record, items)
      .QUARN_SAMPLE_MEMBER(Record, counts)
      .QUARN_SAMPLE_MEMBER(Record, note)
      .QUARN_SAMPLE_MEMBER(Record, moods)
      .QUARN_SAMPLE_MEMBER(Record, named);
}

}  // namespace

const TypeRegistry& SampleRegistry() {
  static TypeRegistry registry;
  static const bool registered = (RegisterSamples(registry), true);
  (void)registered;
  return registry;
}

Record FilledRecord() {
  Record record;
  record.flag = true;
  record.tiny = -7;
  record.small = 65535;
  record.big = -9000000000;
  record.huge = 18000000000000000000ULL;
  record.ratio = 0.5f;
  record.precise = -1.25;
  record.label = "label";
  record.extra.Field("nested").Append().SetString("deep");
  record.bytes = {0, 1, 255};
  record.mood = Mood::Sad;
  record.origin = {3, -4};
  record.points = {{1, 2}, {5, 6}};
  record.tags = {"a", "b"};
  record.items["skins"].SetSigned(12);
  record.counts = {{"one", 1}, {"two", 2}};
  record.note = "note";
  record.moods = {Mood::Happy, Mood::Calm};
  record.named = {{"home", {7, 8}}};
  return record;
}

}  // namespace Quarn::test
