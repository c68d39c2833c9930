#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/foundation/Log.h"
#include "platform/store/Stack.h"
#include "platform/store/tests/StoreTestSupport.h"
#include "platform/testsupport/FileModes.h"

namespace fs = std::filesystem;

namespace tw::store::test {
namespace {

using Persistence = StoreTest;
using Migration = StoreTest;
using DamagedStore = StoreTest;

std::string readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// Runs one statement on the store file with a connection of its own; returns the first column
// of the first row as text.
std::string sql(const fs::path& path, const std::string& statement) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  std::string out;
  if (sqlite3_prepare_v2(db, statement.c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
    out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

TEST_F(Persistence, ValuesRoundTripExactly) {
  const double microseconds = 1700000000.123456;
  auto timer = makeTimer("Ünïcode ✓ 'quoted' \"double\"");
  timer->setValueForKey(Value(static_cast<long long>(LLONG_MAX)), "sortOrder");
  timer->setValueForKey(Value(static_cast<long long>(LLONG_MIN)), "timingState");
  timer->setValueForKey(Date{microseconds}, "finishDate");
  timer->setValueForKey(Date{-0.000001}, "pauseDate");
  timer->setValueForKey(0.1 + 0.2, "ratio");
  timer->setValueForKey(true, "favourite");
  auto empty = context_->insertNew<TMStopwatch>();
  empty->setValueForKey("", "title");
  empty->setValueForKey(nullptr, "favourite");
  empty->setValueForKey(nullptr, "sortOrder");
  const std::string uuid = *timer->stringForKey("uuid");

  reopen();
  auto t = context_->findAll<TMTimer>()[0];
  EXPECT_EQ(t->stringForKey("title"), "Ünïcode ✓ 'quoted' \"double\"");
  EXPECT_EQ(t->int64ForKey("sortOrder"), LLONG_MAX);
  EXPECT_EQ(t->int64ForKey("timingState"), LLONG_MIN);
  EXPECT_EQ(t->dateForKey("finishDate")->secondsSince1970, microseconds);
  EXPECT_EQ(t->dateForKey("pauseDate")->secondsSince1970, -0.000001);
  EXPECT_EQ(t->doubleForKey("ratio"), 0.1 + 0.2);
  EXPECT_TRUE(t->boolForKey("favourite"));
  EXPECT_EQ(t->valueForKey("favourite"), Value(true));
  EXPECT_EQ(t->stringForKey("uuid"), uuid);
  EXPECT_EQ(t->objectID(), timer->objectID());

  auto s = context_->findAll<TMStopwatch>()[0];
  EXPECT_EQ(s->stringForKey("title"), "");
  EXPECT_TRUE(s->valueForKey("favourite").isNull());
  EXPECT_TRUE(s->valueForKey("sortOrder").isNull());
  EXPECT_TRUE(s->valueForKey("startDate").isNull());
  EXPECT_FALSE(context_->hasChanges());
}

TEST_F(DamagedStore, AValueOfTheWrongTypeIsReadAsAbsentLoggedAndLeftInTheFile) {
  auto timer = makeTimer("kept");
  timer->setValueForKey(Value(20LL), "timingState");
  timer->setValueForKey(Date{1700000000.5}, "finishDate");
  timer->setValueForKey(Date{1700000001.5}, "pauseDate");
  timer->setValueForKey(Value(3LL), "sortOrder");
  timer->setValueForKey(true, "favourite");
  addAction(timer);
  reopen();
  context_->close();
  const std::string row = sql(path_, "SELECT _id FROM TMManagedObject WHERE _entity = 'TMTimer'");
  // A text column turns a number into text on the way in: only an untyped one can hold one.
  sql(path_, "ALTER TABLE TMManagedObject DROP COLUMN TMTimeObject_note");
  sql(path_, "ALTER TABLE TMManagedObject ADD COLUMN TMTimeObject_note");
  sql(path_,
      "UPDATE TMManagedObject SET TMTimer_finishDate = 'NaN', TMTimer_pauseDate = x'00ff', "
      "TMTimeObject_timingState = 'tomorrow', TMTimeObject_sortOrder = 1.5, "
      "TMTimeObject_favourite = x'01', TMTimeObject_note = 42, TMTimeObject_ratio = 3 "
      "WHERE _id = " +
          row);
  sql(path_, "UPDATE TMManagedObject SET TMAction_timeObject = 'first' WHERE _entity != 'TMTimer'");

  LogCapture logs;
  context_ = Context::open(model_, path_);
  auto t = context_->findAll<TMTimer>()[0];
  for (const char* key :
       {"finishDate", "pauseDate", "timingState", "sortOrder", "favourite", "note"}) {
    EXPECT_TRUE(t->valueForKey(key).isNull()) << key;
    EXPECT_TRUE(logs.contains(" in " + std::string(key) + ", where")) << key;
  }
  const auto lines = logs.lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& line) {
                            return line.find("Row " + row + " of TMTimer holds ") !=
                                   std::string::npos;
                          }),
            6);
  EXPECT_TRUE(logs.contains("Row " + row + " of TMTimer holds text in finishDate, where a date"));
  EXPECT_TRUE(logs.contains("holds a blob in pauseDate"));
  EXPECT_TRUE(logs.contains("holds an integer in note, where text"));
  EXPECT_TRUE(logs.contains("holds a real number in sortOrder"));
  // A whole number is still a number.
  EXPECT_EQ(t->doubleForKey("ratio"), 3.0);
  EXPECT_FALSE(logs.contains("in ratio"));
  EXPECT_EQ(t->stringForKey("title"), "kept");
  EXPECT_EQ(t->countOfObjectsForKey("actions"), 0u);
  EXPECT_TRUE(logs.contains(" of TMMessageAction holds text in timeObject, where a row id"));

