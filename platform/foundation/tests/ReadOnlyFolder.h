#pragma once
// Test helper: runs a check while a folder cannot be written to, for tests of write failures that
// must also fail for root (CI runs as root, and root ignores file modes). An ordinary user gets
// the folder's mode taken away; root gets a read-only bind mount of it in a private mount
// namespace. Either way the check runs in a forked child, so nothing outside it sees the change.
// Call from the test's own thread; the check must not depend on other threads of the process.

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tw::test {

struct ReadOnlyOutcome {
  bool available = false;  // false: the folder could not be made read-only here (see failure)
  std::string failure;     // empty when the check passed
};

// `check` returns an empty string when all is well, else what went wrong.
inline ReadOnlyOutcome inReadOnlyFolder(const std::filesystem::path& folder,
                                        const std::function<std::string()>& check) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {false, "pipe failed"};
  const bool root = ::geteuid() == 0;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return {false, "fork failed"};
  }
  if (child == 0) {
    ::close(fds[0]);
    auto report = [&](char verdict, const std::string& text) {
      std::string message = verdict + text;
      [[maybe_unused]] ssize_t n = ::write(fds[1], message.data(), message.size());
      ::_exit(0);
    };
    if (root) {
      const char* where = folder.c_str();
      if (::unshare(CLONE_NEWNS) != 0 ||
          ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount(where, where, nullptr, MS_BIND, nullptr) != 0 ||
          ::mount(nullptr, where, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        report('U', "no private read-only mount here (needs CAP_SYS_ADMIN)");
    } else if (::chmod(folder.c_str(), 0500) != 0) {
      report('U', "cannot change the folder's mode");
    }
    std::string failure;
    try {
      failure = check();
    } catch (...) {
      failure = "the check threw";
    }
    if (!root) ::chmod(folder.c_str(), 0700);
    report('R', failure);
  }
  ::close(fds[1]);
  std::string message;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    message.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!root) ::chmod(folder.c_str(), 0700);
  if (message.empty()) return {true, "the child ended without a verdict"};
  if (message[0] == 'U') return {false, message.substr(1)};
  return {true, message.substr(1)};
}

}  // namespace tw::test
