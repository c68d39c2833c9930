// A process that saves without pause is killed at random moments, many times over; every time,
// the store it leaves must be sound and hold exactly its last committed save.
//
// The saving child is a program of its own (tests/child/StoreCrashChild.cpp), told where to save;
// after each save returns, it writes the save's sequence number to a pipe. A kill can
// fall between a commit and its report, so after the kill the store holds either the last
// reported number L or L + 1, and nothing else; every row written by a save carries its number,
// so a store with rows of two different saves fails too.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>

#include "platform/store/Context.h"
#include "platform/store/tests/StoreTestModel.h"
#include "platform/testsupport/TestSupport.h"

namespace fs = std::filesystem;

namespace tw::store::test {
namespace {

constexpr int kItems = 12;

std::shared_ptr<ManagedObject> counterOf(Context& context) {
  auto counters = context.fetch(FetchRequest("TMCounter"));
  return counters.empty() ? nullptr : counters[0];
}

std::string integrityOf(const fs::path& path) {
  sqlite3* db = nullptr;
  std::string out = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

// Reads reports for `seconds`, or with `untilOne` only until one more has arrived; false once
// the child's end of the pipe is closed.
bool readReports(int fd, std::int64_t& last, std::size_t& count, double seconds, bool untilOne) {
  pollfd p{fd, POLLIN, 0};
  const std::size_t before = count;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (untilOne && count > before) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left < 0) return true;
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) return true;
    std::int64_t buf[64];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    count += static_cast<std::size_t>(n) / sizeof(std::int64_t);
    last = buf[n / sizeof(std::int64_t) - 1];
  }
}

TEST(StoreCrashRecovery, EveryKillLeavesTheLastCommittedSaveIntact) {
  tw::test::TempDir dir;
  const fs::path path = dir.path() / "store.sqlite";
  const fs::path childTmp = dir.path() / "tmp";
  fs::create_directories(childTmp);
  const auto seed = tw::test::randomSeed();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));

  std::int64_t stored = 0;  // the number the store held after the previous kill
  std::size_t totalReports = 0;
  int killedMidWay = 0;
  const int kRounds = 60;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test
      ::dup2(fds[1], 3);                   // the report pipe stays open across exec as fd 3
      int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::setenv("TMPDIR", childTmp.c_str(), 1);  // the child's private folders die with it
      ::execl(TW_STORE_CRASH_CHILD, "store_crash_child", path.c_str(), static_cast<char*>(nullptr));
      std::_Exit(127);
    }
    ::close(fds[1]);

    // Wait for the first committed save, then let it run on for a random while.
    std::int64_t last = stored;
    std::size_t reports = 0;
    readReports(fds[0], last, reports, 20.0, true);
    if (reports == 0) ::kill(pid, SIGKILL);
    ASSERT_GT(reports, 0u) << "the child never saved";
    const double extra = std::uniform_real_distribution<double>(0.0, 0.03)(random);
    readReports(fds[0], last, reports, extra, false);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the child ended by itself, status " << status;
    // Whatever it wrote before dying is still in the pipe.
    while (readReports(fds[0], last, reports, 1.0, false)) {
    }
    ::close(fds[0]);
    totalReports += reports;

    ASSERT_EQ(integrityOf(path), "ok");
    auto context = Context::open(testModel(), path);
    ASSERT_FALSE(context->persistentStore()->movedAsidePath().has_value());
    auto counter = counterOf(*context);
    ASSERT_NE(counter, nullptr);
    const std::int64_t now = counter->int64ForKey("value");
    ASSERT_TRUE(now == last || now == last + 1)
        << "store holds save " << now << ", last reported " << last;
    if (now == last + 1) ++killedMidWay;
    auto stopwatches = context->findAll<TMStopwatch>();
    ASSERT_FALSE(stopwatches.empty());
    ASSERT_LE(stopwatches.size(), static_cast<std::size_t>(kItems));
    for (auto& s : stopwatches) ASSERT_EQ(s->int64ForKey("sortOrder"), now);
    context->close();
    stored = now;
  }
  EXPECT_GE(totalReports, static_cast<std::size_t>(kRounds));
  RecordProperty("saves", static_cast<int>(totalReports));
  RecordProperty("killedBetweenCommitAndReport", killedMidWay);
}

}  // namespace
}  // namespace tw::store::test