  // Saving other changes leaves the damaged values for a person to look at.
  t->setValueForKey("renamed", "title");
  ASSERT_EQ(context_->save(), nullptr);
  EXPECT_EQ(sql(path_, "SELECT TMTimer_finishDate FROM TMManagedObject WHERE _id = " + row), "NaN");
  EXPECT_EQ(sql(path_, "SELECT TMTimeObject_note FROM TMManagedObject WHERE _id = " + row), "42");
}

TEST_F(Persistence, RelationshipsSurviveAReopen) {
  auto timer = makeTimer("owner");
  timer->objectForKey("time")->setValueForKey(7, "hour");
  auto target = context_->insertNew<TMAlarm>();
  for (int i = 0; i < 3; ++i) addAction(timer, i);
  auto link = context_->insertNew<TMLinkAction>();
  link->setValueForKey(timer, "timeObject");
  link->setValueForKey(target, "targetTimeObject");
  auto timeTrigger = context_->insertNew<TMTimeTrigger>();
  timeTrigger->setValueForKey(60.5, "timeInterval");
  link->setValueForKey(timeTrigger, "trigger");

  reopen();
  auto t = context_->findAll<TMTimer>()[0];
  EXPECT_EQ(t->objectForKey("time")->int64ForKey("hour"), 7);
  auto actions = t->objectsForKey<TMAction>("actions");
  ASSERT_EQ(actions.size(), 4u);
  for (auto& a : actions) {
    EXPECT_EQ(a->objectForKey("timeObject"), t);
    ASSERT_NE(a->objectForKey("trigger"), nullptr);
    EXPECT_EQ(a->objectForKey("trigger")->objectForKey("actionObject"), a);
  }
  auto l = context_->findAll<TMLinkAction>()[0];
  auto alarm = context_->findAll<TMAlarm>()[0];
  EXPECT_EQ(l->objectForKey("targetTimeObject"), alarm);
  EXPECT_EQ(alarm->objectsForKey("linkedActions"), std::vector<std::shared_ptr<ManagedObject>>{l});
  EXPECT_DOUBLE_EQ(l->objectForKey("trigger")->doubleForKey("timeInterval"), 60.5);

  // Changing and saving a relationship writes only what changed, and reads back the same.
  auto stopwatch = context_->insertNew<TMStopwatch>();
  actions[0]->setValueForKey(stopwatch, "timeObject");
  reopen();
  EXPECT_EQ(context_->findAll<TMStopwatch>()[0]->countOfObjectsForKey("actions"), 1u);
  EXPECT_EQ(context_->findAll<TMTimer>()[0]->countOfObjectsForKey("actions"), 3u);
}

TEST_F(Persistence, AFailedSaveWritesNothingAndKeepsTheChanges) {
  auto timer = makeTimer("kept");
  ASSERT_EQ(context_->save(), nullptr);
  timer->setValueForKey("changed", "title");
  context_->insertNew<TMStopwatch>();
  // Another connection takes the table away under the store's feet.
  sql(path_, "ALTER TABLE TMManagedObject RENAME TO Hidden");
  LogCapture logs;
  ErrorPtr error = context_->save();
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->domain(), kStoreErrorDomain);
  EXPECT_TRUE(logs.contains("Cannot save"));
  EXPECT_TRUE(context_->hasChanges());
  EXPECT_EQ(sql(path_, "SELECT TMTimeObject_title FROM Hidden"), "kept");

