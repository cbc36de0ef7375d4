// Arbitrary bytes through DecodeYaml: decoding must neither crash nor leak, a failure must carry a
// message, and an accepted document must stay within the nesting limit every decoder enforces.
//
// TODO(json round trip): once the JSON encoder is merged, re-encode each accepted value, decode the JSON
// again and compare with SameValue, allowing for the encoding's lossy steps (blobs become Base64 strings,
// NaN and infinities become null, text after a NUL is cut).

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sdk/binding/value_visitor.h"
#include "sdk/serialization/nesting_limit.h"
#include "sdk/serialization/yaml_decoder.h"

namespace {

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Quarn::ConversionResult result = Quarn::DecodeYaml(text);
  if (!result.Ok()) {
    if (result.Message().empty()) std::abort();
    return 0;
  }
  DepthVisitor visitor;
  if (!result.Value().Accept(visitor) || visitor.deepest > Quarn::kMaxNestingDepth) std::abort();
  return 0;
}
