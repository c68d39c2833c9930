#include "kits/crash/reports/MVXPackageReportOperation.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/net/OutputStream.h"
#include "platform/foundation/Paths.h"

namespace fs = std::filesystem;

namespace {

bool syncFile(const std::string& path, int flags = O_RDONLY) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

MVXPackageReportOperation::MVXPackageReportOperation(std::shared_ptr<MVXInternalReport> report,
                                                     std::shared_ptr<MVXFileManager> fileManager)
    : report_(std::move(report)), fileManager_(std::move(fileManager)) {}

std::string MVXPackageReportOperation::packagedPathWithName(const std::string& name) const {
  return destinationDirectory() + "/" + name + ".multipartmime";
}

bool MVXPackageReportOperation::writeBytes(const void* bytes, std::size_t length, void* gzFile) {
  auto* file = static_cast<gzFile_s*>(gzFile);
  const auto* cursor = static_cast<const char*>(bytes);
  // gzwrite takes an unsigned count; larger ranges go in pieces, and a short write is retried
  // for the rest, as the kit's write loop does.
  while (length > 0) {
    const unsigned chunk = length > (1u << 30) ? (1u << 30) : static_cast<unsigned>(length);
    errno = 0;
    const int written = gzwrite(file, cursor, chunk);
    if (written <= 0) {
      int zerr = 0;
      const char* message = gzerror(file, &zerr);
      MVXSDKLOG(4, "ERROR [%s:%d] Error: failed to write compressed bytes %d, %s, %s \n", zerr,
                message ? message : "", std::strerror(errno));
      return false;
    }
    cursor += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

bool MVXPackageReportOperation::compressData(const tw::Data& data, const std::string& path) {
  errno = 0;
  gzFile file = gzopen(path.c_str(), "w");
  if (file == nullptr) {
    MVXSDKLOG(4, "ERROR [%s:%d] Error: unable to open file for compression %s\n",
              std::strerror(errno));
    return false;
  }
  bool result = !data.empty();
  TSYEnumerateDataByteRanges(
      data, [&](const std::uint8_t* bytes, std::size_t, std::size_t length, bool* stop) {
        if (!writeBytes(bytes, length, file)) {
          result = false;
          *stop = true;
        }
      });
  // The trailer is written on close: a failing close means a cut gzip file.
  if (gzclose(file) != Z_OK) result = false;
  return result;
}

void MVXPackageReportOperation::encodeData(TSYMultipartMimeStreamEncoder& encoder,
                                           const tw::Data& data, const std::string& path) {
  if (path.empty()) {
    MVXSDKLOG(4, "ERROR [%s:%d] Error: path is invalid\n");
    return;
  }
  const std::string gzPath = path + ".gz";
  const std::string fieldName = fs::path(path).filename().string();
  const std::string fileName = fs::path(gzPath).filename().string();
  if (compressData(data, gzPath)) {
    encoder.addFile(gzPath, fileName, std::string("application/x-gzip"), fieldName);
  } else {
    MVXSDKLOG(4, "ERROR [%s:%d] Error: compression failed for %s\n", fileName.c_str());
    encoder.addFile(path, fileName, std::string("text/plain"), fieldName);
  }
}

std::optional<std::string> MVXPackageReportOperation::earlierPackage() const {
  int error = 0;
  auto note = tw::paths::readTextFile(report_->pathForContentFile(kPackageNoteFileName), &error);
  if (!note) {
    // No note is the ordinary case; one that cannot be read only costs packaging again.
    if (error != ENOENT) MVXSDKLOG(3, "WARN  [%s:%d] %s\n", note.error().c_str());
    return std::nullopt;
  }
  const std::string name = note->substr(0, note->find('\n'));
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  const std::string path = destinationDirectory() + "/" + name;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  return path;
}

bool MVXPackageReportOperation::package(const std::string& path) {
  const std::string temporary = MVXFileManager::temporaryPathForPath(path);
  // Held while writing, so that another launch's clean-up leaves the file alone.
  auto writing = tw::FileLock::tryLock(temporary, true);
  if (!writing) return false;
  const auto identifier = report_->identifier();
  const auto apiKey = report_->APIKey();
  const std::string boundary = fs::path(path).stem().string();
  auto encoder = TSYMultipartMimeStreamEncoder::encoderWithStream(
      std::make_shared<tw::FileOutputStream>(temporary), boundary);
  bool ok = encoder && encoder->encode([&](TSYMultipartMimeStreamEncoder& e) {
    if (apiKey) e.addValue(*apiKey, "api_key");
    if (!identifier.empty()) e.addValue(identifier, "report_id");
    fileManager_->enumerateFilesInDirectory(
        report_->path(), [&](const std::string& file, const std::string& extension) {
          if (isCancelled() || extension == "gz") return;
          std::error_code ec;
          if (fs::is_directory(file, ec)) return;
          // A file that vanished, cannot be read or is empty is left out; the rest is sent.
          auto data = tw::paths::readFile(file);
          if (!data || data->empty()) {
            const std::string name = fs::path(file).filename().string();
            MVXSDKLog(4, "ERROR [%s:%d] Error: unable to read data for compression: %s (%s)\n",
                      "main", __LINE__, name.c_str(), data ? "empty" : data.error().c_str());
            return;
          }
          encodeData(e, *data, file);
        });
  });
  ok = ok && !isCancelled() && syncFile(temporary);
  // The note comes before the rename: a directory found again after it reuses the package.
  ok = ok && tw::paths::writeFileAtomically(report_->pathForContentFile(kPackageNoteFileName),
                                            fs::path(path).filename().string() + "\n");
  ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
  // The rename is durable only once the folder is synced.
  ok = ok && syncFile(destinationDirectory(), O_RDONLY | O_DIRECTORY);
  if (!ok) fileManager_->removeItemAtPath(temporary);
  return ok;
}

void MVXPackageReportOperation::main() {
  finalPath_.reset();
  if (auto earlier = earlierPackage()) {
    finalPath_ = earlier;
    return;
  }
  const std::string path = packagedPathWithName(TSYMultipartMimeStreamEncoder::generateBoundary());
  if (package(path)) finalPath_ = path;
}
