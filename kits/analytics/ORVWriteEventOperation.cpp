#include "kits/analytics/ORVWriteEventOperation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "kits/analytics/ORVLogger.h"
#include "platform/foundation/Json.h"

namespace {

std::uint64_t millisecondsOf(tw::Date d) {
  double ms = d.secondsSince1970 * 1000.0;
  if (!(ms > 0)) return 0;
  if (ms >= 18446744073709551615.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(ms);
}

std::uint64_t wholeSecondsOf(tw::Date d) {
  double s = d.secondsSince1970;
  if (!(s > 0)) return 0;
  if (s >= 18446744073709551615.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(s);
}

}  // namespace

ORVWriteEventOperation::ORVWriteEventOperation(
    std::shared_ptr<const ORVEvent> event, std::shared_ptr<const ORVMetadataSerializable> metadata,
    std::filesystem::path logFileUrl, std::optional<std::string> formattedEvent)
    : event_(std::move(event)),
      metadata_(std::move(metadata)),
      logFileUrl_(std::move(logFileUrl)),
      formattedEvent_(std::move(formattedEvent)) {
  if (event_ && !formattedEvent_) formattedEvent_ = generateFormattedLogLineWithEvent(*event_);
  if (metadata_ && event_)
    formattedMetadata_ = generateFormattedLogLineWithMetdata(*metadata_, event_->timestamp());
}

void ORVWriteEventOperation::main() {
  write();
  if (writtenBlock_) writtenBlock_();
}

void ORVWriteEventOperation::write() {
  success_ = false;
  // A line that cannot be made writes nothing, so no empty file is left behind either.
  if (!formattedEvent_ || !formattedMetadata_) return;
  // A directory at the path cannot be opened for writing (EISDIR): nothing is written.
  int fd = ::open(logFileUrl_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // A file that exists but is empty (a first write that failed) still needs its metadata line.
  struct stat st {};
  bool known = ::fstat(fd, &st) == 0;
  bool preexisting = known && st.st_size > 0;
  knownLength_ = known ? st.st_size : -1;
  success_ = writeDataToDescriptor(fd, preexisting);
  if (::close(fd) != 0) {
    ORVLogger::sharedLogger().logWithLabel("WriteOperation", "Failed to close file, error: %s",
                                           std::strerror(errno));
    success_ = false;
  }
  // A file this write made and could not fill is not left behind empty.
  if (!success_ && knownLength_ == 0) {
    std::error_code ec;
    std::filesystem::remove(logFileUrl_, ec);
  }
}

bool ORVWriteEventOperation::writeDataToDescriptor(int fd, bool preexistingFile) {
  if (!formattedEvent_ || !formattedMetadata_) return false;
  off_t before = knownLength_ >= 0 ? knownLength_ : ::lseek(fd, 0, SEEK_END);
  bool ok = (preexistingFile || appendLogLine(*formattedMetadata_, fd)) &&
            appendLogLine(*formattedEvent_, fd);
  // Cut back whatever got out, so the next line starts on a line of its own.
  if (!ok && before >= 0 && ::ftruncate(fd, before) != 0) {
    ORVLogger::sharedLogger().logWithLabel("WriteOperation", "Failed to truncate: %s\n",
                                           std::strerror(errno));
  }
  return ok;
}

bool ORVWriteEventOperation::appendLogLine(const std::string& line, int fd) {
  std::string bytes = line + "\n";
  auto& logger = ORVLogger::sharedLogger();
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  for (int call = 0; call < 3; ++call) {
    errno = 0;
    ssize_t n = ::write(fd, p, left);
    if (n < 0) logger.logWithLabel("WriteOperation", "Failed to write: %s\n", std::strerror(errno));
    if (n >= 0 && static_cast<std::size_t>(n) == left) return true;
    if (n < 0 || static_cast<std::size_t>(n) > left) {
      logger.logWithLabel("WriteOperation", "Error: length doesn't make sense (%lld, %llu)\n",
                          static_cast<long long>(n), static_cast<unsigned long long>(left));
      return false;
    }
    if (n == 0 || call == 2) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  logger.logWithLabel("WriteOperation", "Error: exited write loop without success\n");
  return false;
}

std::optional<std::string> ORVWriteEventOperation::generateFormattedLogLineWithEvent(
    const ORVEvent& event) {
  return logLineWithTimestamp(event.timestamp(), event.name(), event.dictionaryRepresentation());
}

std::optional<std::string> ORVWriteEventOperation::generateFormattedLogLineWithMetdata(
    const ORVMetadataSerializable& metadata, tw::Date timestamp) {
  return logLineWithTimestamp(
      timestamp, metadata.eventName(),
      metadata.dictionaryRepresentationWithStartTime(wholeSecondsOf(timestamp)));
}

std::optional<std::string> ORVWriteEventOperation::logLineWithTimestamp(
    tw::Date timestamp, const std::string& eventName,
    const std::optional<tw::Dictionary>& payloadDictionary) {
  if (!payloadDictionary) return std::nullopt;
  std::string json = tw::Json::write(tw::Value(*payloadDictionary));
  return std::to_string(millisecondsOf(timestamp)) + "\t" + eventName + "\t" +
         std::to_string(json.size()) + "\t" + json;
}
