#include "platform/testsupport/TestSupport.h"

#include "platform/testsupport/Sanitizers.h"

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"

namespace fs = std::filesystem;

namespace tw::test {

namespace {
const char* const kXdgVars[4] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                 "XDG_STATE_HOME"};

struct RootHolder {
  fs::path path;
  RootHolder() {
    std::string tmpl = (fs::temp_directory_path() / "tickwell-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path = made ? fs::path(made) : fs::temp_directory_path() / "tickwell-test";
    fs::create_directories(path);
    pointXdgAt(path / "xdg");
    // Nothing in a test may reach the user's session bus by accident.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tickwell-test-bus", 1);
    // Nor the machine's system bus; tests that need one start a private one.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tickwell-test-system-bus", 1);
    // Nor start the user's speech daemon: a socket nobody serves makes speech fail fast.
    setenv("SPEECHD_ADDRESS", ("unix_socket:" + (path / "no-speechd.sock").string()).c_str(), 1);
  }
  ~RootHolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};
}  // namespace

void pointXdgAt(const fs::path& root) {
  for (const char* var : kXdgVars) {
    fs::path dir = root / var;
    fs::create_directories(dir);
    setenv(var, dir.c_str(), 1);
  }
}

const fs::path& privateRoot() {
  static RootHolder holder;
  return holder.path;
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = privateRoot() / ("tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

ScopedXdg::ScopedXdg() {
  for (int i = 0; i < 4; ++i) {
    if (const char* v = getenv(kXdgVars[i])) {
      had_[i] = true;
      saved_[i] = v;
    }
  }
  pointXdgAt(dir_.path());
}

ScopedXdg::~ScopedXdg() {
  for (int i = 0; i < 4; ++i) {
    if (had_[i])
      setenv(kXdgVars[i], saved_[i].c_str(), 1);
    else
      unsetenv(kXdgVars[i]);
  }
}

bool pumpMainUntil(const std::function<bool()>& done, double timeoutSeconds) {
  return RunLoop::main().runUntil(done, timeoutSeconds);
}

namespace {
long voluntarySwitches(const fs::path& task) {
  std::ifstream status(task / "status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
  return 0;
}

std::string threadName(const fs::path& task) {
  std::ifstream comm(task / "comm");
  std::string name;
  std::getline(comm, name);
  return name;
}
}  // namespace

long thisThreadWakes() {
  return voluntarySwitches(fs::path("/proc/self/task") / std::to_string(gettid()));
}

long dispatchThreadsWakes() {
  const fs::path tasks = "/proc/self/task";
  const std::string processName = threadName(tasks / std::to_string(getpid()));
  long sum = 0;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator(tasks, ec))
    if (threadName(task.path()) != processName) sum += voluntarySwitches(task.path());
  return sum;
}

bool eventually(const std::function<bool()>& done, double timeoutSeconds, double pollSeconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(timeoutSeconds));
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::duration<double>(pollSeconds));
  }
  return true;
}

bool eventually(const std::function<bool()>& done, std::chrono::duration<double> timeout,
                std::chrono::duration<double> poll) {
  return eventually(done, timeout.count(), poll.count());
}

bool staysAbsent(const std::function<bool()>& happened, double seconds, double pollSeconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(seconds));
  for (;;) {
    if (happened()) return false;
    const std::chrono::duration<double> left = deadline - std::chrono::steady_clock::now();
    if (left.count() <= 0) return true;
    RunLoop::main().runUntil([] { return false; }, std::min(pollSeconds, left.count()));
  }
}

bool staysAbsent(const std::function<bool()>& happened, std::chrono::duration<double> duration,
                 std::chrono::duration<double> poll) {
  return staysAbsent(happened, duration.count(), poll.count());
}

std::string reasonOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.reason();
  }
  return "";
}

std::string exceptionOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.name() + ": " + e.reason();
  }
  return "no exception";
}

std::string fileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return text;
}

int runCrashingChild(const std::vector<std::string>& argv, const std::string& stdoutPath) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    leaveFaultsToTheProgram();
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    if (!stdoutPath.empty() && !std::freopen(stdoutPath.c_str(), "w", stdout)) _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  return status;
}

unsigned randomSeed() {
  unsigned seed = 0;
  const char* given = ::getenv("TW_TEST_SEED");
  if (given && *given)
    seed = static_cast<unsigned>(std::strtoul(given, nullptr, 0));
  else
    seed = std::random_device{}();
  std::printf("random seed %u (replay with TW_TEST_SEED=%u)\n", seed, seed);
  std::fflush(stdout);
  return seed;
}

}  // namespace tw::test
