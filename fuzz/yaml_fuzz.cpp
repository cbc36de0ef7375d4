// Arbitrary bytes through DecodeYaml: decoding must neither crash nor leak, a failure must carry a
// message, and an accepted document must stay within the nesting limit and survive a JSON round trip:
// EncodeJson, then DecodeJson, gives the same value up to the steps JSON cannot carry:
// - text after a NUL byte is cut (the JSON decoder ends strings there); trees with such a field name are
//   not compared, since the cut names may merge fields;
// - NaN and infinities become null, that is empty; other floats come back as the JSON decoder reads
//   their shortest text, which with RapidJSON's default (not full-precision) parsing may differ from the
//   original in the last bit, so each float is expected as it reads back on its own;
// - a signed value that is not negative comes back unsigned (JSON has one kind of integer);
// - an empty root encodes as the empty text and is not decoded again.
// YAML gives no blobs or enums, so their steps do not arise.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sdk/binding/nesting_limit.h"
#include "sdk/binding/value_equality.h"
#include "sdk/binding/value_visitor.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/json_encoder.h"
#include "sdk/serialization/yaml_decoder.h"

namespace {

using Quarn::BindingKind;
using Quarn::BindingProperty;

// Tracks the deepest nesting of containers in a walk.
class DepthVisitor final : public Quarn::ValueVisitor {
 public:
  std::size_t deepest = 0;

  void Empty() override {}
  void Bool(bool) override {}
  void Signed(std::int64_t) override {}
  void Unsigned(std::uint64_t) override {}
  void Float(double) override {}
  void String(std::string_view) override {}
  void Blob(std::span<const std::uint8_t>) override {}
  void Enum(std::int32_t, const Quarn::TypeIdentifier*) override {}
  void BeginCollection(std::size_t) override { Enter(); }
  void BeginElement(std::size_t) override {}
  void EndElement(std::size_t) override {}
  void EndCollection() override { --depth_; }
  void BeginStructure(std::size_t) override { Enter(); }
  void BeginField(std::string_view) override {}
  void EndField(std::string_view) override {}
  void EndStructure() override { --depth_; }

 private:
  void Enter() {
    if (++depth_ > deepest) deepest = depth_;
  }
  std::size_t depth_ = 0;
};

std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// Writes into `to` what `from` becomes after a JSON round trip. False when a field name holds a NUL byte.
// Recursive: accepted trees are at most kMaxNestingDepth deep.
bool AfterJson(const BindingProperty& from, BindingProperty& to) {
  switch (from.Kind()) {
    case BindingKind::Signed:
      if (from.GetSigned(0) >= 0) {
        to.SetUnsigned(static_cast<std::uint64_t>(from.GetSigned(0)));
      } else {
        to.SetSigned(from.GetSigned(0));
      }
      return true;
    case BindingKind::Float:
      if (std::isfinite(from.GetFloat(0))) {
        BindingProperty alone;
        alone.SetFloat(from.GetFloat(0));
        to = Quarn::DecodeJson(Quarn::EncodeJson(alone)).Value();
      }
      return true;
    case BindingKind::String:
      to.SetString(UpToNul(from.GetString({})));
      return true;
    case BindingKind::Collection:
      to.MakeCollection();
      for (const BindingProperty& element : from.Elements())
        if (!AfterJson(element, to.Append())) return false;
      return true;
    case BindingKind::Structure:
      to.MakeStructure();
      for (const BindingProperty::FieldView field : from.Fields()) {
        if (field.name.find('\0') != std::string_view::npos) return false;
        if (!AfterJson(field.value, to.Field(field.name))) return false;
      }
      return true;
    default:
      to = from;
      return true;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Quarn::ConversionResult decoded = Quarn::DecodeYaml(text);
  if (!decoded.Ok()) {
    if (decoded.Message().empty()) std::abort();
    return 0;
  }
  const BindingProperty& value = decoded.Value();
  DepthVisitor visitor;
  if (!value.Accept(visitor) || visitor.deepest > Quarn::kMaxNestingDepth) std::abort();

  if (value.Kind() == BindingKind::Empty) return 0;
  BindingProperty expected;
  if (!AfterJson(value, expected)) return 0;
  const std::string json = Quarn::EncodeJson(value);
  const Quarn::ConversionResult again = Quarn::DecodeJson(json);
  if (!again.Ok() || !Quarn::SameValue(again.Value(), expected)) std::abort();
  return 0;
}
