// LoadoutStore over a real SQLite file: what survives a reopen, the schema version, and refusals.

#include "services/loadout_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temporary_folder.h"

namespace GoxServices {
namespace {

class LoadoutStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.Path().empty()); }
  std::unique_ptr<LoadoutStore> Open() {
    auto opened = LoadoutStore::Open(path_);
    if (auto* error = std::get_if<std::string>(&opened)) ADD_FAILURE() << *error;
    return std::holds_alternative<std::unique_ptr<LoadoutStore>>(opened) ? std::move(std::get<0>(opened))
                                                                         : nullptr;
  }
  void Exec(const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  GoxHostTest::TemporaryFolder folder_;
  std::string path_ = folder_.File("loadouts.db");
};

using Items = std::map<std::string, std::string>;

TEST_F(LoadoutStoreTest, WhatIsWrittenSurvivesAReopen) {
  {
    auto store = Open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Write("p", 1, {{"EMOTE", "[10]"}, {"BANNER", "[1]"}}), std::nullopt);
    EXPECT_EQ(store->Write("p", 1, {{"EMOTE", "[11]"}}), std::nullopt);
    EXPECT_EQ(store->Remove("p", 1, "BANNER"), std::nullopt);
    EXPECT_EQ(store->Write("q", 1, {{"EMOTE", "[12]"}}), std::nullopt);
  }
  auto store = Open();
  ASSERT_TRUE(store);
  EXPECT_EQ(std::get<Items>(store->Read("p", 1, {"EMOTE", "BANNER"})), (Items{{"EMOTE", "[11]"}}));
  EXPECT_EQ(std::get<Items>(store->Read("q", 1, {"EMOTE"})), (Items{{"EMOTE", "[12]"}}));
  EXPECT_EQ(std::get<Items>(store->Read("p", 4294967295u, {"EMOTE"})), Items{});
}

TEST_F(LoadoutStoreTest, RunsInWalModeWithAVersionedSchema) {
  ASSERT_TRUE(Open());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
  const auto single = [db](const char* sql) {
    sqlite3_stmt* statement = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
      value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    return value;
  };
  EXPECT_EQ(single("PRAGMA journal_mode"), "wal");
  EXPECT_EQ(single("PRAGMA user_version"), std::to_string(LoadoutStore::kSchemaVersion));
  sqlite3_close(db);
}

TEST_F(LoadoutStoreTest, RefusesADatabaseOfANewerSchemaOrThatIsNoDatabase) {
  Exec("PRAGMA user_version = 7");
  auto newer = LoadoutStore::Open(path_);
  ASSERT_TRUE(std::holds_alternative<std::string>(newer));
  EXPECT_EQ(std::get<std::string>(newer), "database schema version 7 is newer than this gox-services (1)");

  path_ = folder_.File("garbage.db");
  std::FILE* file = std::fopen(path_.c_str(), "w");
  std::fputs("this is not a database, but it is long enough to have a header of its own.....", file);
  std::fclose(file);
  auto garbage = LoadoutStore::Open(path_);
  ASSERT_TRUE(std::holds_alternative<std::string>(garbage));
  EXPECT_NE(std::get<std::string>(garbage).find("loadout store could not"), std::string::npos);

  auto nowhere = LoadoutStore::Open("/nonexistent-folder/loadouts.db");
  EXPECT_TRUE(std::holds_alternative<std::string>(nowhere));
}

TEST_F(LoadoutStoreTest, AWriteIsAllOrNothing) {
  auto store = Open();
  ASSERT_TRUE(store);
  ASSERT_EQ(store->Write("p", 1, {{"A", "[1]"}}), std::nullopt);
  // A trigger refuses one of the rows: the write's other rows must not stay behind.
  Exec(R"(CREATE TRIGGER refuse_b BEFORE INSERT ON loadout_items WHEN NEW.inventory_type = 'B'
          BEGIN SELECT RAISE(ABORT, 'refused'); END)");
  const std::optional<std::string> error = store->Write("p", 1, {{"A", "[2]"}, {"B", "[3]"}, {"C", "[4]"}});
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("refused"), std::string::npos) << *error;
  EXPECT_EQ(std::get<Items>(store->Read("p", 1, {"A", "B", "C"})), (Items{{"A", "[1]"}}));
  // And the store still works afterwards.
  EXPECT_EQ(store->Write("p", 1, {{"A", "[5]"}}), std::nullopt);
}

TEST_F(LoadoutStoreTest, ConcurrentWritersKeepTheirOwnLoadouts) {
  auto store = Open();
  ASSERT_TRUE(store);
  std::vector<std::thread> writers;
  for (std::uint32_t writer = 0; writer < 8; ++writer) {
    writers.emplace_back([&store, writer] {
      for (int round = 0; round < 50; ++round) {
        const std::string items = "[" + std::to_string(writer * 1000 + round) + "]";
        EXPECT_EQ(store->Write("p", writer, {{"EMOTE", items}}), std::nullopt);
        EXPECT_EQ(std::get<Items>(store->Read("p", writer, {"EMOTE"})), (Items{{"EMOTE", items}}));
      }
    });
  }
  for (std::thread& writer : writers)
    writer.join();
}

}  // namespace
}  // namespace GoxServices
