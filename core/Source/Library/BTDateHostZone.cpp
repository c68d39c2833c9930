#include "core/Source/Library/BTDateHostZone.h"

#include <sys/stat.h>
#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/simpletz.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "core/Source/Library/BTDateShared.h"
#include "platform/foundation/HostZoneFiles.h"
#include "platform/foundation/Log.h"

using namespace tw::date_detail;

namespace {

// --- Following the user's zone ----------------------------------------------------------------

// What the zone is detected from. When none of it changed since the last look, neither did the
// zone, so the common path costs a getenv and one lstat.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t mtimeSec = 0;
  std::int64_t mtimeNsec = 0;
  bool operator==(const FileStamp&) const = default;

  static FileStamp of(const char* path, bool followLink) {
    struct stat st {};
    FileStamp s;
    if ((followLink ? ::stat(path, &st) : ::lstat(path, &st)) != 0) return s;
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.mtimeSec = st.st_mtim.tv_sec;
    s.mtimeNsec = st.st_mtim.tv_nsec;
    return s;
  }
};

using tw::hostzone::kLocaltimePath;
using tw::hostzone::kTimezonePath;
using tw::hostzone::kZoneinfoPath;
using tw::hostzone::zoneFileNamedByTz;

struct ZoneSource {
  std::optional<std::string> tz;
  FileStamp tzFile;      // the file TZ names, followed through links
  FileStamp tzFileLink;  // the name itself, so a link turned elsewhere counts too
  FileStamp localtime;
  FileStamp localtimeTarget;
  FileStamp timezone;
  bool operator==(const ZoneSource&) const = default;

  static ZoneSource read() {
    ZoneSource s;
    if (const char* tz = std::getenv("TZ")) {
      s.tz = tz;
      // TZ wins over the system's files, so only the one it names matters.
      if (auto path = zoneFileNamedByTz(*s.tz)) {
        s.tzFile = FileStamp::of(path->c_str(), true);
        s.tzFileLink = FileStamp::of(path->c_str(), false);
      }
      return s;
    }
    s.localtime = FileStamp::of(kLocaltimePath, false);
    s.localtimeTarget = FileStamp::of(kLocaltimePath, true);
    s.timezone = FileStamp::of(kTimezonePath, true);
    return s;
  }
};

// A zone from an Olson ID in any of the spellings TZ and the zoneinfo links use
// (":Europe/Berlin", "/usr/share/zoneinfo/posix/Europe/Berlin"); nullptr when ICU does not know it.
std::unique_ptr<icu::TimeZone> zoneNamed(std::string id) {
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ' || id.back() == '\r')) id.pop_back();
  if (!id.empty() && id.front() == ':') id.erase(0, 1);
  if (auto p = id.rfind("zoneinfo/"); p != std::string::npos) id.erase(0, p + 9);
  for (const char* prefix : {"posix/", "right/"}) {
    if (id.starts_with(prefix)) id.erase(0, std::char_traits<char>::length(prefix));
  }
  if (id.empty()) return nullptr;
  std::unique_ptr<icu::TimeZone> zone(
      icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(id)));
  if (!zone || *zone == icu::TimeZone::getUnknown()) return nullptr;
  return zone;
}

// --- POSIX rule strings ("AEST-10AEDT,M10.1.0,M4.1.0/3") -------------------------------------
//
// The C library's own form of TZ: names, offsets west of Greenwich and the dates daylight time
// starts and ends. ICU does not read it, so it is parsed here into an equivalent SimpleTimeZone.

class PosixRuleReader {
 public:
  explicit PosixRuleReader(std::string_view text) : s_(text) {}

  std::unique_ptr<icu::TimeZone> zone() {
    if (!name()) return nullptr;
    std::optional<long> stdOffset = offset(24);
    if (!stdOffset) return nullptr;
    const auto rawMs = static_cast<std::int32_t>(-*stdOffset * 1000);
    const icu::UnicodeString id = icu::UnicodeString::fromUTF8(
        icu::StringPiece(s_.data(), static_cast<std::int32_t>(s_.size())));
    if (atEnd()) return std::make_unique<icu::SimpleTimeZone>(rawMs, id);
    if (!name()) return nullptr;
    long dstOffset = *stdOffset - 3600;  // an hour ahead unless said otherwise
    if (!atEnd() && peek() != ',') {
      std::optional<long> given = offset(24);
      if (!given) return nullptr;
      dstOffset = *given;
    }
    // Without dates the C library takes the United States' rules, as does this.
    RuleDate start{RuleDate::MonthWeekDay, 3, 2, 0, 7200};
    RuleDate end{RuleDate::MonthWeekDay, 11, 1, 0, 7200};
    if (!atEnd()) {
      if (!take(',') || !ruleDate(start) || !take(',') || !ruleDate(end) || !atEnd())
        return nullptr;
    }
    const long savings = *stdOffset - dstOffset;
    // ICU keeps daylight time ahead of standard time and changes within the day.
    if (savings <= 0 || !withinDay(start.time) || !withinDay(end.time)) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    auto zone = std::make_unique<icu::SimpleTimeZone>(rawMs, id);
    apply(*zone, start, true, status);
    apply(*zone, end, false, status);
    zone->setDSTSavings(static_cast<std::int32_t>(savings * 1000), status);
    if (U_FAILURE(status)) return nullptr;
    return zone;
  }

