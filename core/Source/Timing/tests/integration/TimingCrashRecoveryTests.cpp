// Time objects outlive a process that dies without warning. A child process runs timers, an
// alarm and stopwatches on the real clock, some running and some paused, saves, and ticks on
// until it is killed with SIGKILL. The test then opens the store the child left, makes the
// controls of every stored object as a start of the application does, and checks that each
// object carries on from what was stored: running timers show their time left, paused objects
// keep their value, a timer whose finish passed while nobody ran finishes on its first tick and
// fires its finish action once, and one stored as finished is reset.
//
// Changes are on disk right after the turn that made them: a child starts, pauses, resumes,
// resets, finishes, inserts, deletes and reorders timers and is killed a moment later; the store
// holds every change. And a finish runs its actions once: a child that finishes a timer whose
// finish passed while nothing ran is killed right after the first action, and three more
// launches, each killed in turn, run it no more.
//
// The child is a program of its own (tests/child/TimingCrashChild.cpp), told what to do and
// which data folder to use; it reports on a pipe. The child reports what it expects the survivors
// to show only once its save has returned. The parent carries on under a virtual clock that starts
// at the real time of the kill, so it can let the time of a finish pass without sleeping.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Services/DataServiceBundle/BTTimersDataService.h"
#include "core/Source/Timing/BTStopwatchControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/Timing/tests/TimingCrashSupport.h"
#include "core/Source/Timing/tests/TimingTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/store/Context.h"
#include "platform/store/PersistentStore.h"
#include "platform/testsupport/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// What the child reports: one line per object, "<name> <uuid> <number> <number>".
struct Report {
  std::string uuid;
  double a = 0;  // finish or start moment, or the value shown on pausing
  double b = 0;  // the real time just before the start, where it matters
};
using Reports = std::map<std::string, Report>;

using tw::test::addFinishAction;
using tw::test::closeStore;
using tw::test::kFinishesWhileDead;
using tw::test::kRunningDurations;
using tw::test::makeTimer;
using tw::test::openStore;
using tw::test::storedTimer;

