#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kits/crash/Morvex.h"
#include "kits/crash/reports/MVXFileManager.h"
#include "kits/crash/reports/tests/ReportFixtures.h"
#include "kits/crash/tests/CrashKitFixture.h"
#include "platform/foundation/Json.h"

namespace fs = std::filesystem;

namespace tw::test {
namespace {

struct ChildRun {
  int status = -1;
  std::string out, err;
  bool exitedWith(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
  bool killedBy(int signal) const { return WIFSIGNALED(status) && WTERMSIG(status) == signal; }
  std::string reportPath() const {
    const auto at = out.find("report ");
    return at == std::string::npos ? std::string()
                                   : out.substr(at + 7, out.find('\n', at) - at - 7);
  }
  std::size_t count(const std::string& line) const {
    std::size_t n = 0;
    for (auto at = err.find(line); at != std::string::npos; at = err.find(line, at + 1)) ++n;
    return n;
  }
};

std::string hexDecode(const Value& value) {
  const std::string* hex = value.string();
  std::string out;
  if (hex == nullptr) return out;
  for (std::size_t i = 0; i + 1 < hex->size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex->substr(i, 2), nullptr, 16)));
  }
  return out;
}

class CrashKitFacade : public CrashKitTest {
 protected:
  void SetUp() override {
    CrashKitTest::SetUp();
    auto& service = startService();
    ::setenv("SettingsEndpoint", service.baseURL().c_str(), 1);
    writeInfo(info());
  }
  void TearDown() override {
    ::unsetenv("SettingsEndpoint");
    CrashKitTest::TearDown();
  }

  // One launch of the child in this test's folders.
  ChildRun launch(const std::string& mode) {
    const fs::path err = xdg_->root() / "child.err";
    std::string command = "TW_TEST_CA='";
    command += service_->caFile().string();
    command += "' exec '";
    command += TW_CRASH_KIT_CHILD;
    command += "' '";
    command += bundleDir().string();
    command += "' ";
    command += mode;
    command += " 2>'";
    command += err.string();
    command += "'";
    ChildRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    run.status = ::pclose(pipe);
    run.err = readFile(err.string());
    return run;
  }

  fs::path bundleDir() const { return xdg_->root() / ("bundle-" + std::to_string(bundles_ - 1)); }

  static std::vector<Value> lines(const std::string& path) {
    return MVXInternalReport::readMVXFileAtPath(path).value_or(std::vector<Value>{});
  }

  // The key-value record's entries, compacted file first, later lines over earlier ones.
  static std::map<std::string, std::optional<std::string>> entries(const std::string& dir,
                                                                   const std::string& kind) {
    std::map<std::string, std::optional<std::string>> out;
    for (const char* part : {"_compacted_kv.mvxrecord", "_incremental_kv.mvxrecord"}) {
      std::string path = dir;
      path += "/";
      path += kind;
      path += part;
      for (const Value& line : lines(path)) {
        const Value& kv = line["kv"];
        if (kv["value"].isNull()) {
          out[hexDecode(kv["key"])] = std::nullopt;
        } else {
          out[hexDecode(kv["key"])] = hexDecode(kv["value"]);
        }
      }
    }
    return out;
  }
};

