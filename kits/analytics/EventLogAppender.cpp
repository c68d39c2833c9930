#include "kits/analytics/EventLogAppender.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kits/analytics/ORVLogger.h"
#include "platform/foundation/Log.h"

namespace tw {

EventLogAppender::~EventLogAppender() { close(); }

bool EventLogAppender::target(const std::filesystem::path& path) {
  if (fd_ >= 0 && path == path_) return true;
  close();
  // A directory at the path cannot be opened for writing (EISDIR): nothing is written.
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  length_ = st.st_size;
  return true;
}

void EventLogAppender::add(std::string_view line, std::string_view identifier) {
  // A long run goes out in pieces of whole lines, so the buffer stays small and warm.
  constexpr std::size_t kFlushSize = std::size_t{64} * 1024;
  if (buffer_.size() + line.size() >= kFlushSize) flush();
  buffer_.append(line);
  buffer_.push_back('\n');
  if (!identifier.empty()) {
    bufferedIds_.append(identifier);
    bufferedIds_.push_back('\n');
  }
}

void EventLogAppender::addUnjournalled(std::string_view line) {
  add(line);
  ++bufferedUnjournalled_;
}

void EventLogAppender::takeWritten(std::string& into) {
  into += writtenIds_;
  writtenIds_.clear();
}

bool EventLogAppender::flush() {
  if (buffer_.empty()) return true;
  if (fd_ < 0) {
    buffer_.clear();
    bufferedIds_.clear();
    lost_ += std::exchange(bufferedUnjournalled_, 0);
    return false;
  }
  auto& logger = ORVLogger::sharedLogger();
  const char* p = buffer_.data();
  std::size_t left = buffer_.size();
  int failure = 0;
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : ENOSPC;
      if (n < 0)
        logger.logWithLabel("WriteOperation", "Failed to write: %s\n", std::strerror(errno));
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  bool ok = left == 0;
  if (ok) {
    length_ += static_cast<off_t>(buffer_.size());
    writtenIds_ += bufferedIds_;
    failing_ = false;
  } else {
    if (!failing_) {
      failing_ = true;
      // Only what the journal holds survives: the others are counted, and the count is told.
      tw::log(LogLevel::Error,
              "[Oriseth] Unable to append events to " + path_.string() + " (" +
                  std::strerror(failure) + "); " +
                  (bufferedUnjournalled_ == 0
                       ? std::string("they are kept and written once there is room")
                       : "the " + std::to_string(bufferedUnjournalled_) +
                             " in no journal cannot be kept and are lost"));
    }
    lost_ += bufferedUnjournalled_;
    if (length_ == 0) {
      // Nothing of it was ever written: no empty file is left behind.
      std::error_code ec;
      std::filesystem::remove(path_, ec);
      ::close(fd_);
      fd_ = -1;
      path_.clear();
    } else if (::ftruncate(fd_, length_) != 0) {
      // Cut back whatever got out, so the next line starts on a line of its own.
      logger.logWithLabel("WriteOperation", "Failed to truncate: %s\n", std::strerror(errno));
    }
  }
  buffer_.clear();
  bufferedIds_.clear();
  bufferedUnjournalled_ = 0;
  return ok;
}

bool EventLogAppender::close() {
  if (fd_ < 0) {
    buffer_.clear();
    lost_ += std::exchange(bufferedUnjournalled_, 0);
    return true;
  }
  bool ok = flush();
  if (::close(fd_) != 0) {
    ORVLogger::sharedLogger().logWithLabel("WriteOperation", "Failed to close file, error: %s",
                                           std::strerror(errno));
    ok = false;
  }
  fd_ = -1;
  path_.clear();
  return ok;
}

}  // namespace tw
