#pragma once
// The operations that carry a retired event log to the uploader: compress (.log to .gz), package
// (.gz to <boundary>.multipartmime), the start-up clean-up of the events directory and the
// keeping of the previous run's metadata. Single-shot operations that run on the kit's serial
// event queue (the crash metadata one is run directly by the controller's start-up block).
// A failed compression or packaging reports success() false and leaves no partial output, so
// the caller keeps the source file for a later start to try again. A source that can never be
// sent (a folder in its place, an unreadable file, a log whose lines are not events, an archive
// whose stream does not end) is moved into the "damaged" folder and logged, never sent.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kits/analytics/ORVFileUtils.h"
#include "kits/analytics/ORVMetadata.h"
#include "platform/foundation/OperationQueue.h"

class ORVCompressLogOperation : public tw::Operation {
 public:
  ORVCompressLogOperation(std::filesystem::path uncompressedLogURL,
                          std::filesystem::path compressedLogURL)
      : uncompressedLogURL_(std::move(uncompressedLogURL)),
        compressedLogURL_(std::move(compressedLogURL)) {}
  void main() override;
  static std::filesystem::path compressedURLForUncompressedURL(const std::filesystem::path& url);
  // "<ms>\t<name>\t<payload bytes>\t<payload>" with a JSON object of that many bytes.
  static bool isEventLine(std::string_view line);
  // How much of a log's text is sent: its whole lines, all events, without a last line a kill
  // cut (or damaged). nullopt when an earlier line is not an event, or none is.
  static std::optional<std::size_t> sendableLength(std::string_view text);
  const std::filesystem::path& uncompressedLogURL() const { return uncompressedLogURL_; }
  const std::filesystem::path& compressedLogURL() const { return compressedLogURL_; }
  // True when the .gz now holds the whole log.
  bool success() const { return success_; }

 private:
  std::filesystem::path uncompressedLogURL_, compressedLogURL_;
  bool success_ = false;
};

class ORVPackageLogOperation : public tw::Operation {
 public:
  static constexpr const char* kMimeType = "application/vnd.morvex.mac.events";
  // Written under this extension and renamed once complete; the clean-up removes leftovers.
  static constexpr const char* kPartialExtension = "partial";

  ORVPackageLogOperation(std::filesystem::path compressedLogURL,
                         std::filesystem::path packagedLogURL, std::string multipartMimeBoundary)
      : compressedLogURL_(std::move(compressedLogURL)),
        packagedLogURL_(std::move(packagedLogURL)),
        multipartMimeBoundary_(std::move(multipartMimeBoundary)) {}
  void main() override;
  static std::filesystem::path multipartURLForCompressedURL(const std::filesystem::path& url,
                                                            const std::string& boundary);
  // A gzip stream that ends, with nothing after it.
  static bool isCompleteGzipStream(std::string_view bytes);
  // A package as main writes it: one part, a complete gzip stream, closed by the boundary.
  static bool isCompletePackage(std::string_view bytes, const std::string& boundary);
  // Whether the package at `url` (its name is its boundary) may be sent; one that cannot is
  // moved aside. `bytes` receives what was read.
  static bool checkPackageAtURL(const std::filesystem::path& url, std::string* bytes = nullptr);
  const std::filesystem::path& compressedLogURL() const { return compressedLogURL_; }
  const std::filesystem::path& packagedLogURL() const { return packagedLogURL_; }
  const std::string& multipartMimeBoundary() const { return multipartMimeBoundary_; }
  // True when the packaged file exists under its final name, complete.
  bool success() const { return success_; }

 private:
  std::filesystem::path compressedLogURL_, packagedLogURL_;
  std::string multipartMimeBoundary_;
  bool success_ = false;
};

class ORVCleanupFilesOperation : public tw::Operation {
 public:
  using SuccessBlock =
      std::function<void(const ORVFileUtils::URLSet& logs, const ORVFileUtils::URLSet& gz,
                         const ORVFileUtils::URLSet& multipart)>;
  ORVCleanupFilesOperation(std::filesystem::path directoryUrl,
                           std::size_t maximumPendingMulitpartFiles)
      : directoryUrl_(std::move(directoryUrl)), maximum_(maximumPendingMulitpartFiles) {}
  void main() override;
  static std::vector<std::filesystem::path> URLsByRemovingOldFiles(
      std::vector<std::filesystem::path> urls, std::size_t maximumFileCount);
  const std::filesystem::path& directoryUrl() const { return directoryUrl_; }
  std::size_t maximumPendingMultipartFiles() const { return maximum_; }
  void setSuccessBlock(SuccessBlock block) { successBlock_ = std::move(block); }

 private:
  std::filesystem::path directoryUrl_;
  std::size_t maximum_;
  SuccessBlock successBlock_;
};

class ORVRotateCrashMetadataOperation : public tw::Operation {
 public:
  ORVRotateCrashMetadataOperation(std::filesystem::path crashMetadataURL,
                                  std::shared_ptr<const ORVMetadata> currentMetadata);
  void main() override;
  const std::filesystem::path& crashMetadataURL() const { return crashMetadataURL_; }
  const std::shared_ptr<const ORVMetadata>& currentMetadata() const { return currentMetadata_; }
  const std::shared_ptr<ORVCrashMetadata>& crashMetadata() const { return crashMetadata_; }
  const tw::Dictionary& currentMetadataDictionary() const { return currentMetadataDictionary_; }

 private:
  std::filesystem::path crashMetadataURL_;
  std::shared_ptr<const ORVMetadata> currentMetadata_;
  std::shared_ptr<ORVCrashMetadata> crashMetadata_;
  tw::Dictionary currentMetadataDictionary_;
};
