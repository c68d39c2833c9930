#pragma once
// tw::EventLogAppender: gathers the lines a run of events adds to one event log file and appends
// them with buffered writes of whole lines, so a burst costs one open, a few writes and one close
// rather than that much per event. A failed append is cut back to the file's length before it,
// so no file ends in a partial line (the lines that write held are dropped as a whole), and a
// file it left empty is removed. Lines may carry their event's identifier: those whose append
// succeeded are handed back by takeWritten(), so that only they get their done marks and the
// others stay in the journal to be written later. Event lines that are in no journal are
// counted when an append drops them: nothing keeps them, and the count says so. A run of failures
// is logged once.
// Owned by the analytics controller and used on its event queue only.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace tw {

class EventLogAppender {
 public:
  EventLogAppender() = default;
  ~EventLogAppender();
  EventLogAppender(const EventLogAppender&) = delete;
  EventLogAppender& operator=(const EventLogAppender&) = delete;

  // Makes `path` the file lines go to, ending (flushing and closing) a different one first. The
  // file is created when missing; false when it cannot be opened for writing.
  bool target(const std::filesystem::path& path);
  // The target's length as it will be once the gathered lines are out.
  off_t length() const { return length_ + static_cast<off_t>(buffer_.size()); }
  // Adds a line; the line feed is added here. `identifier`, when not empty, names the event.
  void add(std::string_view line, std::string_view identifier = {});
  // Adds an event's line that no journal holds: lost when its append fails.
  void addUnjournalled(std::string_view line);
  // The unjournalled lines dropped so far; cleared.
  std::size_t takeLost() { return std::exchange(lost_, 0); }
  // The identifiers of the lines appended so far, each followed by a line feed; cleared.
  void takeWritten(std::string& into);
  // Appends what was gathered; false when the append failed and was cut back.
  bool flush();
  // Flushes and closes the target; false when the flush failed.
  bool close();

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  off_t length_ = 0;
  std::string buffer_;
  std::string bufferedIds_;               // of the lines in buffer_
  std::string writtenIds_;                // of the lines appended
  bool failing_ = false;                  // the last append failed (and was logged)
  std::size_t bufferedUnjournalled_ = 0;  // of the lines in buffer_
  std::size_t lost_ = 0;
};

}  // namespace tw
