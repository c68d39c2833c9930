#include "platform/store/PersistentStore.h"

#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <unordered_set>

#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/store/ManagedObject.h"

namespace fs = std::filesystem;

namespace tw::store {

struct PersistentStore::Failure {
  enum class Kind {
    Unreadable,   // not a store of ours, or damaged: moved aside
    Newer,        // written by a newer model: moved aside
    Unavailable,  // locked, no permission, disk full...: left alone
  };
  Kind kind;
  std::string message;
};

namespace {

const char* kLogPrefix = "<PersistentStore> ";
const char* kReadOnlyReason = "changes cannot be saved";

std::string sqlName(std::string_view identifier) {
  std::string out = "\"";
  for (char c : identifier) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

const char* columnType(const PropertyDescription& p) {
  if (p.isToOne()) return "INTEGER";
  switch (p.type) {
    case AttributeType::String:
      return "TEXT";
    case AttributeType::Bool:
    case AttributeType::Int64:
      return "INTEGER";
    case AttributeType::Double:
    case AttributeType::Date:
      return "REAL";
  }
  return "";
}

// Whether a value SQLite hands back can stand for the property. A REAL column gives back a
// whole number as an integer, which is still a number; anything else of another storage class
// got there past the store.
bool holdsItsType(const PropertyDescription& p, int storageType) {
  if (p.isToOne()) return storageType == SQLITE_INTEGER;
  switch (p.type) {
    case AttributeType::String:
      return storageType == SQLITE_TEXT;
    case AttributeType::Bool:
    case AttributeType::Int64:
      return storageType == SQLITE_INTEGER;
    case AttributeType::Double:
    case AttributeType::Date:
      return storageType == SQLITE_FLOAT || storageType == SQLITE_INTEGER;
  }
  return false;
}

const char* storageTypeName(int storageType) {
  switch (storageType) {
    case SQLITE_INTEGER:
      return "an integer";
    case SQLITE_FLOAT:
      return "a real number";
    case SQLITE_TEXT:
      return "text";
    default:
      return "a blob";
  }
}

const char* expectedTypeName(const PropertyDescription& p) {
  if (p.isToOne()) return "a row id";
  switch (p.type) {
    case AttributeType::String:
      return "text";
    case AttributeType::Bool:
      return "a yes or no";
    case AttributeType::Int64:
      return "an integer";
    case AttributeType::Double:
      return "a number";
    case AttributeType::Date:
      return "a date";
  }
  return "a value";
}

std::string sqlLiteral(const Value& v, AttributeType type) {
  if (v.isNull()) return "NULL";
  char buf[40];
  switch (type) {
    case AttributeType::String: {
      std::string out = "'";
      for (char c : *v.string()) {
        if (c == '\'') out += '\'';
        out += c;
      }
      return out + "'";
    }
    case AttributeType::Bool:
      return v.boolValue() ? "1" : "0";
    case AttributeType::Int64:
      return std::to_string(v.integerValue());
    case AttributeType::Double:
    case AttributeType::Date: {
      double d = type == AttributeType::Date ? v.date()->secondsSince1970 : v.doubleValue();
      if (!std::isfinite(d)) return "NULL";
      std::snprintf(buf, sizeof buf, "%.17g", d);
      return buf;
    }
  }
  return "NULL";
}

// Stored properties of a table, each once, in model order (parents' before children's).
std::vector<const PropertyDescription*> tableColumns(const EntityDescription& root) {
  std::vector<const PropertyDescription*> out;
  for (const EntityDescription* e : root.selfAndDescendants())
    for (std::uint16_t i : e->storedProperties()) {
      const PropertyDescription& p = e->properties()[i];
      if (p.declaringEntity == e->name()) out.push_back(&p);
    }
  return out;
}

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    rc_ = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return rc_ == SQLITE_OK && stmt_; }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
};

void bindSlot(sqlite3_stmt* st, int i, const Slot& s) {
  switch (s.kind()) {
    case Slot::Kind::Null:
    case Slot::Kind::Objects:
      sqlite3_bind_null(st, i);
      break;
    case Slot::Kind::Bool:
      sqlite3_bind_int(st, i, s.boolValue() ? 1 : 0);
      break;
    case Slot::Kind::Int:
      sqlite3_bind_int64(st, i, s.intValue());
      break;
    case Slot::Kind::Double:
      sqlite3_bind_double(st, i, s.doubleValue());
      break;
    case Slot::Kind::String: {
      std::string_view text = s.string();
      sqlite3_bind_text(st, i, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                        SQLITE_STATIC);
      break;
    }
    case Slot::Kind::Object:
      break;  // handled by the caller: a partner's row id
  }
}

// A path as a file: URI names it (SQLite's URI rules: %-escapes for what is not plain).
std::string uriPath(const fs::path& file) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : fs::absolute(file).string()) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