// Reads the child's report up to "ready"; false at end of file or after `seconds`.
bool readReport(int fd, std::string& text, double seconds) {
  pollfd p{fd, POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (text.find("ready\n") == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

Reports parseReport(const std::string& text) {
  Reports reports;
  std::istringstream in(text);
  std::string name;
  while (in >> name && name != "ready") {
    Report r;
    in >> r.uuid >> r.a >> r.b;
    reports[name] = r;
  }
  return reports;
}

using tw::test::fileText;

class TimingCrashRecoveryTest : public ::testing::Test {
 protected:
  // Starts the child, waits for its report, lets it tick on for a random moment and kills it.
  // A child that kills itself (`killsItself`) reports nothing and is only waited for.
  Reports runAndKillChild(const char* mode = "runs-until-killed", bool killsItself = false) {
    const fs::path childTmp = tmp_.path() / "child";
    fs::create_directories(childTmp);
    const fs::path childLog = tmp_.path() / "child.log";
    // Everything the child needs is made before the fork: between fork and exec only plain
    // system calls are safe in a process with other threads.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry(*e);
      if (entry.rfind("TMPDIR=", 0) != 0) env.push_back(entry);
    }
    env.push_back("TMPDIR=" + childTmp.string());  // the child's private folders die with it
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string arg0 = TW_TIMING_CRASH_CHILD, arg1 = mode, arg2 = xdg_.root().string();
    char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int log = ::open(childLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);

    const pid_t pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test
      ::dup2(null, 1);
      ::dup2(log >= 0 ? log : null, 2);
      ::dup2(fds[1], 3);  // the report pipe stays open across exec as fd 3 (dup2 drops CLOEXEC)
      ::execve(arg0.c_str(), argv, envp.data());
      ::_exit(127);
    }
    ::close(null);
    if (log >= 0) ::close(log);
    ::close(fds[1]);
    EXPECT_GT(pid, 0);
    if (pid <= 0) return {};

    std::string text;
    if (killsItself) {
      // It dies by its own hand, which ends the pipe; one still alive after the deadline is
      // killed and fails.
      (void)readReport(fds[0], text, 30.0);
      int status = 0;
      bool died = false;
      for (int i = 0; i < 100 && !died; ++i) {
        died = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!died) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (!died) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
      }
      ::close(fds[0]);
      EXPECT_TRUE(died && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
          << "the child did not kill itself, status " << status << "; its log:\n"
          << fileText(childLog);
      return {};
    }
    const bool ready = readReport(fds[0], text, 20.0);
    if (ready) {
      // Killed while it ticks at 200 Hz, some way into it.
      std::mt19937 random(tw::test::randomSeed());
      const int ms = std::uniform_int_distribution<int>(200, 600)(random);
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(fds[0]);
    EXPECT_TRUE(ready) << "the child never reported; its log:\n" << fileText(childLog);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the child ended by itself, status " << status << "; its log:\n"
        << fileText(childLog);
    debugText_ = text;
    return ready ? parseReport(text) : Reports{};
  }

  tw::test::ScopedXdg xdg_;
  tw::test::TempDir tmp_;
  std::string debugText_;
};

TEST_F(TimingCrashRecoveryTest, AfterAKillEveryTimeObjectCarriesOnFromWhatWasStored) {
  const Reports reports = runAndKillChild();
  ASSERT_EQ(reports.size(), 3u + 6u) << "incomplete report: " << debugText_;

  // From here on the clock is virtual, starting at the real time of the kill.
  tw::VirtualClock clock(tw::clock::wallNow());
  tw::RunLoop::main().drain();
  auto service = std::make_shared<BTCoreDataService>();
  service->setup();
  tw::setDefaultCoreDataProvider(service);
  auto& context = *service->objectContext();
  ASSERT_FALSE(context.persistentStore()->movedAsidePath().has_value());

  // The process stayed dead past the finish of the timer started last.
  const double diesAt = reports.at("diesFinishing").a;
  ASSERT_GT(diesAt, clock.wall()) << "it finished before the kill";
  clock.advance(diesAt - clock.wall() + 0.3);
  tw::RunLoop::main().drain();

  auto settings = std::make_shared<tw::test::StubSettingsProvider>();
  settings->timeObjectsBundle()->setStopwatchAccuracy(1);
  BTStopwatchControlViewModel::setDefaultSettingsProvider(settings);
  auto executor = std::make_shared<tw::test::RecordingExecutor>();
  auto updater = std::make_shared<BTUpdater>();
  auto controller = std::make_shared<BTTimingController>(updater, executor);

  std::map<std::string, std::shared_ptr<BTTimeObject>> byUuid;
  for (auto& o : context.findAll<BTTimeObject>()) byUuid[*o->uuid()] = o;
  ASSERT_EQ(byUuid.size(), reports.size());
  // What a start of the application does: a control for every stored object.
  for (auto& [uuid, o] : byUuid) ASSERT_TRUE(controller->timingControlForTimingObject(o));
  auto object = [&](const std::string& name) { return byUuid.at(reports.at(name).uuid); };
  auto isScheduled = [&](const std::shared_ptr<BTTimeObject>& o) {
    const std::shared_ptr<BTUpdateable> c = controller->timingControlForTimingObject(o);
    const auto held = updater->updateableObjects();
    return std::find(held.begin(), held.end(), c) != held.end();
  };
  auto finishActionOf = [&](const std::shared_ptr<BTTimeObject>& o) {
    EXPECT_EQ(o->actions().size(), 1u);
    return o->actions().front();
  };
  // Moves the clock and lets the scheduler serve every firing on the way.
  auto step = [&](double seconds) {
    clock.advance(seconds);
    ASSERT_TRUE(
        tw::test::pumpMainUntil([&] { return updater->servedTicks() == updater->updateTicks(); }));
    tw::RunLoop::main().drain();
  };

  // Stored as finished: reset at once, silently.
  auto finished = std::dynamic_pointer_cast<BTTimer>(object("finished"));
  EXPECT_EQ(finished->timingState(), tw::kTimingStateReset);
  EXPECT_EQ(finished->timingValue(), 1.0);
  EXPECT_FALSE(finished->finishDate());
  EXPECT_FALSE(isScheduled(finished));

  // Paused: the value of the moment of the pause, and off the scheduler.
  auto pausedTimer = object("pausedTimer");
  auto pausedStopwatch = object("pausedStopwatch");
  EXPECT_EQ(pausedTimer->timingState(), tw::kTimingStatePaused);
  EXPECT_EQ(pausedTimer->timingValue(), reports.at("pausedTimer").a);
  EXPECT_EQ(pausedStopwatch->timingState(), tw::kTimingStatePaused);
  EXPECT_NEAR(pausedStopwatch->timingValue(), reports.at("pausedStopwatch").a, 1e-3);
  EXPECT_GT(pausedStopwatch->timingValue(), 0.5);
  EXPECT_FALSE(isScheduled(pausedTimer));
  EXPECT_FALSE(isScheduled(pausedStopwatch));

  // Running, including the one whose finish has passed: back on the scheduler, nothing fired
  // before the first tick.
  auto diesFinishing = std::dynamic_pointer_cast<BTTimer>(object("diesFinishing"));
  auto finishAction = finishActionOf(diesFinishing);
  for (const char* name :
       {"running0", "running1", "running2", "stopwatch", "alarm", "diesFinishing"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(object(name)->timingState(), tw::kTimingStateRunning);
    EXPECT_TRUE(isScheduled(object(name)));
  }
  EXPECT_TRUE(executor->calls.empty());

  // Up to the first tick that serves the timers (they share one rate, so one tick serves all):
  // the overdue timer is still running until then, and finishes on that very tick.
  auto firstRunning = object("running0");
  double waited = 0;
  while (firstRunning->timingValue() == 0.0 && waited < 1.0) {
    ASSERT_EQ(diesFinishing->timingState(), tw::kTimingStateRunning);
    step(0.005);
    waited += 0.005;
  }
  ASSERT_NE(firstRunning->timingValue(), 0.0) << "the timers were never ticked";
  EXPECT_LE(waited, 0.5 + 1e-9);  // timers are served twice a second
  EXPECT_EQ(diesFinishing->timingState(), tw::kTimingStateFinished);
  EXPECT_EQ(diesFinishing->timingValue(), 0.0);
  EXPECT_EQ(executor->countFor(finishAction), 1);
  EXPECT_FALSE(isScheduled(diesFinishing));

  // Each running timer shows the time left to the finish it was started for.
  for (std::size_t i = 0; i < std::size(kRunningDurations); ++i) {
    const std::string name = "running" + std::to_string(i);
    SCOPED_TRACE(name);
    const Report& r = reports.at(name);
    auto timer = std::dynamic_pointer_cast<BTTimer>(object(name));
    ASSERT_TRUE(timer->finishDate());
    EXPECT_NEAR(timer->finishDate()->secondsSince1970, r.a, 1e-3);
    const double left = r.b + static_cast<double>(kRunningDurations[i]) - clock.wall();
    EXPECT_NEAR(timer->timingValue(), left, 1.0);
    EXPECT_EQ(timer->timingState(), tw::kTimingStateRunning);
  }
  // The stopwatch counts on from its stored start; the alarm rings when it was set to.
  auto stopwatch = object("stopwatch");
  EXPECT_NEAR(stopwatch->timingValue(), clock.wall() - reports.at("stopwatch").b, 1.0);
  EXPECT_NEAR(stopwatch->timingValue(), clock.wall() - reports.at("stopwatch").a, 0.011);
  auto alarm = std::dynamic_pointer_cast<BTAlarm>(object("alarm"));
  ASSERT_TRUE(alarm->finishDate());
  EXPECT_NEAR(alarm->finishDate()->secondsSince1970, reports.at("alarm").a, 1e-3);
  EXPECT_NEAR(alarm->timingValue(), reports.at("alarm").a - clock.wall(), 1.0);

  // The finished timer resets a second later; nothing fires again, and the paused objects stay
  // as they were while the others tick.
  const double pausedValue = pausedTimer->timingValue();
  const double pausedElapsed = pausedStopwatch->timingValue();
  step(1.5);
  EXPECT_EQ(diesFinishing->timingState(), tw::kTimingStateReset);
  EXPECT_EQ(diesFinishing->timingValue(), static_cast<double>(kFinishesWhileDead));
  EXPECT_EQ(executor->countFor(finishAction), 1);
  EXPECT_EQ(executor->calls.size(), 1u);
  EXPECT_EQ(pausedTimer->timingValue(), pausedValue);
  EXPECT_EQ(pausedStopwatch->timingValue(), pausedElapsed);
  EXPECT_EQ(firstRunning->timingState(), tw::kTimingStateRunning);

  controller.reset();
  updater.reset();
  BTStopwatchControlViewModel::setDefaultSettingsProvider({});
  clock.advance(2.0);
  tw::RunLoop::main().drain();
  service->cleanUp();
  tw::setDefaultCoreDataProvider(nullptr);
  tw::RunLoop::main().drain();
}

// ----- saved at once; a finish handled once

// The titles of the stored timers, by sort order.
std::vector<std::string> storedOrder() {
  std::vector<std::string> titles;
  for (auto& timer :
       tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimer>("sortOrder,creationDate"))
    titles.push_back(timer->title());
  return titles;
}

TEST_F(TimingCrashRecoveryTest, EveryChangeOfStateListOrObjectsIsOnDiskAMomentAfterIt) {
  {
    auto service = openStore();
    BTTimingController controller(std::make_shared<BTUpdater>(), nullptr);
    std::int64_t order = 0;
    for (const char* title : {"Start", "Pause", "Resume", "Reset", "Finish", "Delete"})
      tw::test::makeTimer(600, title)->setSortOrder(order++);
    controller.timingControlForTimingObject(storedTimer("Pause"))->start();
    controller.timingControlForTimingObject(storedTimer("Resume"))->start();
    controller.timingControlForTimingObject(storedTimer("Resume"))->pause();
    controller.timingControlForTimingObject(storedTimer("Reset"))->start();
    auto finish = storedTimer("Finish");
    finish->setTimingState(tw::kTimingStateRunning);
    finish->setFinishDate(tw::Date{tw::clock::wallNow() - 5});
    service->save();
    closeStore(service);
  }

  runAndKillChild("changes-each-kind");

  auto service = openStore();
  auto state = [](const char* title) { return storedTimer(title)->timingState(); };
  EXPECT_EQ(state("Start"), tw::kTimingStateRunning);
  EXPECT_TRUE(storedTimer("Start")->finishDate());
  EXPECT_EQ(state("Pause"), tw::kTimingStatePaused);
  EXPECT_TRUE(storedTimer("Pause")->pauseDate());
  EXPECT_EQ(state("Resume"), tw::kTimingStateRunning);
  EXPECT_FALSE(storedTimer("Resume")->pauseDate());
  EXPECT_EQ(state("Reset"), tw::kTimingStateReset);
  EXPECT_NE(state("Finish"), tw::kTimingStateRunning) << "finished, or reset after it";
  EXPECT_FALSE(storedTimer("Delete"));
  EXPECT_EQ(storedOrder(),
            (std::vector<std::string>{"Pause", "Start", "Resume", "Reset", "Finish", "New Timer"}));
  closeStore(service);
}

TEST_F(TimingCrashRecoveryTest, AFinishMissedWhileNothingRanRunsItsActionOnceAcrossKills) {
  {
    auto service = openStore();
    auto timer = tw::test::makeTimer(60, "Overdue");
    addFinishAction(timer);
    timer->setTimingState(tw::kTimingStateRunning);
    timer->setFinishDate(tw::Date{tw::clock::wallNow() - 5});
    service->save();
    closeStore(service);
  }
  for (int launch = 0; launch < 4; ++launch) {
    SCOPED_TRACE(launch);
    runAndKillChild("killed-after-first-action", true);
  }
  EXPECT_EQ(fileText(xdg_.root() / "actions"), "ran\n");
  auto service = openStore();
  EXPECT_NE(storedTimer("Overdue")->timingState(), tw::kTimingStateRunning);
  closeStore(service);
}

}  // namespace
