#pragma once
// MVXFileManager: the crash kit's directory tree under the user's cache folder
// (<cache>/com.morvex.data/<escaped bundle id>/v3 with "active", "processing" and "prepared") and
// the file operations that move a report directory through it. Listings never show, move or
// remove entries whose names begin with ".".
//
// One process per report directory: each report directory carries an advisory lock (flock on the
// hidden file ".lock" inside it, which moves with the directory). The running execution holds its
// own directory's lock for the file manager's life; a directory whose lock a live process holds
// is skipped. Files are written under hidden temporary names (temporaryPathForPath) and renamed
// when complete; leftovers of a killed process are removed at launch.
//
// Created once when the kit starts and shared with the controllers and operations (shared_ptr).
// No lock of its own: callers use it from the kit's serial work queue and the start-up thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class MVXInternalReport;

namespace tw {

// An exclusive flock held on one file while the object lives.
class FileLock {
 public:
  // nullptr when another open file (of a live process, or of this one) holds the lock, or the
  // file cannot be opened. With `create`, a missing file is made.
  static std::unique_ptr<FileLock> tryLock(const std::string& path, bool create);
  // Whether someone holds the lock now (a missing file is unlocked).
  static bool isLocked(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace tw

class MVXFileManager {
 public:
  using FileBlock = std::function<void(const std::string& path, const std::string& extension)>;
  using ReportBlock = std::function<void(const std::shared_ptr<MVXInternalReport>& report,
                                         const std::string& path)>;

  // Names of the hidden files of the tree.
  static constexpr const char* kLockFileName = ".lock";
  static constexpr const char* kTemporaryPrefix = ".tmp-";

  // rootPath from the cache folder and the escaped bundle identifier; no directory is created.
  MVXFileManager();
  // A given root (tests, tools).
  explicit MVXFileManager(std::string rootPath);

  // Creates the folder (and its parents). A folder whose mode is not 755 gets 755 back (logged);
  // one the kit still cannot write in is logged once.
  bool createDirectoryAtPath(const std::string& path) const;
  // Moves an entry that cannot be read, or is damaged, into damagedPath() under a name that says
  // so (moveAside's "<name>.corrupt-<stamp>"), logged with `why`. Never deletes anything.
  bool moveDamagedItemAtPath(const std::string& path, const std::string& why) const;
  bool removeItemAtPath(const std::optional<std::string>& path) const;
  bool removeContentsOfDirectoryAtPath(const std::string& path) const;
  bool moveItemAtPath(const std::optional<std::string>& path,
                      const std::optional<std::string>& directory) const;
  void enumerateFilesInDirectory(const std::string& directory, const FileBlock& block) const;
  bool moveItemsFromDirectory(const std::string& from, const std::string& to) const;
  // Size in bytes, or nullopt (logged) when it cannot be read.
  std::optional<std::uint64_t> fileSizeAtPath(const std::string& path) const;
  std::vector<std::string> contentsOfDirectory(const std::string& path) const;

  std::string pathNamespace() const;
  const std::string& rootPath() const { return rootPath_; }
  std::string structurePath() const { return rootPath_ + "/v3"; }
  std::string activePath() const { return structurePath() + "/active"; }
  std::string pendingPath() const { return structurePath() + "/pending"; }
  std::string processingPath() const { return structurePath() + "/processing"; }
  std::string preparedPath() const { return structurePath() + "/prepared"; }
  // Where entries that cannot be read or are damaged are kept: never listed, sent or removed.
  std::string damagedPath() const { return structurePath() + "/damaged"; }
  std::vector<std::string> activePathContents() const { return contentsOfDirectory(activePath()); }
  std::vector<std::string> preparedPathContents() const {
    return contentsOfDirectory(preparedPath());
  }
  std::vector<std::string> processingPathContents() const {
    return contentsOfDirectory(processingPath());
  }

  // Creates active, processing and prepared (never pending), then removes the temporary files
  // that killed processes left behind.
  bool prepareForNewLaunch();
  // Creates active/<identifier> and holds its lock for this object's life; nullopt on failure.
  std::optional<std::string> setupNewPathForExecutionIdentifier(const std::string& identifier);
  bool removeLegacyDirectories() const;

  // Report directories another live process holds are skipped.
  void enumerateReportsInProcessingDirectoryUsingBlock(const ReportBlock& block) const;
  void enumerateFilesInActiveDirectoryUsingBlock(const FileBlock& block) const;
  void enumerateFilesInPreparedDirectoryUsingBlock(const FileBlock& block) const;
  bool moveProcessingContentsToPrepared() const;
  bool movePendingToProcessing() const;
  bool removeContentsOfProcessingPath() const;
  bool removeContentsOfPendingPath() const;
  bool removeContentsOfAllPaths() const;

  // The report directory's lock; nullptr when a live process (this one included) holds it.
  static std::unique_ptr<tw::FileLock> lockReportDirectory(const std::string& directory);
  static bool isReportDirectoryLocked(const std::string& directory);
  // <directory>/.tmp-<name>: where a file is written before it is renamed to `finalPath`.
  static std::string temporaryPathForPath(const std::string& finalPath);
  // Removes temporary files nobody is writing: in prepared, and inside the report directories
  // of active and processing that no live process holds. The number removed.
  std::size_t removeTemporaryLeftovers() const;

 private:
  std::size_t removeTemporaryFilesIn(const std::string& directory) const;

  std::string rootPath_;
  std::unique_ptr<tw::FileLock> executionLock_;
  // Guards unwritable_: the folders already logged as unwritable.
  mutable std::mutex unwritableMutex_;
  mutable std::set<std::string> unwritable_;
};
