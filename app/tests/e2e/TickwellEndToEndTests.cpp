// The real Tickwell program on a real (virtual) X display with a window manager: an Xvfb
// server, openbox, a private message bus without any desktop service, and private XDG folders.
// The store is filled before the launch; the program is then driven with xdotool and signals,
// and the store is read again after it has ended.
//
// Skips when Xvfb, openbox or xdotool are missing.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Source/Application/CoreAssembly_macOS.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTTiming.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "platform/desktop/tests/integration/PrivateSessionBus.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/testsupport/TestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool onPath(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

template <class F>
bool waitFor(F&& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

// The exit status when the process ended within the timeout (reaped), else nullopt.
std::optional<int> waitExit(pid_t pid, std::chrono::milliseconds timeout) {
  std::optional<int> result;
  waitFor(
      [&] {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) != pid) return false;
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      },
      timeout);
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

    // Xvfb picks a free display number itself and writes it to its standard output (our log).
    const fs::path xvfbLog = xdg_.root() / "xvfb.log";
    xvfb_ = tw::test::spawnProcess(
        {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
        xvfbLog.string());
    ASSERT_GT(xvfb_, 0);
    std::string number;
    waitFor(
        [&] {
          std::istringstream lines(readFile(xvfbLog));
          std::string line;
          while (std::getline(lines, line))
            if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
              number = line;
              return true;
            }
          return false;
        },
        15s);
    ASSERT_FALSE(number.empty()) << "Xvfb gave no display: " << readFile(xvfbLog);
    display_ = ":" + number;
    ASSERT_TRUE(tw::test::waitForSocket("/tmp/.X11-unix/X" + number, xvfb_, 10.0));
    ASSERT_GT(xvfb_, 0) << "no virtual display";
    const auto env = environment();
    wm_ = tw::test::spawnProcess({"openbox"}, (xdg_.root() / "openbox.log").string(), &env);
    ASSERT_GT(wm_, 0);
    // The window manager is ready once it has announced itself on the root window.
    ASSERT_TRUE(waitFor(
        [&] {
          return std::system(("DISPLAY=" + display_ +
                              " xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null"
                              " | grep -q 'window id'")
                                 .c_str()) == 0;
        },
        30s))
        << "openbox did not start: " << readFile(xdg_.root() / "openbox.log");
  }

  void TearDown() override {
    for (pid_t pid : {app_, wm_, xvfb_})
      if (pid > 0) tw::test::stopProcess(pid);
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
    return env;
  }

  pid_t launch() {
    const auto env = environment();
    return tw::test::spawnProcess({TW_TICKWELL_BINARY}, log().string(), &env);
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

  std::vector<std::string> visibleWindowsOf(pid_t pid) const {
    return xdotool("search --onlyvisible --pid " + std::to_string(pid));
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

  std::map<std::string, std::int64_t> storedStates() {
    std::map<std::string, std::int64_t> states;
    withStore([&](BTTimingController&) {
      auto context = tw::defaultCoreDataProvider()->objectContext();
      for (const auto& object : context->findAll<BTTimeObject>())
        states[object->title()] = object->timingState();
    });
    return states;
  }

  tw::test::ScopedXdg xdg_;
  tw::test::PrivateSessionBus bus_;
  fs::path runtime_;
  std::string display_;
  pid_t xvfb_ = -1, wm_ = -1, app_ = -1;
};

TEST_F(TickwellEndToEndTest, ResumesRunningObjectsWarnsBeforeQuittingAndSavesOnSigterm) {
  // Before the launch: a long timer running, a 2-second timer running (it finishes and resets
  // only if the program resumes it), a paused stopwatch and a timer at rest.
  withStore([](BTTimingController& timing) {
    auto add = [](const std::string& title, int seconds) {
      auto timer = managedObject<BTTimer>();
      timer->setTitle(title);
      auto time = managedObject<BTTimeSetting>();
      time->setSecond(seconds % 60);
      time->setMinute(seconds / 60);
      timer->setTime(time);
      return timer;
    };
    auto longTimer = add("Long", 3600);
    auto shortTimer = add("Short", 2);
    add("Idle", 60);
    auto stopwatch = managedObject<BTStopwatch>();
    stopwatch->setTitle("Lap");
    timing.timingControlForTimingObject(longTimer)->start();
    timing.timingControlForTimingObject(shortTimer)->start();
    auto watch = timing.timingControlForTimingObject(stopwatch);
    watch->start();
    watch->pause();
  });
  auto before = storedStates();
  ASSERT_EQ(before["Long"], 20);
  ASSERT_EQ(before["Short"], 20);
  ASSERT_EQ(before["Lap"], 10);

  app_ = launch();
  ASSERT_GT(app_, 0);
  ASSERT_TRUE(waitFor([&] { return !visibleWindowsOf(app_).empty(); }, 40s))
      << "the main window never mapped (program "
      << (waitExit(app_, 0ms).has_value() ? "ended" : "still running")
      << ", windows: " << xdotool("search --pid " + std::to_string(app_)).size() << "); log:\n"
      << readFile(log()) << "\nwindow manager:\n"
      << readFile(xdg_.root() / "openbox.log");
  const std::string window = visibleWindowsOf(app_).front();

  // A second launch hands over to the running one and leaves at once.
  const pid_t second = launch();
  ASSERT_GT(second, 0);
  EXPECT_EQ(waitExit(second, 10s), std::optional<int>(0)) << readFile(log());

  // Let the short timer finish and reset (2 s, then 1 s) in the program.
  std::this_thread::sleep_for(5s);

  // Quit from the keyboard: the warning counts the long timer and the paused stopwatch.
  xdotool("windowactivate --sync " + window);
  xdotool("key --clearmodifiers ctrl+q");
  ASSERT_TRUE(waitFor([&] { return visibleWindowsOf(app_).size() >= 2; }, 10s))
      << "no quit warning appeared; log:\n"
      << readFile(log());
  EXPECT_NE(readFile(log()).find("Asking before quitting: 2 alarms, timers, or stopwatches"),
            std::string::npos)
      << readFile(log());

  // Cancel keeps the program running.
  xdotool("key Escape");
  EXPECT_TRUE(waitFor([&] { return visibleWindowsOf(app_).size() == 1; }, 10s));
  EXPECT_FALSE(waitExit(app_, 1s).has_value()) << "Cancel must not quit";

  // SIGTERM ends it cleanly, saving settings and store.
  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  const auto status = waitExit(app_, 15s);
  app_ = -1;
  ASSERT_TRUE(status.has_value()) << "Tickwell did not end on SIGTERM";
  EXPECT_EQ(*status, 0) << readFile(log());

  auto after = storedStates();
  EXPECT_EQ(after["Long"], 20) << "a running timer stays running across the restart";
  EXPECT_EQ(after["Short"], 0) << "the resumed short timer finished and reset";
  EXPECT_EQ(after["Lap"], 10);
  EXPECT_EQ(after["Idle"], 0);
  EXPECT_TRUE(fs::exists(fs::path(getenv("XDG_CONFIG_HOME")) / "Tickwell"));
}

TEST_F(TickwellEndToEndTest, EachMissingDesktopServiceIsLoggedOnce) {
  // No notification server, no portal, no login1, no screen saver on the bus. Two short timers
  // finish (two notifications that cannot be shown) while a long one keeps sleep prevented.
  withStore([](BTTimingController& timing) {
    for (const auto& [title, seconds] :
         std::vector<std::pair<std::string, int>>{{"Long", 3600}, {"One", 2}, {"Two", 4}}) {
      auto timer = managedObject<BTTimer>();
      timer->setTitle(title);
      auto time = managedObject<BTTimeSetting>();
      time->setSecond(seconds % 60);
      time->setMinute(seconds / 60);
      timer->setTime(time);
      if (seconds < 60) {
        // Its finish shows a notification.
        auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
        trigger->setStateFrom(tw::kTimingStateRunning);
        trigger->setStateTo(tw::kTimingStateFinished);
        auto alert = BTActionObject::actionObject<BTDisplayAlertAction>();
        alert->setEnabled(true);
        alert->setTrigger(trigger);
        alert->setTimeObject(timer);
      }
      timing.timingControlForTimingObject(timer)->start();
    }
  });
  app_ = launch();
  ASSERT_GT(app_, 0);
  ASSERT_TRUE(waitFor([&] { return !visibleWindowsOf(app_).empty(); }, 40s)) << readFile(log());
  // Both short timers finish and reset; the window keeps working.
  std::this_thread::sleep_for(7s);
  EXPECT_FALSE(visibleWindowsOf(app_).empty());
  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  const auto status = waitExit(app_, 15s);
  app_ = -1;
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);

  const std::string text = readFile(log());
  auto count = [&](const std::string& needle) {
    std::size_t n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("no notification server on the session bus"), 1u) << text;
  EXPECT_EQ(count("no desktop portal on the session bus"), 1u) << text;
  EXPECT_EQ(count("login1 did not inhibit idle sleep"), 1u) << text;
  EXPECT_LE(count("the screen saver service did not inhibit"), 1u) << text;
  auto after = storedStates();
  EXPECT_EQ(after["Long"], 20);
  EXPECT_EQ(after["One"], 0);
  EXPECT_EQ(after["Two"], 0);
}

