#pragma once
// Thread bookkeeping shared by the benchmarks that check "nothing wakes up while nothing runs":
// the ids of the process's threads and their context switches, read from /proc. Bench-only.

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace tw::bench {

inline std::set<std::string> threadIds() {
  std::set<std::string> ids;
  for (auto& task : std::filesystem::directory_iterator("/proc/self/task"))
    ids.insert(task.path().filename().string());
  return ids;
}

// Context switches (voluntary and not) of the given threads, or of every thread but the calling
// one when `only` is empty.
inline long contextSwitches(const std::set<std::string>& only = {}) {
  const std::string self = std::to_string(gettid());
  long total = 0;
  for (auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    const std::string id = task.path().filename().string();
    if (id == self || (!only.empty() && !only.count(id))) continue;
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        total += std::stol(line.substr(line.find(':') + 1));
    }
  }
  return total;
}

}  // namespace tw::bench
