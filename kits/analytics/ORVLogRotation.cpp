#include "kits/analytics/ORVLogRotation.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "kits/analytics/ORVLogger.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "platform/foundation/Clock.h"

namespace fs = std::filesystem;

namespace {

bool isRegularFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

void removeQuietly(const fs::path& p) {
  std::error_code ec;
  fs::remove(p, ec);
}

}  // namespace

fs::path ORVCompressLogOperation::compressedURLForUncompressedURL(const fs::path& url) {
  fs::path out = url;
  return out.replace_extension("gz");
}

void ORVCompressLogOperation::main() {
  success_ = false;
  auto& logger = ORVLogger::sharedLogger();
  if (!isRegularFile(uncompressedLogURL_)) {
    logger.log("Error: attempting to compress nonexistent file: %@", uncompressedLogURL_.string());
    return;
  }
  std::error_code ec;
  if (fs::exists(compressedLogURL_, ec)) return;
  std::ifstream in(uncompressedLogURL_, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  if (!in && !in.eof()) {
    logger.log("Failed to compress file at %@", uncompressedLogURL_.string());
    return;
  }
  std::string bytes = buffer.str();
  gzFile gz = gzopen(compressedLogURL_.c_str(), "wb");
  if (!gz) {
    logger.log("Failed to compress file at %@", uncompressedLogURL_.string());
    return;
  }
  // gzwrite takes an unsigned count; logs stay far below that through rotation.
  int written = bytes.empty() ? 0 : gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size()));
  bool ok = written >= 0 && static_cast<std::size_t>(written) == bytes.size();
  if (!ok) logger.log("Failed to compress file at %@", uncompressedLogURL_.string());
  ok = gzclose(gz) == Z_OK && ok;
  // A cut archive would be sent as if whole; the log stays for the next start instead.
  if (!ok) removeQuietly(compressedLogURL_);
  success_ = ok;
}

fs::path ORVPackageLogOperation::multipartURLForCompressedURL(const fs::path& url,
                                                              const std::string& boundary) {
  return url.parent_path() / (boundary + ".multipartmime");
}

void ORVPackageLogOperation::main() {
  success_ = false;
  auto& logger = ORVLogger::sharedLogger();
  if (!isRegularFile(compressedLogURL_)) {
    logger.log("Error: attempting to package nonexistent file: %@", compressedLogURL_.string());
    return;
  }
  fs::path partial = packagedLogURL_;
  partial.replace_extension(kPartialExtension);
  auto stream = std::make_shared<tw::FileOutputStream>(partial);
  auto encoder = TSYMultipartMimeStreamEncoder::encoderWithStream(stream, multipartMimeBoundary_);
  if (!encoder) return;
  bool added = false;
  bool encoded = encoder->encode([&](TSYMultipartMimeStreamEncoder& e) {
    std::error_code ec;
    if (!compressedLogURL_.empty() && fs::exists(compressedLogURL_, ec)) {
      std::string name = compressedLogURL_.filename().string();
      e.addFile(compressedLogURL_, name, std::string(kMimeType), name);
      added = true;
    } else {
      logger.log("Error packaging: %@ is an invalid path.", compressedLogURL_.string());
    }
  });
  std::error_code ec;
  if (encoded && added) fs::rename(partial, packagedLogURL_, ec);
  if (!encoded || !added || ec) {
    removeQuietly(partial);
    return;
  }
  success_ = true;
}

std::vector<fs::path> ORVCleanupFilesOperation::URLsByRemovingOldFiles(std::vector<fs::path> urls,
                                                                       std::size_t maximum) {
  if (urls.size() <= maximum) return urls;
  const tw::Date distantPast{-62135596800.0};
  std::vector<std::pair<tw::Date, fs::path>> dated;
  dated.reserve(urls.size());
  for (auto& u : urls) dated.emplace_back(ORVFileUtils::fileCreatedDateAtURL(u, distantPast), u);
  std::stable_sort(dated.begin(), dated.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<fs::path> kept;
  for (std::size_t i = 0; i < dated.size(); ++i) {
    if (i < maximum) {
      kept.push_back(dated[i].second);
    } else {
      removeQuietly(dated[i].second);
    }
  }
  return kept;
}

void ORVCleanupFilesOperation::main() {
  std::map<std::string, fs::path> logs, gzs, multiparts;
  for (const auto& url : ORVFileUtils::allFilesInDirectory(directoryUrl_)) {
    auto ext = url.extension().string();
    auto base = url.stem().string();
    if (ext == ".log") {
      logs[base] = url;
    } else if (ext == ".gz") {
      gzs[base] = url;
    } else if (ext == ".multipartmime") {
      multiparts[base] = url;
    } else {
      std::error_code ec;
      fs::remove(url, ec);
    }
  }
  for (const auto& [base, url] : logs) {
    auto twin = gzs.find(base);
    if (twin == gzs.end()) continue;
    std::error_code ec;
    if (!fs::remove(twin->second, ec) || ec) {
      ORVLogger::sharedLogger().logWithLabel("CleanupOperation", "Failed to remove %@: %@",
                                             twin->second.string(), ec.message());
    }
    gzs.erase(twin);
  }
  std::vector<fs::path> multipartList;
  multipartList.reserve(multiparts.size());
  for (const auto& [base, url] : multiparts) multipartList.push_back(url);
  multipartList = URLsByRemovingOldFiles(std::move(multipartList), maximum_);
  ORVFileUtils::URLSet logSet, gzSet, multipartSet(multipartList.begin(), multipartList.end());
  for (const auto& [base, url] : logs) logSet.insert(url);
  for (const auto& [base, url] : gzs) gzSet.insert(url);
  if (successBlock_) successBlock_(logSet, gzSet, multipartSet);
}

ORVRotateCrashMetadataOperation::ORVRotateCrashMetadataOperation(
    fs::path crashMetadataURL, std::shared_ptr<const ORVMetadata> currentMetadata)
    : crashMetadataURL_(std::move(crashMetadataURL)), currentMetadata_(std::move(currentMetadata)) {
  double now = tw::clock::wallNow();
  if (currentMetadata_)
    currentMetadataDictionary_ = currentMetadata_->dictionaryRepresentationWithStartTime(
        now > 0 ? static_cast<std::uint64_t>(now) : 0);
}

void ORVRotateCrashMetadataOperation::main() {
  tw::Dictionary previous;
  std::error_code ec;
  if (fs::exists(crashMetadataURL_, ec)) {
    // A file that cannot be read still yields the crash event, under empty metadata.
    if (auto read = ORVCrashMetadata::readSerializedDictionaryFromURL(crashMetadataURL_)) {
      previous = std::move(*read);
    } else {
      ORVLogger::sharedLogger().log("Unable to read crash metadata at %@, using none.",
                                    crashMetadataURL_.string());
    }
    removeQuietly(crashMetadataURL_);
  }
  crashMetadata_ = std::make_shared<ORVCrashMetadata>(std::move(previous));
  ORVCrashMetadata::writeSerializedDictionary(currentMetadataDictionary_, crashMetadataURL_);
}
