// The crash kit child: one launch of a program that carries the crash kit, for the object
// layer's tests. It uses the XDG folders and the "Morvex*" and "SettingsEndpoint" variables of
// its environment, the Info.plist in <bundle-dir>, writes its log lines to standard error and
// trusts the certificate authority named by TW_TEST_CA (the registry's debug flag on). Prints
// "report <path>" for the run's directory.
//   crash_kit_child <bundle-dir> <mode>
// Modes: record (identity, keys, an error and a custom exception, then exit), crash (the kit's
// test crash), throw (the kit's test exception), launch (start and wait until earlier runs'
// reports are gone, then exit), webview (a configuration and script messages).

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "kits/crash/Morvex.h"
#include "kits/crash/capture/MVXContext.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TSYKit.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/MVXURLSession.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"

namespace fs = std::filesystem;

namespace {

void waitForLoggingQueue() {
  if (auto queue = MVXContextLoggingQueue()) queue->sync([] {});
}

// Starts the kit the way the application does, with `threads` callers racing to start it.
std::shared_ptr<Morvex> startKit(int threads) {
  std::vector<std::thread> callers;
  callers.reserve(threads);
  for (int i = 0; i < threads; ++i) callers.emplace_back([] { Morvex::initializeIfNeeded(); });
  Tessaly::with({tw::kitClass<Morvex>()});
  for (auto& t : callers) t.join();
  auto kit = Morvex::sharedInstance();
  auto controller = kit->crashReportingController();
  auto report = controller ? controller->currentReport() : nullptr;
  std::printf("report %s\n", report ? report->path().c_str() : "");
  std::fflush(stdout);
  return kit;
}

bool earlierRunsGone(const std::shared_ptr<Morvex>& kit) {
  auto controller = kit->crashReportingController();
  if (!controller) return true;
  auto files = controller->fileManager();
  auto current = controller->currentReport();
  for (const auto& path : files->activePathContents()) {
    if (!current || path != current->path()) return false;
  }
  return files->processingPathContents().empty() && files->preparedPathContents().empty();
}

class Configuration : public tw::Object {
 public:
  std::string description() const override { return "<WKWebViewConfiguration: 0x1>"; }
};

}  // namespace

// Ends the launch without running static destructors while the kit's threads still work, as a
// killed or quitting application would.
[[noreturn]] void finish(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  ::_exit(code);
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  tw::RunLoop::main();
  // The kit's system-log lines go to standard error, where the tests read them.
  tw::setLogHook(
      [](tw::LogLevel, std::string_view line) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
      },
      true);
  tw::setKitMainBundleForTesting(tw::Bundle::fromDirectory(argv[1]));
  if (const char* ca = std::getenv("TW_TEST_CA")) {
    MVXURLSession::setSystemTrustFileForTesting(ca);
    Tessaly::sharedSDK()->setDebug(true);
  }
  const std::string mode = argv[2];
  if (mode == "record") {
    auto kit = startKit(8);
    Morvex::setUserIdentifier("user-7");
    Morvex::setUserName("Ada");
    Morvex::setUserEmail("ada@example.test");
    Morvex::setObjectValue(tw::Value("blue"), "colour");
    Morvex::setIntValue(42, "answer");
    Morvex::setBoolValue(true, "flag");
    Morvex::setFloatValue(1.5f, "ratio");
    Morvex::setObjectValue(tw::Value("gone"), "temporary");
    Morvex::setObjectValue(tw::Value(), "temporary");
    kit->recordError(tw::Error("com.velmora.Tickwell.Store", 17), tw::Dictionary{{"file", "a"}});
    auto frame = MVXStackFrame::stackFrameWithSymbol("parseTimer");
    frame->setAddress(0x1234);
    frame->setOffset(4);
    kit->recordCustomExceptionName("ParseFailure", "line 3 is not a timer", {frame});
    waitForLoggingQueue();
    finish(0);
  }
  if (mode == "crash" || mode == "throw") {
    auto kit = startKit(1);
    waitForLoggingQueue();
    if (mode == "crash") kit->crash();
    kit->throwException();
  }
  if (mode == "launch") {
    auto kit = startKit(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!earlierRunsGone(kit) && std::chrono::steady_clock::now() < deadline) {
      tw::RunLoop::main().runUntil([] { return false; }, 0.05);
    }
    std::printf("done %d\n", earlierRunsGone(kit) ? 1 : 0);
    finish(0);
  }
  if (mode == "webview") {
    auto kit = startKit(1);
    kit->monitorErrorsForWKWebViewConfiguration(std::make_shared<Configuration>());
    kit->userContentControllerDidReceiveScriptMessage(
        tw::Value(tw::Dictionary{{"msg", "ReferenceError: x is not defined"},
                                 {"url", "file:///index.html"},
                                 {"line", 3},
                                 {"column", 9}}));
    kit->userContentControllerDidReceiveScriptMessage(tw::Value("not a dictionary"));
    waitForLoggingQueue();
    finish(0);
  }
  return 2;
}
