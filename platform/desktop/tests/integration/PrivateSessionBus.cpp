#include "platform/desktop/tests/integration/PrivateSessionBus.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace tw::test {

pid_t spawnProcess(const std::vector<std::string>& argv, const std::string& logFile,
                   const std::vector<std::string>* environment) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  if (environment) {
    for (const auto& e : *environment) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int r = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(),
                             environment ? env.data() : environ);
  posix_spawn_file_actions_destroy(&actions);
  return r == 0 ? pid : -1;
}

bool waitForSocket(const std::string& path, pid_t pid, double timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(timeoutSeconds));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    if (connected) return true;
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return false;
    // Polling an outside daemon's start-up; there is nothing to be notified by.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void stopProcess(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
}

PrivateSessionBus::PrivateSessionBus() {
  if (const char* v = ::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    hadAddress_ = true;
    savedAddress_ = v;
  }
  const std::string socket = (dir_.path() / "bus").string();
  const std::string config = (dir_.path() / "bus.conf").string();
  {
    std::ofstream out(config);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path="
        << socket
        << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
  }
  const pid_t pid =
      spawnProcess({"dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile"},
                   (dir_.path() / "bus.log").string());
  if (pid < 0) {
    failure_ = "dbus-daemon could not be started";
    return;
  }
  if (!waitForSocket(socket, pid, 10.0)) {
    stopProcess(pid);
    failure_ = "dbus-daemon did not open its socket";
    return;
  }
  pid_ = pid;
  address_ = "unix:path=" + socket;
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateSessionBus::~PrivateSessionBus() {
  stopProcess(pid_);
  if (hadAddress_)
    ::setenv("DBUS_SESSION_BUS_ADDRESS", savedAddress_.c_str(), 1);
  else
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

ScopedBusAddress::ScopedBusAddress(const std::string& address) {
  if (const char* v = ::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    had_ = true;
    saved_ = v;
  }
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

ScopedBusAddress::~ScopedBusAddress() {
  if (had_)
    ::setenv("DBUS_SESSION_BUS_ADDRESS", saved_.c_str(), 1);
  else
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace tw::test