 private:
  struct RuleDate {
    enum Kind { Julian1, Julian0, MonthWeekDay } kind;
    int month, week, weekday;  // for MonthWeekDay; `month` holds the day number otherwise
    long time;                 // seconds after local midnight
  };

  bool atEnd() const { return i_ >= s_.size(); }
  char peek() const { return s_[i_]; }
  bool take(char c) {
    if (atEnd() || peek() != c) return false;
    ++i_;
    return true;
  }
  std::optional<long> number(long max) {
    long n = 0;
    std::size_t digits = 0;
    while (!atEnd() && std::isdigit(static_cast<unsigned char>(peek()))) {
      n = n * 10 + (peek() - '0');
      if (n > max) return std::nullopt;
      ++i_, ++digits;
    }
    if (digits == 0) return std::nullopt;
    return n;
  }
  // "<+0330>" or three or more letters.
  bool name() {
    if (take('<')) {
      const std::size_t close = s_.find('>', i_);
      if (close == std::string_view::npos || close - i_ < 3) return false;
      i_ = close + 1;
      return true;
    }
    std::size_t letters = 0;
    while (!atEnd() && std::isalpha(static_cast<unsigned char>(peek()))) ++i_, ++letters;
    return letters >= 3;
  }
  // [+-]hh[:mm[:ss]] in seconds.
  std::optional<long> offset(long maxHours) {
    long sign = 1;
    if (take('-'))
      sign = -1;
    else
      take('+');
    std::optional<long> h = number(maxHours);
    if (!h) return std::nullopt;
    long total = *h * 3600;
    if (take(':')) {
      std::optional<long> m = number(59);
      if (!m) return std::nullopt;
      total += *m * 60;
      if (take(':')) {
        std::optional<long> sec = number(59);
        if (!sec) return std::nullopt;
        total += *sec;
      }
    }
    return sign * total;
  }
  bool ruleDate(RuleDate& out) {
    if (take('M')) {
      std::optional<long> m = number(12), w, d;
      if (!m || *m < 1 || !take('.') || !(w = number(5)) || *w < 1 || !take('.') ||
          !(d = number(6)))
        return false;
      out = {RuleDate::MonthWeekDay, static_cast<int>(*m), static_cast<int>(*w),
             static_cast<int>(*d), 7200};
    } else if (take('J')) {
      std::optional<long> n = number(365);
      if (!n || *n < 1) return false;
      out = {RuleDate::Julian1, static_cast<int>(*n), 0, 0, 7200};
    } else {
      std::optional<long> n = number(365);
      if (!n) return false;
      out = {RuleDate::Julian0, static_cast<int>(*n), 0, 0, 7200};
    }
    if (take('/')) {
      std::optional<long> t = offset(167);
      if (!t) return false;
      out.time = *t;
    }
    return true;
  }
  static bool withinDay(long seconds) { return seconds >= 0 && seconds <= 86400; }

