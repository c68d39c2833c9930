#pragma once
// The end-to-end tests' fixture: the real Tickwell program on a real (virtual) X display with a
// window manager: an Xvfb server, openbox, a private message bus, and private XDG folders. Tests
// fill the store before a launch, drive the program with xdotool and signals, wait for what it
// saves while it runs, and read the store again after it has ended.
//
// Skips when Xvfb, openbox, xdotool or xprop are missing. Test-only; the test's thread.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Source/Application/CoreAssembly_macOS.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Timing/BTTimingController.h"
#include "platform/desktop/tests/integration/PrivateSessionBus.h"
#include "platform/desktop/tests/integration/VirtualDisplay.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline bool onPath(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string readFile(const fs::path& path) { return tw::test::fileText(path); }

using tw::test::eventually;
using tw::test::staysAbsent;

// Each check may run a program (xdotool, xprop): a calmer pace than the default.
inline constexpr std::chrono::milliseconds kToolPoll{50};

// `eventually` at the pace of checks that run a program.
template <class F>
bool waitFor(F&& done, std::chrono::milliseconds timeout) {
  return eventually(std::forward<F>(done), timeout, kToolPoll);
}

// The exit status when the process ended within the timeout (reaped), else nullopt.
inline std::optional<int> waitExit(pid_t pid, std::chrono::milliseconds timeout) {
  std::optional<int> result;
  eventually(
      [&] {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) != pid) return false;
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      },
      timeout, kToolPoll);
  return result;
}

class TickwellEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xprop"})
      if (!onPath(tool)) GTEST_SKIP() << tool << " is not installed";
    if (!bus_.ok()) GTEST_SKIP() << "no private message bus: " << bus_.failure();

    runtime_ = xdg_.root() / "runtime";
    fs::create_directories(runtime_);
    ::chmod(runtime_.c_str(), 0700);

    // A display another server took between Xvfb's choice and ours, or a window manager that
    // could not reach it, is tried afresh.
    std::string why;
    for (int attempt = 0; attempt < 3; ++attempt) {
      why = startDesktop();
      if (why.empty()) return;
      for (pid_t* pid : {&wm_, &xvfb_}) {
        if (*pid > 0) tw::test::stopProcess(*pid);
        *pid = -1;
      }
    }
    FAIL() << why;
  }

  // Starts Xvfb and openbox on it; "" once both run, else what went wrong with their logs.
  std::string startDesktop() {
    const fs::path xvfbLog = xdg_.root() / "xvfb.log";
    display_ = tw::test::startVirtualDisplay(xvfbLog.string(), &xvfb_);
    if (display_.empty()) return "no virtual display: " + readFile(xvfbLog);
    const auto env = environment();
    wm_ = tw::test::spawnProcess({"openbox"}, (xdg_.root() / "openbox.log").string(), &env);
    if (wm_ <= 0) return "openbox could not be started";
    // The window manager is ready once it has announced itself on the root window.
    if (tw::test::waitForWindowManager(display_, 60.0)) return {};
    return "openbox did not start on " + display_ + " (" +
           (::kill(wm_, 0) == 0 ? "still running" : "ended") + "); its log:\n" +
           readFile(xdg_.root() / "openbox.log") + "\nXvfb's log:\n" + readFile(xvfbLog);
  }

  void TearDown() override {
    for (pid_t pid : {app_, wm_, xvfb_})
      if (pid > 0) tw::test::stopProcess(pid);
  }

  // The program's exit status when it ended within the timeout. Only a program that ended is
  // forgotten: one that did not is stopped by TearDown, never left running after the test.
  std::optional<int> waitAppExit(std::chrono::milliseconds timeout) {
    const auto status = waitExit(app_, timeout);
    if (status) app_ = -1;
    return status;
  }

  std::vector<std::string> environment() const {
    std::vector<std::string> env = {
        "DISPLAY=" + display_,
        "HOME=" + xdg_.root().string(),
        "XDG_RUNTIME_DIR=" + runtime_.string(),
        "DBUS_SESSION_BUS_ADDRESS=" + bus_.address(),
        // The private bus stands in for the system bus too: it has no login1.
        "DBUS_SYSTEM_BUS_ADDRESS=" + bus_.address(),
        "QT_QPA_PLATFORM=xcb",
        "LANG=C.UTF-8",
        "PATH=" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"),
    };
    for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
      env.push_back(std::string(var) + "=" + getenv(var));
    // A sanitizer build's program reads its suppressions from there.
    for (const char* var : {"TSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
      if (const char* value = getenv(var)) env.push_back(std::string(var) + "=" + value);
    for (const auto& override : environmentOverrides_) {
      std::string entry = override.first + "=";
      std::erase_if(env, [&](const std::string& e) { return e.starts_with(entry); });
      env.push_back(entry.append(override.second));
    }
    return env;
  }

  // `wrapper` runs the program (it must exec it in the same process, as `unshare` does).
  pid_t launch(std::vector<std::string> wrapper = {}) {
    const auto env = environment();
    wrapper.push_back(TW_TICKWELL_BINARY);
    return tw::test::spawnProcess(wrapper, log().string(), &env);
  }

  fs::path log() const { return xdg_.root() / "tickwell.log"; }

  // xdotool's output lines, on our display.
  std::vector<std::string> xdotool(const std::string& arguments) const {
    const std::string command = "DISPLAY=" + display_ + " xdotool " + arguments + " 2>/dev/null";
    std::vector<std::string> lines;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[256];
      while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (!line.empty()) lines.push_back(line);
      }
      ::pclose(pipe);
    }
    return lines;
  }

  // The window that has the keyboard focus, as the window manager gave it; empty when none.
  std::string activeWindow() const {
    const auto lines = xdotool("getactivewindow");
    return lines.empty() ? std::string() : lines.front();
  }

  // Whether `window` got the keyboard focus within the timeout: keys typed before then may go
  // elsewhere.
  bool waitForActive(const std::string& window, std::chrono::milliseconds timeout = 10s) const {
    return eventually([&] { return activeWindow() == window; }, timeout, kToolPoll);
  }

  std::vector<std::string> visibleWindowsOf(pid_t pid) const {
    return xdotool("search --onlyvisible --pid " + std::to_string(pid));
  }

  // The first window of `pid` to become visible within `timeout`, or "" with a failure that keeps
  // the program's and the window manager's logs: the program may die between two searches.
  std::string waitForWindowOf(pid_t pid, std::chrono::milliseconds timeout = 40s) {
    std::string window;
    eventually(
        [&] {
          const auto found = visibleWindowsOf(pid);
          if (!found.empty()) window = found.front();
          return !window.empty();
        },
        timeout, kToolPoll);
    if (window.empty()) {
      ADD_FAILURE() << "no window of the program mapped (program "
                    << (::kill(pid, 0) == 0 ? "still running" : "ended") << "); log:\n"
                    << readFile(log()) << "\nwindow manager:\n"
                    << readFile(xdg_.root() / "openbox.log");
    }
    return window;
  }

  // Opens the store of the private folders through the application's assembly and runs `work`
  // with the timing controller at hand; saves and closes it afterwards.
  void withStore(const std::function<void(BTTimingController&)>& work) {
    TyphoonComponentFactory::clearDefaultFactory();
    auto assembly = TyphoonAssembly::assembly<CoreAssembly_macOS>();
    auto factory = assembly->activated();
    tw::defaultCoreDataProvider()->setup();
    auto timing = factory->componentForType<BTTimingController>();
    work(*timing);
    tw::defaultCoreDataProvider()->save();
    tw::defaultCoreDataProvider()->cleanUp();
    tw::setDefaultCoreDataProvider(nullptr);
    TyphoonComponentFactory::clearDefaultFactory();
  }

  // Runs `read` on the store as the running program last saved it, and saves nothing back: no
  // timing controller is made (it would resume or finish objects itself). The store's
  // write-ahead log lets the program write meanwhile.
  void peekStore(const std::function<void(tw::store::Context&)>& read) {
    TyphoonComponentFactory::clearDefaultFactory();
    auto factory = TyphoonAssembly::assembly<CoreAssembly_macOS>()->activated();
    tw::defaultCoreDataProvider()->setup();
    if (auto context = tw::defaultCoreDataProvider()->objectContext()) read(*context);
    tw::defaultCoreDataProvider()->cleanUp();
    tw::setDefaultCoreDataProvider(nullptr);
    TyphoonComponentFactory::clearDefaultFactory();
  }

  // Each object's timing state as the running program last saved it.
  std::map<std::string, std::int64_t> savedStates() {
    std::map<std::string, std::int64_t> states;
    peekStore([&](tw::store::Context& context) {
      for (const auto& object : context.findAll<BTTimeObject>())
        states[object->title()] = object->timingState();
    });
    return states;
  }

  std::map<std::string, std::int64_t> storedStates() {
    std::map<std::string, std::int64_t> states;
    withStore([&](BTTimingController&) {
      auto context = tw::defaultCoreDataProvider()->objectContext();
      for (const auto& object : context->findAll<BTTimeObject>())
        states[object->title()] = object->timingState();
    });
    return states;
  }

  // Variables the program gets in place of (or beside) the ones above, by name.
  std::map<std::string, std::string> environmentOverrides_;
  tw::test::ScopedXdg xdg_;
  tw::test::PrivateSessionBus bus_;
  fs::path runtime_;
  std::string display_;
  pid_t xvfb_ = -1, wm_ = -1, app_ = -1;
};

}  // namespace tw::test::e2e