// SQLite creates the shared-memory file with the permissions the database file had then, so a
// session that found the store read-only leaves one nobody can write, and the store would stay
// read-only after the user made it writable again. Give it the database's permissions back.
void repairSharedMemoryFile(const fs::path& path) {
  const std::string shm = path.string() + "-shm";
  struct stat db {
  }, sh{};
  if (::stat(path.c_str(), &db) != 0 || ::stat(shm.c_str(), &sh) != 0) return;
  if (::access(path.c_str(), W_OK) != 0 || ::access(shm.c_str(), W_OK) == 0) return;
  if (::chmod(shm.c_str(), (sh.st_mode | (db.st_mode & 0666)) & 07777) == 0 &&
      ::access(shm.c_str(), W_OK) == 0)
    log(LogLevel::Notice, std::string(kLogPrefix) + "Made " + shm +
                              " writable again (a read-only session had left it so)");
}

}  // namespace

fs::path PersistentStore::defaultPath(std::string_view storeName) {
  return paths::applicationDataDirectory() / (std::string(storeName) + ".sqlite");
}

PersistentStore::PersistentStore(std::shared_ptr<const Model> model, fs::path path)
    : model_(std::move(model)), path_(std::move(path)) {}

PersistentStore::~PersistentStore() { close(); }

void PersistentStore::fail(std::string_view what) const {
  int code = db_ ? sqlite3_errcode(db_) : SQLITE_CANTOPEN;
  int primary = code & 0xFF;
  Failure f;
  f.kind = (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT)
               ? Failure::Kind::Unreadable
               : Failure::Kind::Unavailable;
  f.message = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
  throw f;
}

void PersistentStore::exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    sqlite3_free(message);
    fail(sql);
  }
}

sqlite3_stmt* PersistentStore::statement(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) {
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    fail("cannot prepare \"" + sql + "\"");
  }
  statements_.emplace(sql, st);
  return st;
}

void PersistentStore::close() {
  for (auto& [sql, st] : statements_) sqlite3_finalize(st);
  statements_.clear();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void PersistentStore::openFile(const fs::path& file, bool inMemory) {
  inMemory_ = inMemory;
  if (!inMemory) {
    Status made = paths::createDirectories(file.parent_path());
    if (!made)
      throw Failure{Failure::Kind::Unavailable, "cannot create its folder: " + made.error()};
  }
  int rc = sqlite3_open_v2(inMemory ? ":memory:" : file.c_str(), &db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) fail("cannot open it");
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 5000);
  // Until the store has been read in full it may be damaged: closing must not fold its log into
  // it, so that what is moved aside is exactly what was found.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  checkContents(inMemory);
  // SQLite opens a file it may not write read-only without a word; saving would fail later.
  if (!inMemory && sqlite3_db_readonly(db_, "main") == 1)
    throw Failure{Failure::Kind::Unavailable, "it cannot be written"};
}

void PersistentStore::openReadOnlyCopy(const fs::path& file) {
  inMemory_ = false;
  readOnly_ = true;
  // Read-only first, which still sees what the log holds; where even that cannot be set up (no
  // shared-memory file, and a folder where none may be made), the file as it lies.
  sqlite3* source = nullptr;
  std::string error;
  bool immutable = false;
  for (const char* options : {"mode=ro", "immutable=1"}) {
    const std::string uri = "file:" + uriPath(file) + "?" + options;
    int rc = sqlite3_open_v2(uri.c_str(), &source, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_busy_timeout(source, 5000);
      rc = sqlite3_exec(source, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK) {
        immutable = std::string_view(options) == "immutable=1";
        break;
      }
    }
    error = source ? sqlite3_errmsg(source) : sqlite3_errstr(rc);
    sqlite3_close_v2(source);
    source = nullptr;
  }
  if (!source) throw Failure{Failure::Kind::Unavailable, "cannot read it either: " + error};
  std::error_code ec;
  if (immutable && fs::file_size(path_.string() + "-wal", ec) > 0 && !ec)
    log(LogLevel::Error, std::string(kLogPrefix) + "The changes in " + path_.string() +
                             "-wal cannot be read without writing; showing the store without them");

  // The session works on a copy in memory: upgrading and re-reading need no write to the file.
  int rc = sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_backup* copy = sqlite3_backup_init(db_, "main", source, "main");
    rc = copy ? sqlite3_backup_step(copy, -1) : sqlite3_errcode(db_);
    sqlite3_backup_finish(copy);
  }
  if (rc != SQLITE_DONE) {
    error = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(source);
    throw Failure{Failure::Kind::Unavailable, "cannot copy it into memory: " + error};
  }
  sqlite3_close_v2(source);
  checkContents(true);
}

