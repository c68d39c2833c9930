#include "kits/analytics/ORVLogRotation.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>

#include "kits/analytics/ORVLogger.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"

namespace fs = std::filesystem;

namespace {

void removeQuietly(const fs::path& p) {
  std::error_code ec;
  fs::remove(p, ec);
}

}  // namespace

fs::path ORVCompressLogOperation::compressedURLForUncompressedURL(const fs::path& url) {
  fs::path out = url;
  return out.replace_extension("gz");
}

bool ORVCompressLogOperation::isEventLine(std::string_view line) {
  auto field = [&line]() {
    auto tab = line.find('\t');
    if (tab == std::string_view::npos) return std::string_view();
    auto out = line.substr(0, tab);
    line.remove_prefix(tab + 1);
    return out;
  };
  auto digits = [](std::string_view s) {
    return !s.empty() && s.size() <= 19 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  std::string_view millis = field(), name = field(), length = field();
  if (!digits(millis) || name.empty() || !digits(length)) return false;
  if (std::to_string(line.size()) != length) return false;
  return line.size() >= 2 && line.front() == '{' && line.back() == '}';
}

std::optional<std::size_t> ORVCompressLogOperation::sendableLength(std::string_view text) {
  std::size_t start = 0;
  std::size_t sendable = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    const bool last = end == std::string_view::npos || end + 1 == text.size();
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (end == std::string_view::npos || !isEventLine(line)) {
      // Only the last line may be cut, as a kill in the middle of its write leaves it.
      if (!last || sendable == 0) return std::nullopt;
      return sendable;
    }
    sendable = end + 1;
    start = end + 1;
  }
  if (sendable == 0) return std::nullopt;
  return sendable;
}

void ORVCompressLogOperation::main() {
  success_ = false;
  auto& logger = ORVLogger::sharedLogger();
  std::error_code ec;
  if (fs::exists(compressedLogURL_, ec)) return;
  int error = 0;
  auto read = ORVFileUtils::readFile(uncompressedLogURL_, &error);
  if (!read) {
    if (error == ENOENT) {
      logger.log("Error: attempting to compress nonexistent file: %@",
                 uncompressedLogURL_.string());
    } else {
      ORVFileUtils::moveAside(uncompressedLogURL_, ORVFileUtils::reasonForReadError(error));
    }
    return;
  }
  std::string bytes = std::move(read).value();
  // A run that ended before its first line leaves nothing worth sending or keeping.
  if (bytes.empty()) {
    removeQuietly(uncompressedLogURL_);
    return;
  }
  const auto sendable = sendableLength(bytes);
  if (!sendable) {
    ORVFileUtils::moveAside(uncompressedLogURL_, "not-events");
    return;
  }
  const bool cut = *sendable < bytes.size();
  bytes.resize(*sendable);
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
  // Its whole lines go; the file with its cut last line is kept rather than removed.
  if (ok && cut) {
    auto kept = ORVFileUtils::moveAside(uncompressedLogURL_, "cut-last-line", false);
    if (!kept.empty())
      tw::log(tw::LogLevel::Error,
              "[Oriseth] The last line of " + uncompressedLogURL_.string() +
                  " was cut; its whole lines are sent and the file is kept as " + kept.string());
  }
}

fs::path ORVPackageLogOperation::multipartURLForCompressedURL(const fs::path& url,
                                                              const std::string& boundary) {
  return url.parent_path() / (boundary + ".multipartmime");
}

bool ORVPackageLogOperation::isCompleteGzipStream(std::string_view bytes) {
  if (bytes.empty()) return false;
  z_stream z{};
  // 16 + the largest window: a gzip header and trailer are expected.
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  std::array<Bytef, 16384> out{};
  int status = Z_OK;
  while (status == Z_OK) {
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    status = inflate(&z, Z_NO_FLUSH);
    // Members written one after another form one archive.
    if (status == Z_STREAM_END && z.avail_in > 0) status = inflateReset(&z);
  }
  const bool complete = status == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return complete;
}

bool ORVPackageLogOperation::isCompletePackage(std::string_view bytes,
                                               const std::string& boundary) {
  const std::string head = "MIME-Version: 1.0\r\n--" + boundary + "\r\n";
  const std::string tail = "\r\n--" + boundary + "--\r\n";
  if (boundary.empty() || bytes.size() < head.size() + tail.size() || !bytes.starts_with(head) ||
      !bytes.ends_with(tail))
    return false;
  auto headers = bytes.find("\r\n\r\n", head.size());
  if (headers == std::string_view::npos || headers + 4 > bytes.size() - tail.size()) return false;
  if (bytes.substr(head.size(), headers - head.size()).find("filename=\"") ==
      std::string_view::npos)
    return false;
  auto body = bytes.substr(headers + 4, bytes.size() - tail.size() - headers - 4);
  return isCompleteGzipStream(body);
}

