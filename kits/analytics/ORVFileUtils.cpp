#include "kits/analytics/ORVFileUtils.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "kits/analytics/ORVLogger.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

using tw::LogLevel;

namespace fs = std::filesystem;

ORVFileUtils::URLSet ORVFileUtils::allFilesInDirectory(const fs::path& directory) {
  URLSet out;
  std::error_code ec;
  fs::directory_iterator it(directory, ec);
  if (ec) {
    ORVLogger::sharedLogger().log("Unable to read contents of %@: %@", directory.string(),
                                  ec.message());
    return out;
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    out.insert(directory / it->path().filename());
  }
  return out;
}

ORVFileUtils::URLSet ORVFileUtils::filesWithExtension(const std::string& extension,
                                                      const fs::path& directory) {
  URLSet out;
  if (extension.empty()) return out;
  for (const auto& url : allFilesInDirectory(directory))
    if (url.extension() == "." + extension) out.insert(url);
  return out;
}

std::int64_t ORVFileUtils::fileSizeAtURL(const fs::path& url) {
  struct stat st {};
  if (::stat(url.c_str(), &st) != 0) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

tw::Date ORVFileUtils::fileCreatedDateAtURL(const fs::path& url, tw::Date fallback) {
  struct statx sx {};
  if (::statx(AT_FDCWD, url.c_str(), 0, STATX_BTIME | STATX_CTIME, &sx) != 0) return fallback;
  const auto& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
  return tw::Date{static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9};
}

namespace {
std::atomic<ORVFileUtils::ReadRefusal> readRefusal{nullptr};
}  // namespace

void ORVFileUtils::setReadRefusalForTesting(ReadRefusal refuse) { readRefusal.store(refuse); }

tw::Expected<std::string> ORVFileUtils::readFile(const fs::path& url, int* errorNumber) {
  if (auto refuse = readRefusal.load()) {
    if (int e = refuse(url); e != 0) {
      if (errorNumber) *errorNumber = e;
      return tw::Expected<std::string>::failure("cannot read " + url.string() + ": " +
                                                std::strerror(e));
    }
  }
  return tw::paths::readTextFile(url, errorNumber);
}

std::string ORVFileUtils::reasonForReadError(int errorNumber) {
  if (errorNumber == ENOENT) return "missing";
  return errorNumber == EISDIR ? "folder" : "unreadable";
}

fs::path ORVFileUtils::moveAside(const fs::path& url, const std::string& reason, bool tell) {
  const fs::path folder = damagedDirectory(url.parent_path());
  std::error_code ec;
  fs::create_directories(folder, ec);
  const std::string base = url.filename().string() + "." + reason;
  int e = 0;
  for (int n = 1; n <= 1000; ++n) {
    fs::path target = folder / (n == 1 ? base : base + "-" + std::to_string(n));
    // Never over an earlier casualty of the same name.
    if (::renameat2(AT_FDCWD, url.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      if (tell)
        tw::log(LogLevel::Error, "[Oriseth] " + url.string() + " cannot be used (" + reason +
                                     "); it is kept as " + target.string() + " and not sent");
      return target;
    }
    e = errno;
    if (e != EEXIST) break;
  }
  // Gone meanwhile: nothing is left to keep.
  if (e != ENOENT)
    tw::log(LogLevel::Error, "[Oriseth] " + url.string() + " cannot be used (" + reason +
                                 ") nor moved aside: " + std::strerror(e));
  return {};
}