void PersistentStore::checkContents(bool inMemory) {
  // The first statement reads the header: a file that is no database fails here.
  auto readInt = [&](const char* sql) {
    Statement st(db_, sql);
    if (!st.ok()) fail(sql);
    int step = sqlite3_step(st.get());
    if (step != SQLITE_ROW) fail(sql);
    return sqlite3_column_int64(st.get(), 0);
  };
  std::int64_t applicationId = readInt("PRAGMA application_id");
  openedVersion_ = readInt("PRAGMA user_version");
  if (applicationId != 0 && applicationId != kStoreApplicationId)
    throw Failure{Failure::Kind::Unreadable, "it is a database of another application"};
  if (openedVersion_ == 0 && readInt("SELECT count(*) FROM sqlite_schema") != 0)
    throw Failure{Failure::Kind::Unreadable, "it is a database of another application"};
  if (openedVersion_ > model_->version())
    throw Failure{Failure::Kind::Newer,
                  "a newer version of the application wrote it (model version " +
                      std::to_string(openedVersion_) + ", this one knows up to " +
                      std::to_string(model_->version()) + ")"};
  if (!inMemory) exec("PRAGMA synchronous=FULL");
  if (openedVersion_ != 0 && openedVersion_ < model_->version()) {
    // Upgrading writes to the file: make sure first that it is sound throughout.
    Statement check(db_, "PRAGMA quick_check");
    if (!check.ok() || sqlite3_step(check.get()) != SQLITE_ROW) fail("cannot check it");
    const char* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
    if (!verdict || std::string_view(verdict) != "ok")
      throw Failure{Failure::Kind::Unreadable,
                    std::string("it is damaged: ") + (verdict ? verdict : "unknown")};
  }
}

void PersistentStore::finishOpening() {
  if (inMemory_ || readOnly_) return;
  // Every save is one transaction that is on disk when commit returns, also across a power cut:
  // WAL with a sync of the log at each commit (synchronous=FULL, set above).
  exec("PRAGMA journal_mode=WAL");
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
}

void PersistentStore::prepareSchema() {
  exec("BEGIN IMMEDIATE");
  try {
    for (const EntityDescription* root : model_->rootEntities()) {
      std::unordered_set<std::string> existing;
      {
        Statement info(db_, "PRAGMA table_info(" + sqlName(root->tableName()) + ")");
        if (!info.ok()) fail("cannot read the layout of " + root->tableName());
        int rc;
        while ((rc = sqlite3_step(info.get())) == SQLITE_ROW)
          existing.insert(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1)));
        if (rc != SQLITE_DONE) fail("cannot read the layout of " + root->tableName());
      }
      std::vector<const PropertyDescription*> columns = tableColumns(*root);
      if (existing.empty()) {
        std::string sql = "CREATE TABLE " + sqlName(root->tableName()) +
                          " (\"_id\" INTEGER PRIMARY KEY, \"_entity\" TEXT NOT NULL";
        for (const PropertyDescription* p : columns)
          sql += ", " + sqlName(p->columnName) + " " + columnType(*p);
        sql += ")";
        exec(sql.c_str());
        continue;
      }
      if (!existing.count("_id") || !existing.count("_entity"))
        throw Failure{Failure::Kind::Unreadable,
                      "its table " + root->tableName() + " lacks the row id or entity column"};
      // Columns of attributes and relationships added since the store was written; the rows
      // already there take the attribute's default.
      for (const PropertyDescription* p : columns) {
        if (existing.count(p->columnName)) continue;
        std::string sql = "ALTER TABLE " + sqlName(root->tableName()) + " ADD COLUMN " +
                          sqlName(p->columnName) + " " + columnType(*p);
        if (p->isAttribute() && !p->defaultValue.isNull())
          sql += " DEFAULT " + sqlLiteral(p->defaultValue, p->type);
        exec(sql.c_str());
      }
    }
    if (openedVersion_ < model_->version()) {
      exec(("PRAGMA user_version=" + std::to_string(model_->version())).c_str());
      exec(("PRAGMA application_id=" + std::to_string(kStoreApplicationId)).c_str());
    }
    exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  if (openedVersion_ != 0 && openedVersion_ < model_->version())
    log(LogLevel::Notice, std::string(kLogPrefix) + "Upgraded the store at " + path_.string() +
                              " from model version " + std::to_string(openedVersion_) + " to " +
                              std::to_string(model_->version()));
}

