#include "kits/analytics/EventJournal.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <set>

#include "kits/analytics/ORVFileUtils.h"
#include "kits/analytics/ORVLogRotation.h"
#include "platform/foundation/Json.h"

namespace tw {

namespace {
// Line kinds: the run's metadata, the previous run's metadata, an entry, a crash entry, a done
// mark.
constexpr char kMetadata = 'M';
constexpr char kPreviousMetadata = 'P';
constexpr char kEntry = '+';
constexpr char kCrash = 'C';
constexpr char kDone = '-';
// Room reserved beyond what an append needs, so that the file grows now and then rather than at
// every event, without taking more of a nearly full disk than the next events need: a quarter of
// what the journal holds, within these bounds.
constexpr std::size_t kLeastHeadroom = std::size_t{16} * 1024;
constexpr std::size_t kMostHeadroom = std::size_t{1024} * 1024;
// A journal with nothing outstanding starts over once it holds this much, rather than after every
// event.
constexpr std::size_t kRestartSize = std::size_t{64} * 1024;
}  // namespace

std::unique_ptr<EventJournal> EventJournal::create(const std::filesystem::path& path,
                                                   const Dictionary& metadata) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  std::unique_ptr<EventJournal> journal(new EventJournal(path, fd));
  std::lock_guard lock(journal->mutex_);
  if (!journal->append(kMetadata, Json::write(Value(metadata)))) return nullptr;
  journal->headerSize_ = journal->size_;
  return journal;
}

EventJournal::EventJournal(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}

EventJournal::~EventJournal() {
  std::lock_guard lock(mutex_);
  if (map_) ::munmap(map_, capacity_);
  // Everything handed over was written or dropped on purpose; nothing is left to recover.
  if (outstanding_ == 0) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  } else {
    // Cut to its lines; left at its mapped length if that fails, the zero bytes after the last
    // line end the reading just as well.
    [[maybe_unused]] int cut = ::ftruncate(fd_, static_cast<off_t>(size_));
  }
  ::close(fd_);
}

bool EventJournal::reserve(std::size_t size) {
  std::size_t needed = size_ + size + 1;
  if (map_ && needed <= capacity_) return true;
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t headroom = std::clamp(needed / 4, kLeastHeadroom, kMostHeadroom);
  const std::size_t capacity = (needed + headroom + page - 1) / page * page;
  // Blocks are allocated now, so a full disk fails here rather than in a store to the mapping.
  if (::posix_fallocate(fd_, 0, static_cast<off_t>(capacity)) != 0) return false;
  void* map = map_ ? ::mremap(map_, capacity_, capacity, MREMAP_MAYMOVE)
                   : ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (map == MAP_FAILED) return false;
  // Fault the pages in now rather than in the log calls; an older kernel just skips it.
  ::madvise(static_cast<char*>(map) + capacity_, capacity - capacity_, MADV_POPULATE_WRITE);
  map_ = static_cast<char*>(map);
  capacity_ = capacity;
  return true;
}

bool EventJournal::append(char kind, std::string_view a, std::string_view b, std::string_view c) {
  std::size_t size = 1 + a.size() + b.size() + c.size() + 1;
  if (!reserve(size)) return false;
  // The zero byte at size_ hides the new line until its first byte is stored, last; the zero
  // byte after it hides whatever an earlier start-over left beyond.
  char* p = map_ + size_;
  p[size] = '\0';
  char* q = p + 1;
  // An empty view may hold no pointer at all, which memcpy must not be given.
  for (std::string_view part : {a, b, c}) {
    if (!part.empty()) std::memcpy(q, part.data(), part.size());
    q += part.size();
  }
  *q = '\n';
  std::atomic_ref<char>(*p).store(kind, std::memory_order_release);
  size_ += size;
  return true;
}

