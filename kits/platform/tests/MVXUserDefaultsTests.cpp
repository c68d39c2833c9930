#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "kits/platform/MVXUserDefaults.h"
#include "kits/platform/tests/KitFakes.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"

namespace fs = std::filesystem;

namespace tw::test {
namespace {

Value readFileBack(const fs::path& file) {
  auto bytes = paths::readFile(file);
  if (!bytes) return Value();
  return PropertyList::read(*bytes).value();
}

std::vector<fs::path> asideCopies(const fs::path& file) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(file.parent_path()))
    if (e.path().filename().string().rfind(file.filename().string() + ".corrupt-", 0) == 0)
      out.push_back(e.path());
  return out;
}

using KitDefaults = KitPlatformTest;

TEST_F(KitDefaults, ValuesReachTheFileOnlyThroughAChangedSynchronize) {
  auto store = std::make_shared<MVXUserDefaults>();
  EXPECT_EQ(store->fileURL(),
            paths::dataHome() / "com.velmora.Tickwell" / "com.morvex" / "MVXUserDefaults.plist");
  store->setString("abc", "s");
  store->setInteger(2, "n");
  store->setBool(true, "b");
  EXPECT_FALSE(fs::exists(store->fileURL()));
  store->synchronize();
  EXPECT_TRUE(store->synchronizeWroteToDisk());
  EXPECT_EQ(readFileBack(store->fileURL()), Value(Dictionary{{"s", "abc"}, {"n", 2}, {"b", true}}));
  EXPECT_EQ(store->persistedDataDictionary(), store->dictionaryRepresentation());

  // The same value again: nothing to write, the file is not touched.
  auto before = fs::last_write_time(store->fileURL());
  store->setString("abc", "s");
  store->synchronize();
  EXPECT_FALSE(store->synchronizeWroteToDisk());
  EXPECT_EQ(fs::last_write_time(store->fileURL()), before);

  // Typed getters give nothing for the wrong type; a null value removes the key.
  EXPECT_FALSE(store->boolForKey("s"));
  EXPECT_EQ(store->integerForKey("s"), 0);
  EXPECT_EQ(store->stringForKey("n"), std::nullopt);
  EXPECT_EQ(store->integerForKey("n"), 2);
  store->setObject(Value(), "s");
  store->setString(std::nullopt, "n");
  EXPECT_EQ(store->dictionaryRepresentation(), (Dictionary{{"b", true}}));
  store->removeAllObjects();
  store->synchronize();
  EXPECT_EQ(readFileBack(store->fileURL()), Value(Dictionary{}));

  // A new store (the next run) reads what was written.
  store->setInteger(5, "n");
  store->synchronize();
  EXPECT_EQ(std::make_shared<MVXUserDefaults>()->integerForKey("n"), 5);
}

TEST_F(KitDefaults, SlashesInTheBundleIdentifierBecomeUnderscoresAndNoIdentifierNoLevel) {
  Dictionary info = defaultInfo();
  info["CFBundleIdentifier"] = "com.velmora/Tick/well";
  writeInfo(info);
  EXPECT_EQ(std::make_shared<MVXUserDefaults>()->directoryURL(),
            paths::dataHome() / "com.velmora_Tick_well" / "com.morvex");
  EXPECT_EQ(MVXUserDefaults::generateDirectoryURLForBaseURL("/base", ""),
            fs::path("/base/com.morvex"));
}

TEST_F(KitDefaults, CorruptFileIsMovedAsideAndTheStoreStartsEmpty) {
  fs::path file = std::make_shared<MVXUserDefaults>()->fileURL();
  for (const std::string& garbage :
       {std::string("not a plist \x01\x02"),
        std::string("<?xml version=\"1.0\"?><plist><array/></plist>")}) {
    ASSERT_TRUE(paths::writeFileAtomically(file, garbage).ok());
    LogCapture log;
    auto store = std::make_shared<MVXUserDefaults>();
    EXPECT_TRUE(log.contains("[Tessaly:UserDefaults] failed to read existing UserDefaults file"));
    EXPECT_TRUE(store->dictionaryRepresentation().empty());
    EXPECT_FALSE(fs::exists(file));
    store->setInteger(1, "com.morvex.data_collection");
    store->synchronize();
    EXPECT_EQ(std::make_shared<MVXUserDefaults>()->integerForKey("com.morvex.data_collection"), 1);
    fs::remove(file);
  }
  // Both damaged files are kept beside it, byte for byte.
  auto copies = asideCopies(file);
  ASSERT_EQ(copies.size(), 2u);
}

