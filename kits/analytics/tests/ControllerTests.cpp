#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "kits/analytics/EventJournal.h"
#include "kits/analytics/ORVFileUtils.h"
#include "kits/analytics/ORVOrisethController.h"
#include "kits/platform/TerminationActivities.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace tw::test {
namespace {

namespace fs = std::filesystem;

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

std::shared_ptr<ORVMetadata> metadata() {
  ORVMetadata::Fields f;
  f.APIKey = std::string("key-1");
  f.installationId = std::string("abc");
  return std::make_shared<ORVMetadata>(std::move(f));
}

// An event line of `bytes` bytes with its line feed, to fill a log file up to a size.
std::string eventLineOfSize(std::size_t bytes) {
  // A longer name steps over a size the payload's length skips (99 to 100 bytes).
  for (std::string name = "custom";; name += 'x')
    // Started a few bytes short of the size (a line is its payload, its name, the payload's
    // figures and 17 bytes more), not from nothing: a long line is then found in a few steps.
    for (std::size_t payload = bytes > name.size() + 40 ? bytes - name.size() - 40 : 2;;
         ++payload) {
      std::string line = "1700000000000\t" + name + "\t" + std::to_string(payload) + "\t{" +
                         std::string(payload - 2, ' ') + "}\n";
      if (line.size() == bytes) return line;
      if (line.size() > bytes) break;
    }
}

std::vector<std::string> linesOf(const fs::path& p) {
  std::ifstream in(p);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

class AnalyticsController : public ::testing::Test {
 protected:
  Dictionary settings(Dictionary analytics, bool collect = true) {
    analytics["url"] = service_.baseURL() + "/spi/v2/events";
    return Dictionary{{"features", Dictionary{{"collect_analytics", collect}}},
                      {"analytics", analytics}};
  }
  void drain(const std::shared_ptr<ORVOrisethController>& c) {
    c->eventQueue()->waitUntilAllOperationsAreFinished();
  }
  // True once the service took `count` uploads and no package is left to send.
  bool waitForUploads(std::size_t count) {
    auto events = root_.path() / "events";
    return pumpMainUntil(
        [&] {
          return service_.requests(KitService::kEvents).size() >= count &&
                 ORVFileUtils::filesWithExtension("multipartmime", events).empty();
        },
        20);
  }
  TempDir root_;
  KitService service_{false};
};

TEST_F(AnalyticsController, WithoutSettingsEventsAreWrittenAndNothingIsSent) {
  auto c = ORVOrisethController::create(metadata(), root_.path(), true, std::nullopt);
  c->logEvent(std::make_shared<ORVCustomEvent>("one", std::nullopt));
  drain(c);
  ASSERT_TRUE(c->ownsFolder());
  auto events = root_.path() / "events";
  // app_installed flushes its file at once; app_launched and "one" share the next.
  auto logs = ORVFileUtils::filesWithExtension("log", events);
  ASSERT_EQ(logs.size(), 1u);
  auto lines = linesOf(*logs.begin());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("\tmetadata\t"), std::string::npos);
  EXPECT_NE(lines[1].find("\tapp_launched\t"), std::string::npos);
  EXPECT_NE(lines[2].find("\tcustom\t"), std::string::npos);
  EXPECT_EQ(ORVFileUtils::filesWithExtension("multipartmime", events).size(), 1u);
  EXPECT_TRUE(ORVFileUtils::filesWithExtension("gz", events).empty());
  EXPECT_TRUE(service_.requests(KitService::kEvents).empty());

  // A second process over the same folder leaves it alone.
  auto second = ORVOrisethController::create(metadata(), root_.path(), false, std::nullopt);
  second->logEvent(std::make_shared<ORVCustomEvent>("two", std::nullopt));
  drain(second);
  EXPECT_FALSE(second->ownsFolder());
  EXPECT_EQ(linesOf(*logs.begin()).size(), 3u);
  EXPECT_EQ(ORVFileUtils::allFilesInDirectory(events).size(), 2u);
}

TEST_F(AnalyticsController, SettingsSendPendingFilesAndRotateBySize) {
  {
    auto c = ORVOrisethController::create(metadata(), root_.path(), true, std::nullopt);
    drain(c);
  }
  // The next start finds the packaged install file and the unsent launch log; with no settings
  // yet their uploads are built cancelled, and the settings' arrival sends them.
  auto c = ORVOrisethController::create(metadata(), root_.path(), false, std::nullopt);
  drain(c);
  EXPECT_TRUE(service_.requests(KitService::kEvents).empty());
  c->initializeSettingsIfNeededWithTessalySettings(
      settings(Dictionary{{"max_byte_size_per_file", 400}}));
  c->setRetryHandlerForTesting(std::make_shared<ORVNetworkRetryHandler>(nullptr));
  // One at a time: the size is tested when the event's block runs, before its own line is out.
  for (int i = 0; i < 10; ++i) {
    c->logEvent(std::make_shared<ORVCustomEvent>("e" + std::to_string(i), std::nullopt));
    drain(c);
  }
  auto events = root_.path() / "events";
  ASSERT_TRUE(pumpMainUntil(
      [&] { return ORVFileUtils::filesWithExtension("multipartmime", events).empty(); }, 20));
  auto requests = service_.requests(KitService::kEvents);
  EXPECT_GE(requests.size(), 4u);  // two left over, at least two rotations
  for (const auto& r : requests) EXPECT_EQ(r["problems"].count(), 0u) << r["problems"];
  EXPECT_TRUE(ORVFileUtils::filesWithExtension("gz", events).empty());
  // Only the current, not yet full file stays.
  EXPECT_LE(ORVFileUtils::filesWithExtension("log", events).size(), 1u);
  // A file of exactly the limit is not full yet: the next event joins it, and the one after that
  // finds it over the limit and retires it with itself as the last line.
  TempDir exact;
  auto e = ORVOrisethController::create(metadata(), exact.path(), false,
                                        settings(Dictionary{{"max_byte_size_per_file", 400}}));
  e->setRetryHandlerForTesting(std::make_shared<ORVNetworkRetryHandler>(nullptr));
  drain(e);
  const auto exactEvents = exact.path() / "events";
  const auto launch = ORVFileUtils::filesWithExtension("log", exactEvents);
  ASSERT_EQ(launch.size(), 1u);
  const fs::path log = *launch.begin();
  const auto launchSize = fs::file_size(log);
  ASSERT_LT(launchSize, 399u);
  std::ofstream(log, std::ios::app) << eventLineOfSize(400 - launchSize);
  ASSERT_EQ(fs::file_size(log), 400u);
  e->logEvent(std::make_shared<ORVCustomEvent>("at", std::nullopt));
  drain(e);
  EXPECT_TRUE(fs::exists(log));
  e->logEvent(std::make_shared<ORVCustomEvent>("over", std::nullopt));
  drain(e);
  EXPECT_TRUE(pumpMainUntil(
      [&] { return ORVFileUtils::filesWithExtension("log", exactEvents).empty(); }, 20));
}

TEST_F(AnalyticsController, ItsActivitiesReachTheTerminationSwitchesByNameAndOptions) {
  auto c = ORVOrisethController::create(metadata(), root_.path(), false, std::nullopt);
  drain(c);
  auto& switches = TerminationActivities::shared();
  using Seen = std::multiset<std::pair<std::string, std::uint64_t>>;
  auto seen = [&] {
    Seen out;
    for (const auto& a : switches.running()) out.emplace(a.reason, a.options);
    return out;
  };
  // The queue is held, so the activities begun by the calls stay running.
  std::atomic<bool> release{false};
  c->eventQueue()->addOperationWithBlock([&] {
    while (!release) std::this_thread::yield();
  });
  c->logEvent(std::make_shared<ORVCustomEvent>("one", std::nullopt));
  c->logCrashEvent(std::make_shared<ORVCrashEvent>(Date{1700000000.25}, 0));
  EXPECT_EQ(seen(),
            (Seen{{"io.oriseth.RecordEvent", 0xC000}, {"io.oriseth.RecordCrashEvent", 0xC000}}));
  // Runs after the crash event's block, before the rotation it queued.
  Seen duringRotation;
  c->eventQueue()->addOperationWithBlock([&] { duringRotation = seen(); });
  release = true;
  drain(c);
  EXPECT_GE(duringRotation.count({"io.oriseth.RotateAndSubmit", 0xC0FF}), 1u);
  EXPECT_TRUE(pumpMainUntil([&] { return switches.count() == 0; }, 20));
}

// Files of this process cannot grow past `bytes` while it lives, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{bytes, saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  sighandler_t previous_;
};

