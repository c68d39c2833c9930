#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/tests/ReadOnlyFolder.h"
#include "platform/testsupport/TestSupport.h"

namespace fs = std::filesystem;

namespace tw {
namespace {

Value readBack(const fs::path& file) {
  auto bytes = paths::readFile(file);
  if (!bytes) return Value();
  return PropertyList::read(*bytes).value();
}

std::vector<fs::path> filesIn(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path());
  return out;
}

TEST(UserDefaultsDomains, PersistentValuesShadowRegisteredOnes) {
  test::TempDir dir;
  UserDefaults d(dir.path() / "prefs.plist");
  d.registerDefaults({{"NSApplicationCrashOnExceptions", true}, {"count", 3}});
  EXPECT_TRUE(d.boolForKey("NSApplicationCrashOnExceptions"));
  EXPECT_EQ(d.integerForKey("count"), 3);
  d.setInteger(7, "count");
  EXPECT_EQ(d.integerForKey("count"), 7);
  d.removeObjectForKey("count");
  EXPECT_EQ(d.integerForKey("count"), 3);  // the registered value shows through again
  d.registerDefaults({{"count", 4}});
  EXPECT_EQ(d.integerForKey("count"), 4);
  EXPECT_TRUE(d.objectForKey("absent").isNull());
  EXPECT_EQ(d.integerForKey("absent"), 0);
  EXPECT_FALSE(d.stringForKey("absent").has_value());
  // Registered values are never written.
  d.setObject("x", "stored");
  ASSERT_TRUE(d.synchronize());
  EXPECT_EQ(readBack(d.filePath()), Value(Dictionary{{"stored", "x"}}));
  EXPECT_EQ(d.dictionaryRepresentation().size(), 3u);
}

TEST(UserDefaultsDomains, TypedGettersCoerceOrDecline) {
  test::TempDir dir;
  UserDefaults d(dir.path() / "prefs.plist");
  d.setObject("12abc", "s");
  d.setObject(2.75, "dbl");
  d.setObject(Dictionary{{"GeneralBundle", Dictionary{{"useMilitaryTime", true}}}}, "dict");
  d.setObject("", "empty");
  EXPECT_EQ(d.integerForKey("s"), 12);
  EXPECT_EQ(d.stringForKey("dbl"), std::optional<std::string>("2.75"));
  EXPECT_EQ(d.integerForKey("dbl"), 2);
  EXPECT_FALSE(d.dictionaryForKey("s").has_value());
  ASSERT_TRUE(d.dictionaryForKey("dict").has_value());
  EXPECT_FALSE(d.arrayForKey("dict").has_value());
  EXPECT_EQ(d.stringForKey("empty"), std::optional<std::string>(""));  // empty, not absent
  EXPECT_FALSE(d.stringForKey("dict").has_value());
  d.setObject(Value(), "s");  // null removes
  EXPECT_TRUE(d.objectForKey("s").isNull());
}

TEST(UserDefaultsDomains, NonPropertyListValuesAreRefused) {
  test::TempDir dir;
  UserDefaults d(dir.path() / "prefs.plist");
  try {
    d.setObject(Array{1, Value()}, "bad");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), NSInvalidArgumentException);
    EXPECT_NE(e.reason().find("Attempt to insert non-property list object"), std::string::npos);
    EXPECT_NE(e.reason().find("for key bad"), std::string::npos);
  }
  EXPECT_TRUE(d.objectForKey("bad").isNull());
}

TEST(UserDefaultsPersistence, SurvivesARestartWithExactValues) {
  test::TempDir dir;
  fs::path file = dir.path() / "Tickwell" / "com.velmora.Tickwell.plist";
  {
    UserDefaults d(file);
    d.setObject(Value(std::uint64_t{18446744073709551615ull}), "big");
    d.setObject(Value(Date{1700000000.25}), "when");
    d.setObject(Value(Data{1, 2, 3}), "bytes");
    d.setBool(false, "flag");
  }  // the destructor saves what is pending
  UserDefaults again(file);
  EXPECT_EQ(again.objectForKey("big").uintIfUInt(), 18446744073709551615ull);
  EXPECT_DOUBLE_EQ(again.objectForKey("when").date()->secondsSince1970, 1700000000.25);
  EXPECT_EQ(again.objectForKey("bytes"), Value(Data{1, 2, 3}));
  EXPECT_EQ(again.objectForKey("flag"), Value(false));
}

