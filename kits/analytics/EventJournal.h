#pragma once
// tw::EventJournal: makes a public log call durable before it returns. The event's line is
// appended to this run's journal on the caller's thread; once the event queue has written it to
// its log file (or dropped it), a done mark follows, and when nothing is outstanding the journal
// is cut back to empty. A run that is killed leaves its journal behind; the next run's start
// writes every entry without a done mark that no log file holds yet into a log file of its own.
// Owned by the analytics controller; record and done may be called from any thread.
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace tw {

class EventJournal {
 public:
  struct Entry {
    std::string identifier;
    std::string line;  // the event's log line, without its line feed
  };
  struct Contents {
    std::optional<Dictionary> metadata;  // the run's metadata payload
    std::vector<Entry> pending;          // entries without a done mark, in order
  };

  // Creates the journal at `path` and writes the run's metadata payload first; nullptr when the
  // file cannot be made.
  static std::unique_ptr<EventJournal> create(const std::filesystem::path& path,
                                              const Dictionary& metadata);
  ~EventJournal();
  EventJournal(const EventJournal&) = delete;
  EventJournal& operator=(const EventJournal&) = delete;

  // Appends the entry with one write; false when it could not be written.
  bool record(const std::string& identifier, const std::string& line);
  void done(const std::string& identifier);
  // Done marks for a run of entries, with one write.
  void done(const std::vector<std::string>& identifiers);
  const std::filesystem::path& path() const { return path_; }

  // Reads a journal left by another run. A torn last line is ignored.
  static Contents read(const std::filesystem::path& path);

 private:
  EventJournal(std::filesystem::path path, int fd, std::string header);
  bool append(const std::string& text);
  // With the mutex held: true when the journal was started over (nothing outstanding, and it
  // has grown enough for that to be worth a truncation).
  bool restartIfIdle();

  std::filesystem::path path_;
  int fd_;
  std::string header_;
  std::mutex mutex_;
  std::size_t outstanding_ = 0;
  std::size_t size_ = 0;  // the file's length
};

}  // namespace tw