TEST_F(AnalyticsController, OnAFullDiskEventsStayJournalledAndTheFailureIsToldOnce) {
  const auto events = root_.path() / "events";
  std::vector<std::string> lines;
  auto previous = setLogHook([&](LogLevel, std::string_view m) { lines.emplace_back(m); });
  {
    auto c = ORVOrisethController::create(metadata(), root_.path(), false, std::nullopt);
    drain(c);
    // What was written so far is out of the way; the next line starts a file of its own.
    for (const auto& f : ORVFileUtils::filesWithExtension("log", events)) fs::remove(f);
    FileSizeLimit full(1);
    for (int i = 0; i < 3; ++i) {
      c->logEvent(std::make_shared<ORVCustomEvent>("full" + std::to_string(i), std::nullopt));
      drain(c);
    }
    EXPECT_TRUE(ORVFileUtils::filesWithExtension("log", events).empty());
  }
  setLogHook(previous);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            return l.find("Unable to append events") != std::string::npos;
                          }),
            1);
  // Left for the next start, which writes them.
  const auto journals = ORVFileUtils::filesWithExtension(
      "journal", ORVOrisethController::journalDirectoryForRootDirectory(root_.path()));
  ASSERT_EQ(journals.size(), 1u);
  const auto pending = EventJournal::read(*journals.begin()).pending;
  ASSERT_EQ(pending.size(), 3u);
  for (int i = 0; i < 3; ++i)
    EXPECT_NE(pending[i].line.find("full" + std::to_string(i)), std::string::npos);
}

