#include "kits/analytics/EventJournal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/foundation/Json.h"

namespace tw {

namespace {
// Line kinds: the run's metadata, an entry, a done mark.
constexpr char kMetadata = 'M';
constexpr char kEntry = '+';
constexpr char kDone = '-';
// A journal with nothing outstanding is cut back once it holds this much; cutting it after every
// event would cost a truncation per event.
constexpr std::size_t kRestartSize = 64 * 1024;
}  // namespace

std::unique_ptr<EventJournal> EventJournal::create(const std::filesystem::path& path,
                                                   const Dictionary& metadata) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  std::string header = std::string(1, kMetadata) + Json::write(Value(metadata)) + "\n";
  std::unique_ptr<EventJournal> journal(new EventJournal(path, fd, std::move(header)));
  if (!journal->append(journal->header_)) return nullptr;
  return journal;
}

EventJournal::EventJournal(std::filesystem::path path, int fd, std::string header)
    : path_(std::move(path)), fd_(fd), header_(std::move(header)) {}

EventJournal::~EventJournal() {
  ::close(fd_);
  // Everything handed over was written or dropped on purpose; nothing is left to recover.
  std::lock_guard lock(mutex_);
  if (outstanding_ == 0) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
}

bool EventJournal::append(const std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A torn line would swallow the next one's start: cut it back.
      if (left != text.size() && ::ftruncate(fd_, static_cast<off_t>(size_)) != 0) return false;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  size_ += text.size();
  return true;
}

bool EventJournal::restartIfIdle() {
  if (outstanding_ > 0 || size_ < kRestartSize) return false;
  if (::ftruncate(fd_, 0) != 0) return false;
  // The metadata line comes back.
  size_ = 0;
  append(header_);
  return true;
}

bool EventJournal::record(const std::string& identifier, const std::string& line) {
  std::string text;
  text.reserve(identifier.size() + line.size() + 3);
  text.push_back(kEntry);
  text += identifier;
  text.push_back('\t');
  text += line;
  text.push_back('\n');
  std::lock_guard lock(mutex_);
  if (!append(text)) return false;
  ++outstanding_;
  return true;
}

void EventJournal::done(const std::string& identifier) {
  std::lock_guard lock(mutex_);
  if (outstanding_ > 0) --outstanding_;
  // Nothing outstanding: start over, so the journal stays small.
  if (restartIfIdle()) return;
  append(std::string(1, kDone) + identifier + "\n");
}

void EventJournal::done(const std::vector<std::string>& identifiers) {
  if (identifiers.empty()) return;
  std::string text;
  for (const auto& identifier : identifiers) {
    text.push_back(kDone);
    text += identifier;
    text.push_back('\n');
  }
  std::lock_guard lock(mutex_);
  outstanding_ -= std::min(outstanding_, identifiers.size());
  if (restartIfIdle()) return;
  append(text);
}

EventJournal::Contents EventJournal::read(const std::filesystem::path& path) {
  Contents contents;
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  std::vector<Entry> entries;
  std::map<std::string, bool> doneMarks;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // torn by a kill: never acknowledged as recorded
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    std::string_view rest = line.substr(1);
    if (line[0] == kMetadata) {
      auto parsed = Json::parse(rest);
      if (parsed.ok() && parsed->dictionary()) contents.metadata = *parsed->dictionary();
    } else if (line[0] == kEntry) {
      auto tab = rest.find('\t');
      if (tab == std::string_view::npos) continue;
      entries.push_back({std::string(rest.substr(0, tab)), std::string(rest.substr(tab + 1))});
    } else if (line[0] == kDone) {
      doneMarks[std::string(rest)] = true;
    }
  }
  for (auto& e : entries)
    if (!doneMarks.count(e.identifier)) contents.pending.push_back(std::move(e));
  return contents;
}

}  // namespace tw