  // Both sides of a change are given in the local time then in force, which is ICU's wall time.
  static void apply(icu::SimpleTimeZone& zone, const RuleDate& date, bool start,
                    UErrorCode& status) {
    const auto ms = static_cast<std::int32_t>(date.time * 1000);
    const auto mode = icu::SimpleTimeZone::WALL_TIME;
    if (date.kind == RuleDate::MonthWeekDay) {
      const int ordinal = date.week == 5 ? -1 : date.week;  // 5: the last in the month
      const int weekday = date.weekday + 1;                 // ICU counts from Sunday = 1
      if (start)
        zone.setStartRule(date.month - 1, ordinal, weekday, ms, mode, status);
      else
        zone.setEndRule(date.month - 1, ordinal, weekday, ms, mode, status);
      return;
    }
    // Jn counts 1-365 and never Feb 29; n counts 0-365 and does count it, which a fixed day of
    // the month cannot follow: it is read as J(n+1), a day late after February in leap years.
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int day = date.kind == RuleDate::Julian1 ? date.month : std::min(date.month + 1, 365);
    int month = 0;
    while (day > kDays[month]) day -= kDays[month++];
    if (start)
      zone.setStartRule(month, day, ms, mode, status);
    else
      zone.setEndRule(month, day, ms, mode, status);
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

std::optional<std::string> readWholeFile(const std::string& path, std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data;
  char buffer[8192];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    data.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (data.size() > limit) return std::nullopt;
  }
  return data;
}

// The zone a compiled zone file holds, when its name does not say: the zoneinfo file with the
// same bytes gives the Olson ID; failing that, the rule string at the end of the file (TZif
// version 2 and later) gives the zone's present rules.
std::unique_ptr<icu::TimeZone> zoneFromFile(const std::string& path) {
  char target[4096];
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  if (n > 0) {
    if (auto zone = zoneNamed(std::string(target, static_cast<std::size_t>(n)))) return zone;
  }
  if (auto zone = zoneNamed(path)) return zone;
  constexpr std::size_t kLargestZoneFile = 1 << 20;
  const auto data = readWholeFile(path, kLargestZoneFile);
  if (!data || !data->starts_with("TZif")) return nullptr;
  std::error_code ec;
  namespace fs = std::filesystem;
  for (fs::recursive_directory_iterator it(kZoneinfoPath, ec), end; !ec && it != end;
       it.increment(ec)) {
    const auto relative = it->path().lexically_relative(kZoneinfoPath).string();
    if (relative.starts_with("posix") || relative.starts_with("right")) {
      it.disable_recursion_pending();
      continue;
    }
    std::error_code sizeError;
    if (!it->is_regular_file(sizeError) || it->file_size(sizeError) != data->size()) continue;
    if (readWholeFile(it->path().string(), kLargestZoneFile) != data) continue;
    if (auto zone = zoneNamed(relative)) return zone;
  }
  // The footer: "\n<rule>\n" closing the file.
  if (data->size() > 2 && data->back() == '\n') {
    const auto start = data->rfind('\n', data->size() - 2);
    if (start != std::string::npos) {
      const std::string rule = data->substr(start + 1, data->size() - start - 2);
      if (!rule.empty()) {
        if (auto zone = PosixRuleReader(rule).zone()) return zone;
      }
    }
  }
  return nullptr;
}

std::unique_ptr<icu::TimeZone> detectZone(const ZoneSource& source) {
  if (source.tz) {
    // An empty TZ means UTC to the C library; a name ICU knows comes next, then a zone file of
    // its own, then the rule form.
    if (source.tz->empty()) return std::unique_ptr<icu::TimeZone>(icu::TimeZone::getGMT()->clone());
    if (auto zone = zoneNamed(*source.tz)) return zone;
    if (auto path = zoneFileNamedByTz(*source.tz); path && source.tzFile.exists) {
      if (auto zone = zoneFromFile(*path)) return zone;
      tw::log(tw::LogLevel::Error, "<BTDateUtility> Cannot read the zone file '" + *path +
                                       "' that TZ names: falling back on the host's zone");
    } else if (source.tz->front() != ':') {
      if (auto zone = PosixRuleReader(*source.tz).zone()) return zone;
      tw::log(tw::LogLevel::Error, "<BTDateUtility> Cannot follow TZ='" + *source.tz +
                                       "': falling back on the host's zone");
    }
  } else {
    if (source.localtime.exists) {
      char target[4096];
      const ssize_t n = ::readlink(kLocaltimePath, target, sizeof target - 1);
      if (n > 0) {
        if (auto zone = zoneNamed(std::string(target, static_cast<std::size_t>(n)))) return zone;
      }
    }
    if (source.timezone.exists) {
      std::ifstream in(kTimezonePath);
      std::string line;
      if (std::getline(in, line)) {
        if (auto zone = zoneNamed(line)) return zone;
      }
    }
  }
  if (source.localtime.exists) {
    if (auto zone = zoneFromFile(kLocaltimePath)) return zone;
  }
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
  if (!zone) zone.reset(icu::TimeZone::getGMT()->clone());
  return zone;
}

[[noreturn]] void fail(const char* what, UErrorCode status) {
  const std::string message =
      std::string("<BTDateUtility> ") + what + " failed: " + u_errorName(status);
  tw::log(tw::LogLevel::Fault, message);
  throw std::runtime_error(message);
}

// The shared, auto-updating calendar and the zone it follows.
class CalendarState {
 public:
  static CalendarState& shared() {
    static CalendarState* state = new CalendarState;  // outlives every static that may use it
    return *state;
  }