  sql(path_, "ALTER TABLE Hidden RENAME TO TMManagedObject");
  ASSERT_EQ(context_->save(), nullptr);
  EXPECT_FALSE(context_->hasChanges());
  EXPECT_EQ(sql(path_, "SELECT count(*) FROM TMManagedObject"), "2");
}

TEST_F(Persistence, ResetForgetsUnsavedChangesAndReadsTheStoreAgain) {
  auto timer = makeTimer("saved");
  ASSERT_EQ(context_->save(), nullptr);
  timer->setValueForKey("unsaved", "title");
  context_->insertNew<TMStopwatch>();
  context_->reset();
  EXPECT_TRUE(timer->isFault());
  EXPECT_FALSE(context_->hasChanges());
  auto again = context_->findAll<TMTimeObject>();
  ASSERT_EQ(again.size(), 1u);
  EXPECT_NE(again[0].get(), timer.get());
  EXPECT_EQ(again[0]->stringForKey("title"), "saved");
}

TEST_F(Persistence, DefaultStackLivesUnderTheDataFolder) {
  tw::test::ScopedXdg xdg;
  EXPECT_EQ(PersistentStore::defaultPath("com.velmora.Tickwell"),
            xdg.root() / "XDG_DATA_HOME" / "Tickwell" / "com.velmora.Tickwell.sqlite");

  Stack::setDefaultModel(model_);
  auto context = Stack::setupAutoMigratingSqliteStore("com.velmora.Tickwell");
  ASSERT_EQ(Context::defaultContext(), context);
  EXPECT_EQ(Stack::defaultStore()->path(), PersistentStore::defaultPath("com.velmora.Tickwell"));
  context->insertNew<TMStopwatch>();
  ASSERT_EQ(context->save(), nullptr);
  EXPECT_EQ(sql(Stack::defaultStore()->path(), "PRAGMA journal_mode"), "wal");
  Stack::cleanUp();
  EXPECT_EQ(Context::defaultContext(), nullptr);
  EXPECT_TRUE(fs::exists(PersistentStore::defaultPath("com.velmora.Tickwell")));

  Stack::setupAutoMigratingSqliteStore("com.velmora.Tickwell");
  EXPECT_EQ(Context::defaultContext()->countOf<TMStopwatch>(), 1u);
  Stack::cleanUp();
}

TEST_F(Persistence, RowsOfUnknownEntitiesAreLeftInTheFile) {
  context_->insertNew<TMStopwatch>();
  reopen();
  context_->close();
  // A later version wrote an entity this one does not know into a shared table.
  sql(path_, "INSERT INTO TMManagedObject (_id, _entity) VALUES (99, 'TMFutureThing')");
  LogCapture logs;
  context_ = Context::open(model_, path_);
  EXPECT_EQ(context_->countOf<TMManagedObject>(), 1u);
  EXPECT_TRUE(logs.contains("TMFutureThing"));
  context_->insertNew<TMStopwatch>();
  ASSERT_EQ(context_->save(), nullptr);
  EXPECT_EQ(sql(path_, "SELECT _entity FROM TMManagedObject WHERE _id = 99"), "TMFutureThing");
  // New rows never take its id.
  EXPECT_EQ(sql(path_, "SELECT count(*) FROM TMManagedObject"), "3");
}

