#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/capture/MVXFile.h"
#include "kits/crash/capture/MVXFileReader.h"
#include "kits/crash/reports/MVXFileManager.h"
#include "kits/crash/reports/MVXInternalReport.h"
#include "kits/crash/reports/MVXReport.h"
#include "kits/crash/reports/MVXSettings.h"
#include "kits/crash/reports/tests/ReportFixtures.h"
#include "platform/foundation/Log.h"
#include "platform/testsupport/FileModes.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {
namespace {

namespace fs = std::filesystem;

TEST(CrashSettings, DefaultsWithoutDownloadedSettingsAndBadValuesKeepThem) {
  for (const auto& settings :
       {MVXSettings(), MVXSettings(tw::Dictionary{}),
        MVXSettings(tw::Dictionary{
            {"features", "not a group"},
            {"session",
             tw::Dictionary{{"log_buffer_size", -5}, {"max_custom_key_value_pairs", 1e12}}}})}) {
    EXPECT_TRUE(settings.crashReportingEnabled());
    EXPECT_TRUE(settings.errorReportingEnabled());
    EXPECT_TRUE(settings.customExceptionsEnabled());
    EXPECT_FALSE(settings.userPromptEnabled());
    EXPECT_FALSE(settings.emberlynMorvexEnabled());
    EXPECT_EQ(settings.logBufferSize(), 65536u);
    EXPECT_EQ(settings.errorLogBufferSize(), 65536u);
    EXPECT_EQ(settings.maxCustomExceptions(), 16u);
    EXPECT_EQ(settings.maxCustomKeys(), 16u);
    EXPECT_EQ(settings.betaSuspendDuration(), 3600);
    EXPECT_TRUE(settings.shouldPackageReports());
    EXPECT_TRUE(settings.shouldSubmitReports());
    EXPECT_TRUE(settings.canProcessUrgentReports());
    EXPECT_EQ(settings.interactivePromptCancelTitle(), "Don't Send");
    EXPECT_EQ(settings.interactivePromptAlwaysSendTitle(), "Always Send");
  }
}

TEST(CrashSettings, DownloadedValuesAndTiedAccessors) {
  MVXSettings settings(tw::Dictionary{
      {"features", tw::Dictionary{{"collect_reports", false},
                                  {"collect_logged_exceptions", false},
                                  {"prompt_enabled", true}}},
      {"session", tw::Dictionary{{"log_buffer_size", 1024}, {"max_custom_exception_events", 3}}},
      {"beta", tw::Dictionary{{"update_suspend_duration", 60}}},
      {"prompt", tw::Dictionary{{"title", "Crashed?"}}}});
  EXPECT_FALSE(settings.crashReportingEnabled());
  EXPECT_FALSE(settings.customExceptionsEnabled());
  EXPECT_TRUE(settings.userPromptEnabled());
  EXPECT_EQ(settings.errorLogBufferSize(), 1024u);
  EXPECT_EQ(settings.maxCustomExceptions(), 3u);
  EXPECT_EQ(settings.betaSuspendDuration(), 60);
  EXPECT_EQ(settings.interactivePromptTitle(), "Crashed?");
  EXPECT_EQ(settings.interactivePromptSendTitle(), "Send");
}

TEST(CrashSettings, EnvironmentOverridesTheConfigurationAndIsLogged) {
  tw::LogCapture log;
  ::setenv("MorvexSubmitReports", "NO", 1);
  ::setenv("MorvexReportsEndpoint", "https://127.0.0.1:9", 1);
  MVXSettings settings;
  EXPECT_FALSE(settings.shouldSubmitReports());
  EXPECT_EQ(settings.reportsEndpoint(), "https://127.0.0.1:9");
  ::unsetenv("MorvexSubmitReports");
  ::unsetenv("MorvexReportsEndpoint");
  EXPECT_TRUE(settings.shouldSubmitReports());
  EXPECT_TRUE(log.contains("[Morvex:Crash] override: 'SubmitReports' => 'NO'"));
}

class Store : public ::testing::Test {
 protected:
  TempDir dir_;
  MVXFileManager files_{(dir_.path() / "root").string()};
};

TEST_F(Store, LaunchCreatesTheThreeDirectoriesAndNeverPending) {
  EXPECT_TRUE(files_.prepareForNewLaunch());
  EXPECT_TRUE(fs::is_directory(files_.activePath()));
  EXPECT_TRUE(fs::is_directory(files_.processingPath()));
  EXPECT_TRUE(fs::is_directory(files_.preparedPath()));
  EXPECT_FALSE(fs::exists(files_.pendingPath()));
  EXPECT_EQ(fs::status(files_.activePath()).permissions() & fs::perms::all, fs::perms(0755));
  // A file where a directory must be makes the launch fail, and stops before "prepared".
  MVXFileManager blocked((dir_.path() / "blocked").string());
  fs::create_directories(blocked.structurePath());
  writeFile(blocked.processingPath(), "x");
  EXPECT_FALSE(blocked.prepareForNewLaunch());
  EXPECT_FALSE(fs::exists(blocked.preparedPath()));
}

// Report folders someone made read-only get their mode back, and the kit says so; a folder the
// kit cannot write in even then (another user's) is said once, not at every look.
TEST_F(Store, AModePutBackIsLoggedAndAnUnwritableFolderOnce) {
  ASSERT_TRUE(files_.prepareForNewLaunch());
  for (const auto& dir : {files_.activePath(), files_.processingPath(), files_.preparedPath()})
    fs::permissions(dir, fs::perms(0555));
  // Another user's read-only folder, where the tests may hand one out (as root).
  const std::string foreign = (dir_.path() / "foreign").string();
  fs::create_directories(foreign);
  fs::permissions(foreign, fs::perms(0555));
  const bool haveForeign = ::geteuid() == 0 && ::chown(foreign.c_str(), 65534, 65534) == 0;
  const auto run = runWithFileModesEnforced([&] {
    LogCapture log;
    std::string out = files_.prepareForNewLaunch() ? "ok" : "failed";
    for (int i = 0; i < 3; ++i) files_.createDirectoryAtPath(foreign);
    for (const auto& line : log.lines()) {
      if (line.find("Changed the mode of " + files_.activePath() + " from 555 to 755") !=
          std::string::npos)
        out += " changed";
      if (line.find("Unable to write in " + foreign) != std::string::npos) out += " unwritable";
    }
    return out;
  });
  if (run.unavailable) GTEST_SKIP() << run.why;
  ASSERT_TRUE(run.ok) << run.why;
  EXPECT_EQ(run.output, haveForeign ? "ok changed unwritable" : "ok changed");
  EXPECT_EQ(fs::status(files_.preparedPath()).permissions() & fs::perms::all, fs::perms(0755));
}

// A record that cannot be read (a folder in its place, a file refused to us) reads as nothing, is
// logged, and with deleteIfUnreadable is moved aside with what it holds, never deleted; a report
// whose metadata is such a record is no report.
TEST_F(Store, UnreadableRecordsReadAsNothingAndAreKept) {
  const std::string report = (dir_.path() / "report").string();
  fs::create_directories(report + "/metadata.mvxrecord");
  LogCapture log;
  EXPECT_EQ(MVXFileReadSections(report + "/metadata.mvxrecord", false), std::nullopt);
  EXPECT_FALSE(MVXInternalReport::reportWithPath(report));
  EXPECT_TRUE(fs::is_directory(report + "/metadata.mvxrecord"));
  EXPECT_EQ(MVXFileReadSections(report + "/metadata.mvxrecord", true), std::nullopt);
  EXPECT_FALSE(fs::exists(report + "/metadata.mvxrecord"));

  const std::string refused = report + "/user_compacted_kv.mvxrecord";
  writeFile(refused, "{\"kv\":{\"key\":\"6b\",\"value\":\"76\"}}\n");
  fs::permissions(refused, fs::perms::none);
  const auto run = runWithFileModesEnforced([&] {
    const bool none = !MVXFileReadSections(refused, true);
    return std::string(none ? "none" : "read") + (fs::exists(refused) ? " stayed" : " moved");
  });
  if (run.unavailable) GTEST_SKIP() << run.why;
  ASSERT_TRUE(run.ok) << run.why;
  EXPECT_EQ(run.output, "none moved");
  std::size_t kept = 0;
  for (const auto& entry : fs::directory_iterator(report)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("metadata.mvxrecord.corrupt-", 0) == 0) ++kept;
    if (name.rfind("user_compacted_kv.mvxrecord.corrupt-", 0) == 0) {
      fs::permissions(entry.path(), fs::perms::owner_read);
      EXPECT_EQ(readFile(entry.path().string()), "{\"kv\":{\"key\":\"6b\",\"value\":\"76\"}}\n");
      ++kept;
    }
  }
  EXPECT_EQ(kept, 2u);
}