// A run that starts on a full disk has no journal: what it cannot write is gone, and the log says
// so, and how much, as the application quits, rather than that it is kept.
TEST_F(AnalyticsController, ARunWithNoRoomAtAllSaysAtQuitHowManyEventsItLost) {
  LogCapture log;
  {
    FileSizeLimit full(1);
    auto c = ORVOrisethController::create(metadata(), root_.path(), false, std::nullopt);
    for (int i = 0; i < 3; ++i)
      c->logEvent(std::make_shared<ORVCustomEvent>("lost" + std::to_string(i), std::nullopt));
    drain(c);
    // app_launched, the three, and app_terminated.
    NotificationCenter::defaultCenter()->post(
        Notification{"NSApplicationWillTerminateNotification", nullptr, std::nullopt});
    drain(c);
    EXPECT_TRUE(log.contains("5 events of this run could not be written for want of room"))
        << testing::PrintToString(log.lines());
  }
  EXPECT_FALSE(log.contains("kept and written once there is room"));
  const auto lines = log.lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            return l.find("could not be written for want of room") !=
                                   std::string::npos;
                          }),
            1);
}

TEST_F(AnalyticsController, BecomingActiveEndsTheFile) {
  auto c = ORVOrisethController::create(metadata(), root_.path(), false, std::nullopt);
  drain(c);
  auto events = root_.path() / "events";
  EXPECT_TRUE(ORVFileUtils::filesWithExtension("multipartmime", events).empty());
  NotificationCenter::defaultCenter()->post(
      Notification{"NSApplicationDidBecomeActiveNotification", nullptr, std::nullopt});
  drain(c);
  // app_launched and app_became_active went out together in one packaged file.
  EXPECT_EQ(ORVFileUtils::filesWithExtension("multipartmime", events).size(), 1u);
  EXPECT_TRUE(ORVFileUtils::filesWithExtension("log", events).empty());
}

TEST_F(AnalyticsController, CollectionOffRemovesFilesAndDropsEvents) {
  auto c = ORVOrisethController::create(metadata(), root_.path(), true, std::nullopt);
  drain(c);
  c->initializeSettingsIfNeededWithTessalySettings(settings({}, false));
  c->logEvent(std::make_shared<ORVCustomEvent>("late", std::nullopt));
  // A later document changes nothing.
  c->initializeSettingsIfNeededWithTessalySettings(settings({}, true));
  c->logEvent(std::make_shared<ORVCustomEvent>("later", std::nullopt));
  drain(c);
  EXPECT_TRUE(ORVFileUtils::allFilesInDirectory(root_.path() / "events").empty());
  EXPECT_TRUE(service_.requests(KitService::kEvents).empty());
}