PersistentStore::LoadedRows PersistentStore::readAll() {
  LoadedRows rows;
  const auto& roots = model_->rootEntities();
  rows.maxRowIds.assign(roots.size(), 0);
  std::size_t skipped = 0;
  std::string skippedName;

  exec("BEGIN");
  try {
    for (std::size_t r = 0; r < roots.size(); ++r) {
      const EntityDescription& root = *roots[r];
      std::vector<const PropertyDescription*> columns = tableColumns(root);
      std::string sql = "SELECT \"_id\", \"_entity\"";
      for (const PropertyDescription* p : columns) sql += ", " + sqlName(p->columnName);
      sql += " FROM " + sqlName(root.tableName());

      // Per entity of the table: which column fills which slot, and the transients' defaults.
      struct Plan {
        const EntityDescription* entity;
        std::vector<std::pair<std::uint16_t, int>> stored;
        std::vector<std::pair<std::uint16_t, Slot>> transients;
      };
      std::vector<Plan> plans;
      for (const EntityDescription* e : root.selfAndDescendants()) {
        Plan plan{e, {}, {}};
        for (const PropertyDescription& p : e->properties()) {
          if (p.isStored()) {
            for (std::size_t c = 0; c < columns.size(); ++c)
              if (columns[c]->columnName == p.columnName)
                plan.stored.emplace_back(p.index, static_cast<int>(c) + 2);
          } else if (p.isAttribute() && !p.defaultValue.isNull()) {
            plan.transients.emplace_back(p.index, ManagedObject::slotFromValue(p.defaultValue, p));
          }
        }
        plans.push_back(std::move(plan));
      }

      Statement st(db_, sql);
      if (!st.ok()) fail("cannot read " + root.tableName());
      const Plan* last = nullptr;
      int rc;
      while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        sqlite3_stmt* s = st.get();
        std::int64_t id = sqlite3_column_int64(s, 0);
        const char* nameText = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
        std::string_view name(nameText ? nameText : "", sqlite3_column_bytes(s, 1));
        if (!last || last->entity->name() != name) {
          last = nullptr;
          for (const Plan& plan : plans)
            if (plan.entity->name() == name) last = &plan;
        }
        if (!last || last->entity->isAbstract()) {
          // A row of an entity this model does not have (or cannot make): left in the file.
          ++skipped;
          skippedName = std::string(name);
          last = nullptr;
          continue;
        }
        std::shared_ptr<ManagedObject> object = last->entity->instantiate();
        object->attach(nullptr, model_, last->entity, id);
        Slot* slots = object->slots_.get();
        for (const auto& [index, column] : last->stored) {
          int type = sqlite3_column_type(s, column);
          if (type == SQLITE_NULL) continue;
          const PropertyDescription& p = last->entity->properties()[index];
          if (!holdsItsType(p, type)) {
            // Read as 0 a text or blob would become a real moment or count (a date of 1970, a
            // finish long past): absent says truthfully that there is no usable value.
            log(LogLevel::Error, std::string(kLogPrefix) + "Row " + std::to_string(id) + " of " +
                                     last->entity->name() + " holds " + storageTypeName(type) +
                                     " in " + p.name + ", where " + expectedTypeName(p) +
                                     " belongs: it is read as absent");
            continue;
          }
          Slot& slot = slots[index];
          if (p.isToOne()) {
            slot.setInt(sqlite3_column_int64(s, column));
            continue;
          }
          switch (p.type) {
            case AttributeType::String: {
              const char* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
              slot.setString(std::string_view(text ? text : "", sqlite3_column_bytes(s, column)));
              break;
            }
            case AttributeType::Bool:
              slot.setBool(sqlite3_column_int64(s, column) != 0);
              break;
            case AttributeType::Int64:
              slot.setInt(sqlite3_column_int64(s, column));
              break;
            case AttributeType::Double:
            case AttributeType::Date:
              slot.setDouble(sqlite3_column_double(s, column));
              break;
          }
        }
        for (const auto& [index, value] : last->transients) slots[index] = value;
        if (id > rows.maxRowIds[r]) rows.maxRowIds[r] = id;
        rows.objects.push_back(std::move(object));
      }
      if (rc != SQLITE_DONE) fail("cannot read " + root.tableName());
    }
    exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  if (skipped)
    log(LogLevel::Error, std::string(kLogPrefix) + "Left " + std::to_string(skipped) +
                             " rows of entities this version does not know (such as " +
                             skippedName + ") in " + path_.string());
  return rows;
}