// Eight threads start the kit at once with the registry: one start, one report directory; user
// identity, keys, a recorded error and a custom exception reach their record files.
TEST_F(CrashKitFacade, StartsOnceAndRecordsReachTheirFiles) {
  auto run = launch("record");
  ASSERT_TRUE(run.exitedWith(0)) << run.err;
  EXPECT_EQ(run.count("[Morvex] Version 3.12.0 (136)"), 1u) << run.err;
  const std::string dir = run.reportPath();
  ASSERT_FALSE(dir.empty()) << run.err;
  EXPECT_EQ(MVXFileManager().activePathContents(), std::vector<std::string>{dir});

  const auto internal = entries(dir, "internal");
  EXPECT_EQ(internal.at("com.morvex.user-id"), std::optional<std::string>("user-7"));
  EXPECT_EQ(internal.at("com.morvex.user-name"), std::optional<std::string>("Ada"));
  EXPECT_EQ(internal.at("com.morvex.user-email"), std::optional<std::string>("ada@example.test"));
  EXPECT_TRUE(internal.count("com.morvex.kit-start-time"));
  const auto user = entries(dir, "user");
  EXPECT_EQ(user.at("colour"), std::optional<std::string>("blue"));
  EXPECT_EQ(user.at("answer"), std::optional<std::string>("42"));
  EXPECT_EQ(user.at("ratio"), std::optional<std::string>("1.5"));
  EXPECT_EQ(user.at("flag"), std::optional<std::string>("1"));
  EXPECT_EQ(user.at("temporary"), std::nullopt);

  auto errors = lines(dir + "/errors_a.mvxrecord");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(hexDecode(errors[0]["error"]["domain"]), "com.velmora.Tickwell.Store");
  EXPECT_EQ(errors[0]["error"]["code"], Value(17));
  auto custom = lines(dir + "/custom_exception_a.mvxrecord");
  ASSERT_EQ(custom.size(), 1u);
  EXPECT_EQ(hexDecode(custom[0]["exception"]["name"]), "ParseFailure");
  EXPECT_EQ(hexDecode(custom[0]["exception"]["reason"]), "line 3 is not a timer");
}