TEST_F(Store, HiddenEntriesAreNeverListedMovedOrRemoved) {
  ASSERT_TRUE(files_.prepareForNewLaunch());
  writeFile(files_.activePath() + "/a", "1");
  writeFile(files_.activePath() + "/.hidden", "2");
  std::vector<std::string> seen;
  files_.enumerateFilesInActiveDirectoryUsingBlock(
      [&](const std::string& path, const std::string&) { seen.push_back(path); });
  EXPECT_EQ(seen, std::vector<std::string>{files_.activePath() + "/a"});
  EXPECT_TRUE(files_.moveItemsFromDirectory(files_.activePath(), files_.processingPath()));
  EXPECT_TRUE(fs::exists(files_.processingPath() + "/a"));
  EXPECT_TRUE(fs::exists(files_.activePath() + "/.hidden"));
  EXPECT_TRUE(files_.removeContentsOfAllPaths());
  EXPECT_TRUE(fs::exists(files_.activePath() + "/.hidden"));
  EXPECT_FALSE(fs::exists(files_.processingPath() + "/a"));
}

TEST_F(Store, MovesStopAtTheFirstFailureAndRemovalsTryEveryDirectory) {
  ASSERT_TRUE(files_.prepareForNewLaunch());
  tw::LogCapture log;
  EXPECT_FALSE(files_.moveItemAtPath(std::nullopt, files_.preparedPath()));
  EXPECT_TRUE(log.contains("[FileManager] Failed to move file, inputs invalid"));
  // Two entries, the target already holding one of the names: one moves, one fails.
  fs::create_directories(files_.activePath() + "/e1");
  fs::create_directories(files_.activePath() + "/e2");
  fs::create_directories(files_.processingPath() + "/e1");
  fs::create_directories(files_.processingPath() + "/e2");
  writeFile(files_.processingPath() + "/e1/keep", "x");
  writeFile(files_.processingPath() + "/e2/keep", "x");
  EXPECT_FALSE(files_.moveItemsFromDirectory(files_.activePath(), files_.processingPath()));
  EXPECT_EQ(files_.activePathContents().size(), 2u);
  EXPECT_TRUE(log.contains("[FileManager] Failed to move file: "));
  EXPECT_FALSE(files_.removeItemAtPath(std::nullopt));
  EXPECT_FALSE(files_.removeItemAtPath(files_.rootPath() + "/missing"));
  EXPECT_FALSE(files_.fileSizeAtPath(files_.rootPath() + "/missing"));
  EXPECT_TRUE(log.contains("[Client] Unable to read file size: "));
}

