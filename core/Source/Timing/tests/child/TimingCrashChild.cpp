// The child of the timing crash recovery test: a process that runs timers on the real clock and
// is killed, by the test or by itself.
//   timing_crash_child <mode> <data-folder>
// It keeps its store in <data-folder> (its XDG folders) and reports on descriptor 3. Modes:
// runs-until-killed (sets each kind of object going, saves, reports what the survivors must
// show, ticks on), changes-each-kind (changes each stored timer one way, reports, ticks on) and
// killed-after-first-action (kills itself as the first action runs, or once nothing is left to
// run).

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/Source/Services/BTCoreDataService.h"
#include "core/Source/Services/DataServiceBundle/BTTimersDataService.h"
#include "core/Source/Timing/BTStopwatchControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/Timing/tests/TimingCrashSupport.h"
#include "core/Source/Timing/tests/TimingTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/testsupport/TestSupport.h"

namespace fs = std::filesystem;

namespace {

using namespace tw::test;

constexpr int kReportFd = 3;

[[noreturn]] void childFails(int code, const std::string& why) {
  std::fprintf(stderr, "child: %s\n", why.c_str());
  std::fflush(stderr);
  std::_Exit(code);
}

// The child: sets everything going on the real clock, saves, reports, and ticks until killed.
[[noreturn]] void runsUntilKilled() {
  const int fd = kReportFd;
  std::ostringstream out;
  out.precision(17);
  auto line = [&](const std::string& name, const std::shared_ptr<BTTimeObject>& o, double a,
                  double b = 0) {
    out << name << ' ' << *o->uuid() << ' ' << a << ' ' << b << '\n';
  };

  auto service = std::make_shared<BTCoreDataService>();
  service->setup();
  tw::setDefaultCoreDataProvider(service);
  auto settings = std::make_shared<tw::test::StubSettingsProvider>();
  settings->timeObjectsBundle()->setStopwatchAccuracy(1);  // 100 Hz: the tick timer runs at 200
  BTStopwatchControlViewModel::setDefaultSettingsProvider(settings);
  auto updater = std::make_shared<BTUpdater>();
  auto controller = std::make_shared<BTTimingController>(
      updater, std::make_shared<tw::test::RecordingExecutor>());
  auto control = [&](const std::shared_ptr<BTTimeObject>& o) {
    return controller->timingControlForTimingObject(o);
  };

  auto finished = makeTimer(1);
  addFinishAction(finished);
  auto pausedTimer = makeTimer(600);
  addFinishAction(pausedTimer);
  auto pausedStopwatch = managedObject<BTStopwatch>();
  auto runningStopwatch = managedObject<BTStopwatch>();
  auto alarm = managedObject<BTAlarm>();
  {
    // Rings two hours from now, by the local clock.
    const std::time_t at = std::time(nullptr) + std::time_t{2} * 3600;
    std::tm local{};
    ::localtime_r(&at, &local);
    auto time = managedObject<BTTimeSetting>();
    time->setHour(local.tm_hour);
    time->setMinute(local.tm_min);
    time->setSecond(local.tm_sec);
    alarm->setTime(time);
  }
  std::vector<std::shared_ptr<BTTimer>> running;
  for (long d : kRunningDurations) {
    running.push_back(makeTimer(d));
    addFinishAction(running.back());
  }
  auto diesFinishing = makeTimer(kFinishesWhileDead);
  addFinishAction(diesFinishing);

  control(finished)->start();
  control(pausedTimer)->start();
  control(pausedStopwatch)->start();
  for (std::size_t i = 0; i < running.size(); ++i) {
    const double before = tw::clock::wallNow();
    control(running[i])->start();
    line("running" + std::to_string(i), running[i], running[i]->finishDate()->secondsSince1970,
         before);
  }
  {
    const double before = tw::clock::wallNow();
    control(runningStopwatch)->start();
    line("stopwatch", runningStopwatch, runningStopwatch->startDate()->secondsSince1970, before);
  }
  control(alarm)->start();
  line("alarm", alarm, alarm->finishDate()->secondsSince1970);

  // The one-second timer finishes on a tick of its own; it stays finished for a second, and the
  // save below lands inside that second.
  if (!tw::RunLoop::main().runUntil(
          [&] { return finished->timingState() == tw::kTimingStateFinished; }, 10))
    childFails(5, "the one-second timer never finished");
  line("finished", finished, 0);
  // Paused well clear of the timers' tick, so the time left is nowhere near a whole second.
  tw::RunLoop::main().runUntil([] { return false; }, 0.25);
  control(pausedTimer)->pause();
  control(pausedStopwatch)->pause();
  line("pausedTimer", pausedTimer, pausedTimer->timingValue());
  line("pausedStopwatch", pausedStopwatch, pausedStopwatch->timingValue());
  control(diesFinishing)->start();
  line("diesFinishing", diesFinishing, diesFinishing->finishDate()->secondsSince1970);

  if (auto error = service->objectContext()->save()) childFails(6, "the save failed");
  if (finished->timingState() != tw::kTimingStateFinished)
    childFails(7, "saved too late to store a finish");
  out << "ready\n";
  const std::string text = out.str();
  if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    childFails(8, "cannot report");
  // Tick on (and reset the finished timer, in memory only) until the kill.
  tw::RunLoop::main().run();
  childFails(9, "the run loop returned");
}

// The child: one change of each kind a crash must not lose, then a report, and ticks until
// killed. Nothing saves explicitly.
[[noreturn]] void changesEachKindAndRunsUntilKilled() {
  auto service = openStore();
  auto controller = std::make_shared<BTTimingController>(
      std::make_shared<BTUpdater>(), std::make_shared<tw::test::RecordingExecutor>());
  auto control = [&](const char* title) {
    auto timer = storedTimer(title);
    if (!timer) childFails(5, std::string("no timer ") + title);
    return controller->timingControlForTimingObject(timer);
  };
  auto timers = std::make_shared<BTTimersDataService>(service);
  auto awaitTask = [](const BFTaskPtr& task) {
    if (!tw::RunLoop::main().runUntil([&] { return task->isCompleted(); }, 10))
      childFails(6, "a data service task never finished");
  };
  awaitTask(timers->loadTimeObjects());
  // The overdue timer finishes on its first tick.
  control("Finish");
  control("Start")->start();
  control("Pause")->pause();
  control("Resume")->start();
  control("Reset")->reset();
  awaitTask(timers->createTimeObject());
  awaitTask(timers->deleteTimeObject(storedTimer("Delete")));
  awaitTask(timers->moveTimeObjectAtIndex(0, 1));
  if (!tw::RunLoop::main().runUntil(
          [] { return storedTimer("Finish")->timingState() == tw::kTimingStateFinished; }, 10))
    childFails(7, "the overdue timer never finished");
  tw::RunLoop::main().drain();
  const std::string ready = "ready\n";
  if (::write(kReportFd, ready.data(), ready.size()) != static_cast<ssize_t>(ready.size()))
    childFails(8, "cannot report");
  tw::RunLoop::main().run();
  childFails(9, "the run loop returned");
}

// The child: makes the controls of the stored objects as a start of the application does; its
// executor records each action and kills the process at once. With nothing to run, it kills
// itself once the finish has been dealt with (well inside the auto-save delay).
[[noreturn]] void killedRightAfterTheFirstAction(const fs::path& folder) {
  class KillingExecutor : public BTActionExecutor {
   public:
    explicit KillingExecutor(fs::path record) : record_(std::move(record)) {}
    BFTaskPtr executeAction(const std::shared_ptr<BTActionObjectProtocol>&) override {
      const int fd = ::open(record_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
      if (fd < 0 || ::write(fd, "ran\n", 4) != 4 || ::fsync(fd) != 0)
        childFails(5, "cannot record the action");
      ::close(fd);
      ::kill(::getpid(), SIGKILL);
      return nullptr;
    }
    const fs::path record_;
  };
  auto service = openStore();
  auto controller = std::make_shared<BTTimingController>(
      std::make_shared<BTUpdater>(), std::make_shared<KillingExecutor>(folder / "actions"));
  auto timer = storedTimer("Overdue");
  if (!timer) childFails(6, "no timer");
  controller->timingControlForTimingObject(timer);
  if (!tw::RunLoop::main().runUntil([&] { return timer->timingState() == tw::kTimingStateReset; },
                                    10))
    childFails(7, "the timer never reset");
  ::kill(::getpid(), SIGKILL);
  childFails(8, "still alive after killing itself");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: timing_crash_child <mode> <data-folder>\n");
    return 2;
  }
  // The main thread is the main queue's, as in the application.
  tw::RunLoop::main();
  const std::string mode = argv[1];
  const fs::path folder = argv[2];
  tw::test::pointXdgAt(folder);
  if (mode == "runs-until-killed") runsUntilKilled();
  if (mode == "changes-each-kind") changesEachKindAndRunsUntilKilled();
  if (mode == "killed-after-first-action") killedRightAfterTheFirstAction(folder);
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