// Fifty times: a crash, then a launch killed at a random moment of its work (reading,
// symbolicating, packaging, uploading or deleting). No report is ever lost or packaged twice, and
// the first launch left alone finishes every one of them. A process that dies between the
// service's receipt and its own deletion of the package sends that same package again at the next
// launch (the service sees the same package identifier, the multipart boundary, and the same
// report identifier): delivery is at least once, and the package identifier is what tells the
// service that it already has the report.
TEST_F(CrashKitFacade, KilledLaunchesNeverLoseOrRepackageAReport) {
  MVXFileManager files;
  // The distinct packages the service received for each report, from the requests logged
  // since the last look.
  std::map<std::string, std::set<std::string>> packages;
  std::uint64_t logRead = 0;
  auto uploadsOf = [&](const std::string& session) {
    for (const Value& request : service_->requestsSince(logRead, KitService::kReports)) {
      for (const Value& part : *request["parts"].array()) {
        if (part["name"] == Value("report_id") && part["text"].string()) {
          packages[*part["text"].string()].insert(request["headers"]["Content-Type"].description());
        }
      }
    }
    const auto found = packages.find(session);
    return found == packages.end() ? std::size_t{0} : found->second.size();
  };
  // Where a report may wait: its directory (active or processing) or a package not yet sent.
  auto onDisk = [&](const std::string& session) {
    std::error_code ec;
    if (fs::exists(files.activePath() + "/" + session, ec)) return true;
    if (fs::exists(files.processingPath() + "/" + session, ec)) return true;
    for (const auto& path : files.preparedPathContents()) {
      std::ifstream in(path, std::ios::binary);
      std::string body((std::istreambuf_iterator<char>(in)), {});
      if (body.find(session) != std::string::npos) return true;
    }
    return false;
  };

  // A launch's whole work, timed once: the kill moments are drawn across it and a little past its
  // end, so no round waits on a launch that has long finished (the build's speed sets the span).
  ASSERT_TRUE(launch("crash").killedBy(SIGILL));
  const auto began = std::chrono::steady_clock::now();
  const auto whole = launch("launch");
  ASSERT_TRUE(whole.exitedWith(0)) << whole.err;
  const auto workMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - began)
                          .count();
  const unsigned seed = randomSeed();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delayMs(
      0, static_cast<int>(std::clamp<std::int64_t>(workMs * 5 / 4, 50, 500)));
  const std::string bundle = bundleDir().string();
  std::vector<std::string> sessions;
  for (int i = 0; i < 50; ++i) {
    auto crashed = launch("crash");
    ASSERT_TRUE(crashed.killedBy(SIGILL)) << crashed.err;
    sessions.push_back(fs::path(crashed.reportPath()).filename().string());

    ::setenv("TW_TEST_CA", service_->caFile().c_str(), 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* args[] = {TW_CRASH_KIT_CHILD, bundle.c_str(), "launch", nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, TW_CRASH_KIT_CHILD, &actions, nullptr,
                                      const_cast<char* const*>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::unsetenv("TW_TEST_CA");
    ASSERT_EQ(spawned, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (const std::string& session : sessions) {
      const std::size_t uploads = uploadsOf(session);
      ASSERT_LE(uploads, 1u) << "seed " << seed << ", round " << i;
      if (uploads == 0) {
        ASSERT_TRUE(onDisk(session)) << "seed " << seed << ", round " << i;
      }
    }
  }

  auto last = launch("launch");
  ASSERT_TRUE(last.exitedWith(0)) << last.err;
  EXPECT_NE(last.out.find("done 1"), std::string::npos) << last.err;
  for (const std::string& session : sessions) {
    EXPECT_EQ(uploadsOf(session), 1u) << "seed " << seed << ", " << session;
  }
}

// The forced test crash leaves a crash report that the next launch uploads, once.
TEST_F(CrashKitFacade, TestCrashIsUploadedByTheNextLaunch) {
  auto crashed = launch("crash");
  ASSERT_TRUE(crashed.killedBy(SIGILL)) << crashed.status << crashed.err;
  const std::string dir = crashed.reportPath();
  ASSERT_TRUE(fs::exists(dir + "/signal.mvxrecord")) << crashed.err;
  // The crashed thread is the main queue's; the capture core's own serial queues are named.
  const Value* queues = nullptr;
  const auto records = lines(dir + "/signal.mvxrecord");
  for (const Value& line : records) {
    if (line["dispatch_queue_names"].array()) queues = &line["dispatch_queue_names"];
  }
  ASSERT_TRUE(queues);
  EXPECT_NE(std::find(queues->array()->begin(), queues->array()->end(), Value("main-thread")),
            queues->array()->end());
  EXPECT_NE(std::find(queues->array()->begin(), queues->array()->end(),
                      Value("com.pelworth.morvex.mac.logging")),
            queues->array()->end())
      << Json::write(*queues);

  auto next = launch("launch");
  ASSERT_TRUE(next.exitedWith(0)) << next.status << next.err;
  EXPECT_NE(next.out.find("done 1"), std::string::npos) << next.err;
  EXPECT_FALSE(fs::exists(dir));
  auto uploads = service_->requests(KitService::kReports);
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0]["problems"].count(), 0u) << uploads[0]["problems"];
  EXPECT_EQ(uploads[0]["status"], Value(202));
}

TEST_F(CrashKitFacade, TestExceptionIsRecordedAsAFatalException) {
  auto run = launch("throw");
  EXPECT_TRUE(run.killedBy(SIGABRT)) << run.status << run.err;
  auto records = lines(run.reportPath() + "/exception.mvxrecord");
  ASSERT_FALSE(records.empty()) << run.err;
  EXPECT_NE(hexDecode(records[0]["exception"]["reason"])
                .find("MorvexTestException: This is an Objective-C exception using for testing."),
            std::string::npos);
}

