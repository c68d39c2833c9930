#pragma once
// MVXInternalReport: the kit's view of one execution's report directory, read back at a later
// launch: its path (which changes when the directory moves to "processing"), its identifier,
// which record files it holds, and a few facts from the metadata and crash records.
//
// Shared (shared_ptr) between the controllers and operations that handle the report. Any thread:
// the path and the metadata read on first use are guarded by the object's own mutex.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

class MVXInternalReport {
 public:
  static constexpr const char* kMetadataFile = "metadata.mvxrecord";
  static constexpr const char* kBinaryImagesFile = "binary_images.mvxrecord";

  // initWithPath: the identifier comes from the metadata; nullptr (logged) when it has none.
  static std::shared_ptr<MVXInternalReport> reportWithPath(const std::string& path);
  // nullptr unless both are given.
  static std::shared_ptr<MVXInternalReport> create(const std::string& path,
                                                   const std::string& executionIdentifier);

  std::string path() const;
  void setPath(std::string path);
  const std::string& identifier() const { return identifier_; }
  std::string directoryName() const;
  std::string pathForContentFile(const std::string& name) const;
  std::string metadataPath() const { return pathForContentFile(kMetadataFile); }
  std::string binaryImagePath() const { return pathForContentFile(kBinaryImagesFile); }

  bool needsToBeSubmitted() const;
  static const std::vector<std::string>& crashFilenames();
  static const std::vector<std::string>& submissionFilenames();
  bool isCrash() const;
  bool checkExistenceOfAtLeastOnceFileInArray(const std::vector<std::string>& names) const;
  // The path of each crash file name, in order, whether the file exists or not.
  template <class Block>
  void enumerateSymbolicatableFilesInContent(Block&& block) const {
    for (const std::string& name : crashFilenames()) block(pathForContentFile(name));
  }

  // The record file's lines, or nullopt when it has none.
  static std::optional<std::vector<tw::Value>> readMVXFileAtPath(const std::string& path);
  // The metadata file's lines, read once.
  std::optional<std::vector<tw::Value>> metadataSections() const;

  std::optional<std::string> APIKey() const;
  std::optional<std::string> bundleVersion() const;
  std::optional<std::string> bundleShortVersionString() const;
  std::optional<tw::Date> dateCreated() const;
  std::optional<std::string> OSVersion() const;
  std::optional<std::string> OSBuildVersion() const;
  std::optional<tw::Dictionary> customKeys() const { return std::nullopt; }
  // The Mach exception record's time, else the signal record's; nullopt when not a crash.
  std::optional<tw::Date> crashedOnDate() const;
  static std::optional<tw::Date> timeFromCrashContentFile(const std::string& path,
                                                          const std::string& sectionName);

  MVXInternalReport(std::string path, std::string identifier)
      : path_(std::move(path)), identifier_(std::move(identifier)) {}

 private:
  // Line `line` of the metadata, its section `section`, its key `key`: a string or nullopt.
  std::optional<std::string> metadataString(std::size_t line, const char* section,
                                            const char* key) const;

  // Guards path_, identifier_ and the lazily read metadata.
  mutable std::mutex mutex_;
  std::string path_;
  std::string identifier_;
  mutable bool metadataRead_ = false;
  mutable std::optional<std::vector<tw::Value>> metadata_;
};
