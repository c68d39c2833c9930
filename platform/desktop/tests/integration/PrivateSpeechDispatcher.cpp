#include "platform/desktop/tests/integration/PrivateSpeechDispatcher.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/desktop/tests/integration/PrivateSessionBus.h"

namespace fs = std::filesystem;

namespace tw::test {

namespace {
bool onPath(const std::string& program) {
  const char* path = ::getenv("PATH");
  std::string rest = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= rest.size()) {
    const std::size_t end = rest.find(':', start);
    const std::string dir = rest.substr(start, end == std::string::npos ? end : end - start);
    if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

const char* const kModuleDirs[] = {"/usr/lib/speech-dispatcher-modules",
                                   "/usr/libexec/speech-dispatcher-modules",
                                   "/usr/lib/x86_64-linux-gnu/speech-dispatcher-modules"};
}  // namespace

PrivateSpeechDispatcher::PrivateSpeechDispatcher() {
  if (!onPath("speech-dispatcher")) {
    failure_ = "speech-dispatcher is not installed";
    return;
  }
  bool haveModule = false;
  for (const char* dir : kModuleDirs)
    if (::access((fs::path(dir) / "sd_espeak-ng").c_str(), X_OK) == 0) haveModule = true;
  if (!haveModule) {
    failure_ = "speech-dispatcher's espeak-ng module is not installed";
    return;
  }
  const fs::path root = dir_.path();
  fs::create_directories(root / "conf" / "modules");
  fs::create_directories(root / "home");
  fs::create_directories(root / "run");
  fs::create_directories(root / "log");
  std::error_code ec;
  fs::copy_file("/etc/speech-dispatcher/modules/espeak-ng.conf",
                root / "conf" / "modules" / "espeak-ng.conf", ec);
  if (ec) std::ofstream(root / "conf" / "modules" / "espeak-ng.conf");
  std::ofstream(root / "conf" / "speechd.conf")
      << "LogLevel 2\n"
      << "LogDir \"" << (root / "log").string() << "\"\n"
      << "AudioOutputMethod \"libao\"\n"
      << "AddModule \"espeak-ng\" \"sd_espeak-ng\" \"espeak-ng.conf\"\n"
      << "DefaultModule espeak-ng\n";
  // libao reads its driver from the home folder: the null driver plays into nothing.
  std::ofstream(root / "home" / ".libao") << "default_driver=null\n";
  socket_ = (root / "run" / "speechd.sock").string();
  start();
}

bool PrivateSpeechDispatcher::start() {
  const fs::path root = dir_.path();
  const char* path = ::getenv("PATH");
  const std::vector<std::string> environment = {
      "HOME=" + (root / "home").string(), "XDG_RUNTIME_DIR=" + (root / "run").string(),
      "XDG_CONFIG_HOME=" + (root / "home" / ".config").string(),
      std::string("PATH=") + (path ? path : "/usr/bin:/bin")};
  const pid_t pid =
      spawnProcess({"speech-dispatcher", "-s", "-C", (root / "conf").string(), "-c", "unix_socket",
                    "-S", socket_, "-t", "0", "-L", (root / "log").string()},
                   (root / "log" / "stdout.log").string(), &environment);
  if (pid < 0) {
    failure_ = "speech-dispatcher could not be started";
    return false;
  }
  if (!waitForSocket(socket_, pid, 15.0)) {
    stopProcess(pid);
    failure_ = "speech-dispatcher did not open its socket";
    return false;
  }
  pid_ = pid;
  return true;
}

void PrivateSpeechDispatcher::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  // The module it started goes with its parent's socket; the socket file stays behind.
  std::error_code ec;
  fs::remove(socket_, ec);
}

bool PrivateSpeechDispatcher::restart() { return start(); }

PrivateSpeechDispatcher::~PrivateSpeechDispatcher() { stopProcess(pid_); }

}  // namespace tw::test