TEST_F(Store, RemovingAllStillEmptiesActiveWhenProcessingFails) {
  ASSERT_TRUE(files_.prepareForNewLaunch());
  writeFile(files_.activePath() + "/r", "x");
  // An entry of "pending" that cannot be removed (root ignores the mode, so there the failure
  // is not checked): the directories after it are emptied all the same.
  fs::create_directories(files_.pendingPath());
  writeFile(files_.pendingPath() + "/old", "x");
  fs::permissions(files_.pendingPath(), fs::perms::owner_read | fs::perms::owner_exec);
  const bool ok = files_.removeContentsOfAllPaths();
  fs::permissions(files_.pendingPath(), fs::perms::owner_all);
  EXPECT_TRUE(files_.activePathContents().empty());
  if (::geteuid() != 0) {
    EXPECT_FALSE(ok);
  }
}

TEST_F(Store, LegacyLayoutRemovesTheWholeRoot) {
  ASSERT_TRUE(files_.prepareForNewLaunch());
  writeFile(files_.activePath() + "/x", "1");
  EXPECT_TRUE(files_.removeLegacyDirectories());
  EXPECT_TRUE(fs::exists(files_.activePath() + "/x"));
  writeFile(files_.rootPath() + "/sendable", "");
  tw::LogCapture log;
  EXPECT_TRUE(files_.removeLegacyDirectories());
  EXPECT_FALSE(fs::exists(files_.rootPath()));
  EXPECT_TRUE(log.contains("[Morvex:FileManager] Removed legacy structure at "));
}

