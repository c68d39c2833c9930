// What a screen reader finds in the real program: the main window read over AT-SPI, the
// accessibility bus launched on the test's own message bus (never the user's), and the tree
// walked with pyatspi.
//
// Skips when the accessibility bus launcher or pyatspi is missing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "app/tests/SampleData.h"
#include "app/tests/e2e/TickwellEndToEndFixture.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTAppOperationAction.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFileOperationAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTSystemEventAction.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTWeekdaySetting.h"
#include "platform/desktop/tests/integration/FakeNotificationServer.h"

namespace {

using namespace tw::test::e2e;

constexpr const char* kBusLauncher = "/usr/libexec/at-spi-bus-launcher";
// The system's interpreter, which the distribution's pyatspi belongs to.
constexpr const char* kPython = "/usr/bin/python3";

// Over AT-SPI, in the application whose name holds argv[1]: "tree" prints "role|name|focusable"
// for every showing accessible; "where ROLE NAME" prints the screen centre "x y" of the first
// showing one with that role and name (exit 4 when there is none). Exits 3 while the
// application is not on the bus yet.
constexpr const char* kWalker = R"PY(
import sys
import pyatspi

def walk(node, depth, visit):
    if depth > 40:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is None:
            continue
        if child.getState().contains(pyatspi.STATE_SHOWING):
            if visit(child):
                return True
        if walk(child, depth + 1, visit):
            return True
    return False

desktop = pyatspi.Registry.getDesktop(0)
for app in desktop:
    if app is None or sys.argv[1].lower() not in (app.name or "").lower():
        continue
    if sys.argv[2] == "tree":
        lines = []
        def line(node):
            focusable = int(node.getState().contains(pyatspi.STATE_FOCUSABLE))
            lines.append("%s|%s|%d" % (node.getRoleName(), node.name or "", focusable))
            return False
        walk(app, 0, line)
        print("\n".join(lines))
        sys.exit(0)
    found = []
    # A name ending in "*" is a prefix, for elements whose names go on with a live time.
    wanted = sys.argv[4]
    def named(name):
        if len(wanted) > 1 and wanted.endswith("*"):
            return name.startswith(wanted[:-1])
        return name == wanted
    def match(node):
        if sys.argv[3] in ("*", node.getRoleName()) and named(node.name or ""):
            box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            found.append("%d %d" % (box.x + box.width // 2, box.y + box.height // 2))
            return True
        return False
    walk(app, 0, match)
    if not found:
        sys.exit(4)
    print(found[0])
    sys.exit(0)
sys.exit(3)
)PY";

class AccessibilityEndToEndTest : public TickwellEndToEndTest {
 protected:
  void SetUp() override {
    TickwellEndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (::access(kBusLauncher, X_OK) != 0) GTEST_SKIP() << "at-spi2-core is not installed";
    if (std::system((std::string(kPython) + " -c 'import pyatspi' >/dev/null 2>&1").c_str()) != 0)
      GTEST_SKIP() << "python3-pyatspi is not installed";
    const auto env = environment();
    launcher_ = tw::test::spawnProcess({kBusLauncher, "--launch-immediately"},
                                       (xdg_.root() / "atspi.log").string(), &env);
    ASSERT_GT(launcher_, 0);
    // Ready once it answers for the accessibility bus on our bus.
    ASSERT_TRUE(eventually(
        [&] {
          return run("dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus "
                     "org.a11y.Bus.GetAddress >/dev/null 2>&1") == 0;
        },
        20s, kToolPoll))
        << readFile(xdg_.root() / "atspi.log");
    walker_ = xdg_.root() / "walk.py";
    std::ofstream(walker_) << kWalker;
  }

  void TearDown() override {
    if (app_ > 0) tw::test::stopProcess(app_);
    app_ = -1;
    if (launcher_ > 0) tw::test::stopProcess(launcher_);
    TickwellEndToEndTest::TearDown();
  }

  // Runs a shell command in the test's environment (display, private bus and folders).
  int run(const std::string& command) const {
    std::string line;
    for (const auto& var : environment()) line += "'" + var + "' ";
    return std::system(("env -i " + line + command).c_str());
  }

  std::vector<std::string> tree() const {
    const fs::path out = xdg_.root() / "tree.txt";
    if (run("timeout 20 " + std::string(kPython) + " " + walker_.string() + " Tickwell tree > " +
            out.string() + " 2>/dev/null") != 0)
      return {};
    std::vector<std::string> lines;
    std::istringstream text(readFile(out));
    for (std::string l; std::getline(text, l);) lines.push_back(l);
    return lines;
  }

  // The screen centre of the first showing accessible with that role (any role: "*") and name.
  std::optional<std::pair<int, int>> where(const std::string& role, const std::string& name) {
    const fs::path out = xdg_.root() / "where.txt";
    if (run("timeout 20 " + std::string(kPython) + " " + walker_.string() + " Tickwell where '" +
            role + "' '" + name + "' > " + out.string() + " 2>/dev/null") != 0)
      return std::nullopt;
    std::istringstream text(readFile(out));
    std::pair<int, int> at;
    if (!(text >> at.first >> at.second)) return std::nullopt;
    return at;
  }
  bool waitForControl(const std::string& role, const std::string& name,
                      std::chrono::milliseconds timeout = 15s) {
    return eventually([&] { return where(role, name).has_value(); }, timeout, kToolPoll);
  }
  // A mouse click on the control, where the screen shows it.
  bool click(const std::string& role, const std::string& name) {
    std::optional<std::pair<int, int>> at;
    // One look through the tree can take seconds on a loaded machine: several are allowed.
    if (!eventually([&] { return (at = where(role, name)).has_value(); }, 45s, kToolPoll))
      return false;
    xdotool("mousemove --sync " + std::to_string(at->first) + " " + std::to_string(at->second) +
            " click 1");
    return true;
  }
  // Whether a click on the control opened a window over `over` that has the keyboard, the
  // program showing `count` windows in all.
  bool clickOpens(const std::string& role, const std::string& name, const std::string& over,
                  std::size_t count) {
    if (!click(role, name)) return false;
    return eventually(
        [&] {
          const auto active = activeWindow();
          return visibleWindowsOf(app_).size() >= count && !active.empty() && active != over;
        },
        10s, kToolPoll);
  }
  // Keys pressed one after the other in whatever window has the focus.
  void keys(const std::string& names) { xdotool("key --delay 150 --clearmodifiers " + names); }

  void launchReadable() {
    auto env = environment();
    env.push_back("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1");
    app_ = tw::test::spawnProcess({TW_TICKWELL_BINARY}, log().string(), &env);
    ASSERT_GT(app_, 0);
    ASSERT_TRUE(eventually([&] { return !visibleWindowsOf(app_).empty(); }, 40s, kToolPoll))
        << readFile(log());
  }

  pid_t launcher_ = -1;
  fs::path walker_;
};

TEST_F(AccessibilityEndToEndTest, TheMainWindowsControlsAreNamedAndHaveTheirRolesOverAtSpi) {
  launchReadable();

  std::vector<std::string> lines;
  const auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  ASSERT_TRUE(eventually(
      [&] {
        lines = tree();
        return has("radio button|Alarms|1");
      },
      40s, kToolPoll))
      << "the window never showed its tabs over AT-SPI; it gave:\n"
      <<
      [&] {
        std::string all;
        for (const auto& l : lines) all += l + "\n";
        return all;
      }()
      << readFile(log());

  for (const char* expected :
       {"push button|Close|0", "push button|Minimize|0", "push button|Maximize|0",
        "radio button|Alarms|1", "radio button|Timers|1", "radio button|Stopwatches|1"})
    EXPECT_TRUE(has(expected)) << expected;
  // The list and its buttons name the kind shown (the one chosen in an earlier session).
  EXPECT_TRUE((has("push button|Add timer|1") && has("list|Timers|1")) ||
              (has("push button|Add alarm|1") && has("list|Alarms|1")) ||
              (has("push button|Add stopwatch|1") && has("list|Stopwatches|1")))
      << [&] {
           std::string all;
           for (const auto& l : lines) all += l + "\n";
           return all;
         }();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("|Main Menu|1") != l.npos; }));
  // Whatever can be operated is named.
  const std::set<std::string> operable = {
      "push button", "radio button", "check box", "toggle button", "text", "list", "combo box"};
  for (const auto& line : lines) {
    const auto role = line.substr(0, line.find('|'));
    const auto rest = line.substr(line.find('|') + 1);
    const auto name = rest.substr(0, rest.rfind('|'));
    if (operable.count(role) && name.empty() && line.back() == '1')
      ADD_FAILURE() << "unnamed " << role;
  }
}