TEST_F(Migration, AnOlderStoreGainsNewColumnsAndTablesWithDefaults) {
  context_->close();
  fs::remove(path_);
  auto v1 = testModel(1);
  context_ = Context::open(v1, path_);
  auto timer = makeTimer("old");
  addAction(timer);
  reopen(v1);
  ASSERT_EQ(sql(path_, "PRAGMA user_version"), "1");

  LogCapture logs;
  reopen(model_);
  EXPECT_EQ(sql(path_, "PRAGMA user_version"), "2");
  EXPECT_TRUE(logs.contains("from model version 1 to 2"));
  auto t = context_->findAll<TMTimer>()[0];
  EXPECT_EQ(t->stringForKey("title"), "old");
  EXPECT_EQ(t->stringForKey("note"), "none");
  EXPECT_EQ(context_->findAll<TMAction>()[0]->int64ForKey("priority"), 5);
  context_->insertNewObject("TMCounter")->setValueForKey(3, "value");
  t->setValueForKey("new note", "note");
  reopen();
  EXPECT_EQ(context_->findAll<TMTimer>()[0]->stringForKey("note"), "new note");
  FetchRequest counters("TMCounter");
  EXPECT_EQ(context_->fetch(counters)[0]->int64ForKey("value"), 3);
}

TEST_F(DamagedStore, GarbageAndTruncatedFilesAreMovedAsideNeverDeleted) {
  makeTimer("precious");
  reopen();
  context_->close();
  context_.reset();
  const std::string whole = readBytes(path_);
  ASSERT_GT(whole.size(), 4096u);

  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string garbage(8192, '\0');
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  std::string scribbled = whole;
  for (std::size_t i = 4096; i < scribbled.size(); ++i) scribbled[i] = static_cast<char>(0xA5);
  const Case cases[] = {
      {"garbage", garbage},
      {"truncated header", whole.substr(0, 50)},
      {"truncated pages", whole.substr(0, whole.size() / 2)},
      {"overwritten pages", scribbled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tw::test::TempDir dir;
    fs::path path = dir.path() / "store.sqlite";
    writeBytes(path, c.bytes);
    const std::string log = "not a log of this database, but it must survive all the same";
    writeBytes(path.string() + "-wal", log);
    LogCapture logs;
    auto context = Context::open(model_, path);
    ASSERT_TRUE(context->persistentStore()->movedAsidePath().has_value());
    fs::path moved = *context->persistentStore()->movedAsidePath();
    EXPECT_EQ(readBytes(moved), c.bytes);
    EXPECT_EQ(readBytes(moved.string() + "-wal"), log);
    EXPECT_EQ(moved.parent_path(), path.parent_path());
    EXPECT_NE(moved.filename().string().find("store.sqlite.corrupt-"), std::string::npos);
    EXPECT_TRUE(logs.contains("moved it aside to " + moved.string())) << logs.lines().size();
    // A fresh, working store took its place.
    EXPECT_FALSE(context->persistentStore()->isInMemory());
    EXPECT_EQ(context->countOf<TMTimeObject>(), 0u);
    context->insertNew<TMStopwatch>();
    ASSERT_EQ(context->save(), nullptr);
    context->close();
    EXPECT_EQ(sql(path, "PRAGMA integrity_check"), "ok");
  }
}

TEST_F(DamagedStore, AStoreOfANewerModelIsMovedAside) {
  makeTimer("from the future");
  reopen();
  context_->close();
  context_.reset();
  sql(path_, "PRAGMA user_version=3");
  const std::string bytes = readBytes(path_);

  LogCapture logs;
  context_ = Context::open(model_, path_);
  ASSERT_TRUE(context_->persistentStore()->movedAsidePath().has_value());
  EXPECT_TRUE(logs.contains("newer version"));
  EXPECT_EQ(context_->countOf<TMTimeObject>(), 0u);
  EXPECT_EQ(sql(*context_->persistentStore()->movedAsidePath(),
                "SELECT TMTimeObject_title FROM TMManagedObject"),
            "from the future");
  EXPECT_EQ(sql(path_, "PRAGMA user_version"), "2");
}

TEST_F(DamagedStore, AnotherApplicationsDatabaseIsNotTakenOver) {
  context_->close();
  context_.reset();
  fs::remove(path_);
  sql(path_, "CREATE TABLE notes(x)");
  sql(path_, "PRAGMA application_id=1234");
  context_ = Context::open(model_, path_);
  ASSERT_TRUE(context_->persistentStore()->movedAsidePath().has_value());
  EXPECT_EQ(sql(*context_->persistentStore()->movedAsidePath(), "PRAGMA application_id"), "1234");
}

TEST_F(DamagedStore, AnUnusableLocationFallsBackToMemoryAndTouchesNothing) {
  // The folder cannot be made: a file stands where it should be.
  tw::test::TempDir dir;
  fs::path blocker = dir.path() / "blocker";
  writeBytes(blocker, "keep me");
  LogCapture logs;
  auto context = Context::open(model_, blocker / "store.sqlite");
  EXPECT_TRUE(context->persistentStore()->isInMemory());
  EXPECT_FALSE(context->persistentStore()->movedAsidePath().has_value());
  EXPECT_TRUE(logs.contains("in memory only"));
  context->insertNew<TMStopwatch>();
  EXPECT_EQ(context->save(), nullptr);
  EXPECT_EQ(context->countOf<TMStopwatch>(), 1u);
  EXPECT_EQ(readBytes(blocker), "keep me");
}

// A store the user may read but not write: its data is shown, saves fail clearly and keep the
// changes, and the user is told. File modes are made to hold even for root (see FileModes.h).
class ReadOnlyStore : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    makeTimer("tea");
    makeTimer("eggs");
    reopen();
    context_->close();
    context_.reset();
  }

  // Opens the store in a child where modes hold and says what it found.
  std::string openAndSave() {
    auto run = tw::test::runWithFileModesEnforced([&] {
      LogCapture logs;
      auto context = Context::open(model_, path_);
      std::string out = context->persistentStore()->isReadOnly() ? "read-only" : "writable";
      out += " " + std::to_string(context->countOf<TMTimer>()) + " timers;";
      context->insertNew<TMStopwatch>();
      ErrorPtr error = context->save();
      out += error ? " save failed: " + error->localizedDescription() : " saved";
      out += "; " + std::to_string(context->countOf<TMStopwatch>()) + " stopwatch";
      if (logs.contains("it can be read but not written: showing its data, and changes cannot "
                        "be saved"))
        out += "; told";
      context->close();
      return out;
    });
    if (run.unavailable) skipped_ = run.why;
    return run.ok ? run.output : "child: " + run.why;
  }

  std::string readOnlyOutcome() const {
    return "read-only 2 timers; save failed: the store at " + path_.string() +
           " is read-only: changes cannot be saved; 1 stopwatch; told";
  }
  std::optional<std::string> skipped_;
};