TEST(UserDefaultsPersistence, SynchronizeWritesOnlyWhenSomethingChanged) {
  test::TempDir dir;
  fs::path file = dir.path() / "prefs.plist";
  UserDefaults d(file, PropertyList::Format::XML);
  EXPECT_TRUE(d.synchronize());
  EXPECT_FALSE(fs::exists(file));  // nothing read, nothing changed
  d.setInteger(1, "a");
  ASSERT_TRUE(d.synchronize());
  struct stat first {};
  ASSERT_EQ(::stat(file.c_str(), &first), 0);
  EXPECT_TRUE(d.synchronize());
  struct stat second {};
  ASSERT_EQ(::stat(file.c_str(), &second), 0);
  EXPECT_EQ(first.st_ino, second.st_ino);  // not rewritten
  d.removeObjectForKey("never-set");       // removing an absent key is no change either
  EXPECT_TRUE(d.synchronize());
  ASSERT_EQ(::stat(file.c_str(), &second), 0);
  EXPECT_EQ(first.st_ino, second.st_ino);
  d.setInteger(2, "a");
  ASSERT_TRUE(d.synchronize());
  ASSERT_EQ(::stat(file.c_str(), &second), 0);
  EXPECT_NE(first.st_ino, second.st_ino);  // replaced through a new file
  EXPECT_NE(paths::readTextFile(file)->find("<?xml"), std::string::npos);
}

TEST(UserDefaultsPersistence, ACorruptFileIsMovedAsideAndDefaultsGoOn) {
  test::TempDir dir;
  fs::path file = dir.path() / "prefs.plist";
  ASSERT_TRUE(paths::writeFileAtomically(file, std::string_view("bplist00 damaged beyond repair")));
  LogCapture logs;
  UserDefaults d(file);
  d.registerDefaults({{"fallback", "yes"}});
  EXPECT_EQ(d.stringForKey("fallback"), std::optional<std::string>("yes"));
  EXPECT_TRUE(logs.contains("cannot read"));
  EXPECT_TRUE(logs.contains("moved it to"));
  auto files = filesIn(dir.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].filename().string().find("prefs.plist.corrupt-"), std::string::npos);
  EXPECT_EQ(*paths::readTextFile(files[0]), "bplist00 damaged beyond repair");
  d.setInteger(5, "n");
  ASSERT_TRUE(d.synchronize());
  EXPECT_EQ(readBack(file), Value(Dictionary{{"n", 5}}));
  EXPECT_EQ(filesIn(dir.path()).size(), 2u);  // the damaged copy stays
}

TEST(UserDefaultsPersistence, AFileHoldingSomethingOtherThanADictionaryIsMovedAside) {
  test::TempDir dir;
  fs::path file = dir.path() / "prefs.plist";
  ASSERT_TRUE(paths::writeFileAtomically(file, *PropertyList::writeBinary(Value(Array{1, 2}))));
  LogCapture logs;
  UserDefaults d(file);
  EXPECT_TRUE(d.persistentDomain().empty());
  EXPECT_TRUE(logs.contains("not a dictionary"));
  EXPECT_FALSE(fs::exists(file));
}

TEST(UserDefaultsPersistence, AnUnmovableUnreadableFileIsNeverOverwritten) {
  test::TempDir dir;
  fs::path sub = dir.path() / "locked";
  fs::path file = sub / "prefs.plist";
  ASSERT_TRUE(paths::writeFileAtomically(file, std::string_view("not a plist")));
  auto outcome = test::inReadOnlyFolder(sub, [&]() -> std::string {  // no renames in here
    LogCapture logs;
    {
      UserDefaults d(file);
      d.setInteger(1, "x");
      if (d.synchronize()) return "saving over an unreadable file reported success";
    }
    if (!logs.contains("nor move it aside")) return "the failure to move it aside was not logged";
    return "";
  });
  if (!outcome.available) GTEST_SKIP() << "no read-only folder available: " << outcome.failure;
  EXPECT_EQ(outcome.failure, "");
  EXPECT_EQ(*paths::readTextFile(file), "not a plist");
  EXPECT_EQ(filesIn(sub).size(), 1u);
}

