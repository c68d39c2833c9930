#pragma once
// tw::store::PersistentStore: the SQLite file behind a context (what a persistent store and its
// coordinator were). One table per root entity holds the rows of its whole hierarchy
// ("_id" INTEGER PRIMARY KEY, "_entity" the row's entity name, one column per stored attribute
// and per to-one relationship, named <DeclaringEntity>_<property>); a to-many relationship is
// the to-one column of its inverse.
//
// Durability: WAL journal with synchronous=FULL, so a save whose commit returned survives a
// crash of the process and a power cut. The model version is kept in PRAGMA user_version; a
// store of an older version gets its missing tables and columns (with their defaults) when
// opened. Nothing is ever deleted: a store that cannot be read, or that a newer model wrote, is
// moved aside together with its -wal and -shm files under a time-stamped name
// ("<file>.corrupt-YYYYMMDD-HHMMSS", see paths::moveAside; the log line says which of the two it
// was), the reason is logged, and an empty store takes its place. A store that can be read but
// not written (a read-only file, folder or shared-memory file) is read into memory and shown:
// isReadOnly() tells, and every save fails with a clear error, keeping the changes in memory. A
// shared-memory file that an earlier read-only session left read-only is made writable again
// when the store itself is. A store that cannot be read at all for now (locked by another
// process, no permission) is left untouched and the session runs on an empty in-memory store.
//
// Used by its Context on the main thread only.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/store/Model.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tw::store {

class ManagedObject;

inline constexpr const char* kStoreErrorDomain = "tw.store";
// Marks the files this store writes (PRAGMA application_id, "TWSL").
inline constexpr std::int32_t kStoreApplicationId = 0x5457534C;

class PersistentStore {
 public:
  // "$XDG_DATA_HOME/Tickwell/<storeName>.sqlite" (falling back to ~/.local/share).
  static std::filesystem::path defaultPath(std::string_view storeName);

  // Opens (creates, upgrades) the store and reads every row; never fails: see above. ":memory:"
  // opens an in-memory store.
  static std::shared_ptr<PersistentStore> open(std::shared_ptr<const Model> model,
                                               const std::filesystem::path& path);
  ~PersistentStore();
  PersistentStore(const PersistentStore&) = delete;
  PersistentStore& operator=(const PersistentStore&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // True for ":memory:" and after falling back because the file was unavailable.
  bool isInMemory() const { return inMemory_; }
  // The file's data was read, but it cannot be written: saves fail.
  bool isReadOnly() const { return readOnly_; }
  // Where an unreadable or newer store was moved at open, if it was.
  const std::optional<std::filesystem::path>& movedAsidePath() const { return movedAside_; }
  // The model version the file had before this open upgraded it (0 for a new store).
  std::int64_t openedVersion() const { return openedVersion_; }
  bool isOpen() const { return db_ != nullptr; }

  // Rows read at open, as unregistered objects: attributes filled, transients at their
  // defaults, to-one slots holding the partner's row id until the context links them.
  struct LoadedRows {
    std::vector<std::shared_ptr<ManagedObject>> objects;
    std::vector<std::int64_t> maxRowIds;  // per root entity, in Model::rootEntities() order
  };
  LoadedRows takeLoadedRows();
  // Reads every row again (for a context that was reset).
  LoadedRows readAll();

  struct DeletedRow {
    const EntityDescription* entity;
    std::int64_t rowId;
  };
  // One transaction: inserts, then updates of the changed columns, then deletes. On failure
  // nothing is written and the error says why.
  ErrorPtr write(const std::vector<ManagedObject*>& inserted,
                 const std::vector<ManagedObject*>& updated,
                 const std::vector<DeletedRow>& deleted);

  void close();

 private:
  struct Failure;
  PersistentStore(std::shared_ptr<const Model> model, std::filesystem::path path);

  void openFile(const std::filesystem::path& file, bool inMemory);
  void openReadOnlyCopy(const std::filesystem::path& file);
  void checkContents(bool inMemory);
  void prepareSchema();
  void finishOpening();
  void exec(const char* sql);
  sqlite3_stmt* statement(const std::string& sql);
  [[noreturn]] void fail(std::string_view what) const;

  std::shared_ptr<const Model> model_;
  std::filesystem::path path_;
  sqlite3* db_ = nullptr;
  bool inMemory_ = false;
  bool readOnly_ = false;
  std::optional<std::filesystem::path> movedAside_;
  std::int64_t openedVersion_ = 0;
  LoadedRows loaded_;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace tw::store
