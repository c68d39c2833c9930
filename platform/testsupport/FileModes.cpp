#include "platform/testsupport/FileModes.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <string>

namespace tw::test {

namespace {
constexpr int kCannotDrop = 77;

void writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}
// Clears the capabilities that let root read, write or search past a file's mode bits, from
// every set of the calling thread, so nothing it runs can take them back.
bool dropModeOverrides() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
    const auto bit = 1u << (cap % 32);
    data[cap / 32].effective &= ~bit;
    data[cap / 32].permitted &= ~bit;
    data[cap / 32].inheritable &= ~bit;
  }
  return ::syscall(SYS_capset, &header, data) == 0;
}
}  // namespace

EnforcedRun runWithFileModesEnforced(const std::function<std::string()>& body,
                                     double timeoutSeconds) {
  EnforcedRun run;
  std::string& why = run.why;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    why = "no pipe";
    return run;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    why = "cannot fork";
    return run;
  }
  if (pid == 0) {
    ::close(fds[0]);
    // Root keeps its uid but gives up the powers that override file modes. Capabilities are
    // per thread, and the body runs on this one; unlike entering a user namespace this works
    // also when a sanitizer's runtime has started a thread of its own in the child.
    if (::geteuid() == 0 && !dropModeOverrides()) {
      writeAll(fds[1], std::strerror(errno));
      ::_exit(kCannotDrop);
    }
    std::string result;
    try {
      result = body();
    } catch (const std::exception& e) {
      result = std::string("exception: ") + e.what();
    } catch (...) {
      result = "exception";
    }
    writeAll(fds[1], result);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(timeoutSeconds * 1000));
  bool timedOut = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(fds[0], chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (timedOut) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) {
    why = "the child ran out of time";
    return run;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotDrop) {
    why = "root cannot give up its file-mode overrides here (" + out + ")";
    run.unavailable = true;
    return run;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    why = "the child died (status " + std::to_string(status) + ")";
    return run;
  }
  run.ok = true;
  run.output = std::move(out);
  return run;
}

}  // namespace tw::test
