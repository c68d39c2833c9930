#pragma once
// Helpers shared by the test binaries. Test-only.

#include <filesystem>
#include <functional>
#include <string>

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

}  // namespace tw::test
