#pragma once
// ORVFileUtils: directory listing, size and creation date of the analytics kit's files, the one
// way the kit reads one whole, and the setting aside of one it cannot use. Stateless but for the
// tests' read seam; any thread.
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "platform/foundation/Expected.h"
#include "platform/foundation/Value.h"

class ORVFileUtils {
 public:
  using URLSet = std::set<std::filesystem::path>;
  // Every entry of the directory (not recursive, hidden ones included); empty when unreadable.
  static URLSet allFilesInDirectory(const std::filesystem::path& directory);
  static URLSet filesWithExtension(const std::string& extension,
                                   const std::filesystem::path& directory);
  // 0 when the size cannot be read.
  static std::int64_t fileSizeAtURL(const std::filesystem::path& url);
  // The birth time where the file system records one, else the status-change time; the default
  // when the file's attributes cannot be read.
  static tw::Date fileCreatedDateAtURL(const std::filesystem::path& url, tw::Date fallback);

  // Reads a kit file whole; never throws. On failure `errorNumber` (when given) holds the errno:
  // ENOENT for a file that went away since it was listed, EISDIR for a folder in its place.
  static tw::Expected<std::string> readFile(const std::filesystem::path& url,
                                            int* errorNumber = nullptr);
  // Moves a file (or a folder in a file's place) the kit cannot use into the "damaged" folder
  // beside it, as "<name>.<reason>" ("-2", "-3", ... when taken), and logs where: it is kept,
  // never sent and never deleted. Returns the new path; empty when it could not be moved (or went
  // away meanwhile). `tell`: false when the caller says it in its own words.
  static std::filesystem::path moveAside(const std::filesystem::path& url,
                                         const std::string& reason, bool tell = true);
  // Where moveAside keeps what it moves out of `directory`.
  static std::filesystem::path damagedDirectory(const std::filesystem::path& directory) {
    return directory / kDamagedFolderName;
  }
  static constexpr const char* kDamagedFolderName = "damaged";
  // A read that failed, for moveAside: "missing" when the file went away (nothing to move),
  // "folder" for a folder in its place, else "unreadable".
  static std::string reasonForReadError(int errorNumber);

  // For tests: a read of a path for which `refuse` answers an errno fails with it, as a read
  // error of the disk would; nullptr restores plain reads.
  using ReadRefusal = int (*)(const std::filesystem::path& url);
  static void setReadRefusalForTesting(ReadRefusal refuse);
};