// The master list in the real window: its timers tab starts at 78 px from the window's top, in
// rows 48 px high, with the titles from 30 px in.
TEST_F(TickwellEndToEndTest, DraggingARowAndRenamingInPlaceAreSavedAndSurviveARelaunch) {
  withStore([](BTTimingController&) {
    std::int64_t order = 0;
    for (const char* title : {"Alpha", "Bravo", "Charlie"}) {
      auto timer = managedObject<BTTimer>();
      timer->setTitle(title);
      timer->setSortOrder(order++);
      auto time = managedObject<BTTimeSetting>();
      time->setMinute(5);
      timer->setTime(time);
    }
  });
  auto titlesInOrder = [&] {
    std::vector<std::pair<std::int64_t, std::string>> rows;
    withStore([&](BTTimingController&) {
      for (const auto& object :
           tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimeObject>())
        rows.emplace_back(object->sortOrder(), object->title());
    });
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> titles;
    titles.reserve(rows.size());
    for (const auto& row : rows) titles.push_back(row.second);
    return titles;
  };
  auto quit = [&] {
    ASSERT_EQ(::kill(app_, SIGTERM), 0);
    const auto status = waitExit(app_, 15s);
    app_ = -1;
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0) << readFile(log());
  };
  auto start = [&]() -> std::string {
    app_ = launch();
    if (app_ <= 0 || !waitFor([&] { return !visibleWindowsOf(app_).empty(); }, 40s)) {
      ADD_FAILURE() << "the main window never mapped; log:\n" << readFile(log());
      return {};
    }
    std::string window = visibleWindowsOf(app_).front();
    xdotool("windowactivate --sync " + window);
    std::this_thread::sleep_for(1s);
    return window;
  };
  auto rowY = [](int row) { return std::to_string(78 + 48 * row + 24); };

  std::string window = start();
  ASSERT_FALSE(window.empty());
  // Drag the third row above the first: press, move past the drag distance and on in steps to
  // the top quarter of the first row, and release there; one xdotool run, paced.
  std::string drag = "mousemove --window " + window + " 60 " + rowY(2) + " mousedown 1 sleep 0.3";
  for (int y = 78 + 48 * 2 + 16; y >= 82; y -= 12)
    drag += " mousemove --window " + window + " 62 " + std::to_string(y) + " sleep 0.1";
  drag += " mousemove --window " + window + " 60 82 sleep 0.5 mouseup 1";
  xdotool(drag);
  std::this_thread::sleep_for(1s);

  // Rename the (new) second row through its context menu's first item, "Edit Title".
  xdotool("mousemove --window " + window + " 60 " + rowY(1));
  xdotool("click 3");
  std::this_thread::sleep_for(500ms);
  xdotool("key Down Return");
  std::this_thread::sleep_for(500ms);
  xdotool("key ctrl+a");
  xdotool("type --delay 20 Renamed");
  xdotool("key Return");
  std::this_thread::sleep_for(1s);
  quit();
  EXPECT_EQ(titlesInOrder(), (std::vector<std::string>{"Charlie", "Renamed", "Bravo"}))
      << readFile(log());

  // The next launch shows the same order and title and saves them unchanged.
  window = start();
  ASSERT_FALSE(window.empty());
  quit();
  EXPECT_EQ(titlesInOrder(), (std::vector<std::string>{"Charlie", "Renamed", "Bravo"}));
}

}  // namespace