// The first row of the shown list whose name starts with `prefix` ("" when there is none).
std::string rowStartingWith(const std::vector<std::string>& tree, const std::string& prefix) {
  const std::string item = "list item|" + prefix;
  for (const auto& line : tree)
    if (line.rfind(item, 0) == 0) return line.substr(std::string("list item|").size());
  return {};
}

// A person's first session, by real input only (mouse clicks where the screen shows the controls,
// keys): nothing is stored before the launch. The menu, a popup, is not in the accessibility
// tree; it is worked with the keyboard.
TEST_F(AccessibilityEndToEndTest, APersonSetsEverythingUpByHandAndFindsItAfterARelaunch) {
  tw::test::FakeNotificationServer notifications;
  ASSERT_TRUE(notifications.ok()) << "no notification server on the private bus";
  launchReadable();
  const std::string window = waitForWindowOf(app_);
  ASSERT_FALSE(window.empty());
  xdotool("windowactivate --sync " + window);
  const auto windows = [&] { return visibleWindowsOf(app_).size(); };

  // An alarm at 7:30 on Mondays and Wednesdays only, its half of the day switched, all in its
  // popover.
  ASSERT_TRUE(click("radio button", "Alarms"));
  ASSERT_TRUE(click("push button", "Add alarm"));
  ASSERT_TRUE(eventually([&] { return windows() >= 2; }, 10s, kToolPoll)) << "no value popover";
  std::string before;
  ASSERT_TRUE(eventually([&] { return !(before = rowStartingWith(tree(), "New Alarm")).empty(); },
                         10s, kToolPoll));
  const bool wasEvening = before.find(" PM") != std::string::npos;
  // The popover has the keyboard only once the window system has mapped it and handed it over: a
  // key typed sooner reaches the main window. The hour is typed until the row shows it.
  const auto rowShowsSeven = [&] {
    return rowStartingWith(tree(), "New Alarm").find(", 7:") != std::string::npos;
  };
  ASSERT_TRUE(eventually(
      [&] {
        keys("ctrl+a 7");
        return eventually(rowShowsSeven, 2s, kToolPoll);
      },
      20s, kToolPoll))
      << "the popover's hour field never took the keyboard";
  // A new alarm repeats every day: the five other days are switched off.
  keys("Tab 3 0 Tab space Tab space Tab Tab space Tab Tab space Tab space Tab space Return");
  ASSERT_TRUE(eventually([&] { return windows() == 1; }, 10s, kToolPoll))
      << "Return left the popover open";
  const std::string after = rowStartingWith(tree(), "New Alarm");
  EXPECT_EQ(after.substr(0, after.find(',', 11)),
            std::string("New Alarm, 7:30 ") + (wasEvening ? "AM" : "PM"));

  // A three-second timer with an alert when it finishes, added in the action editor.
  ASSERT_TRUE(click("radio button", "Timers"));
  ASSERT_TRUE(click("push button", "Add timer"));
  ASSERT_TRUE(eventually([&] { return windows() >= 2; }, 10s, kToolPoll)) << "no value popover";
  keys("0 Tab 0 Tab 3 Return");
  ASSERT_TRUE(eventually([&] { return windows() == 1; }, 10s, kToolPoll));
  // An action added in the editor: opened by the list's add button; the kind chosen from the
  // pop-up (the first control after one Tab) `steps` below the first; `fill` gives the kind what
  // it needs; Return saves (the editor's default button).
  const auto addAction = [&](int steps, const std::function<void()>& fill) {
    ASSERT_TRUE(clickOpens("push button", "Add Action", window, 2))
        << "no action editor with the keyboard";
    std::string choose = "Tab";
    for (int i = 0; i < steps; ++i) choose += " Down";
    keys(choose);
    if (fill) {
      fill();
      if (::testing::Test::HasFatalFailure()) return;
      ASSERT_TRUE(click("push button", "Save"));
    } else {
      keys("Return");
    }
    ASSERT_TRUE(eventually([&] { return windows() == 1; }, 10s, kToolPoll))
        << "the editor did not save";
  };
  // The editor's "Choose…" opens a chooser over it; `pick` works it and closes it.
  const auto chooseWith = [&](const std::function<void()>& pick) {
    const std::string editor = activeWindow();
    ASSERT_TRUE(clickOpens("push button", "Choose…", editor, 3)) << "no chooser with the keyboard";
    pick();
    ASSERT_TRUE(
        eventually([&] { return windows() == 2 && activeWindow() == editor; }, 10s, kToolPoll))
        << "the chooser did not close";
  };
  addAction(0, nullptr);
  ASSERT_TRUE(eventually(
      [&] {
        for (const auto& line : tree())
          if (line.rfind("check box|Action enabled: ", 0) == 0) return true;
        return false;
      },
      10s, kToolPoll))
      << "the new action is not in the list";

  // Started with Space on the display; its end reaches the desktop's notification service.
  const auto clickDisplay = [&] {
    const auto title = where("text", "Title");
    const auto start = where("push button", "Start");
    if (!title || !start) return false;
    xdotool("mousemove --sync " + std::to_string(start->first) + " " +
            std::to_string((title->second + start->second) / 2) + " click 1");
    return true;
  };
  ASSERT_TRUE(clickDisplay());
  keys("space");
  EXPECT_TRUE(notifications.waitForCalls(1, 20.0)) << "no notification of the finish";
  // The timer at rest again: a repeat of its finish (a timer's kind, after link time object).
  ASSERT_TRUE(waitForControl("push button", "Start"));
  addAction(4, nullptr);

  // A stopwatch, left running.
  ASSERT_TRUE(click("radio button", "Stopwatches"));
  ASSERT_TRUE(click("push button", "Add stopwatch"));
  ASSERT_TRUE(waitForControl("push button", "Start"));
  ASSERT_TRUE(clickDisplay());
  keys("space");
  ASSERT_TRUE(waitForControl("push button", "Stop")) << "Space did not start the stopwatch";
  // On the running stopwatch, every other kind, each triggered by a start (so none fires now):
  // a custom message typed into its field, a flash, a link to the first other object, a system
  // event, a file and an application, each otherwise with what the editor offers first.
  addAction(1, [&] {
    ASSERT_TRUE(click("text", "Message"));
    xdotool("type --delay 40 Stretch");
  });
  addAction(2, nullptr);
  addAction(3, nullptr);
  addAction(4, nullptr);
  // A file, its path typed into the file chooser's name field.
  const fs::path notes = xdg_.root() / "notes.txt";
  std::ofstream(notes) << "notes\n";
  addAction(5, [&] {
    chooseWith([&] {
      xdotool("type --delay 20 '" + notes.string() + "'");
      keys("Return");
    });
  });
  // An application, found in the chooser by its name and chosen.
  const fs::path applications = fs::path(getenv("XDG_DATA_HOME")) / "applications";
  fs::create_directories(applications);
  std::ofstream(applications / "scratchpad.desktop")
      << "[Desktop Entry]\nType=Application\nName=Scratch Pad\nExec=true\n";
  addAction(6, [&] {
    chooseWith([&] {
      xdotool("type --delay 40 Scratch");
      ASSERT_TRUE(click("list item", "Scratch Pad"));
      ASSERT_TRUE(click("push button", "Choose"));
    });
  });

  // Preferences from the title bar's menu (F10), closed with Escape.
  xdotool("windowactivate --sync " + window);
  keys("F10 Down Return");
  ASSERT_TRUE(eventually([&] { return windows() >= 2; }, 10s, kToolPoll))
      << "Preferences did not open";
  keys("Escape");
  ASSERT_TRUE(eventually([&] { return windows() == 1; }, 10s, kToolPoll));

  // Quit, the menu's last command, opened with the mouse: the running stopwatch brings the
  // warning; Quit ends the program.
  xdotool("windowactivate --sync " + window);
  ASSERT_TRUE(click("push button", "Main Menu"));
  keys("Up Return");
  ASSERT_TRUE(click("push button", "Quit")) << "no quit warning";
  EXPECT_EQ(waitAppExit(20s), std::optional<int>(0)) << readFile(log());

  // Everything was stored as it was set.
  const auto kindsOf = [](const std::shared_ptr<BTTimeObject>& object) {
    std::multiset<std::string> kinds;
    for (const auto& action : object->actions()) {
      if (std::dynamic_pointer_cast<BTDisplayAlertAction>(action))
        kinds.insert("alert");
      else if (auto message = std::dynamic_pointer_cast<BTCustomMessageAction>(action))
        kinds.insert("message " + message->customMessageValue().value_or(""));
      else if (std::dynamic_pointer_cast<BTFlashScreenAction>(action))
        kinds.insert("flash");
      else if (auto link = std::dynamic_pointer_cast<BTLinkTimeObjectAction>(action))
        kinds.insert(link->targetTimeObject() ? "link" : "link without target");
      else if (std::dynamic_pointer_cast<BTRepeatAction>(action))
        kinds.insert("repeat");
      else if (std::dynamic_pointer_cast<BTSystemEventAction>(action))
        kinds.insert("system event");
      else if (auto file = std::dynamic_pointer_cast<BTFileOperationAction>(action))
        kinds.insert("file " + file->fileFilepathValue().value_or(""));
      else if (auto app = std::dynamic_pointer_cast<BTAppOperationAction>(action))
        kinds.insert("app " + fs::path(app->appFilepathValue().value_or("")).filename().string());
      else
        kinds.insert("other");
    }
    return kinds;
  };
  const std::multiset<std::string> timerKinds{"alert", "repeat"};
  const std::multiset<std::string> watchKinds{
      "message Stretch",       "flash", "link", "system event", "file " + notes.string(),
      "app scratchpad.desktop"};
  withStore([&](BTTimingController&) {
    auto context = tw::defaultCoreDataProvider()->objectContext();
    auto alarms = context->findAll<BTAlarm>();
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0]->time()->hour(), wasEvening ? 7 : 19);
    EXPECT_EQ(alarms[0]->time()->minute(), 30);
    ASSERT_TRUE(alarms[0]->weekdays());
    const auto days = alarms[0]->weekdays();
    EXPECT_EQ((std::vector<bool>{days->sunday(), days->monday(), days->tuesday(), days->wednesday(),
                                 days->thursday(), days->friday(), days->saturday()}),
              (std::vector<bool>{false, true, false, true, false, false, false}));
    auto timers = context->findAll<BTTimer>();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0]->time()->second(), 3);
    EXPECT_EQ(timers[0]->time()->minute(), 0);
    EXPECT_EQ(kindsOf(timers[0]), timerKinds);
    auto watches = context->findAll<BTStopwatch>();
    ASSERT_EQ(watches.size(), 1u);
    EXPECT_EQ(watches[0]->timingState(), 20);
    EXPECT_EQ(kindsOf(watches[0]), watchKinds);
  });

  // Relaunched, the program shows the running stopwatch where it was left.
  launchReadable();
  EXPECT_TRUE(waitForControl("push button", "Stop"));
  // Every action survives the relaunch and the next save.
  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  EXPECT_EQ(waitAppExit(20s), std::optional<int>(0)) << readFile(log());
  withStore([&](BTTimingController&) {
    auto context = tw::defaultCoreDataProvider()->objectContext();
    auto timers = context->findAll<BTTimer>();
    auto watches = context->findAll<BTStopwatch>();
    ASSERT_EQ(timers.size(), 1u);
    ASSERT_EQ(watches.size(), 1u);
    EXPECT_EQ(kindsOf(timers[0]), timerKinds);
    EXPECT_EQ(kindsOf(watches[0]), watchKinds);
  });
}

