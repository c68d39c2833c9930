// The termination activities: the process-wide count, the bounded wait of the application's
// ending (a real child process ended by SIGTERM) and the logind delay inhibitor, against a private
// bus standing in for the system bus with a fake login1 recording its calls.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include "kits/platform/TerminationActivities.h"
#include "platform/desktop/tests/integration/FakeSleepServices.h"
#include "platform/desktop/tests/integration/PrivateSessionBus.h"
#include "platform/foundation/Log.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {
namespace {

// Every log line while it lives.
class LogLines {
 public:
  LogLines() {
    previous_ = setLogHook([this](LogLevel, std::string_view m) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(m);
    });
  }
  ~LogLines() { setLogHook(previous_); }
  int count(const std::string& part) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& l : lines_) n += l.find(part) != std::string::npos;
    return n;
  }

 private:
  LogHook previous_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST(TerminationActivities, CountNestedConcurrentAndForeignEndsOnceAndBoundTheWait) {
  TerminationActivities activities;
  LogLines logs;
  const auto outer = activities.begin(0xC000, "outer");
  const auto inner = activities.begin(0x4000, "inner");
  EXPECT_EQ(activities.begin(0xFF, "no termination bit"), 0u);
  EXPECT_EQ(activities.count(), 2u);
  activities.end(inner);
  activities.end(inner);
  activities.end(0);
  activities.end(outer + 100);  // never begun
  EXPECT_EQ(activities.count(), 1u);
  ASSERT_EQ(activities.running().size(), 1u);
  EXPECT_EQ(activities.running()[0].reason, "outer");

  // Left running: the wait gives up and names what it left.
  EXPECT_FALSE(activities.waitUntilNoneRun(0.05));
  EXPECT_EQ(logs.count("\"outer\" still running"), 1);

  // Ended from another thread while the wait runs.
  std::thread ender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    activities.end(outer);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(activities.waitUntilNoneRun(30));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  ender.join();
  EXPECT_EQ(activities.count(), 0u);
}

std::vector<std::string> linesOf(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// Starts the child with an activity of `seconds`, ends it by SIGTERM once the activity runs.
struct Ended {
  int status = -1;
  std::vector<std::string> events;
  std::string log;
  double seconds = 0;
};
Ended endChildBySigterm(double activitySeconds) {
  TempDir dir;
  const std::string events = (dir.path() / "events").string();
  const std::string log = (dir.path() / "log").string();
  Ended result;
  const pid_t pid =
      spawnProcess({TW_TERMINATION_CHILD, events, std::to_string(activitySeconds)}, log);
  if (pid <= 0) return result;
  const bool began = pumpMainUntil([&] { return !linesOf(events).empty(); }, 60);
  const auto start = std::chrono::steady_clock::now();
  ::kill(pid, SIGTERM);
  ::waitpid(pid, &result.status, 0);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (began) result.events = linesOf(events);
  std::ifstream in(log);
  result.log.assign(std::istreambuf_iterator<char>(in), {});
  return result;
}

TEST(TerminationActivities, SigtermWaitsForARunningActivityBoundedly) {
  const Ended waited = endChildBySigterm(1.5);
  ASSERT_TRUE(WIFEXITED(waited.status)) << waited.log;
  EXPECT_EQ(WEXITSTATUS(waited.status), 0) << waited.log;
  EXPECT_EQ(waited.events, (std::vector<std::string>{"began", "ended", "saved"})) << waited.log;

  // An activity that outlasts the wait is left, and said to be.
  const Ended left = endChildBySigterm(600);
  ASSERT_TRUE(WIFEXITED(left.status)) << left.log;
  EXPECT_EQ(left.events, (std::vector<std::string>{"began", "saved"})) << left.log;
  EXPECT_NE(left.log.find("\"long work\" still running"), std::string::npos) << left.log;
  EXPECT_GE(left.seconds, TerminationActivities::kTerminationWaitSeconds - 0.5);
  EXPECT_LT(left.seconds, 60);
}

TEST(TerminationActivities, HoldOneLogindDelayInhibitorWhileAnyRuns) {
  PrivateSessionBus bus;
  if (!bus.ok()) GTEST_SKIP() << "no private message bus: " << bus.failure();
  test::ScopedSystemBusAddress system(bus.address());
  {
    FakeSleepServices login1(bus.address(), {FakeSleepServices::Login1, false});
    ASSERT_TRUE(login1.ok());
    TerminationActivities activities;
    activities.inhibitThroughLogind("Tickwell", 2.0);
    const auto first = activities.begin(0xC000, "Morvex Crash Report Processing");
    const auto second = activities.begin(0xC0FF, "io.oriseth.RotateAndSubmit");
    ASSERT_TRUE(activities.waitUntilBusIdle(10));
    EXPECT_EQ(login1.calls(),
              std::vector<std::string>{"login1.Inhibit what=shutdown:sleep who=Tickwell "
                                       "why=Morvex Crash Report Processing mode=delay"});
    EXPECT_EQ(login1.heldLogin1Inhibitions(), 1);
    activities.end(first);
    ASSERT_TRUE(activities.waitUntilBusIdle(10));
    EXPECT_EQ(login1.heldLogin1Inhibitions(), 1);
    activities.end(second);
    ASSERT_TRUE(activities.waitUntilBusIdle(10));
    EXPECT_TRUE(pumpMainUntil([&] { return login1.heldLogin1Inhibitions() == 0; }, 10));
    // The next activity takes a new one.
    activities.end(activities.begin(0x8000, "again"));
    ASSERT_TRUE(activities.waitUntilBusIdle(10));
    EXPECT_LE(login1.calls().size(), 2u);
    EXPECT_TRUE(pumpMainUntil([&] { return login1.heldLogin1Inhibitions() == 0; }, 10));
  }

  // Without logind on the bus the count alone works, and the absence is told once.
  LogLines logs;
  TerminationActivities alone;
  alone.inhibitThroughLogind("Tickwell", 2.0);
  for (int i = 0; i < 3; ++i) {
    const auto token = alone.begin(0xC000, "work");
    ASSERT_TRUE(alone.waitUntilBusIdle(10));
    EXPECT_EQ(alone.count(), 1u);
    alone.end(token);
  }
  ASSERT_TRUE(alone.waitUntilBusIdle(10));
  EXPECT_EQ(alone.count(), 0u);
  EXPECT_EQ(logs.count("logind did not hand out a delay inhibitor"), 1);
}

}  // namespace
}  // namespace tw::test
