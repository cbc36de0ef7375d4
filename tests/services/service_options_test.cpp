// gox-services' command line and its inventory fixtures.

#include "services/service_options.h"

#include <gtest/gtest.h>

#include "services/inventory_fixtures.h"

namespace GoxServices {
namespace {

TEST(ServiceOptionsTest, ReadsEveryFlagAndNamesTheWrongOne) {
  auto parsed =
      ParseArguments({"--listen", "[::1]:0", "--db", "/tmp/x.db", "--fixtures", "f.json", "--threads", "4"});
  ASSERT_TRUE(std::holds_alternative<ServicesOptions>(parsed));
  const ServicesOptions& options = std::get<ServicesOptions>(parsed);
  EXPECT_EQ(options.host, "::1");
  EXPECT_EQ(options.port, 0);
  EXPECT_EQ(options.dbPath, "/tmp/x.db");
  EXPECT_EQ(options.fixturesPath, "f.json");
  EXPECT_EQ(options.threads, 4);
  EXPECT_EQ(std::get<ServicesOptions>(ParseArguments({})).port, kDefaultPort);
  EXPECT_TRUE(std::holds_alternative<HelpWanted>(ParseArguments({"--db", "x", "--help"})));

  const std::pair<std::vector<std::string>, const char*> refused[] = {
      {{"--listen", "nowhere"}, "bad value for --listen: nowhere"},
      {{"--listen", "127.0.0.1:65536"}, "bad value for --listen: 127.0.0.1:65536"},
      {{"--threads", "0"}, "bad value for --threads: 0"},
      {{"--threads", "4x"}, "bad value for --threads: 4x"},
      {{"--db", ""}, "bad value for --db: "},
      {{"--db"}, "--db needs a value"},
      {{"--verbose"}, "unknown option --verbose"},
      {{"stray"}, "unknown argument stray"},
  };
  for (const auto& [arguments, message] : refused) {
    auto result = ParseArguments(arguments);
    ASSERT_TRUE(std::holds_alternative<std::string>(result)) << message;
    EXPECT_EQ(std::get<std::string>(result), message);
  }
}

TEST(InventoryFixturesTest, DefaultsMatchGoxHostsPlayerAndAFileReplacesThem) {
  InventoryFixtures fixtures;
  const Inventory* player = fixtures.Find("00000000-0000-4000-8000-000000000001");
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(player->accountId, 1001u);
  EXPECT_EQ(player->items.at("EMOTE"), (std::vector<std::int64_t>{10, 11}));

  ASSERT_EQ(fixtures.Apply(R"({"inventories":{"p-2":{"items":{"TRAIL":[4]}}},"tokenLifetimeSeconds":60})"),
            std::nullopt);
  EXPECT_EQ(fixtures.Find("00000000-0000-4000-8000-000000000001"), nullptr);
  ASSERT_NE(fixtures.Find("p-2"), nullptr);
  EXPECT_EQ(fixtures.Find("p-2")->items.at("TRAIL"), (std::vector<std::int64_t>{4}));
  EXPECT_EQ(fixtures.TokenLifetimeSeconds(), 60);

  const char* refused[] = {
      "[]",
      R"({"players":{}})",
      R"({"inventories":{"p":{"items":{"EMOTE":["10"]}}}})",
      R"({"inventories":{"p":{"accountId":-1}}})",
      R"({"inventories":{"p":[]}})",
      R"({"tokenLifetimeSeconds":0})",
  };
  for (const char* text : refused) {
    EXPECT_TRUE(fixtures.Apply(text).has_value()) << text;
    EXPECT_NE(fixtures.Find("p-2"), nullptr) << "a refused file changed nothing: " << text;
  }
}

}  // namespace
}  // namespace GoxServices
