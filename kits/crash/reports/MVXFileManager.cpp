#include "kits/crash/reports/MVXFileManager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "kits/crash/reports/MVXInternalReport.h"
#include "kits/platform/TSYAppInfo.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

namespace fs = std::filesystem;

namespace tw {

std::unique_ptr<FileLock> FileLock::tryLock(const std::string& path, bool create) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
  if (fd < 0) return nullptr;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileLock>(new FileLock(fd));
}

bool FileLock::isLocked(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // closing drops a lock this probe took
  return locked;
}

FileLock::~FileLock() { ::close(fd_); }

}  // namespace tw

namespace {

std::string lastComponent(const std::string& path) { return fs::path(path).filename().string(); }

bool hidden(const fs::path& entry) {
  const std::string name = entry.filename().string();
  return name.empty() || name[0] == '.';
}

std::string extensionOf(const fs::path& entry) {
  std::string ext = entry.extension().string();
  return ext.empty() ? ext : ext.substr(1);
}

}  // namespace

MVXFileManager::MVXFileManager()
    : MVXFileManager(
          (tw::paths::cacheHome() / "com.morvex.data" / TSYGetEscapedBundleIdentifier()).string()) {
}

MVXFileManager::MVXFileManager(std::string rootPath) : rootPath_(std::move(rootPath)) {}

std::string MVXFileManager::pathNamespace() const { return TSYGetEscapedBundleIdentifier(); }

bool MVXFileManager::createDirectoryAtPath(const std::string& path) const {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (!ec && !fs::is_directory(path, ec)) ec = std::make_error_code(std::errc::not_a_directory);
  if (ec) {
    tw::log(tw::format("[FileManager] Unable to create directory %@", ec.message()));
    return false;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 07777) != 0755) {
    // The tree is the kit's own; a changed mode is put back, and said so.
    if (::chmod(path.c_str(), 0755) == 0) {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(st.st_mode & 07777));
      tw::log(tw::format("[FileManager] Changed the mode of %@ from %@ to 755", path,
                         std::string(mode)));
    }
  }
  if (::access(path.c_str(), W_OK | X_OK) != 0) {
    // Every report file written in it would fail too: said once per folder, not per file.
    const int e = errno;
    std::lock_guard lock(unwritableMutex_);
    if (unwritable_.insert(path).second) {
      tw::log(
          tw::format("[FileManager] Unable to write in %@: %@; crash reports are not kept there",
                     path, std::error_code(e, std::generic_category()).message()));
    }
  }
  return true;
}

bool MVXFileManager::moveDamagedItemAtPath(const std::string& path, const std::string& why) const {
  // Renamed first where it is, so that no later entry of the same name is ever overwritten, then
  // moved out of the folders the kit lists.
  auto aside = tw::paths::moveAside(path);
  if (aside && createDirectoryAtPath(damagedPath()) && moveItemAtPath(*aside, damagedPath())) {
    const std::string kept = damagedPath() + "/" + lastComponent(*aside);
    tw::log(tw::format("[FileManager] Kept %@ (%@) as %@", path, why, kept));
    return true;
  }
  tw::log(tw::format("[FileManager] %@ (%@) is left where it is: %@", path, why,
                     aside ? std::string("it cannot be moved") : aside.error()));
  return false;
}

bool MVXFileManager::removeItemAtPath(const std::optional<std::string>& path) const {
  std::error_code ec;
  std::string target = path.value_or(std::string());
  // A directory is first renamed to a hidden name, in one step: a process killed while removing
  // its files then leaves no half-removed report (without its package note, say) for the next
  // launch to find and send again; the hidden leftover goes at the next launch.
  if (!target.empty() && fs::is_directory(fs::symlink_status(target, ec))) {
    const std::string hidden = temporaryPathForPath(target);
    if (::rename(target.c_str(), hidden.c_str()) == 0) target = hidden;
  }
  ec.clear();
  if (!path || path->empty()) {
    ec = std::make_error_code(std::errc::invalid_argument);
  } else if (fs::remove_all(target, ec) == 0 && !ec) {
    ec = std::make_error_code(std::errc::no_such_file_or_directory);
  }
  if (ec) {
    tw::log(tw::format("[FileManager] Failed to remove file '%@' : %@",
                       path ? tw::Value(*path) : tw::Value(), ec.message()));
    return false;
  }
  return true;
}

bool MVXFileManager::removeContentsOfDirectoryAtPath(const std::string& path) const {
  bool ok = true;
  for (const std::string& entry : contentsOfDirectory(path)) ok = removeItemAtPath(entry) && ok;
  return ok;
}

bool MVXFileManager::moveItemAtPath(const std::optional<std::string>& path,
                                    const std::optional<std::string>& directory) const {
  if (!path || !directory || path->empty() || directory->empty()) {
    tw::log("[FileManager] Failed to move file, inputs invalid");
    return false;
  }
  std::error_code ec;
  const fs::path destination = fs::path(*directory) / lastComponent(*path);
  // rename() would silently replace an empty directory of the same name; refuse instead.
  if (fs::exists(fs::symlink_status(destination, ec)))
    ec = std::make_error_code(std::errc::file_exists);
  else
    fs::rename(*path, destination, ec);
  if (ec) {
    tw::log(tw::format("[FileManager] Failed to move file: %@", ec.message()));
    return false;
  }
  return true;
}