PersistentStore::LoadedRows PersistentStore::takeLoadedRows() {
  LoadedRows out = std::move(loaded_);
  loaded_ = {};
  return out;
}

std::shared_ptr<PersistentStore> PersistentStore::open(std::shared_ptr<const Model> model,
                                                       const fs::path& path) {
  auto store = std::shared_ptr<PersistentStore>(new PersistentStore(std::move(model), path));
  auto attempt = [&](bool inMemory, bool readOnly = false) -> std::optional<Failure> {
    try {
      store->readOnly_ = false;
      if (readOnly)
        store->openReadOnlyCopy(path);
      else
        store->openFile(path, inMemory);
      store->prepareSchema();
      store->loaded_ = store->readAll();
      store->finishOpening();
      return std::nullopt;
    } catch (const Failure& failure) {
      store->close();
      store->loaded_ = {};
      return failure;
    }
  };
  const bool inMemory = path == ":memory:";
  if (!inMemory) repairSharedMemoryFile(path);
  std::optional<Failure> failure = attempt(inMemory);
  if (!failure) return store;

  const std::string what = kLogPrefix + std::string("Cannot use the store at ") + path.string() +
                           " (" + failure->message + ")";
  const std::string memoryOnly = "; this session keeps its data in memory only";
  bool startAfresh = false;
  if (!inMemory && failure->kind == Failure::Kind::Unavailable) {
    // Readable but not writable (a read-only file, folder or shared-memory file, a read-only
    // medium): show what it holds; saving is refused with a clear error.
    std::error_code ec;
    std::optional<Failure> readOnlyFailure;
    if (fs::exists(path, ec)) readOnlyFailure = attempt(false, true);
    if (fs::exists(path, ec) && !readOnlyFailure) {
      log(LogLevel::Error,
          what + "; it can be read but not written: showing its data, and " + kReadOnlyReason);
      return store;
    }
    if (readOnlyFailure) failure->message += "; " + readOnlyFailure->message;
    log(LogLevel::Error, kLogPrefix + std::string("Cannot use the store at ") + path.string() +
                             " (" + failure->message + "); leaving it in place" + memoryOnly);
  } else if (inMemory) {
    log(LogLevel::Error, what + "; leaving it in place" + memoryOnly);
  } else if (Expected<fs::path> moved = paths::moveAside(path); !moved) {
    log(LogLevel::Error, what + "; " + moved.error() + "; leaving it in place" + memoryOnly);
  } else {
    store->movedAside_ = *moved;
    startAfresh = true;
    // Its log and shared-memory files belong to it: they go with it, under its new name, where
    // the database tools find them. A new store must never pick up the old one's log.
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
      fs::path companion = path.string() + suffix;
      fs::path target = moved->string() + suffix;
      std::error_code ec;
      if (!fs::exists(companion, ec)) continue;
      if (!fs::exists(target, ec)) fs::rename(companion, target, ec);
      if (ec || fs::exists(companion)) {
        std::string message = what;
        message += "; moved it aside to " + moved->string();
        message += " but could not move " + companion.string();
        message += memoryOnly;
        log(LogLevel::Error, message);
        startAfresh = false;
        break;
      }
    }
    if (startAfresh)
      log(LogLevel::Error,
          what + "; moved it aside to " + moved->string() + " and starting with an empty store");
  }
  if (startAfresh) {
    failure = attempt(false);
    if (!failure) return store;
    log(LogLevel::Error, kLogPrefix + std::string("Cannot create a new store at ") + path.string() +
                             " (" + failure->message + ")" + memoryOnly);
  }
  store->openedVersion_ = 0;
  if (auto again = attempt(true))
    log(LogLevel::Fault,
        kLogPrefix + std::string("Cannot create an in-memory store: ") + again->message);
  return store;
}

