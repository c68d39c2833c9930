// Launches killed at random moments: every event whose log call returned before the kill reaches
// the kits' web service exactly once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "platform/desktop/tests/integration/PrivateSessionBus.h"
#include "platform/foundation/Json.h"
#include "platform/testsupport/TestSupport.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace tw::test {
namespace {

pid_t launch(const std::filesystem::path& root, const std::string& url, const std::string& tag,
             int count, bool final, const std::filesystem::path& out) {
  std::vector<std::string> argv{TW_ANALYTICS_KILL_CHILD, root.string(), url, tag,
                                std::to_string(count)};
  if (final) argv.push_back("final");
  return spawnProcess(argv, out.string());
}

std::vector<std::string> linesOf(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// Waits until the launch said its start-up is over, or until it ended.
void waitUntilStartedUp(pid_t pid, const std::filesystem::path& out) {
  for (int i = 0; i < 2000; ++i) {
    std::ifstream in(out);
    for (std::string l; std::getline(in, l);)
      if (l == "started up") return;
    siginfo_t info{};  // looked at without reaping, so that the kill below hits no other process
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid)
      return;
    ::usleep(5000);
  }
}

TEST(AnalyticsKill, EveryReturnedLogCallArrivesExactlyOnceAcrossKills) {
  TempDir dir;
  KitService service(false);
  auto root = dir.path() / "analytics";
  auto url = service.baseURL() + "/spi/v2/events";
  const unsigned seed = tw::test::randomSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> killAfterMs(0, 150);
  std::vector<std::filesystem::path> outputs;
  constexpr int kLaunches = 50;
  for (int i = 0; i < kLaunches; ++i) {
    outputs.push_back(dir.path() / ("launch-" + std::to_string(i) + ".out"));
    // Every tenth launch is left to send everything: on a slow build (the sanitizers') the
    // killed launches rarely finish an upload, and their files must stay clear of the cap.
    if (i % 10 == 9) {
      const pid_t whole = launch(root, url, "L" + std::to_string(i), 40, true, outputs.back());
      ASSERT_GT(whole, 0);
      int status = 0;
      ::waitpid(whole, &status, 0);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      continue;
    }
    pid_t pid = launch(root, url, "L" + std::to_string(i), 40, false, outputs.back());
    ASSERT_GT(pid, 0);
    // A quarter of the kills fall anywhere from the spawn on, start-up included; the rest among
    // the log calls, which a loaded machine would otherwise rarely reach within the window.
    if (i % 4 != 0) waitUntilStartedUp(pid, outputs.back());
    ::usleep(static_cast<useconds_t>(killAfterMs(random)) * 1000);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // The start-up keeps at most 100 pending packages and drops the oldest beyond that, on
    // purpose; the launches must stay clear of it for a loss to mean a fault.
    std::size_t pending = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(root / "events", ec))
      pending += e.path().extension() == ".multipartmime" || e.path().extension() == ".log" ||
                 e.path().extension() == ".gz";
    ASSERT_LT(pending, 90u) << "launch " << i;
  }
  outputs.push_back(dir.path() / "final.out");
  pid_t pid = launch(root, url, "F", 5, true, outputs.back());
  ASSERT_GT(pid, 0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  std::set<std::string> acknowledged;
  for (const auto& out : outputs)
    for (const auto& line : linesOf(out))
      if (!line.empty() && line.find(' ') == std::string::npos) acknowledged.insert(line);

  // A kill after the service took a package but before its file was removed sends the same
  // package again, under the same boundary: such resends are one delivery.
  std::set<std::string> packages;
  std::map<std::string, int> arrivals;
  for (const auto& r : service.requests(KitService::kEvents)) {
    if (r["problems"].count() != 0) continue;  // cut off by a kill, never acknowledged
    const auto& part = r["parts"].at(0);
    auto key = *r["headers"]["Content-Type"].string() + "|" + *part["sha1"].string();
    if (!packages.insert(key).second) continue;
    std::istringstream text(*part["gunzipped_text"].string());
    for (std::string line; std::getline(text, line);) {
      if (line.find("\tcustom\t") == std::string::npos) continue;
      auto payload = Json::parse(line.substr(line.find('{')));
      ASSERT_TRUE(payload.ok()) << line;
      ++arrivals[*(*payload)["custom_type"].string()];
    }
  }
  ASSERT_GT(acknowledged.size(), 100u);
  for (const auto& name : acknowledged) EXPECT_EQ(arrivals[name], 1) << name;
  // A call that returned just before its kill may not have been acknowledged; it still arrives
  // only once.
  for (const auto& [name, n] : arrivals) EXPECT_EQ(n, 1) << name;
}

}  // namespace
}  // namespace tw::test
