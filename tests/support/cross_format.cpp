#include "tests/support/cross_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/binding/conversion_result.h"
#include "sdk/binding/value_equality.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/json_encoder.h"
#include "sdk/serialization/msgpack_decoder.h"
#include "sdk/serialization/yaml_decoder.h"
#include "tests/support/msgpack_writer.h"

namespace Quarn::test {

void ExpectSameInAllFormats(std::string_view json) {
  const ConversionResult expected = DecodeJson(std::string(json));
  ASSERT_TRUE(expected.Ok()) << json << ": " << expected.Message();
  const std::string canonical = EncodeJson(expected.Value());

  const ConversionResult fromJson = DecodeJson(canonical);
  EXPECT_TRUE(fromJson.Ok() && SameValue(fromJson.Value(), expected.Value())) << "JSON: " << canonical;

  const ConversionResult fromYaml = DecodeYaml(canonical);
  EXPECT_TRUE(fromYaml.Ok()) << "YAML: " << canonical << ": " << fromYaml.Message();
  EXPECT_TRUE(SameValue(fromYaml.Value(), expected.Value()))
      << "YAML: " << canonical << " read as " << EncodeJson(fromYaml.Value());

  const std::vector<std::uint8_t> bytes = EncodeMessagePack(expected.Value());
  ConversionResult fromMessagePack;
  std::size_t consumed = 0;
  DecodeMessagePack(fromMessagePack, consumed, bytes.data(), bytes.size());
  EXPECT_TRUE(fromMessagePack.Ok()) << "MessagePack of " << canonical << ": " << fromMessagePack.Message();
  EXPECT_EQ(consumed, bytes.size()) << "MessagePack of " << canonical;
  EXPECT_TRUE(SameValue(fromMessagePack.Value(), expected.Value()))
      << "MessagePack of " << canonical << " read as " << EncodeJson(fromMessagePack.Value());
}

}  // namespace Quarn::test