ErrorPtr PersistentStore::write(const std::vector<ManagedObject*>& inserted,
                                const std::vector<ManagedObject*>& updated,
                                const std::vector<DeletedRow>& deleted) {
  if (!db_)
    return Error::make(kStoreErrorDomain, SQLITE_MISUSE,
                       {{kLocalizedDescriptionKey, Value("the store is closed")}});
  if (readOnly_)
    return Error::make(kStoreErrorDomain, SQLITE_READONLY,
                       {{kLocalizedDescriptionKey, Value("the store at " + path_.string() +
                                                         " is read-only: " + kReadOnlyReason)}});
  try {
    exec("BEGIN IMMEDIATE");
  } catch (const Failure& f) {
    return Error::make(kStoreErrorDomain, sqlite3_errcode(db_) & 0xFF,
                       {{kLocalizedDescriptionKey, Value(f.message)}});
  }
  try {
    auto bindProperty = [](sqlite3_stmt* st, int i, const ManagedObject& o,
                           const PropertyDescription& p) {
      const Slot& s = o.slots_[p.index];
      if (ManagedObject* partner = s.object())
        sqlite3_bind_int64(st, i, partner->rowId_);
      else
        bindSlot(st, i, s);
    };
    auto run = [&](sqlite3_stmt* st, const std::string& what) {
      if (sqlite3_step(st) != SQLITE_DONE) fail(what);
      sqlite3_reset(st);
    };

    for (const ManagedObject* o : inserted) {
      const EntityDescription& e = *o->entity_;
      std::string sql = "INSERT INTO " + sqlName(e.tableName()) + " (\"_id\", \"_entity\"";
      std::string values = "?, ?";
      for (std::uint16_t i : e.storedProperties()) {
        sql += ", " + sqlName(e.properties()[i].columnName);
        values += ", ?";
      }
      sql += ") VALUES (" + values + ")";
      sqlite3_stmt* st = statement(sql);
      sqlite3_bind_int64(st, 1, o->rowId_);
      sqlite3_bind_text(st, 2, e.name().c_str(), static_cast<int>(e.name().size()), SQLITE_STATIC);
      int n = 3;
      for (std::uint16_t i : e.storedProperties()) bindProperty(st, n++, *o, e.properties()[i]);
      run(st, "cannot insert into " + e.tableName());
    }

    std::vector<std::uint16_t> changed;
    for (const ManagedObject* o : updated) {
      if (!o->changes_) continue;
      const EntityDescription& e = *o->entity_;
      changed.clear();
      for (const auto& entry : o->changes_->committed) changed.push_back(entry.first);
      std::sort(changed.begin(), changed.end());
      std::string sql = "UPDATE " + sqlName(e.tableName()) + " SET ";
      for (std::size_t k = 0; k < changed.size(); ++k)
        sql += (k ? ", " : "") + sqlName(e.properties()[changed[k]].columnName) + " = ?";
      sql += " WHERE \"_id\" = ?";
      sqlite3_stmt* st = statement(sql);
      int n = 1;
      for (std::uint16_t i : changed) bindProperty(st, n++, *o, e.properties()[i]);
      sqlite3_bind_int64(st, n, o->rowId_);
      run(st, "cannot update " + e.tableName());
    }

    for (const DeletedRow& row : deleted) {
      sqlite3_stmt* st =
          statement("DELETE FROM " + sqlName(row.entity->tableName()) + " WHERE \"_id\" = ?");
      sqlite3_bind_int64(st, 1, row.rowId);
      run(st, "cannot delete from " + row.entity->tableName());
    }
    exec("COMMIT");
  } catch (const Failure& f) {
    int code = sqlite3_errcode(db_) & 0xFF;
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return Error::make(kStoreErrorDomain, code, {{kLocalizedDescriptionKey, Value(f.message)}});
  }
  return nullptr;
}

}  // namespace tw::store