TEST_F(Store, OneProcessPerReportDirectory) {
  ASSERT_TRUE(files_.prepareForNewLaunch());
  auto own = files_.setupNewPathForExecutionIdentifier("current");
  ASSERT_TRUE(own);
  EXPECT_TRUE(MVXFileManager::isReportDirectoryLocked(*own));
  EXPECT_FALSE(MVXFileManager::lockReportDirectory(*own));
  // A directory in processing held by another live process is skipped, then taken up once
  // that process is gone.
  const std::string other = files_.processingPath() + "/other";
  writeReport(other, "other");
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = fork();
  if (child == 0) {
    auto lock = MVXFileManager::lockReportDirectory(other);
    char c = lock ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(release[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  int visited = 0;
  files_.enumerateReportsInProcessingDirectoryUsingBlock(
      [&](const std::shared_ptr<MVXInternalReport>&, const std::string&) { ++visited; });
  EXPECT_EQ(visited, 0);
  (void)!::write(release[1], &c, 1);
  ::waitpid(child, nullptr, 0);
  files_.enumerateReportsInProcessingDirectoryUsingBlock(
      [&](const std::shared_ptr<MVXInternalReport>& report, const std::string& path) {
        ++visited;
        ASSERT_TRUE(report);
        EXPECT_EQ(report->identifier(), "other");
        EXPECT_EQ(path, other);
      });
  EXPECT_EQ(visited, 1);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

TEST_F(Store, TemporaryLeftoversGoAtLaunchUnlessSomeoneIsWritingThem) {
  ASSERT_TRUE(files_.prepareForNewLaunch());
  const std::string package = files_.preparedPath() + "/B.multipartmime";
  const std::string temporary = MVXFileManager::temporaryPathForPath(package);
  EXPECT_EQ(temporary, files_.preparedPath() + "/.tmp-B.multipartmime");
  writeFile(temporary, "cut");
  const std::string busy = files_.preparedPath() + "/.tmp-busy";
  writeFile(busy, "being written");
  auto writing = tw::FileLock::tryLock(busy, false);
  ASSERT_TRUE(writing);
  const std::string report = files_.processingPath() + "/r";
  writeReport(report, "r");
  writeFile(report + "/.tmp-signal.mvxrecord.symbolicated", "cut");
  EXPECT_TRUE(files_.preparedPathContents().empty());
  EXPECT_EQ(files_.removeTemporaryLeftovers(), 2u);
  EXPECT_FALSE(fs::exists(temporary));
  EXPECT_TRUE(fs::exists(busy));
  EXPECT_FALSE(fs::exists(report + "/.tmp-signal.mvxrecord.symbolicated"));
}

TEST(InternalReport, FactsFromTheMetadataAndCrashRecords) {
  TempDir dir;
  const std::string path = (dir.path() / "exec").string();
  writeReport(path, "exec-1", /*apiKey=*/"key", /*startedAt=*/1700000000);
  auto report = MVXInternalReport::reportWithPath(path);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->identifier(), "exec-1");
  EXPECT_EQ(report->directoryName(), "exec");
  EXPECT_EQ(report->APIKey(), "key");
  EXPECT_EQ(report->dateCreated(), tw::Date{1700000000});
  EXPECT_EQ(report->OSVersion(), "12.5");
  EXPECT_EQ(report->OSBuildVersion(), "6.1.0");
  EXPECT_EQ(report->bundleVersion(), "42");
  EXPECT_EQ(report->bundleShortVersionString(), "1.2");
  EXPECT_FALSE(report->needsToBeSubmitted());
  EXPECT_FALSE(report->isCrash());

  // Only a recorded error: to be sent, but no crash and no crash date.
  writeFile(path + "/errors_a.mvxrecord", "{\"error\":{}}\n");
  EXPECT_TRUE(report->needsToBeSubmitted());
  EXPECT_FALSE(report->isCrash());
  EXPECT_FALSE(report->crashedOnDate());
  // An exception alone is a crash without a date; a signal brings one; a Mach record wins.
  writeFile(path + "/exception.mvxrecord", "{\"exception\":{\"time\":5}}\n");
  EXPECT_TRUE(report->isCrash());
  EXPECT_FALSE(report->crashedOnDate());
  writeFile(path + "/signal.mvxrecord", "{\"signal\":{\"time\":1700000100}}\n");
  EXPECT_EQ(report->crashedOnDate(), tw::Date{1700000100});
  writeFile(path + "/mach_exception.mvxrecord", "{\"mach_exception\":{\"time\":1700000050}}\n");
  EXPECT_EQ(report->crashedOnDate(), tw::Date{1700000050});

  std::vector<std::string> symbolicatable;
  report->enumerateSymbolicatableFilesInContent(
      [&](const std::string& p) { symbolicatable.push_back(p); });
  EXPECT_EQ(symbolicatable, (std::vector<std::string>{path + "/exception.mvxrecord",
                                                      path + "/mach_exception.mvxrecord",
                                                      path + "/signal.mvxrecord"}));
}

TEST(InternalReport, NoSessionIdMeansNoReportAndCutMetadataKeepsItsWholeLines) {
  TempDir dir;
  const std::string path = (dir.path() / "exec").string();
  fs::create_directories(path);
  writeFile(path + "/metadata.mvxrecord", "{\"identity\":{\"api_key\":\"k\"}}\n");
  tw::LogCapture log;
  EXPECT_FALSE(MVXInternalReport::reportWithPath(path));
  EXPECT_TRUE(log.contains("[Morvex:Crash] Unable to read identifier at path " + path));
  EXPECT_FALSE(MVXInternalReport::reportWithPath((dir.path() / "missing").string()));
  EXPECT_FALSE(MVXInternalReport::create("", "id"));
  EXPECT_FALSE(MVXInternalReport::create(path, ""));

  // The metadata cut at every byte of its last line: the whole lines still give their facts.
  writeReport(path, "cut", "k", 10);
  const std::string whole = readFile(path + "/metadata.mvxrecord");
  const std::size_t lastLine = whole.rfind('\n', whole.size() - 2) + 1;
  for (std::size_t cut = lastLine; cut < whole.size(); ++cut) {
    writeFile(path + "/metadata.mvxrecord", whole.substr(0, cut));
    auto report = MVXInternalReport::reportWithPath(path);
    ASSERT_TRUE(report) << cut;
    EXPECT_EQ(report->identifier(), "cut");
    EXPECT_EQ(report->OSVersion(), "12.5");
  }
}

// One crash context per process: these cases share it.
class ReportKeys : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static TempDir current;
    static std::string dirText = current.path().string();
    MVXContextSettings settings;
    settings.reportDirectory = dirText.c_str();
    settings.reportIdentifier = "current";
    settings.maxCustomKeys = 64;
    settings.logBufferSize = 4096;
    ASSERT_TRUE(MVXContextInitialize(&settings));
  }
  TempDir dir_;
};

TEST_F(ReportKeys, PrefetchedReportsAreReadOnlyOthersWriteIntoTheirOwnFiles) {
  const std::string path = (dir_.path() / "earlier").string();
  writeReport(path, "earlier");
  auto internal = MVXInternalReport::reportWithPath(path);
  ASSERT_TRUE(internal);

  MVXReport readOnly(internal, true);
  EXPECT_FALSE(readOnly.canRecordNewValues());
  readOnly.setObjectValue("v", "k");
  EXPECT_FALSE(fs::exists(path + "/user_incremental_kv.mvxrecord"));

  MVXReport report(internal);
  EXPECT_TRUE(report.canRecordNewValues());
  report.setObjectValue("value \"quoted\"", "key");
  report.setUserEmail("someone@example.invalid");
  EXPECT_TRUE(fs::exists(path + "/user_incremental_kv.mvxrecord"));
  EXPECT_TRUE(fs::exists(path + "/internal_incremental_kv.mvxrecord"));
  EXPECT_EQ(report.customKeys()["key"], tw::Value("value \"quoted\""));
  EXPECT_TRUE(readOnly.customKeys().empty());
  EXPECT_EQ(report.identifier(), "earlier");
}

TEST_F(ReportKeys, CompactionRunsWithinTheWriteAndOutlivesNothing) {
  const std::string path = (dir_.path() / "earlier").string();
  writeReport(path, "earlier");
  {
    auto report = std::make_shared<MVXReport>(MVXInternalReport::reportWithPath(path));
    const std::uint32_t threshold = report->userKVStorage().compactionThreshold;
    ASSERT_GT(threshold, 0u);
    for (std::uint32_t i = 0; i < threshold; ++i)
      report->setObjectValue(std::to_string(i), "k" + std::to_string(i % 5));
    // The threshold's write compacted at once: nothing is left queued for a report that goes.
    EXPECT_TRUE(fs::exists(path + "/user_compacted_kv.mvxrecord"));
    EXPECT_FALSE(fs::exists(path + "/user_incremental_kv.mvxrecord"));
    report->setObjectValue("last", "k0");
  }
  MVXContextLoggingQueue()->sync([] {});
  MVXReport again(MVXInternalReport::reportWithPath(path));
  auto keys = again.customKeys();
  EXPECT_EQ(keys.size(), 5u);
  EXPECT_EQ(keys["k0"], tw::Value("last"));
  // The context's own files were not touched.
  EXPECT_FALSE(fs::exists(gMVXContext.readonly->logging.user.compactedPath));
}

}  // namespace
}  // namespace tw::test