  // Locks the state, bringing it up to date with the zone's sources first.
  std::unique_lock<std::mutex> lockRefreshed() {
    std::unique_lock lock(mutex_);
    refreshLocked();
    return lock;
  }
  // The calendar, for whoever holds the lock.
  icu::Calendar& calendarLocked() { return *calendar_; }

  std::unique_ptr<icu::Calendar> calendarCopy() {
    const auto lock = lockRefreshed();
    return std::unique_ptr<icu::Calendar>(calendar_->clone());
  }

  std::unique_ptr<icu::TimeZone> zoneCopy() {
    const auto lock = lockRefreshed();
    return std::unique_ptr<icu::TimeZone>(zone_->clone());
  }

  std::uint64_t generation() {
    const auto lock = lockRefreshed();
    return generation_;
  }

  // Looks at the zone's sources again even where their stamps look the same (a file rewritten
  // within the file system's time granularity, keeping its size).
  void forgetSource() {
    std::lock_guard lock(mutex_);
    haveSource_ = false;
  }

  void pin(const char* olsonId) {
    std::lock_guard lock(mutex_);
    pinned_ = false;
    haveSource_ = false;
    if (olsonId && *olsonId) {
      if (auto zone = zoneNamed(olsonId)) {
        pinned_ = true;
        adoptLocked(std::move(zone));
      } else {
        tw::log(tw::LogLevel::Error,
                std::string("<BTDateUtility> Unknown time zone '") + olsonId + "'");
      }
    }
  }

 private:
  void refreshLocked() {
    if (pinned_) return;
    ZoneSource source = ZoneSource::read();
    if (haveSource_ && source == source_) return;
    auto zone = detectZone(source);
    source_ = std::move(source);
    haveSource_ = true;
    adoptLocked(std::move(zone));
  }

  void adoptLocked(std::unique_ptr<icu::TimeZone> zone) {
    if (zone_ && *zone_ == *zone && calendar_) return;
    if (zone_) {
      icu::UnicodeString from, to;
      zone_->getID(from);
      zone->getID(to);
      tw::log(tw::LogLevel::Notice,
              "<BTDateUtility> The time zone changed from " + toUtf8(from) + " to " + toUtf8(to));
    }
    ++generation_;
    // Other users of ICU in the process (formatters made without an explicit zone) follow too,
    // and so does the C library, which keeps the zone it read last until asked again.
    icu::TimeZone::setDefault(*zone);
    ::tzset();
    if (!calendar_) {
      UErrorCode status = U_ZERO_ERROR;
      calendar_.reset(icu::Calendar::createInstance(*zone, icu::Locale::getDefault(), status));
      if (U_FAILURE(status) || !calendar_) fail("Creating the calendar", status);
      // A wall time that shows twice means its first showing: an alarm set in the hour that
      // repeats rings the first time it comes round.
      calendar_->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    } else {
      calendar_->setTimeZone(*zone);
    }
    zone_ = std::move(zone);
  }

  std::mutex mutex_;
  std::uint64_t generation_ = 0;
  bool pinned_ = false;
  bool haveSource_ = false;
  ZoneSource source_;
  std::unique_ptr<icu::TimeZone> zone_;
  std::unique_ptr<icu::Calendar> calendar_;
};

}  // namespace

namespace tw::date_detail {

HeldCalendar holdSharedCalendar() {
  CalendarState& state = CalendarState::shared();
  auto lock = state.lockRefreshed();
  return HeldCalendar(std::move(lock), state.calendarLocked());
}

std::unique_ptr<icu::Calendar> sharedCalendarCopy() {
  return CalendarState::shared().calendarCopy();
}

std::unique_ptr<icu::TimeZone> sharedZoneCopy() { return CalendarState::shared().zoneCopy(); }

}  // namespace tw::date_detail

// --- The zone ------------------------------------------------------------------------------

std::string BTDateHostZone::currentTimeZoneId() {
  icu::UnicodeString id;
  CalendarState::shared().zoneCopy()->getID(id);
  return toUtf8(id);
}

std::uint64_t BTDateHostZone::timeZoneGeneration() { return CalendarState::shared().generation(); }

std::uint64_t BTDateHostZone::timeZoneMayHaveChanged() {
  CalendarState::shared().forgetSource();
  return timeZoneGeneration();
}

void BTDateHostZone::resetTimeZoneForTesting(const char* olsonId) {
  CalendarState::shared().pin(olsonId);
}
