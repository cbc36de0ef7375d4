#include "services/loadout_store.h"

#include <cstdio>
#include <ctime>

namespace GoxServices {
namespace {

constexpr const char* kCreateSchema = R"(
  CREATE TABLE IF NOT EXISTS loadout_items (
    puuid TEXT NOT NULL,
    loadout_id INTEGER NOT NULL,
    inventory_type TEXT NOT NULL,
    items TEXT NOT NULL,
    updated_at INTEGER NOT NULL,
    PRIMARY KEY (puuid, loadout_id, inventory_type)
  ) WITHOUT ROWID;
  PRAGMA user_version = 1;
)";
constexpr const char* kSelect =
    "SELECT items FROM loadout_items WHERE puuid = ?1 AND loadout_id = ?2 AND inventory_type = ?3";
constexpr const char* kUpsert =
    "INSERT INTO loadout_items (puuid, loadout_id, inventory_type, items, updated_at) "
    "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (puuid, loadout_id, inventory_type) "
    "DO UPDATE SET items = excluded.items, updated_at = excluded.updated_at";
constexpr const char* kDelete =
    "DELETE FROM loadout_items WHERE puuid = ?1 AND loadout_id = ?2 AND inventory_type = ?3";

constexpr const char* kNewerSchema = "database schema version %d is newer than this gox-services (%d)";

// Resets a statement on every way out of a scope, so that it never holds a read lock afterwards.
class Reset {
 public:
  explicit Reset(sqlite3_stmt* statement) : statement_(statement) {}
  Reset(const Reset&) = delete;
  Reset& operator=(const Reset&) = delete;
  ~Reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }

 private:
  sqlite3_stmt* statement_;
};

void BindKey(sqlite3_stmt* statement, const std::string& puuid, std::uint32_t id, const std::string& type) {
  sqlite3_bind_text(statement, 1, puuid.data(), static_cast<int>(puuid.size()), SQLITE_STATIC);
  sqlite3_bind_int64(statement, 2, id);
  sqlite3_bind_text(statement, 3, type.data(), static_cast<int>(type.size()), SQLITE_STATIC);
}

}  // namespace

std::variant<std::unique_ptr<LoadoutStore>, std::string> LoadoutStore::Open(const std::string& path) {
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(
      path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<LoadoutStore> store(new LoadoutStore(db));
  if (opened != SQLITE_OK) return store->Error("open");
  sqlite3_busy_timeout(db, 5000);
  // WAL lets a reader run beside the writer; NORMAL syncs at checkpoints, which WAL keeps consistent.
  if (sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;", nullptr, nullptr,
                   nullptr) != SQLITE_OK)
    return store->Error("set WAL mode");
  sqlite3_stmt* version = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &version, nullptr) != SQLITE_OK)
    return store->Error("read the schema version");
  const int found = sqlite3_step(version) == SQLITE_ROW ? sqlite3_column_int(version, 0) : -1;
  sqlite3_finalize(version);
  if (found < 0) return store->Error("read the schema version");
  if (found > kSchemaVersion) {
    char message[128];
    std::snprintf(message, sizeof message, kNewerSchema, found, kSchemaVersion);
    return std::string(message);
  }
  if (found < kSchemaVersion) {
    const std::string create = std::string("BEGIN IMMEDIATE;") + kCreateSchema + "COMMIT;";
    if (sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      std::string error = store->Error("create the schema");
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return error;
    }
  }
  if (auto error = store->Prepare()) return *error;
  return store;
}

LoadoutStore::~LoadoutStore() {
  sqlite3_finalize(select_);
  sqlite3_finalize(upsert_);
  sqlite3_finalize(remove_);
  sqlite3_close(db_);
}

std::optional<std::string> LoadoutStore::Prepare() {
  if (sqlite3_prepare_v2(db_, kSelect, -1, &select_, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, kUpsert, -1, &upsert_, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, kDelete, -1, &remove_, nullptr) != SQLITE_OK)
    return Error("prepare the statements");
  return std::nullopt;
}

std::string LoadoutStore::Error(const char* step) const {
  return std::string("loadout store could not ") + step + ": " +
         (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
}

std::variant<std::map<std::string, std::string>, std::string> LoadoutStore::Read(
    const std::string& puuid, std::uint32_t id, const std::vector<std::string>& types) {
  const std::lock_guard lock(mutex_);
  std::map<std::string, std::string> items;
  for (const std::string& type : types) {
    const Reset reset(select_);
    BindKey(select_, puuid, id, type);
    const int step = sqlite3_step(select_);
    if (step == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select_, 0));
      items[type] = std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(select_, 0)));
    } else if (step != SQLITE_DONE) {
      return Error("read items");
    }
  }
  return items;
}

std::optional<std::string> LoadoutStore::Write(const std::string& puuid, std::uint32_t id,
                                               const std::map<std::string, std::string>& items) {
  const std::lock_guard lock(mutex_);
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    return Error("begin a transaction");
  const std::int64_t now = std::time(nullptr);
  for (const auto& [type, text] : items) {
    const Reset reset(upsert_);
    BindKey(upsert_, puuid, id, type);
    sqlite3_bind_text(upsert_, 4, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    sqlite3_bind_int64(upsert_, 5, now);
    if (sqlite3_step(upsert_) != SQLITE_DONE) {
      std::string error = Error("store items");
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return error;
    }
  }
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::string error = Error("commit");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return error;
  }
  return std::nullopt;
}

std::optional<std::string> LoadoutStore::Remove(const std::string& puuid, std::uint32_t id,
                                                const std::string& type) {
  const std::lock_guard lock(mutex_);
  const Reset reset(remove_);
  BindKey(remove_, puuid, id, type);
  // A single statement outside BEGIN is a transaction of its own.
  if (sqlite3_step(remove_) != SQLITE_DONE) return Error("delete items");
  return std::nullopt;
}

}  // namespace GoxServices