// The crash event of the previous run travels alone, under that run's metadata, even when this
// run's first write is still queued (its file does not exist yet when the crash arrives).
TEST_F(AnalyticsController, ThePreviousRunsCrashTravelsAloneUnderThatRunsMetadata) {
  ORVCrashMetadata::writeSerializedDictionary(Dictionary{{"api_key", "previous"}},
                                              root_.path() / "crash_metadata");
  auto c = ORVOrisethController::create(metadata(), root_.path(), false, settings({}));
  c->logCrashEvent(std::make_shared<ORVCrashEvent>(Date{1700000000.25}, 0));
  c->setRetryHandlerForTesting(std::make_shared<ORVNetworkRetryHandler>(nullptr));
  ASSERT_TRUE(waitForUploads(2));
  std::vector<std::string> crashFile, launchFile;
  for (const auto& r : service_.requests(KitService::kEvents)) {
    EXPECT_EQ(r["problems"].count(), 0u) << r["problems"];
    std::vector<std::string> lines;
    std::istringstream text(*r["parts"].at(0)["gunzipped_text"].string());
    for (std::string l; std::getline(text, l);) lines.push_back(l);
    (lines.back().find("\tapp_crashed\t") != std::string::npos ? crashFile : launchFile) = lines;
  }
  ASSERT_EQ(crashFile.size(), 2u);
  EXPECT_EQ(crashFile[0].rfind("1700000000250\tmetadata\t", 0), 0u) << crashFile[0];
  EXPECT_NE(crashFile[0].find("{\"api_key\":\"previous\"}"), std::string::npos);
  EXPECT_EQ(crashFile[1].rfind("1700000000250\tapp_crashed\t", 0), 0u) << crashFile[1];
  EXPECT_NE(crashFile[1].find("\"crash_state\":\"unknown\""), std::string::npos);
  ASSERT_EQ(launchFile.size(), 2u);
  EXPECT_NE(launchFile[0].find("\"api_key\":\"key-1\""), std::string::npos);
  EXPECT_NE(launchFile[1].find("\tapp_launched\t"), std::string::npos);
}

// Log calls from several threads at once, while the queue writes them in runs: each event is in
// the file once, and the journal holds nothing outstanding afterwards.
TEST_F(AnalyticsController, EventsFromManyThreadsAreWrittenOnceEach) {
  auto c = ORVOrisethController::create(metadata(), root_.path(), false,
                                        settings(Dictionary{{"max_byte_size_per_file", 1 << 30}}));
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&c, t] {
      for (int i = 0; i < kEach; ++i) {
        c->logEvent(std::make_shared<ORVCustomEvent>(
            "t" + std::to_string(t) + "-" + std::to_string(i), std::nullopt));
        if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  for (auto& thread : threads) thread.join();
  drain(c);
  auto logs = ORVFileUtils::filesWithExtension("log", root_.path() / "events");
  ASSERT_EQ(logs.size(), 1u);
  std::map<std::string, int> seen;
  for (const auto& line : linesOf(*logs.begin())) {
    auto at = line.find("\"custom_type\":\"");
    if (at != std::string::npos) ++seen[line.substr(at + 15, line.find('"', at + 15) - at - 15)];
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kEach));
  for (const auto& [name, n] : seen) EXPECT_EQ(n, 1) << name;
  auto journals = ORVFileUtils::allFilesInDirectory(
      ORVOrisethController::journalDirectoryForRootDirectory(root_.path()));
  ASSERT_EQ(journals.size(), 1u);
  EXPECT_TRUE(EventJournal::read(*journals.begin()).pending.empty());
}