TEST_F(KitDefaults, AFolderInTheFilesPlaceIsMovedOutOfTheWay) {
  fs::path file = std::make_shared<MVXUserDefaults>()->fileURL();
  fs::create_directories(file / "inner");
  LogCapture log;
  auto store = std::make_shared<MVXUserDefaults>();
  EXPECT_TRUE(
      log.contains("[Tessaly:UserDefaults] found directory where file expected. Removing "
                   "conflicting directory"));
  EXPECT_FALSE(fs::exists(file));
  ASSERT_EQ(asideCopies(file).size(), 1u);
  EXPECT_TRUE(fs::exists(asideCopies(file)[0] / "inner"));
  store->setBool(true, "x");
  store->synchronize();
  EXPECT_TRUE(fs::is_regular_file(file));
}

TEST_F(KitDefaults, AFailedWriteIsLoggedAndRetriedByTheNextSynchronize) {
  auto store = std::make_shared<MVXUserDefaults>();
  // A file where a folder of the store's path must be: neither folder nor file can be made.
  fs::path blocker = store->directoryURL().parent_path();
  ASSERT_TRUE(paths::writeFileAtomically(blocker, std::string("x")).ok());
  store->setInteger(2, "com.morvex.data_collection");
  LogCapture log;
  store->synchronize();
  EXPECT_TRUE(log.contains("[Tessaly:UserDefaults] failed to create directory with error:"));
  EXPECT_TRUE(log.contains("[Tessaly:UserDefaults] Unable to open file for writing at path " +
                           store->fileURL().string()));
  EXPECT_TRUE(store->persistedDataDictionary().empty());
  fs::remove(blocker);
  store->synchronize();
  EXPECT_EQ(readFileBack(store->fileURL())["com.morvex.data_collection"], Value(2));
}

TEST_F(KitDefaults, ManyThreadsSettingAndSynchronisingLeaveTheNewestValuesOnDisk) {
  auto store = std::make_shared<MVXUserDefaults>();
  constexpr int kThreads = 8, kRounds = 60;
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([store, t] {
      for (int i = 0; i < kRounds; ++i) {
        store->setInteger(i, "k" + std::to_string(t));
        if (i % 3 == t % 3) store->synchronize();
        if (t == 0) store->setInteger(i % 2 ? 1 : 2, "com.morvex.data_collection");
      }
    });
  }
  for (auto& th : threads) th.join();
  // The opt-out set last by thread 0 (round kRounds-1 is odd: 1) and every thread's last value
  // reach the file after one more synchronize; nothing older may have landed after them.
  store->synchronize();
  Value onDisk = readFileBack(store->fileURL());
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(onDisk["k" + std::to_string(t)], Value(kRounds - 1)) << t;
  EXPECT_EQ(onDisk["com.morvex.data_collection"], Value(1));
  EXPECT_EQ(store->persistedDataDictionary(), store->dictionaryRepresentation());
  store->synchronize();
  EXPECT_FALSE(store->synchronizeWroteToDisk());
}

TEST_F(KitDefaults, AValueSetWhileASynchronizeWritesIsNotLost) {
  auto store = std::make_shared<MVXUserDefaults>();
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    while (!stop) store->synchronize();
  });
  for (int i = 0; i < 200; ++i) store->setInteger(i, "last");
  stop = true;
  writer.join();
  // Whatever the interleaving, the store still knows the last value is unwritten or written.
  store->synchronize();
  EXPECT_EQ(readFileBack(store->fileURL())["last"], Value(199));
}

TEST_F(KitDefaults, MigrationMovesKeysFromTheApplicationPreferences) {
  UserDefaults& standard = UserDefaults::standard();
  standard.setObject("a-value", "mig.a");
  standard.setInteger(3, "mig.b");
  auto store = MVXUserDefaults::standardUserDefaults();
  store->migrateFromNSUserDefaults({"mig.a", "mig.b", "mig.none"});
  EXPECT_EQ(store->stringForKey("mig.a"), "a-value");
  EXPECT_EQ(store->integerForKey("mig.b"), 3);
  EXPECT_TRUE(standard.objectForKey("mig.a").isNull());
  EXPECT_TRUE(standard.objectForKey("mig.b").isNull());
  EXPECT_EQ(readFileBack(store->fileURL())["mig.a"], Value("a-value"));

  standard.setObject("only-there", "mig.c");
  EXPECT_EQ(store->objectForKeyByMigratingFromNSUserDefaults("mig.c"), Value("only-there"));
  EXPECT_TRUE(standard.objectForKey("mig.c").isNull());
  EXPECT_EQ(readFileBack(store->fileURL())["mig.c"], Value("only-there"));
  EXPECT_TRUE(store->objectForKeyByMigratingFromNSUserDefaults("mig.absent").isNull());
  EXPECT_TRUE(store->objectForKeyByMigratingFromNSUserDefaults("").isNull());
}

}  // namespace
}  // namespace tw::test