TEST(UserDefaultsPersistence, AKeyWithANulIsMovedAsideInsteadOfEndingTheProcess) {
  using namespace std::string_view_literals;
  test::TempDir dir;
  fs::path file = dir.path() / "prefs.plist";
  // A dictionary whose one key is the UTF-16 text "é\0x" (libplist asserts on reading it).
  const std::string_view crafted =
      "bplist00\xD1\x01\x02\x63\x00\xE9\x00\x00\x00\x78\x10\x01\x08\x0B\x12"
      "\0\0\0\0\0\0\x01\x01\0\0\0\0\0\0\0\x03\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x14"sv;
  ASSERT_TRUE(paths::writeFileAtomically(file, crafted));
  LogCapture logs;
  UserDefaults d(file);
  d.registerDefaults({{"fallback", 1}});
  EXPECT_EQ(d.integerForKey("fallback"), 1);
  EXPECT_TRUE(d.persistentDomain().empty());
  EXPECT_TRUE(logs.contains("NUL"));
  auto files = filesIn(dir.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(*paths::readTextFile(files[0]), crafted);
  // Nor may such a key get in through the front door, where the writer would have to cut it.
  EXPECT_THROW(d.setInteger(1, std::string("a\0b", 3)), Exception);
  EXPECT_THROW(d.setObject(Value(Dictionary{{std::string("a\0b", 3), 1}}), "k"), Exception);
}

TEST(UserDefaultsPersistence, TheOriginalIsKeptOnceWhenOnlyPartOfItCouldBeUsed) {
  test::TempDir dir;
  fs::path file = dir.path() / "prefs.plist";
  const Value original(Dictionary{{"good", 1}, {"bad", "wrong type"}});
  ASSERT_TRUE(paths::writeFileAtomically(file, *PropertyList::writeBinary(original)));
  {
    UserDefaults d(file);
    EXPECT_EQ(d.integerForKey("good"), 1);
    d.keepOriginalBeforeNextWrite();  // its reader dropped "bad"
    d.removeObjectForKey("bad");
    ASSERT_TRUE(d.synchronize());
    d.setInteger(2, "good");
    ASSERT_TRUE(d.synchronize());  // only the first rewrite keeps a copy
  }
  EXPECT_EQ(readBack(file), Value(Dictionary{{"good", 2}}));
  auto files = filesIn(dir.path());
  ASSERT_EQ(files.size(), 2u);
  const fs::path kept = files[0] == file ? files[1] : files[0];
  EXPECT_NE(kept.filename().string().find("prefs.plist.corrupt-"), std::string::npos);
  EXPECT_EQ(readBack(kept), original);
}

TEST(UserDefaultsConcurrency, ManyThreadsSetAndReadWhileSaving) {
  test::TempDir dir;
  UserDefaults d(dir.path() / "prefs.plist");
  d.setAutosaveDelay(0);
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&d, t] {
      std::string key = "k" + std::to_string(t);
      for (int i = 0; i < 200; ++i) {
        d.setInteger(i, key);
        EXPECT_EQ(d.integerForKey(key), i);
        if (i % 50 == 0) d.synchronize();
      }
    });
  for (auto& th : threads) th.join();
  ASSERT_TRUE(d.synchronize());
  Value stored = readBack(d.filePath());
  for (int t = 0; t < 4; ++t) EXPECT_EQ(stored["k" + std::to_string(t)], Value(199));
}

TEST(UserDefaultsStandard, LivesUnderTheConfigFolderNamedByTheBundle) {
  UserDefaults& d = UserDefaults::standard();
  EXPECT_EQ(d.filePath(), paths::configHome() / "Tickwell" / "com.velmora.Tickwell.plist");
  EXPECT_EQ(&d, &UserDefaults::standard());
}

}  // namespace
}  // namespace tw
