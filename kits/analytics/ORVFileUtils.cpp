#include "kits/analytics/ORVFileUtils.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "kits/analytics/ORVLogger.h"

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
