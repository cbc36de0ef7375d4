#include "tools/common/listen_address.h"

#include <gtest/gtest.h>

namespace GoxTools {
namespace {

TEST(ListenAddressTest, ReadsHostAndPortAndRefusesTheRest) {
  using Parsed = std::optional<std::pair<std::string, int>>;
  const std::pair<const char*, Parsed> cases[] = {
      {"127.0.0.1:8090", Parsed({"127.0.0.1", 8090})},
      {"localhost:0", Parsed({"localhost", 0})},
      {"[::1]:65535", Parsed({"::1", 65535})},
      {"127.0.0.1:65536", std::nullopt},
      {"127.0.0.1:-1", std::nullopt},
      {"127.0.0.1:", std::nullopt},
      {"127.0.0.1:80x", std::nullopt},
      {":8090", std::nullopt},
      {"nowhere", std::nullopt},
  };
  for (const auto& [text, parsed] : cases)
    EXPECT_EQ(ParseListenAddress(text), parsed) << text;
}

TEST(ListenAddressTest, OnlyLoopbackClientsCountAsLocal) {
  const std::pair<const char*, bool> cases[] = {
      {"127.0.0.1", true},        {"127.1.2.3", true}, {"::1", true},
      {"::ffff:127.0.0.1", true}, {"10.0.0.5", false}, {"::ffff:10.0.0.5", false},
      {"1127.0.0.1", false},      {"fe80::1", false},  {"", false}};
  for (const auto& [address, loopback] : cases)
    EXPECT_EQ(IsLoopbackAddress(address), loopback) << address;
}

}  // namespace
}  // namespace GoxTools