// A run killed before its queue wrote anything leaves its journal: the next start sends its
// event under its metadata, and the crash event it had been handed alone, under the metadata of
// the run that crashed.
TEST_F(AnalyticsController, AKilledRunsJournalIsSentWithItsCrashUnderThePreviousMetadata) {
  auto journals = ORVOrisethController::journalDirectoryForRootDirectory(root_.path());
  fs::create_directories(journals);
  {
    auto killed = EventJournal::create(journals / "killed.journal", Dictionary{{"api_key", "k"}});
    ASSERT_TRUE(killed);
    ORVCustomEvent event("left", std::nullopt);
    ORVCrashEvent crash(Date{1700000000.25}, 0);
    ASSERT_TRUE(killed->recordCrash(
        crash.identifier(), *ORVWriteEventOperation::generateFormattedLogLineWithEvent(crash)));
    killed->setPreviousMetadata(Dictionary{{"api_key", "previous"}});
    ASSERT_TRUE(killed->record(event.identifier(),
                               *ORVWriteEventOperation::generateFormattedLogLineWithEvent(event)));
  }
  auto c = ORVOrisethController::create(metadata(), root_.path(), false, settings({}));
  c->setRetryHandlerForTesting(std::make_shared<ORVNetworkRetryHandler>(nullptr));
  ASSERT_TRUE(waitForUploads(2));
  std::map<std::string, std::vector<std::string>> files;  // by last line's event name
  for (const auto& r : service_.requests(KitService::kEvents)) {
    std::vector<std::string> lines;
    std::istringstream text(*r["parts"].at(0)["gunzipped_text"].string());
    for (std::string l; std::getline(text, l);) lines.push_back(l);
    std::istringstream last(lines.back());
    std::string millis, name;
    std::getline(last, millis, '\t');
    std::getline(last, name, '\t');
    files[name] = lines;
  }
  // This run's own launch stays in its current file.
  ASSERT_EQ(service_.requests(KitService::kEvents).size(), 2u);
  ASSERT_EQ(files["app_crashed"].size(), 2u);
  EXPECT_EQ(files["app_crashed"][0].rfind("1700000000250\tmetadata\t", 0), 0u);
  EXPECT_NE(files["app_crashed"][0].find("{\"api_key\":\"previous\"}"), std::string::npos);
  ASSERT_EQ(files["custom"].size(), 2u);
  EXPECT_NE(files["custom"][0].find("\"api_key\":\"k\""), std::string::npos);
  EXPECT_NE(files["custom"][1].find("\"custom_type\":\"left\""), std::string::npos);
  // Recovered once: the journal is gone.
  EXPECT_FALSE(fs::exists(journals / "killed.journal"));
}

// The flush timer retires a file that has grown past the limit without a further event, and
// leaves a small one alone.
TEST_F(AnalyticsController, TheFlushTimerRetiresOnlyAnOversizeFile) {
  VirtualClock clock;
  TempDir small, large;
  auto quiet = ORVOrisethController::create(
      metadata(), small.path(), false,
      settings(Dictionary{{"flush_interval_secs", 60}, {"max_byte_size_per_file", 100000}}));
  auto full = ORVOrisethController::create(
      metadata(), large.path(), false,
      settings(Dictionary{{"flush_interval_secs", 60}, {"max_byte_size_per_file", 100}}));
  full->setRetryHandlerForTesting(std::make_shared<ORVNetworkRetryHandler>(nullptr));
  drain(quiet);
  drain(full);
  // The launch file (metadata and app_launched) is over 100 bytes but no event has come since.
  EXPECT_EQ(ORVFileUtils::filesWithExtension("log", large.path() / "events").size(), 1u);
  // The quiet file is exactly at its limit, which is not over it.
  const auto quietLogs = ORVFileUtils::filesWithExtension("log", small.path() / "events");
  ASSERT_EQ(quietLogs.size(), 1u);
  const auto quietSize = fs::file_size(*quietLogs.begin());
  std::ofstream(*quietLogs.begin(), std::ios::app) << eventLineOfSize(100000 - quietSize);
  ASSERT_EQ(fs::file_size(*quietLogs.begin()), 100000u);
  clock.advance(61);
  ASSERT_TRUE(
      pumpMainUntil([&] { return service_.requests(KitService::kEvents).size() == 1; }, 20));
  drain(quiet);
  drain(full);
  EXPECT_TRUE(ORVFileUtils::filesWithExtension("log", large.path() / "events").empty());
  EXPECT_EQ(ORVFileUtils::filesWithExtension("log", small.path() / "events").size(), 1u);
}

}  // namespace
}  // namespace tw::test

