#pragma once
// ORVFileUtils: directory listing, size and creation date of the analytics kit's files.
// Stateless; any thread.
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

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
};