TEST_F(ReadOnlyStore, AReadOnlyFileIsShownAndRecoversOnceWritableAgain) {
  fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string seen = openAndSave();
  if (skipped_) GTEST_SKIP() << *skipped_;
  EXPECT_EQ(seen, readOnlyOutcome());
  EXPECT_EQ(sql(path_, "SELECT count(*) FROM TMManagedObject WHERE _entity = 'TMTimer'"), "2");

  // That session may have left a shared-memory file as read-only as the store was; once the
  // store is writable again, so is the session.
  fs::permissions(path_, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(openAndSave(), "writable 2 timers; saved; 1 stopwatch");
}

TEST_F(ReadOnlyStore, AReadOnlyFolderIsShownWithoutTouchingIt) {
  const fs::path folder = path_.parent_path();
  const auto before = fs::status(folder).permissions();
  fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const std::string seen = openAndSave();
  fs::permissions(folder, before);
  if (skipped_) GTEST_SKIP() << *skipped_;
  EXPECT_EQ(seen, readOnlyOutcome());
}

TEST_F(ReadOnlyStore, AReadOnlySharedMemoryFileLeftBehindIsMadeWritable) {
  // A shared-memory file as a read-only session leaves it: kept after its connection closed,
  // then read-only.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  const fs::path shm = path_.string() + "-shm";
  ASSERT_TRUE(fs::exists(shm));
  fs::permissions(shm, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string seen = openAndSave();
  if (skipped_) GTEST_SKIP() << *skipped_;
  EXPECT_EQ(seen, "writable 2 timers; saved; 1 stopwatch");
  EXPECT_TRUE((fs::status(shm).permissions() & fs::perms::owner_write) != fs::perms::none);
}

}  // namespace
}  // namespace tw::store::test