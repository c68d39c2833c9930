#include "platform/foundation/ProcessInfo.h"

#include <errno.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fmt/format.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"

extern char** environ;

namespace tw {

namespace {

std::string osReleaseName() {
  for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
    auto text = paths::readTextFile(file, nullptr, std::uintmax_t{64} * 1024);
    if (!text) continue;
    std::string_view all = *text;
    std::size_t pos = 0;
    while (pos < all.size()) {
      std::size_t end = all.find('\n', pos);
      if (end == std::string_view::npos) end = all.size();
      std::string_view line = all.substr(pos, end - pos);
      pos = end + 1;
      constexpr std::string_view kKey = "PRETTY_NAME=";
      if (line.substr(0, kKey.size()) != kKey) continue;
      std::string_view value = line.substr(kKey.size());
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      return std::string(value);
    }
  }
  return "Linux";
}

}  // namespace

ProcessInfo& ProcessInfo::processInfo() {
  static ProcessInfo* shared = new ProcessInfo;  // lives through static destruction
  return *shared;
}

ProcessInfo::ProcessInfo() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  name_ = !ec && exe.has_filename() ? exe.filename().string() : program_invocation_short_name;

  struct utsname u {};
  std::string release;
  if (uname(&u) == 0) release = u.release;
  osVersionString_ = fmt::format("{} (Linux {})", osReleaseName(), release);
  std::int64_t parts[3] = {0, 0, 0};
  const char* p = release.c_str();
  for (int i = 0; i < 3 && *p; ++i) {
    char* end = nullptr;
    parts[i] = std::strtoll(p, &end, 10);
    if (end == p || *end != '.') break;
    p = end + 1;
  }
  osVersion_ = {parts[0], parts[1], parts[2]};
}

int ProcessInfo::processIdentifier() const { return static_cast<int>(getpid()); }

const std::string& ProcessInfo::processName() const { return name_; }

std::optional<std::string> ProcessInfo::environmentValue(std::string_view name) const {
  const char* v = getenv(std::string(name).c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

Dictionary ProcessInfo::environment() const {
  Dictionary out;
  for (char** e = environ; e && *e; ++e) {
    std::string_view entry(*e);
    auto eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    out.insert_or_assign(std::string(entry.substr(0, eq)), Value(entry.substr(eq + 1)));
  }
  return out;
}

std::string ProcessInfo::hostName() const {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return "localhost";
  return buf;
}

const std::string& ProcessInfo::operatingSystemVersionString() const { return osVersionString_; }

OperatingSystemVersion ProcessInfo::operatingSystemVersion() const { return osVersion_; }

unsigned ProcessInfo::activeProcessorCount() const {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  if (n > 0) return static_cast<unsigned>(n);
  unsigned hw = std::thread::hardware_concurrency();
  return hw ? hw : 1;
}

unsigned ProcessInfo::processorCount() const {
  long n = sysconf(_SC_NPROCESSORS_CONF);
  return n > 0 ? static_cast<unsigned>(n) : activeProcessorCount();
}

std::uint64_t ProcessInfo::physicalMemory() const {
  long pages = sysconf(_SC_PHYS_PAGES);
  long size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
}

double ProcessInfo::systemUptime() const { return clock::monotonicNow(); }

}  // namespace tw