bool EventJournal::restartIfIdle() {
  if (outstanding_ > 0 || size_ < kRestartSize) return false;
  // One store hides every line after the metadata. Nothing is outstanding, so a kill before the
  // previous run's metadata is back loses nothing that needs it.
  std::atomic_ref<char>(map_[headerSize_]).store('\0', std::memory_order_release);
  size_ = headerSize_;
  if (!previousMetadata_.empty()) append(kPreviousMetadata, previousMetadata_);
  return true;
}

bool EventJournal::recordEntry(char kind, std::string_view identifier, std::string_view line) {
  std::lock_guard lock(mutex_);
  if (!append(kind, identifier, "\t", line)) return false;
  ++outstanding_;
  return true;
}

bool EventJournal::record(std::string_view identifier, std::string_view line) {
  return recordEntry(kEntry, identifier, line);
}

bool EventJournal::recordCrash(std::string_view identifier, std::string_view line) {
  return recordEntry(kCrash, identifier, line);
}

void EventJournal::setPreviousMetadata(const Dictionary& metadata) {
  std::string json = Json::write(Value(metadata));
  std::lock_guard lock(mutex_);
  previousMetadata_ = std::move(json);
  append(kPreviousMetadata, previousMetadata_);
}

void EventJournal::done(const std::string& identifier) {
  std::lock_guard lock(mutex_);
  if (outstanding_ > 0) --outstanding_;
  if (restartIfIdle()) return;
  append(kDone, identifier);
}

void EventJournal::done(const std::vector<std::string_view>& identifiers) {
  // A few marks at a time, so that a log call never waits long for the lock.
  constexpr std::size_t kMarksPerLock = 32;
  for (std::size_t start = 0; start < identifiers.size(); start += kMarksPerLock) {
    std::size_t end = std::min(identifiers.size(), start + kMarksPerLock);
    std::lock_guard lock(mutex_);
    outstanding_ -= std::min(outstanding_, end - start);
    if (restartIfIdle()) continue;
    for (std::size_t i = start; i < end; ++i) append(kDone, identifiers[i]);
  }
}

EventJournal::Contents EventJournal::read(const std::filesystem::path& path) {
  Contents contents;
  int error = 0;
  auto read = ORVFileUtils::readFile(path, &error);
  if (!read) {
    contents.damage = ORVFileUtils::reasonForReadError(error);
    return contents;
  }
  std::string text = std::move(read).value();
  // The lines end at the first zero byte; the rest is room the run had not used.
  text.resize(std::min(text.size(), text.find('\0')));
  if (text.empty()) {
    contents.damage = "empty";
    return contents;
  }
  // Every journal opens with its run's metadata; what does not is none.
  if (text.front() != kMetadata) {
    contents.damage = "not-a-journal";
    return contents;
  }
  std::vector<std::pair<char, Entry>> entries;
  std::set<std::string, std::less<>> doneMarks;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // torn by a kill: never acknowledged as recorded
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    std::string_view rest = line.substr(1);
    if (line[0] == kMetadata || line[0] == kPreviousMetadata) {
      auto parsed = Json::parse(rest);
      if (parsed.ok() && parsed->dictionary()) {
        (line[0] == kMetadata ? contents.metadata : contents.previousMetadata) =
            *parsed->dictionary();
      } else {
        contents.damage = "not-a-journal";
      }
    } else if (line[0] == kEntry || line[0] == kCrash) {
      auto tab = rest.find('\t');
      if (!contents.metadata || tab == std::string_view::npos || tab == 0 ||
          !ORVCompressLogOperation::isEventLine(rest.substr(tab + 1))) {
        contents.damage = "not-a-journal";
        continue;
      }
      entries.push_back(
          {line[0], {std::string(rest.substr(0, tab)), std::string(rest.substr(tab + 1))}});
    } else if (line[0] == kDone) {
      doneMarks.emplace(rest);
    } else {
      contents.damage = "not-a-journal";
    }
  }
  for (auto& [kind, e] : entries) {
    if (doneMarks.count(e.identifier)) continue;
    (kind == kCrash ? contents.pendingCrashes : contents.pending).push_back(std::move(e));
  }
  return contents;
}

}  // namespace tw