// Four reports of earlier runs, found by a launch that did not follow a failed one: each is
// packaged, sent and removed once, and the endpoint override is told once for the launch.
TEST_F(CrashKitFacade, SeveralReportsAreRemovedOnceAndTheOverrideIsLoggedOnce) {
  auto crashed = launch("crash");
  ASSERT_TRUE(crashed.killedBy(SIGILL)) << crashed.err;
  const fs::path dir = crashed.reportPath();
  const std::string id = dir.filename().string();
  for (int i = 0; i < 3; ++i) {
    const fs::path copy =
        dir.parent_path() / (id.substr(0, id.size() - 2) + "x" + std::to_string(i));
    fs::copy(dir, copy, fs::copy_options::recursive);
    fs::remove(copy / MVXFileManager::kLockFileName);
    std::string metadata = readFile((copy / "metadata.mvxrecord").string());
    metadata.replace(metadata.find(id), id.size(), copy.filename().string());
    writeFile((copy / "metadata.mvxrecord").string(), metadata);
  }
  fs::remove(dir.parent_path().parent_path() / "launchmarker");

  auto next = launch("launch");
  ASSERT_TRUE(next.exitedWith(0)) << next.err;
  EXPECT_NE(next.out.find("done 1"), std::string::npos) << next.err;
  EXPECT_EQ(service_->requests(KitService::kReports).size(), 4u);
  EXPECT_EQ(next.count("[Morvex:Crash:Reports] Packaged report with id"), 4u) << next.err;
  EXPECT_EQ(next.count("[Morvex:Crash] override: 'ReportsEndpoint'"), 1u) << next.err;
  EXPECT_EQ(next.count("Unable to read identifier"), 0u) << next.err;
  EXPECT_EQ(next.count("Failed to remove file"), 0u) << next.err;
}

// No web view engine is registered: any configuration is one the kit cannot monitor. A script
// message with a dictionary body is recorded as a JavaScript exception; any other is refused.
TEST_F(CrashKitFacade, WebViewErrorsWithoutAnEngine) {
  auto run = launch("webview");
  ASSERT_TRUE(run.exitedWith(0)) << run.err;
  EXPECT_EQ(run.count("[Morvex] Unable to monitor <WKWebViewConfiguration: 0x1>"), 1u) << run.err;
  EXPECT_EQ(run.count("[Morvex] Unable to record exception from WKWebView"), 1u) << run.err;
  auto custom = lines(run.reportPath() + "/custom_exception_a.mvxrecord");
  ASSERT_EQ(custom.size(), 1u);
  EXPECT_EQ(hexDecode(custom[0]["exception"]["name"]), "exception");
  EXPECT_EQ(hexDecode(custom[0]["exception"]["reason"]), "ReferenceError: x is not defined");
}

// The error script in a JavaScript engine: errors are posted with their place, the page's own
// handler still runs, and a handler the page installs later is chained on load.
TEST(WebViewErrorScript, PostsErrorsAndKeepsThePagesHandlers) {
  if (std::system("node --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no node";
  TempDir dir;
  const fs::path script = dir.path() / "check.js";
  std::ofstream(script) << R"JS(
var posted = [], pageErrors = [], laterErrors = [], loaded = 0;
var window = {
  onload: function() { loaded++; },
  onerror: function(msg) { pageErrors.push(msg); },
  webkit: {messageHandlers: {morvex: {postMessage: function(m) { posted.push(m); }}}}
};
)JS" << tw::crash::webViewErrorScriptSource()
                        << R"JS(
window.onerror('first', 'file:///a.html', 3, 9, null);
window.onerror = function(msg) { laterErrors.push(msg); };
window.onload();
window.onerror('second', 'file:///a.html', 4, 1, null);
console.log(JSON.stringify({posted: posted, pageErrors: pageErrors, laterErrors: laterErrors,
                            loaded: loaded}));
)JS";
  FILE* pipe = ::popen(("node '" + script.string() + "'").c_str(), "r");
  char buffer[4096];
  std::string out;
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ASSERT_EQ(::pclose(pipe), 0) << out;
  EXPECT_EQ(out,
            "{\"posted\":[{\"msg\":\"first\",\"url\":\"file:///a.html\",\"line\":3,\"column\":9},"
            "{\"msg\":\"second\",\"url\":\"file:///a.html\",\"line\":4,\"column\":1}],"
            "\"pageErrors\":[\"first\"],\"laterErrors\":[\"second\"],\"loaded\":1}\n");
}

}  // namespace
}  // namespace tw::test