bool ORVPackageLogOperation::checkPackageAtURL(const fs::path& url, std::string* bytes) {
  int error = 0;
  auto read = ORVFileUtils::readFile(url, &error);
  if (!read) {
    if (error != ENOENT) ORVFileUtils::moveAside(url, ORVFileUtils::reasonForReadError(error));
    return false;
  }
  if (!isCompletePackage(*read, url.stem().string())) {
    ORVFileUtils::moveAside(url, "not-a-package");
    return false;
  }
  if (bytes) *bytes = std::move(read).value();
  return true;
}

void ORVPackageLogOperation::main() {
  success_ = false;
  auto& logger = ORVLogger::sharedLogger();
  int error = 0;
  auto read = ORVFileUtils::readFile(compressedLogURL_, &error);
  if (!read) {
    if (error == ENOENT) {
      logger.log("Error: attempting to package nonexistent file: %@", compressedLogURL_.string());
    } else {
      ORVFileUtils::moveAside(compressedLogURL_, ORVFileUtils::reasonForReadError(error));
    }
    return;
  }
  if (!isCompleteGzipStream(*read)) {
    ORVFileUtils::moveAside(compressedLogURL_, "cut-stream");
    return;
  }
  const tw::Data archive(read->begin(), read->end());
  fs::path partial = packagedLogURL_;
  partial.replace_extension(kPartialExtension);
  auto stream = std::make_shared<tw::FileOutputStream>(partial);
  auto encoder = TSYMultipartMimeStreamEncoder::encoderWithStream(stream, multipartMimeBoundary_);
  if (!encoder) return;
  // The archive is packaged as it was checked, not read a second time.
  bool encoded = encoder->encode([&](TSYMultipartMimeStreamEncoder& e) {
    std::string name = compressedLogURL_.filename().string();
    e.addFileData(archive, name, std::string(kMimeType), name);
  });
  std::error_code ec;
  if (encoded) fs::rename(partial, packagedLogURL_, ec);
  if (!encoded || ec) {
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
    } else if (url.filename() != ORVFileUtils::kDamagedFolderName) {
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
  // A package names the archive it was made from; a kill between the package's rename and the
  // archive's removal leaves that archive behind, and packaging it again would send it twice.
  // One that cannot be sent is set aside and leaves the count of those pending.
  for (auto it = multiparts.begin(); it != multiparts.end();) {
    std::string head;
    if (!ORVPackageLogOperation::checkPackageAtURL(it->second, &head)) {
      it = multiparts.erase(it);
      continue;
    }
    ++it;
    head.resize(std::min<std::size_t>(head.size(), 1024));
    auto at = head.find("filename=\"");
    if (at == std::string::npos) continue;
    at += 10;
    auto end = head.find('"', at);
    if (end == std::string::npos) continue;
    auto archive = gzs.find(fs::path(head.substr(at, end - at)).stem().string());
    if (archive == gzs.end() || archive->second.filename() != head.substr(at, end - at)) continue;
    removeQuietly(archive->second);
    gzs.erase(archive);
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
  int error = 0;
  auto bytes = ORVFileUtils::readFile(crashMetadataURL_, &error);
  if (bytes || error != ENOENT) {
    // A file that cannot be read still yields the crash event, under empty metadata; it is kept
    // aside, as one that does not hold metadata is.
    auto parsed = bytes ? tw::Json::parse(*bytes) : tw::Expected<tw::Value>::failure("");
    if (parsed && parsed->dictionary()) {
      previous = *parsed->dictionary();
      removeQuietly(crashMetadataURL_);
    } else {
      ORVLogger::sharedLogger().log("Unable to read crash metadata at %@, using none.",
                                    crashMetadataURL_.string());
      ORVFileUtils::moveAside(crashMetadataURL_,
                              bytes ? "not-metadata" : ORVFileUtils::reasonForReadError(error));
    }
  }
  crashMetadata_ = std::make_shared<ORVCrashMetadata>(std::move(previous));
  ORVCrashMetadata::writeSerializedDictionary(currentMetadataDictionary_, crashMetadataURL_);
}