#include "kits/analytics/Oriseth.h"
#include "kits/platform/TSYKit.h"

namespace tw::test {
namespace {

TEST(AnalyticsFacade, RegisteredByNameAndSilentBeforeStart) {
  auto cls = runtime::classNamed("Oriseth");
  ASSERT_TRUE(cls);
  auto kit = std::dynamic_pointer_cast<TSYKit>(cls);
  ASSERT_TRUE(kit);
  EXPECT_EQ(kit->bundleIdentifier(), "com.pelworth.oriseth.mac");
  EXPECT_EQ(kit->kitDisplayVersion(), "1.4.0");
  EXPECT_EQ(kit->kitBuildVersion(), "31");
  EXPECT_FALSE(Oriseth::sharedInstance()->orisethController());
  Oriseth::logCustomEventWithName("early");
  Oriseth::logPreviousSessionCrashedOnDate(Date{1.0});
  Oriseth::logPreviousSessionCrashedOnDate(std::nullopt);
  EXPECT_FALSE(Oriseth::sharedInstance()->orisethController());
  EXPECT_TRUE(Oriseth::rootDirectory().string().ends_with("/analytics/v2"));
}

}  // namespace
}  // namespace tw::test

namespace tw::test {
namespace {

// Reads of the files a test planted fail as a disk's read error would.
std::atomic<bool> refusePlanted{false};
int refusePlantedReads(const fs::path& url) {
  const auto name = url.filename().string();
  return refusePlanted && (name.starts_with("planted") || name == "crash_metadata") ? EIO : 0;
}

// Every kind of file the kit reads at start-up (an event log, an archive, a package, a journal,
// the crash metadata), each as a folder, empty, garbage, or refusing to be read: the kit starts,
// records and sends this run's events, sends none of them, and keeps each one aside under a name
// that says why (an empty log, which holds nothing, goes quietly). A log whose last line a kill
// cut still sends its whole lines.
TEST_F(AnalyticsController, FilesItCannotUseAreKeptAsideUnsentAndNewEventsGoOut) {
  const std::string garbage = "\x01\xff garbage\n\tnot\tan\tevent\n\x7f{";
  const std::string wholeLines =
      *ORVWriteEventOperation::logLineWithTimestamp(Date{1700000000}, "metadata", Dictionary{}) +
      "\n" +
      *ORVWriteEventOperation::logLineWithTimestamp(Date{1700000001}, "custom",
                                                    Dictionary{{"custom_type", "whole"}}) +
      "\n";
  struct Mode {
    const char* name;
    std::map<std::string, std::string> kept;  // planted file => its reason
  };
  const std::vector<Mode> modes = {
      {"folder",
       {{"plantedlog.log", "folder"},
        {"plantedgz.gz", "folder"},
        {"plantedpkg.multipartmime", "folder"},
        {"plantedjournal.journal", "folder"},
        {"crash_metadata", "folder"}}},
      {"empty",
       {{"plantedgz.gz", "cut-stream"},
        {"plantedpkg.multipartmime", "not-a-package"},
        {"plantedjournal.journal", "empty"},
        {"crash_metadata", "not-metadata"}}},
      {"garbage",
       {{"plantedlog.log", "not-events"},
        {"plantedgz.gz", "cut-stream"},
        {"plantedpkg.multipartmime", "not-a-package"},
        {"plantedjournal.journal", "not-a-journal"},
        {"crash_metadata", "not-metadata"},
        {"plantedcut.log", "cut-last-line"}}},
      {"refused",
       {{"plantedlog.log", "unreadable"},
        {"plantedgz.gz", "unreadable"},
        {"plantedpkg.multipartmime", "unreadable"},
        {"plantedjournal.journal", "unreadable"},
        {"crash_metadata", "unreadable"}}},
  };
  ORVFileUtils::setReadRefusalForTesting(refusePlantedReads);
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.name);
    TempDir root;
    KitService service(false);
    const auto events = root.path() / "events";
    const auto journals = ORVOrisethController::journalDirectoryForRootDirectory(root.path());
    fs::create_directories(events);
    fs::create_directories(journals);
    const std::vector<fs::path> planted = {
        events / "plantedlog.log", events / "plantedgz.gz", events / "plantedpkg.multipartmime",
        journals / "plantedjournal.journal", root.path() / "crash_metadata"};
    for (const auto& path : planted) {
      if (std::string(mode.name) == "folder") {
        fs::create_directories(path / "inside");
      } else {
        std::ofstream(path, std::ios::binary) << (std::string(mode.name) == "empty" ? "" : garbage);
      }
    }
    if (std::string(mode.name) == "garbage")
      std::ofstream(events / "plantedcut.log", std::ios::binary) << wholeLines << "1700000002\tcus";
    refusePlanted = std::string(mode.name) == "refused";
    LogCapture log;
    Dictionary analytics{{"url", service.baseURL() + "/spi/v2/events"}};
    auto c = ORVOrisethController::create(metadata(), root.path(), false, std::nullopt);
    // The settings come once the start-up has packaged what it found, and send all of it.
    drain(c);
    c->initializeSettingsIfNeededWithTessalySettings(Dictionary{
        {"features", Dictionary{{"collect_analytics", true}}}, {"analytics", analytics}});
    c->setRetryHandlerForTesting(std::make_shared<ORVNetworkRetryHandler>(nullptr));
    c->logEvent(std::make_shared<ORVCustomEvent>("after", std::nullopt));
    // Becoming active ends this run's file, which then goes out.
    NotificationCenter::defaultCenter()->post(
        Notification{"NSApplicationDidBecomeActiveNotification", nullptr, std::nullopt});
    auto sentTexts = [&] {
      std::vector<std::string> texts;
      for (const auto& r : service.requests(KitService::kEvents)) {
        EXPECT_EQ(r["problems"].count(), 0u) << r["problems"];
        const auto* text = r["parts"].at(0)["gunzipped_text"].string();
        texts.push_back(text ? *text : std::string());
      }
      return texts;
    };
    auto sent = [&](const std::string& needle) {
      for (const auto& text : sentTexts())
        if (text.find(needle) != std::string::npos) return true;
      return false;
    };
    EXPECT_TRUE(pumpMainUntil(
        [&] {
          drain(c);
          return sent("\"custom_type\":\"after\"") &&
                 ORVFileUtils::filesWithExtension("multipartmime", events).empty();
        },
        20))
        << testing::PrintToString(log.lines()) << testing::PrintToString(sentTexts());
    if (std::string(mode.name) == "garbage") {
      const auto texts = sentTexts();
      EXPECT_EQ(std::count(texts.begin(), texts.end(), wholeLines), 1);
      EXPECT_FALSE(sent("garbage"));
    }
    c.reset();
    refusePlanted = false;
    // Each planted file is kept aside whole, or, being an empty log, gone.
    for (const auto& path : planted) {
      // The crash metadata's place holds this run's now.
      if (path.filename() == "crash_metadata") {
        EXPECT_TRUE(ORVCrashMetadata::readSerializedDictionaryFromURL(path)) << path;
      } else {
        EXPECT_FALSE(fs::exists(path)) << path;
      }
      const auto it = mode.kept.find(path.filename().string());
      if (it == mode.kept.end()) continue;
      const auto kept =
          ORVFileUtils::damagedDirectory(path.parent_path()) / (it->first + "." + it->second);
      EXPECT_TRUE(fs::exists(kept)) << kept;
      if (std::string(mode.name) == "garbage") {
        EXPECT_EQ(fileText(kept), garbage) << kept;
      }
      EXPECT_TRUE(log.contains(path.string() + " cannot be used (" + it->second + ")")) << path;
    }
    if (std::string(mode.name) == "garbage") {
      const auto cut = ORVFileUtils::damagedDirectory(events) / "plantedcut.log.cut-last-line";
      EXPECT_EQ(fileText(cut), wholeLines + "1700000002\tcus");
      EXPECT_TRUE(log.contains("The last line of " + (events / "plantedcut.log").string() +
                               " was cut; its whole lines are sent"));
    }
  }
  ORVFileUtils::setReadRefusalForTesting(nullptr);
}

}  // namespace
}  // namespace tw::test