// The controls a person can operate in the walked lines ("role|name|focusable") that have no
// name, one "role" each.
std::vector<std::string> unnamedControls(const std::vector<std::string>& lines) {
  static const std::set<std::string> operable = {
      "push button", "radio button", "check box",   "toggle button", "text",
      "list",        "combo box",    "spin button", "slider",        "menu item"};
  std::vector<std::string> unnamed;
  for (const auto& line : lines) {
    const auto role = line.substr(0, line.find('|'));
    const auto rest = line.substr(line.find('|') + 1);
    if (operable.count(role) && rest.substr(0, rest.rfind('|')).empty()) unnamed.push_back(role);
  }
  return unnamed;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  return all;
}

// Every window a person meets, walked over AT-SPI as a screen reader walks it: the main window,
// the value popovers of an alarm and a timer, the settings window on each pane, the action
// editor for each kind of action, the message window an action shows, and the alert before
// quitting. In each, whatever can be operated is named; the main window reads its time and leaves
// out what it does not show.
TEST_F(AccessibilityEndToEndTest, EveryWindowNamesWhatAPersonCanOperateOverAtSpi) {
  withStore([](BTTimingController&) {
    tw::app::sample::insertShowcase();
    tw::app::sample::insertSampleActions();
  });
  launchReadable();
  const std::string window = waitForWindowOf(app_);
  ASSERT_FALSE(window.empty());
  xdotool("windowactivate --sync " + window);
  const auto windows = [&] { return visibleWindowsOf(app_).size(); };
  std::vector<std::string> lines;
  const auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  const auto expectAllNamed = [&](const std::string& where) {
    EXPECT_EQ(unnamedControls(lines), std::vector<std::string>{}) << where << ":\n"
                                                                  << joined(lines);
  };

  // The main window on the running timer "Tea" (the list's first row is chosen at launch).
  ASSERT_TRUE(click("radio button", "Timers"));
  ASSERT_TRUE(waitFor(
      [&] {
        lines = tree();
        return has("push button|Pause|1");
      },
      20s))
      << joined(lines) << readFile(log());
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            // "label|3 minutes 53 seconds|0", or "label|0 seconds|0" once it has
                            // finished.
                            return l.rfind("label|", 0) == 0 && l.size() > 6 &&
                                   std::isdigit(l[6]) &&
                                   (l.find(" second") != l.npos || l.find(" minute") != l.npos);
                          }))
      << "the time is read as speech:\n"
      << joined(lines);
  for (const auto& line : lines)
    EXPECT_EQ(line.find("Created|"), std::string::npos) << "a placeholder behind rows: " << line;
  EXPECT_TRUE(has("text|Pasta|0")) << "each row's title field is named";
  expectAllNamed("main window");

  // The value popover of an alarm, then of "Tea", each opened from its row (a click chooses the
  // row and gives the list the keyboard, Return opens it): read under the row as a dialog named
  // by what it edits, with its fields and buttons named, and gone once Escape closes it.
  const auto lineWith = [&](const std::string& start, const std::string& part = "") {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.rfind(start, 0) == 0 && l.find(part) != std::string::npos;
    });
  };
  for (const char* tab : {"Alarms", "Timers"}) {
    ASSERT_TRUE(click("radio button", tab));
    std::string row;
    ASSERT_TRUE(waitFor(
        [&] {
          lines = tree();
          row = rowStartingWith(lines, tab == std::string("Timers") ? "Tea" : "");
          return has("list|" + std::string(tab) + "|1") && !row.empty();
        },
        20s))
        << joined(lines);
    // By the row's title alone: a running timer's name goes on with the time, read anew each
    // second.
    const std::string name = row.substr(0, row.rfind('|'));
    ASSERT_TRUE(click("list item", name.substr(0, name.find(", ")) + "*"))
        << "no row '" << row << "' to click:\n"
        << joined(tree());
    std::this_thread::sleep_for(300ms);
    keys("Return");
    ASSERT_TRUE(waitFor(
        [&] {
          lines = tree();
          return lineWith("dialog|Edit ");
        },
        10s))
        << tab << " value popover not read:\n"
        << joined(lines);
    EXPECT_TRUE(lineWith("text|minutes|")) << joined(lines);
    if (tab == std::string("Alarms"))
      EXPECT_TRUE(lineWith("", "|Repeat on Monday|")) << joined(lines);
    else
      EXPECT_TRUE(lineWith("dialog|Edit Tea|")) << joined(lines);
    expectAllNamed(std::string(tab) + " value popover");
    keys("Escape");
    EXPECT_TRUE(waitFor(
        [&] {
          lines = tree();
          return !lineWith("dialog|");
        },
        10s))
        << "a closed popover is still read:\n"
        << joined(lines);
  }

  // The settings window, on each of its panes.
  keys("ctrl+comma");
  ASSERT_TRUE(waitFor([&] { return windows() == 2; }, 10s)) << "no settings window";
  for (const char* pane : {"General", "Appearance", "Updates"}) {
    ASSERT_TRUE(click("*", pane) || click("push button", pane) || click("toggle button", pane))
        << pane;
    std::this_thread::sleep_for(500ms);
    lines = tree();
    expectAllNamed(std::string("settings pane ") + pane);
  }
  keys("Escape");
  ASSERT_TRUE(waitFor([&] { return windows() == 1; }, 10s)) << "Escape left the settings open";

  // The action editor for each kind, chosen from its pop-up (the first control after one Tab),
  // left with Escape.
  xdotool("windowactivate --sync " + window);
  for (int kind = 0; kind < 8; ++kind) {
    ASSERT_TRUE(clickOpens("push button", "Add Action", window, 2)) << "no editor for " << kind;
    std::string choose = "Tab";
    for (int i = 0; i < kind; ++i) choose += " Down";
    keys(choose);
    std::this_thread::sleep_for(500ms);
    lines = tree();
    EXPECT_TRUE(has("combo box|Action|1") && has("combo box|Trigger|1"))
        << "pop-ups read as what they choose:\n"
        << joined(lines);
    expectAllNamed("action editor, kind " + std::to_string(kind));
    keys("Escape");
    ASSERT_TRUE(waitFor([&] { return windows() == 1; }, 10s)) << "Escape left the editor open";
  }

  // The message an action shows, tried from the editor of "Tea"'s message.
  ASSERT_TRUE(clickOpens("push button", "Edit action: Display and speak message \"Tea is ready\"",
                         window, 2));
  const std::string editor = activeWindow();
  ASSERT_TRUE(click("push button", "Test"));
  ASSERT_TRUE(waitFor([&] { return windows() >= 3; }, 10s)) << "no message window";
  std::this_thread::sleep_for(500ms);
  lines = tree();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            return l.find("Tea is ready") != std::string::npos &&
                                   l.rfind("label|", 0) == 0;
                          }))
      << "the message is read:\n"
      << joined(lines);
  expectAllNamed("message window");
  keys("Escape");
  ASSERT_TRUE(waitFor([&] { return windows() == 2; }, 10s)) << "Escape left the message open";
  xdotool("windowactivate --sync " + editor);
  keys("Escape");
  ASSERT_TRUE(waitFor([&] { return windows() == 1; }, 10s));

  // The alert before quitting while "Tea" runs.
  xdotool("windowactivate --sync " + window);
  keys("ctrl+q");
  ASSERT_TRUE(waitForControl("push button", "Quit")) << "no quit warning";
  lines = tree();
  expectAllNamed("quit alert");
  ASSERT_TRUE(click("push button", "Quit"));
  EXPECT_EQ(waitAppExit(20s), std::optional<int>(0)) << readFile(log());
}

}  // namespace
