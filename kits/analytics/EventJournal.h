#pragma once
// tw::EventJournal: makes a public log call durable before it returns. The event's line is
// recorded in this run's journal on the caller's thread; once the event queue has written it to
// its log file (or dropped it), a done mark follows, and when nothing is outstanding the journal
// starts over from its metadata. A run that is killed leaves its journal behind; the next run's
// start writes every entry without a done mark that no log file holds yet into a log file of its
// own (a crash entry into one under the metadata of the run that crashed).
// The journal is a file mapped into memory and shared with the kernel's page cache: a record is
// a copy into the mapping, with no system call, and survives a kill of the process the moment
// the copy is done (nothing is synced: the journal stands against kills, not power cuts). A
// record is made visible by its first byte, stored last, so a kill never leaves half a line.
// Owned by the analytics controller; every member may be called from any thread.
#include <sys/types.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kits/analytics/SpinLock.h"
#include "platform/foundation/Value.h"

namespace tw {

class EventJournal {
 public:
  struct Entry {
    std::string identifier;
    std::string line;  // the event's log line, without its line feed
  };
  struct Contents {
    std::optional<Dictionary> metadata;          // the run's metadata payload
    std::optional<Dictionary> previousMetadata;  // the metadata of the run before it
    std::vector<Entry> pending;                  // entries without a done mark, in order
    std::vector<Entry> pendingCrashes;           // crash entries without a done mark, in order
    // Why the file cannot be trusted whole, empty when it can: "missing" (gone since it was
    // listed), "folder", "unreadable", "empty", or "not-a-journal" (no metadata first, or lines
    // that are no journal's). Entries are read only after the run's metadata, and only those
    // whose line is an event's.
    std::string damage;
  };

  // Creates the journal at `path` and writes the run's metadata payload first; nullptr when the
  // file cannot be made.
  static std::unique_ptr<EventJournal> create(const std::filesystem::path& path,
                                              const Dictionary& metadata);
  ~EventJournal();
  EventJournal(const EventJournal&) = delete;
  EventJournal& operator=(const EventJournal&) = delete;

  // Records an entry; false when it could not be recorded.
  bool record(std::string_view identifier, std::string_view line);
  // Records the previous run's crash event, which is written under that run's metadata.
  bool recordCrash(std::string_view identifier, std::string_view line);
  // The metadata of the run before this one, for its crash entries.
  void setPreviousMetadata(const Dictionary& metadata);
  void done(const std::string& identifier);
  // Done marks for a run of entries.
  void done(const std::vector<std::string_view>& identifiers);
  const std::filesystem::path& path() const { return path_; }

  // Reads a journal left by another run. A torn last line is ignored.
  static Contents read(const std::filesystem::path& path);

 private:
  EventJournal(std::filesystem::path path, int fd);
  // An entry of `kind` (an event's or a crash's), counted as outstanding.
  bool recordEntry(char kind, std::string_view identifier, std::string_view line);
  // With the mutex held: appends the line `kind` + `a` + `b` + `c` and its line feed.
  bool append(char kind, std::string_view a, std::string_view b = {}, std::string_view c = {});
  // With the mutex held: room for `size` more bytes and the terminating zero after them.
  bool reserve(std::size_t size);
  // With the mutex held: starts over when nothing is outstanding and the journal has grown enough
  // for that to be worth it; true when it did.
  bool restartIfIdle();

  std::filesystem::path path_;
  int fd_;
  SpinLock mutex_;
  char* map_ = nullptr;
  std::size_t capacity_ = 0;  // the mapping's (and the file's) length
  std::size_t size_ = 0;      // the bytes in use; a zero byte follows them
  std::size_t headerSize_ = 0;
  std::size_t outstanding_ = 0;
  std::string previousMetadata_;  // as JSON; empty until set
};

}  // namespace tw
