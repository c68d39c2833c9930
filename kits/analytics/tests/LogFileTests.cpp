#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "kits/analytics/EventLogAppender.h"
#include "kits/analytics/ORVLogger.h"
#include "kits/analytics/ORVMetadata.h"
#include "kits/analytics/ORVWriteEventOperation.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UUID.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {
namespace {

namespace fs = std::filesystem;

// GCC 12 reports a false maybe-uninitialized on filling optional<string> members at -O2.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

struct Line {
  std::string time, name, length, payload;
};

std::vector<Line> readLines(const fs::path& p) {
  const std::string all = tw::test::fileText(p);
  EXPECT_TRUE(all.empty() || all.back() == '\n');
  std::vector<Line> out;
  std::istringstream lines(all);
  for (std::string l; std::getline(lines, l);) {
    Line line;
    std::istringstream fields(l);
    std::getline(fields, line.time, '\t');
    std::getline(fields, line.name, '\t');
    std::getline(fields, line.length, '\t');
    std::getline(fields, line.payload);
    EXPECT_EQ(std::to_string(line.payload.size()), line.length) << l;
    out.push_back(line);
  }
  return out;
}

class AnalyticsLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orv-" + makeUUIDString());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::shared_ptr<ORVMetadata> metadata(
      const std::optional<std::string>& beta = std::nullopt) {
    ORVMetadata::Fields f;
    f.APIKey = "key";
    f.betaToken = ORVMetadata::unwrapBetaToken(beta);
    f.executionIdentifier = "exec";
    f.hostModel = "PC1,1";
    f.installationId = "inst";
    f.numberOfCores = 8;
    f.bundleIdentifier = "com.velmora.Tickwell";
    return std::make_shared<ORVMetadata>(std::move(f));
  }
  bool write(std::shared_ptr<const ORVEvent> e, std::shared_ptr<const ORVMetadataSerializable> m,
             const fs::path& p) {
    auto op = std::make_shared<ORVWriteEventOperation>(std::move(e), std::move(m), p);
    op->start();
    return op->success();
  }
  fs::path dir_;
};

TEST_F(AnalyticsLogFile, NewFileGetsMetadataThenOneLinePerEvent) {
  auto file = dir_ / "a.log";
  auto crash = std::make_shared<ORVCrashEvent>(Date{1700000000.9876}, 0);
  ASSERT_TRUE(write(crash, metadata("2:tok"), file));
  ORVCustomEvent custom("caf\xC3\xA9", Dictionary{{"k", "\xE2\x82\xAC/\t"}});
  ASSERT_TRUE(write(std::make_shared<ORVCustomEvent>(custom), metadata(), file));
  auto lines = readLines(file);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].time, "1700000000987");
  EXPECT_EQ(lines[0].name, "metadata");
  EXPECT_EQ(lines[1].time, lines[0].time);
  EXPECT_EQ(lines[1].name, "app_crashed");
  EXPECT_EQ(lines[2].name, "custom");
  auto meta = Json::parse(lines[0].payload);
  ASSERT_TRUE(meta);
  EXPECT_EQ((*meta)["started_at"], Value(1700000000));
  EXPECT_EQ((*meta)["beta_tester_token"], Value("tok"));
  EXPECT_EQ((*meta)["model"], (*meta)["machine"]);
  EXPECT_EQ((*meta)["generator"], Value("Oriseth Mac SDK/1.4.0"));
  EXPECT_EQ((*meta)["platform_code"], Value(0));
  EXPECT_EQ((*meta)["jailbroken"], Value(false));
  EXPECT_EQ((*meta)["cores"], Value(8));
  EXPECT_TRUE((*meta)["os_build"].isNull());  // a missing source leaves its key out
  auto payload = Json::parse(lines[2].payload);
  ASSERT_TRUE(payload);
  EXPECT_EQ((*payload)["custom_attributes"]["k"], Value("\xE2\x82\xAC/\t"));
  EXPECT_EQ((*payload)["custom_type"], Value("caf\xC3\xA9"));
}

TEST_F(AnalyticsLogFile, BetaTokenUnwrapping) {
  EXPECT_EQ(ORVMetadata::unwrapBetaToken("2:abc"), "abc");
  for (auto t : {"3:abc", "abc", "2:a:b", ""})
    EXPECT_EQ(ORVMetadata::unwrapBetaToken(t), std::nullopt);
  EXPECT_EQ(ORVMetadata::unwrapBetaToken(std::nullopt), std::nullopt);
}

