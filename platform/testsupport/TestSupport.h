#pragma once
// Helpers shared by the test binaries. Test-only.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tw::test {

// The process's private XDG root (set up by the test main before any test runs); every
// XDG_*_HOME points below it, so no test touches the user's own files.
const std::filesystem::path& privateRoot();

// A fresh empty directory below privateRoot(), removed when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Points every XDG_*_HOME at a folder of that name below `root`, making the folders. For a child
// process that shares its parent's folders.
void pointXdgAt(const std::filesystem::path& root);

// Points every XDG_*_HOME at fresh folders for its lifetime, restoring the previous values after.
class ScopedXdg {
 public:
  ScopedXdg();
  ~ScopedXdg();
  const std::filesystem::path& root() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::string saved_[4];
  bool had_[4] = {};
};

// Pumps the main queue until `done` or the real-time timeout; for tests of real threads.
bool pumpMainUntil(const std::function<bool()>& done, double timeoutSeconds = 5.0);

// Voluntary context switches so far of the calling thread, and of the threads the dispatch layer
// started (each named after its queue; a sanitizer's own thread, named like the process, and the
// main thread are left out): how often they went to sleep and were woken.
long thisThreadWakes();
long dispatchThreadsWakes();

// Polls `done` every `pollSeconds` until it holds or `timeoutSeconds` pass; true when it held.
// For conditions another thread or process brings about, with nothing to be notified by (a
// costly check, such as one that runs a program, wants a longer pause between polls). The
// timeout only bounds a wait that would fail anyway, so the default is generous enough for a
// loaded machine.
bool eventually(const std::function<bool()>& done, double timeoutSeconds = 15.0,
                double pollSeconds = 0.01);
// The same with the times as durations: eventually(done, 5s, 50ms).
bool eventually(const std::function<bool()>& done, std::chrono::duration<double> timeout,
                std::chrono::duration<double> poll = std::chrono::milliseconds(10));

// True when `happened` stays false for the whole of `seconds`, checked every `pollSeconds` and
// pumping the main queue meanwhile so that work queued there has its chance to make it happen;
// false as soon as it holds. For the checks that something does not happen: a second
// announcement, a late reply, a change on screen.
bool staysAbsent(const std::function<bool()>& happened, double seconds, double pollSeconds = 0.01);
bool staysAbsent(const std::function<bool()>& happened, std::chrono::duration<double> duration,
                 std::chrono::duration<double> poll = std::chrono::milliseconds(10));

// The reason of the tw::Exception that `f` raises; "" when it raises none.
std::string reasonOf(const std::function<void()>& f);
// The name and the reason of the tw::Exception that `f` raises, as "<name>: <reason>"; "no
// exception" when it raises none.
std::string exceptionOf(const std::function<void()>& f);

// The whole content of a file, bytes as they are; empty when it cannot be read (the test's own
// expectations then say what was missing).
std::string fileText(const std::filesystem::path& path);

// Runs `argv` (a program path and its arguments) in a child process that may crash on purpose:
// no core file, and the address sanitizer's own fault handlers kept out of the way of the
// program's; its standard output goes to `stdoutPath` when one is given. Returns the wait status.
int runCrashingChild(const std::vector<std::string>& argv, const std::string& stdoutPath = {});

// The seed of a randomised test: TW_TEST_SEED from the environment when set, else a fresh one.
// Printed either way, so a failing run can be replayed with the same seed.
unsigned randomSeed();

}  // namespace tw::test
