#pragma once
// MVXPackageReportOperation: turns one report directory (in "processing", after symbolication)
// into one upload file in "prepared": a multipart/form-data body with the API key, the report
// identifier and every visible file of the directory, each gzip-compressed beside it first. The
// package's name is its boundary + ".multipartmime", so the upload rebuilds its Content-Type
// from the path alone.
//
// The body is written under a hidden temporary name (locked while written) and renamed when
// complete; any failed write removes it and leaves finalPath unset. Before the rename the
// package's name is noted in the report directory (".package"), so a launch that finds the
// directory again after the rename reuses that package instead of making a second one.
//
// Made and run synchronously (start) by the reports controller on the kit's work queue.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "kits/crash/reports/MVXFileManager.h"
#include "kits/crash/reports/MVXInternalReport.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "platform/foundation/OperationQueue.h"

class MVXPackageReportOperation : public tw::Operation {
 public:
  // The hidden note, in the report directory, of the package made from it.
  static constexpr const char* kPackageNoteFileName = ".package";

  MVXPackageReportOperation(std::shared_ptr<MVXInternalReport> report,
                            std::shared_ptr<MVXFileManager> fileManager);

  static bool compressData(const tw::Data& data, const std::string& path);
  static bool writeBytes(const void* bytes, std::size_t length, void* gzFile);
  std::string reportPath() const { return report_->path(); }
  std::string destinationDirectory() const { return fileManager_->preparedPath(); }
  std::string packagedPathWithName(const std::string& name) const;
  void main() override;
  static void encodeData(TSYMultipartMimeStreamEncoder& encoder, const tw::Data& data,
                         const std::string& path);

  const std::shared_ptr<MVXInternalReport>& report() const { return report_; }
  const std::shared_ptr<MVXFileManager>& fileManager() const { return fileManager_; }
  std::optional<std::string> finalPath() const { return finalPath_; }
  void setFinalPath(std::optional<std::string> path) { finalPath_ = std::move(path); }

 private:
  // The package an earlier attempt made from this directory, when it is still in "prepared".
  std::optional<std::string> earlierPackage() const;
  bool package(const std::string& path);

  std::shared_ptr<MVXInternalReport> report_;
  std::shared_ptr<MVXFileManager> fileManager_;
  std::optional<std::string> finalPath_;
};