TEST_F(AnalyticsLogFile, CrashMetadataFromThePreviousRun) {
  auto file = dir_ / "crash_metadata";
  auto previous = metadata()->dictionaryRepresentationWithStartTime(1600000000);
  ASSERT_TRUE(ORVCrashMetadata::writeSerializedDictionary(previous, file));
  auto read = ORVCrashMetadata::readSerializedDictionaryFromURL(file);
  ASSERT_TRUE(read);
  auto log = dir_ / "b.log";
  ASSERT_TRUE(write(std::make_shared<ORVCrashEvent>(Date{1700000000}, 0),
                    std::make_shared<ORVCrashMetadata>(*read), log));
  auto lines = readLines(log);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].time, "1700000000000");
  EXPECT_EQ((*Json::parse(lines[0].payload))["started_at"], Value(1600000000));

  EXPECT_FALSE(ORVCrashMetadata::readSerializedDictionaryFromURL(dir_ / "missing"));
  std::ofstream(dir_ / "bad") << "{not json";
  EXPECT_FALSE(ORVCrashMetadata::readSerializedDictionaryFromURL(dir_ / "bad"));
  std::ofstream(dir_ / "array") << "[1]";
  EXPECT_FALSE(ORVCrashMetadata::readSerializedDictionaryFromURL(dir_ / "array"));
  EXPECT_FALSE(ORVCrashMetadata::writeSerializedDictionary({}, dir_ / "no" / "such"));
}

TEST_F(AnalyticsLogFile, DirectoriesEmptyFilesAndFailedAppends) {
  EXPECT_FALSE(write(ORVLifecycleEvent::appLaunchedEvent(), metadata(), dir_));
  // An empty file left by an earlier failed write still gets its metadata line.
  auto empty = dir_ / "empty.log";
  std::ofstream(empty).close();
  ASSERT_TRUE(write(ORVLifecycleEvent::appLaunchedEvent(), metadata(), empty));
  EXPECT_EQ(readLines(empty).size(), 2u);
  // No metadata object: nothing is written and no file is made.
  EXPECT_FALSE(write(ORVLifecycleEvent::appLaunchedEvent(), nullptr, dir_ / "none.log"));
  EXPECT_FALSE(fs::exists(dir_ / "none.log"));

  // A file size limit stops the second line halfway: the file is cut back to whole lines.
  auto limited = dir_ / "limited.log";
  ASSERT_TRUE(write(ORVLifecycleEvent::appLaunchedEvent(), metadata(), limited));
  auto size = fs::file_size(limited);
  pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{static_cast<rlim_t>(size + 20), static_cast<rlim_t>(size + 20)};
    setrlimit(RLIMIT_FSIZE, &lim);
    auto op = std::make_shared<ORVWriteEventOperation>(ORVLifecycleEvent::appLaunchedEvent(),
                                                       metadata(), limited);
    op->start();
    _exit(op->success() ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(fs::file_size(limited), size);
  EXPECT_EQ(readLines(limited).size(), 2u);
}

// The queue's appender: a run of lines goes out with one append, and one that fails halfway is
// cut back as a whole, so the file keeps whole lines only.
TEST_F(AnalyticsLogFile, ARunOfLinesIsAppendedWholeOrNotAtAll) {
  EventLogAppender appender;
  EXPECT_FALSE(appender.target(dir_));
  auto path = dir_ / "run.log";
  ASSERT_TRUE(appender.target(path));
  appender.add("1\ta");
  appender.add("2\tb");
  EXPECT_EQ(appender.length(), 8);
  ASSERT_TRUE(appender.close());
  EXPECT_EQ(fs::file_size(path), 8u);
  pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{20, 20};
    setrlimit(RLIMIT_FSIZE, &lim);
    EventLogAppender limited;
    bool ok = limited.target(path);
    limited.add("3\tc");
    limited.add(std::string(100, 'x'));
    ok = ok && !limited.flush() && limited.length() == 8;
    // What comes after the failed run still lands on a line of its own.
    limited.add("4\td");
    ok = ok && limited.close();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(tw::test::fileText(path), "1\ta\n2\tb\n4\td\n");
}

TEST(AnalyticsLogger, DebugLinesOnlyInDebugModeAttributeWarningsAlways) {
  LogCapture log;
  auto& logger = ORVLogger::sharedLogger();
  logger.setDebugMode(false);
  logger.log("Initialized");
  ORVAttributeDictionary d;
  d.addAttribute(Value("v"), Value(1));
  EXPECT_FALSE(log.contains("Initialized"));
  EXPECT_TRUE(log.contains("keys must be of type NSString"));
  logger.setDebugMode(true);
  logger.log("Initialized");
  logger.logWithLabel("WriteOperation", "Failed to close file, error: %s", "boom");
  logger.setDebugMode(false);
  EXPECT_TRUE(log.contains("[Oriseth] Initialized"));
  EXPECT_TRUE(log.contains("[Oriseth:WriteOperation] Failed to close file, error: boom"));
}

}  // namespace
}  // namespace tw::test