std::vector<std::string> MVXFileManager::contentsOfDirectory(const std::string& path) const {
  std::vector<std::string> out;
  std::error_code ec;
  fs::directory_iterator it(path, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (!hidden(it->path())) out.push_back(it->path().string());
  }
  return out;
}

void MVXFileManager::enumerateFilesInDirectory(const std::string& directory,
                                               const FileBlock& block) const {
  // Listed once up front: the block may move or remove what it is given.
  for (const std::string& entry : contentsOfDirectory(directory)) block(entry, extensionOf(entry));
}

bool MVXFileManager::moveItemsFromDirectory(const std::string& from, const std::string& to) const {
  for (const std::string& entry : contentsOfDirectory(from)) {
    if (!moveItemAtPath(entry, to)) return false;
  }
  return true;
}

std::optional<std::uint64_t> MVXFileManager::fileSizeAtPath(const std::string& path) const {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) {
    tw::log(tw::format("[Client] Unable to read file size: %@", ec.message()));
    return std::nullopt;
  }
  return size;
}

bool MVXFileManager::prepareForNewLaunch() {
  const bool ok = createDirectoryAtPath(activePath()) && createDirectoryAtPath(processingPath()) &&
                  createDirectoryAtPath(preparedPath());
  removeTemporaryLeftovers();
  return ok;
}

std::optional<std::string> MVXFileManager::setupNewPathForExecutionIdentifier(
    const std::string& identifier) {
  const std::string path = activePath() + "/" + identifier;
  if (identifier.empty() || !createDirectoryAtPath(path)) return std::nullopt;
  executionLock_ = lockReportDirectory(path);
  return path;
}

bool MVXFileManager::removeLegacyDirectories() const {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(rootPath_ + "/sendable", ec))) return true;
  fs::remove_all(rootPath_, ec);
  if (ec) {
    tw::log(tw::format("[Morvex:FileManager] Unable to remove legacy directory structure %@",
                       ec.message()));
    return false;
  }
  tw::log(tw::format("[Morvex:FileManager] Removed legacy structure at %@", rootPath_));
  return true;
}

void MVXFileManager::enumerateReportsInProcessingDirectoryUsingBlock(
    const ReportBlock& block) const {
  for (const std::string& entry : processingPathContents()) {
    if (isReportDirectoryLocked(entry)) continue;
    block(MVXInternalReport::reportWithPath(entry), entry);
  }
}

void MVXFileManager::enumerateFilesInActiveDirectoryUsingBlock(const FileBlock& block) const {
  enumerateFilesInDirectory(activePath(), block);
}

void MVXFileManager::enumerateFilesInPreparedDirectoryUsingBlock(const FileBlock& block) const {
  enumerateFilesInDirectory(preparedPath(), block);
}

bool MVXFileManager::moveProcessingContentsToPrepared() const {
  return moveItemsFromDirectory(processingPath(), preparedPath());
}
bool MVXFileManager::movePendingToProcessing() const {
  return moveItemsFromDirectory(pendingPath(), processingPath());
}
bool MVXFileManager::removeContentsOfProcessingPath() const {
  return removeContentsOfDirectoryAtPath(processingPath());
}
bool MVXFileManager::removeContentsOfPendingPath() const {
  return removeContentsOfDirectoryAtPath(pendingPath());
}

bool MVXFileManager::removeContentsOfAllPaths() const {
  bool ok = removeContentsOfProcessingPath();
  ok = removeContentsOfPendingPath() && ok;
  ok = removeContentsOfDirectoryAtPath(preparedPath()) && ok;
  ok = removeContentsOfDirectoryAtPath(activePath()) && ok;
  return ok;
}

std::unique_ptr<tw::FileLock> MVXFileManager::lockReportDirectory(const std::string& directory) {
  return tw::FileLock::tryLock(directory + "/" + kLockFileName, true);
}

bool MVXFileManager::isReportDirectoryLocked(const std::string& directory) {
  return tw::FileLock::isLocked(directory + "/" + kLockFileName);
}

std::string MVXFileManager::temporaryPathForPath(const std::string& finalPath) {
  const fs::path p(finalPath);
  return (p.parent_path() / (std::string(kTemporaryPrefix) + p.filename().string())).string();
}

std::size_t MVXFileManager::removeTemporaryFilesIn(const std::string& directory) const {
  std::size_t removed = 0;
  std::error_code ec;
  fs::directory_iterator it(directory, ec), end;
  std::vector<std::string> leftovers;
  for (; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().rfind(kTemporaryPrefix, 0) == 0)
      leftovers.push_back(it->path().string());
  }
  for (const std::string& path : leftovers) {
    // A writer holds its temporary file's lock until it renamed it.
    auto lock = tw::FileLock::tryLock(path, false);
    if (lock && removeItemAtPath(path)) ++removed;
  }
  return removed;
}

std::size_t MVXFileManager::removeTemporaryLeftovers() const {
  std::size_t removed = removeTemporaryFilesIn(preparedPath());
  for (const std::string& parent : {activePath(), processingPath()}) {
    // Report directories a killed process had begun to remove.
    removed += removeTemporaryFilesIn(parent);
    for (const std::string& directory : contentsOfDirectory(parent)) {
      auto lock = lockReportDirectory(directory);
      if (lock) removed += removeTemporaryFilesIn(directory);
    }
  }
  return removed;
}
