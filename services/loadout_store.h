// LoadoutStore: the loadouts service's items, kept in SQLite.
//
// One row per (puuid, loadout id, inventory type) holds that type's items as compact JSON text. The
// database runs in WAL mode and every write is one transaction, so a reader never sees half of a store
// and a crash loses at most the write in flight. The schema is created on first start and carries its
// version in the database's user_version; a database written by a newer schema is refused rather than
// misread.
//
// Calls may come from any thread: one connection serves them one at a time.

#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace GoxServices {

class LoadoutStore {
 public:
  static constexpr int kSchemaVersion = 1;

  // Opens (creating when needed) the database at `path`; why it cannot, otherwise.
  [[nodiscard]] static std::variant<std::unique_ptr<LoadoutStore>, std::string> Open(const std::string& path);

  LoadoutStore(const LoadoutStore&) = delete;
  LoadoutStore& operator=(const LoadoutStore&) = delete;
  ~LoadoutStore();

  // The stored items (JSON texts) of loadout `id` for each of `types` that has any, by type.
  [[nodiscard]] std::variant<std::map<std::string, std::string>, std::string> Read(
      const std::string& puuid, std::uint32_t id, const std::vector<std::string>& types);
  // Stores every type's items of loadout `id` in one transaction; the reason when nothing was stored.
  [[nodiscard]] std::optional<std::string> Write(const std::string& puuid, std::uint32_t id,
                                                 const std::map<std::string, std::string>& items);
  // Removes one type from loadout `id` (nothing to remove is not an error); the reason on failure.
  [[nodiscard]] std::optional<std::string> Remove(const std::string& puuid, std::uint32_t id,
                                                  const std::string& type);

 private:
  explicit LoadoutStore(sqlite3* db) : db_(db) {}
  [[nodiscard]] std::optional<std::string> Prepare();
  [[nodiscard]] std::string Error(const char* step) const;

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* upsert_ = nullptr;
  sqlite3_stmt* remove_ = nullptr;
};

}  // namespace GoxServices
