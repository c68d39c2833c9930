#include "kits/analytics/ORVOrisethController.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <iterator>
#include <thread>

#include "kits/analytics/ORVLogRotation.h"
#include "kits/analytics/ORVLogger.h"
#include "kits/analytics/ORVWriteEventOperation.h"
#include "kits/analytics/SystemPowerState.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "kits/platform/settings/TSYSettingsOnboardingManager.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UUID.h"

namespace fs = std::filesystem;

namespace {
constexpr std::uint64_t kRecordOptions = 0xC000;
constexpr std::uint64_t kRotateOptions = 0xC0FF;
}  // namespace

std::shared_ptr<ORVOrisethController> ORVOrisethController::create(
    std::shared_ptr<ORVMetadata> metadata, fs::path rootDirectory, bool isFirstInstall,
    std::optional<tw::Dictionary> settings) {
  std::shared_ptr<ORVOrisethController> c(
      new ORVOrisethController(std::move(metadata), std::move(rootDirectory)));
  c->takeFolder();
  c->startUp(isFirstInstall, std::move(settings));
  return c;
}

ORVOrisethController::ORVOrisethController(std::shared_ptr<ORVMetadata> metadata, fs::path root)
    : eventQueue_(tw::OperationQueue::create("io.oriseth.EventQueue")),
      root_(std::move(root)),
      metadata_(std::move(metadata)) {
  eventQueue_->setMaxConcurrentOperationCount(1);
}

ORVOrisethController::~ORVOrisethController() {
  appender_.close();
  reportLostEvents();
  if (lockFd_ >= 0) ::close(lockFd_);
}

void ORVOrisethController::reportLostEvents() {
  const std::uint64_t lost =
      lostEvents_.exchange(0, std::memory_order_relaxed) + appender_.takeLost();
  if (lost == 0) return;
  tw::log(tw::LogLevel::Error,
          "[Oriseth] " + std::to_string(lost) + (lost == 1 ? " event" : " events") +
              " of this run could not be written for want of room and are lost");
}

void ORVOrisethController::setRetryHandlerForTesting(
    const std::shared_ptr<ORVNetworkRetryHandler>& handler) {
  eventQueue_->addOperationWithBlock([this, handler] { networkRetryHandler_ = handler; });
}

void ORVOrisethController::takeFolder() {
  // Taken on the caller's thread, before the first event is handed over: the journal that makes
  // each log call durable lives in the folder and needs it.
  std::error_code ec;
  fs::create_directories(journalDirectoryForRootDirectory(root_), ec);
  // One process owns the folder; a second one must not take over its live log files.
  const fs::path lock = root_ / ".lock";
  int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A folder in its place would keep every run from recording.
  if (fd < 0 && errno == EISDIR && !ORVFileUtils::moveAside(lock, "folder").empty())
    fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    lockFd_ = fd;
  } else {
    if (fd >= 0) ::close(fd);
    ORVLogger::sharedLogger().log("Analytics folder %@ is in use by another process.",
                                  root_.string());
    return;
  }
  double now = tw::clock::wallNow();
  journal_ = tw::EventJournal::create(
      journalDirectoryForRootDirectory(root_) / (tw::makeUUIDString() + ".journal"),
      metadata_->dictionaryRepresentationWithStartTime(now > 0 ? static_cast<std::uint64_t>(now)
                                                               : 0));
}

void ORVOrisethController::recoverJournals() {
  // Event identifiers already in a log file: a run killed right after a write but before its
  // done mark wrote that event, and its log file has gone no further since.
  // Only what a log will send counts: a cut last line or a damaged log holds nothing sent.
  std::string logged;
  for (const auto& log : ORVFileUtils::filesWithExtension("log", rootEventDirectory_)) {
    int error = 0;
    auto text = ORVFileUtils::readFile(log, &error);
    if (!text) {
      if (error != ENOENT) ORVFileUtils::moveAside(log, ORVFileUtils::reasonForReadError(error));
      continue;
    }
    logged.append(*text, 0, ORVCompressLogOperation::sendableLength(*text).value_or(0));
  }
  auto isLogged = [&logged](const std::string& identifier) {
    return logged.find("\"eventId\":\"" + identifier + "\"") != std::string::npos;
  };
  auto millisecondsOf = [](const std::string& line) {
    return std::strtoull(line.substr(0, line.find('\t')).c_str(), nullptr, 10);
  };
  // A leftover like any other: the start-up pass below sends it.
  auto writeLeftover = [this](const std::string& text) {
    auto path = rootEventDirectory_ / (tw::makeUUIDString() + ".log");
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool written =
        fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) ::close(fd);
    if (!written) {
      // Kept for the next start; a cut file would be sent as it stands.
      std::error_code ec;
      fs::remove(path, ec);
    }
    return written;
  };
  for (const auto& file :
       ORVFileUtils::allFilesInDirectory(journalDirectoryForRootDirectory(root_))) {
    if (journal_ && file == journal_->path()) continue;
    if (file.filename() == ORVFileUtils::kDamagedFolderName) continue;
    auto contents = tw::EventJournal::read(file);
    if (contents.damage == "missing") continue;
    std::string text;
    for (const auto& entry : contents.pending) {
      if (isLogged(entry.identifier)) continue;
      if (text.empty()) {
        // The metadata line carries the run's metadata and the first event's time.
        tw::Dictionary metadata = contents.metadata.value_or(tw::Dictionary{});
        std::uint64_t millis = millisecondsOf(entry.line);
        metadata["started_at"] = tw::Value(static_cast<unsigned long long>(millis / 1000));
        auto line = ORVWriteEventOperation::logLineWithTimestamp(
            tw::Date{static_cast<double>(millis) / 1000.0}, "metadata", metadata);
        text = *line + "\n";
      }
      text += entry.line + "\n";
    }
    bool recovered = text.empty() || writeLeftover(text);
    // The previous run's crash travels alone, under the metadata of the run that crashed (none
    // when the kill came before that was known, as for an unreadable crash metadata file).
    for (const auto& entry : contents.pendingCrashes) {
      if (!recovered || isLogged(entry.identifier)) continue;
      std::uint64_t millis = millisecondsOf(entry.line);
      auto line = ORVWriteEventOperation::logLineWithTimestamp(
          tw::Date{static_cast<double>(millis) / 1000.0}, "metadata",
          contents.previousMetadata.value_or(tw::Dictionary{}));
      recovered = writeLeftover(*line + "\n" + entry.line + "\n");
    }
    if (!recovered) {
      ORVLogger::sharedLogger().log("Unable to recover events of %@.", file.string());
      continue;
    }
    if (!contents.pending.empty() || !contents.pendingCrashes.empty())
      ORVLogger::sharedLogger().log("Recovered %@ events of an earlier run.",
                                    static_cast<unsigned long long>(
                                        contents.pending.size() + contents.pendingCrashes.size()));
    // What could be read of a damaged journal is written above; the file itself is kept.
    if (!contents.damage.empty()) {
      ORVFileUtils::moveAside(file, contents.damage);
      continue;
    }
    std::error_code ec;
    fs::remove(file, ec);
  }
}

void ORVOrisethController::startUp(bool isFirstInstall, std::optional<tw::Dictionary> settings) {
  std::weak_ptr<ORVOrisethController> weak = shared_from_this();
  eventQueue_->addOperationWithBlock([this, weak] {
    auto self = weak.lock();
    if (!self) return;
    rootEventDirectory_ = eventDirectoryForRootDirectory(root_);
    std::error_code ec;
    fs::create_directories(rootEventDirectory_, ec);
    currentLogURL_ = generateNewLogPath();
    settings_ = std::make_shared<ORVSettings>(std::nullopt);
    if (ownsFolder()) {
      ORVRotateCrashMetadataOperation rotate(crashMetadataPathForRootDirectory(root_), metadata_);
      rotate.main();
      previousExecutionMetadata_ = rotate.crashMetadata();
      // A crash event recorded in the journal and not yet written needs it after a kill.
      if (journal_)
        journal_->setPreviousMetadata(previousExecutionMetadata_->rawMetadataDictionary());
      recoverJournals();
    } else {
      previousExecutionMetadata_ = std::make_shared<ORVCrashMetadata>(tw::Dictionary{});
    }
    if (!networkRetryHandler_) networkRetryHandler_ = std::make_shared<ORVNetworkRetryHandler>();
    uploader_ = ORVUploader::create(eventQueue_, weak);
    uploader_->setLowPowerModeProvider(
        [] { return tw::SystemPowerState::isLowPower(tw::SystemPowerState::current()); });
    emberlynAnalyticsBridge_ = std::make_shared<ORVEmberlynAnalyticsBridge>();
    if (ownsFolder()) cleanupAndProcessExistingFiles();
  });
  registerForApplicationLifecycleEvents();
  auto center = tw::NotificationCenter::defaultCenter();
  center->addObserver(
      TSYSettingsAvailableNotification, nullptr, nullptr,
      [weak](const tw::Notification&) {
        auto self = weak.lock();
        if (!self) return;
        auto value = Tessaly::sharedSDK()->settings();
        std::optional<tw::Dictionary> settings;
        if (value.dictionary()) settings = *value.dictionary();
        self->initializeSettingsIfNeededWithTessalySettings(std::move(settings));
      },
      weak);
  if (isFirstInstall) enqueueEvent(ORVLifecycleEvent::installEvent());
  enqueueEvent(ORVLifecycleEvent::appLaunchedEvent());
  initializeSettingsIfNeededWithTessalySettings(std::move(settings));
}

void ORVOrisethController::registerForApplicationLifecycleEvents() {
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  auto center = tw::NotificationCenter::defaultCenter();
  for (const auto& [name, eventName] : ORVLifecycleEvent::notificationNameMap()) {
    center->addObserver(
        name, nullptr, nullptr,
        [weak](const tw::Notification& n) {
          auto self = weak.lock();
          if (!self) return;
          self->enqueueEvent(ORVLifecycleEvent::eventWithNotification(n.name));
          // The application does not end the controller: what this run lost is told as it
          // quits, once the termination event's own write is done.
          if (n.name == "NSApplicationWillTerminateNotification") {
            self->closeEventRun();
            auto activity = ORVActivityOperation::operationByStartingActivityName(
                "io.oriseth.RecordEvent", kRecordOptions);
            self->eventQueue_->addOperationWithBlock([weak, activity] {
              if (auto s = weak.lock()) s->reportLostEvents();
              activity->main();
            });
          }
        },
        weak);
  }
}

fs::path ORVOrisethController::generateNewLogPath() {
  auto path = rootEventDirectory_ / (tw::makeUUIDString() + ".log");
  logsOfThisRun_.insert(path);
  return path;
}

void ORVOrisethController::initializeSettingsIfNeededWithTessalySettings(
    std::optional<tw::Dictionary> settings) {
  // Events logged from here on meet the settings.
  closeEventRun();
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  eventQueue_->addOperationWithBlock([this, weak, settings = std::move(settings)] {
    auto self = weak.lock();
    if (!self || !settings || settings_->valid()) return;
    settings_ = std::make_shared<ORVSettings>(settings);
    auto& logger = ORVLogger::sharedLogger();
    if (settings_->shouldCollectAnalytics()) {
      auto it = settings->find("analytics");
      logger.log("Oriseth enabled with settings: %@",
                 it == settings->end() ? tw::Value() : it->second);
      logger.log("Logging events to %@", rootEventDirectory_.string());
      setupFlushTimer();
      uploader_->setDefaultUploadTimeout(settings_->defaultUploadTimeout());
      uploader_->setLowPowerUploadTimeout(settings_->lowPowerUploadTimeout());
      uploadAllMultipartFiles();
    } else {
      logger.log("Oriseth is disabled. Cleaning up.");
      removeAllLogs();
    }
  });
}

bool ORVOrisethController::shouldLogEvent() const {
  if (!settings_ || !ownsFolder()) return false;
  if (!settings_->valid()) return true;
  return settings_->shouldCollectAnalytics();
}

bool ORVOrisethController::isDiscarded(const ORVEvent& event, std::int64_t samplingRate) const {
  if (!eventFilter_.shouldDiscardEvent(&event, metadata_->fields().betaToken,
                                       metadata_->fields().installationId, samplingRate))
    return false;
  ORVLogger::sharedLogger().log("Application is enabled for sampling, skipping %@",
                                event.description());
  return true;
}

void ORVOrisethController::logEventToEmberlyn(const ORVEvent& event) const {
  if (!settings_->shouldForwardToEmberlynAnalytics() || !emberlynAnalyticsBridge_) return;
  auto predefined = dynamic_cast<const ORVPredefinedEvent*>(&event);
  if (predefined && predefined->predefinedEventName() == "purchase" &&
      !settings_->shouldIncludePurchaseEventsInForwardedEmberlynEvents())
    return;
  emberlynAnalyticsBridge_->logEvent(event);
}

bool ORVOrisethController::shouldSubmitLogAtURL(const fs::path& url) const {
  return ORVFileUtils::fileSizeAtURL(url) > settings_->maximumPayloadSize();
}

void ORVOrisethController::logEvent(const std::shared_ptr<ORVEvent>& event) {
  if (!event) return;
  // Describing a custom event validates its attributes: only worth it when the line is shown.
  if (ORVLogger::sharedLogger().debugMode())
    ORVLogger::sharedLogger().log("Logging Oriseth event: %@", event->description());
  enqueueEvent(event);
}

std::shared_ptr<ORVWriteEventOperation> ORVOrisethController::makeWrite(
    const std::shared_ptr<const ORVEvent>& event,
    std::shared_ptr<const ORVMetadataSerializable> metadata,
    const std::shared_ptr<ORVActivityOperation>& activity,
    std::optional<std::string> journalledLine) {
  bool journalled = journalledLine.has_value();
  auto write = std::make_shared<ORVWriteEventOperation>(event, std::move(metadata), currentLogURL_,
                                                        std::move(journalledLine));
  std::shared_ptr<tw::EventJournal> journal = journalled ? journal_ : nullptr;
  // A write that failed leaves its entry in the journal, to be written later.
  std::weak_ptr<ORVWriteEventOperation> weakWrite = write;
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  write->setWrittenBlock([journal, activity, weakWrite, weak, id = event->identifier()] {
    auto written = weakWrite.lock();
    const bool success = written && written->success();
    if (journal && success) journal->done(id);
    if (!journal && !success)
      if (auto self = weak.lock()) self->lostEvents_.fetch_add(1, std::memory_order_relaxed);
    activity->main();
  });
  currentLogHasScheduledWrite_ = true;
  return write;
}

void ORVOrisethController::enqueueEvent(const std::shared_ptr<ORVEvent>& event) {
  // The line goes to the journal before the call returns, so that a kill cannot lose it.
  std::optional<std::string> line;
  if (journal_) {
    line = ORVWriteEventOperation::generateFormattedLogLineWithEvent(*event);
    if (line && !journal_->record(event->identifier(), *line)) line.reset();
  }
  std::shared_ptr<EventRun> started;
  // A few written events are freed here for each one handed over, so that the log calls'
  // allocations find memory of their own thread.
  constexpr std::size_t kFreedPerCall = 4;
  std::array<PendingEvent, kFreedPerCall> freed;
  {
    std::lock_guard lock(eventRunMutex_);
    if (!openEventRun_) started = openEventRun_ = std::make_shared<EventRun>();
    openEventRun_->events.push_back({event, std::move(line)});
    openEventRun_->hasEvents.store(true, std::memory_order_release);
    for (auto& slot : freed) {
      if (writtenEvents_.empty()) break;
      slot = std::move(writtenEvents_.back());
      writtenEvents_.pop_back();
    }
  }
  // Only the first event of a run wakes the queue; the others join it while it waits or runs.
  if (!started) return;
  // Nothing reads the activity before the operation below is queued.
  started->activity = ORVActivityOperation::operationByStartingActivityName(
      "io.oriseth.RecordEvent", kRecordOptions);
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  eventQueue_->addOperationWithBlock([this, weak, run = std::move(started)] {
    if (auto self = weak.lock()) drainEventRun(*run);
    run->activity->main();
  });
}

void ORVOrisethController::drainEventRun(EventRun& run) {
  using std::chrono::steady_clock;
  // A burst of log calls would otherwise wake the queue once per call: after the events at hand
  // the run stays open a little while for more, looking now and then. It sleeps in between
  // rather than spins, so that on a busy machine it does not take the processor from the very
  // calls it waits for. It ends for good after a while, so that other work of the queue
  // (rotations, uploads) is not held up by a steady stream.
  constexpr auto kLinger = std::chrono::microseconds(200);
  constexpr auto kLook = std::chrono::microseconds(20);
  constexpr auto kLongest = std::chrono::milliseconds(5);
  auto now = steady_clock::now();
  const auto end = now + kLongest;
  auto idleUntil = now + kLinger;
  // `events` keeps its capacity from round to round and goes back to the run, so that the log
  // calls' appends do not grow a vector from nothing each time.
  std::vector<PendingEvent> events;
  bool paused = false;
  for (;;) {
    bool last = false;
    {
      std::lock_guard lock(eventRunMutex_);
      events.swap(run.events);
      run.hasEvents.store(false, std::memory_order_relaxed);
      now = steady_clock::now();
      if (!events.empty()) idleUntil = now + kLinger;
      // Once closed here (or by work queued behind it), later events start a run of their own.
      paused = now >= idleUntil;
      last = now >= end || paused || openEventRun_.get() != &run;
      if (last && openEventRun_.get() == &run) openEventRun_.reset();
    }
    if (!events.empty()) {
      writeEvents(events, doneIdentifiers_);
      // Written: back to the log calls to be freed (their identifiers wait for the done marks).
      std::lock_guard lock(eventRunMutex_);
      if (writtenEvents_.empty())
        writtenEvents_.swap(events);  // the calls took everything back: no copy, no allocation
      else
        std::move(events.begin(), events.end(), std::back_inserter(writtenEvents_));
      events.clear();
    }
    if (last) break;
    while (!run.hasEvents.load(std::memory_order_acquire)) {
      now = steady_clock::now();
      if (now >= end || now >= idleUntil) break;
      std::this_thread::sleep_for(kLook);
    }
  }
  // The done marks follow the lines into the log file.
  appender_.close();
  appender_.takeWritten(doneIdentifiers_);
  lostEvents_.fetch_add(appender_.takeLost(), std::memory_order_relaxed);
  if (journal_ && !doneIdentifiers_.empty()) {
    doneViews_.clear();
    std::string_view rest = doneIdentifiers_;
    for (auto cut = rest.find('\n'); cut != std::string_view::npos; cut = rest.find('\n')) {
      doneViews_.push_back(rest.substr(0, cut));
      rest.remove_prefix(cut + 1);
    }
    journal_->done(doneViews_);
  }
  doneIdentifiers_.clear();
  // When the log calls have paused, the written events are freed here; while they keep on,
  // they take them back, up to a bound.
  constexpr std::size_t kMostWrittenEventsKept = 4096;
  std::vector<PendingEvent> written;
  {
    std::lock_guard lock(eventRunMutex_);
    if (paused || writtenEvents_.size() > kMostWrittenEventsKept) written.swap(writtenEvents_);
  }
}

void ORVOrisethController::closeEventRun() {
  std::lock_guard lock(eventRunMutex_);
  openEventRun_.reset();
}

void ORVOrisethController::writeEvents(std::vector<PendingEvent>& events, std::string& done) {
  if (events.empty()) return;
  // The settings hold still while the queue writes a run, so they are read once for it.
  const bool logging = shouldLogEvent();
  const std::int64_t maximumSize = logging ? settings_->maximumPayloadSize() : 0;
  const std::int64_t samplingRate = logging ? settings_->samplingRate() : 0;
  const bool forwarding =
      logging && emberlynAnalyticsBridge_ && settings_->shouldForwardToEmberlynAnalytics();
  // The current file changes only by the rotation below, so it is looked up again only then.
  bool open = false;
  for (auto& pending : events) {
    const ORVEvent& event = *pending.event;
    auto& line = pending.journalledLine;
    // A journalled event dropped on purpose is done at once; one handed to the appender is done
    // once its append succeeded (takeWritten), so a failed append leaves it in the journal, to be
    // written later.
    const std::string_view journalId =
        line ? std::string_view(event.identifier()) : std::string_view();
    auto markDone = [&] {
      if (journalId.empty()) return;
      done += journalId;
      done.push_back('\n');
    };
    if (!logging || isDiscarded(event, samplingRate)) {
      markDone();
      continue;
    }
    if (forwarding) logEventToEmberlyn(event);
    if (!line) line = ORVWriteEventOperation::generateFormattedLogLineWithEvent(event);
    currentLogHasScheduledWrite_ = true;
    // The size tested is the file's before this event's line; the line goes to the file that is
    // current now, which a rotation retires with the line as its last.
    if (!open) open = appender_.target(currentLogURL_);
    std::int64_t size = open ? appender_.length() : ORVFileUtils::fileSizeAtURL(currentLogURL_);
    bool rotate = size > maximumSize || event.triggersFlush();
    auto add = [&] {
      if (journalId.empty()) {
        appender_.addUnjournalled(*line);
      } else {
        appender_.add(*line, journalId);
      }
    };
    if (open && line) {
      // A new file, or one left empty by a failed append, starts with the metadata line; a line
      // that cannot be made writes nothing.
      if (size > 0) {
        add();
      } else if (auto metadataLine = ORVWriteEventOperation::generateFormattedLogLineWithMetdata(
                     *metadata_, event.timestamp())) {
        appender_.add(*metadataLine);
        add();
      } else {
        markDone();
      }
    } else if (line && journalId.empty()) {
      // No file to write to, and no journal that keeps it.
      lostEvents_.fetch_add(1, std::memory_order_relaxed);
    }
    if (rotate) {
      rotateAndSubmitCurrentLog();
      open = false;
    }
  }
}

void ORVOrisethController::logCrashEvent(const std::shared_ptr<ORVCrashEvent>& event) {
  auto activity = ORVActivityOperation::operationByStartingActivityName(
      "io.oriseth.RecordCrashEvent", kRecordOptions);
  // Journalled like any event, so that a kill right after the call cannot lose it.
  std::optional<std::string> line;
  if (journal_) {
    line = ORVWriteEventOperation::generateFormattedLogLineWithEvent(*event);
    if (line && !journal_->recordCrash(event->identifier(), *line)) line.reset();
  }
  // Events logged from here on are written after the crash event's file is set aside.
  closeEventRun();
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  auto block = std::make_shared<tw::BlockOperation>([this, weak, event, activity, line] {
    auto self = weak.lock();
    if (!self) {
      activity->main();
      return;
    }
    ORVLogger::sharedLogger().log("Attempting to log %@", event->name());
    if (!shouldLogEvent() || isDiscarded(*event, settings_->samplingRate())) {
      if (line) journal_->done(event->identifier());
      activity->main();
      return;
    }
    // A write already scheduled for the current file decides, not whether it exists yet.
    if (currentLogHasScheduledWrite_ || fs::exists(currentLogURL_)) rotateAndSubmitCurrentLog();
    auto write = makeWrite(event, previousExecutionMetadata_, activity, line);
    rotateAndSubmitCurrentLog();
    write->start();
  });
  eventQueue_->addOperation(block);
}

void ORVOrisethController::rotateAndSubmitCurrentLog() {
  // The retired file's lines are out before anything else touches it.
  appender_.close();
  auto activity = ORVActivityOperation::operationByStartingActivityName(
      "io.oriseth.RotateAndSubmit", kRotateOptions);
  fs::path old = currentLogURL_;
  currentLogURL_ = generateNewLogPath();
  currentLogHasScheduledWrite_ = false;
  auto ops = operationsForUncompressedLog(old);
  for (auto& op : ops) activity->addDependency(op);
  ops.push_back(activity);
  eventQueue_->addOperations(ops, false);
}

std::vector<std::shared_ptr<tw::Operation>> ORVOrisethController::operationsForUncompressedLog(
    const fs::path& url) {
  if (url.extension() != ".log")
    ORVLogger::sharedLogger().log(
        "Error: attempted to submit file with invalid extension %@, should be %@",
        url.extension().string(), "log");
  auto gz = ORVCompressLogOperation::compressedURLForUncompressedURL(url);
  auto compress = std::make_shared<ORVCompressLogOperation>(url, gz);
  std::weak_ptr<ORVCompressLogOperation> weakCompress = compress;
  compress->setCompletionBlock([weakCompress, url] {
    // Only a complete archive replaces the log; otherwise the next start retries it.
    auto op = weakCompress.lock();
    std::error_code ec;
    if (op && op->success()) fs::remove(url, ec);
  });
  auto rest = operationsForCompressedLog(gz);
  rest.front()->addDependency(compress);
  rest.insert(rest.begin(), compress);
  return rest;
}

std::vector<std::shared_ptr<tw::Operation>> ORVOrisethController::operationsForCompressedLog(
    const fs::path& url) {
  if (url.extension() != ".gz")
    ORVLogger::sharedLogger().log(
        "Error: attempted to submit file with invalid extension %@, should be %@",
        url.extension().string(), "gz");
  std::string boundary = TSYMultipartMimeStreamEncoder::generateBoundary();
  auto multipart = rootEventDirectory_ / (boundary + ".multipartmime");
  auto package = std::make_shared<ORVPackageLogOperation>(url, multipart, boundary);
  std::weak_ptr<ORVPackageLogOperation> weakPackage = package;
  package->setCompletionBlock([weakPackage, url] {
    auto op = weakPackage.lock();
    std::error_code ec;
    if (op && op->success()) fs::remove(url, ec);
  });
  auto upload = uploadOperationForFileAtURL(multipart, boundary);
  upload->addDependency(package);
  return {package, upload};
}

std::shared_ptr<tw::Operation> ORVOrisethController::uploadOperationForFileAtURL(
    const fs::path& url, const std::string& boundary) {
  auto op = std::make_shared<ORVUploadOperation>(uploader_, settings_->orisethURL(),
                                                 metadata_->fields().APIKey, url, boundary);
  // No file leaves before the kit has its settings; it waits on disk for them.
  if (!settings_->valid()) op->cancel();
  return op;
}

void ORVOrisethController::cleanupAndProcessExistingFiles() {
  auto cleanup = std::make_shared<ORVCleanupFilesOperation>(
      rootEventDirectory_, static_cast<std::size_t>(settings_->maxPendingSendFiles()));
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  cleanup->setSuccessBlock([this, weak](const auto& logs, const auto& gzs, const auto& multipart) {
    auto self = weak.lock();
    if (!self) return;
    // Events write in their own blocks, which may run before this pass: files of this run are
    // live or already on their way, not leftovers.
    for (const auto& log : logs)
      if (!logsOfThisRun_.count(log))
        eventQueue_->addOperations(operationsForUncompressedLog(log), false);
    for (const auto& gz : gzs) eventQueue_->addOperations(operationsForCompressedLog(gz), false);
    uploader_->attemptToReconnectBackgroundSessionWithCompletionBlock([weak, multipart] {
      if (auto s = weak.lock()) s->uploadMultipartFiles(multipart);
    });
  });
  eventQueue_->addOperation(cleanup);
}

void ORVOrisethController::uploadAllMultipartFiles() {
  uploadMultipartFiles(ORVFileUtils::filesWithExtension("multipartmime", rootEventDirectory_));
}

void ORVOrisethController::uploadMultipartFiles(const ORVFileUtils::URLSet& files) {
  for (const auto& file : files) {
    if (file.extension() != ".multipartmime") continue;
    // Left by an earlier run: sent only as this kit wrote it.
    if (!ORVPackageLogOperation::checkPackageAtURL(file)) continue;
    eventQueue_->addOperation(uploadOperationForFileAtURL(file, file.stem().string()));
  }
}

void ORVOrisethController::assertOnEventQueue(const char* method) const {
  auto current = tw::OperationQueue::current();
  if (current == eventQueue_) return;
  ORVLogger::sharedLogger().log("queuing bug in %s: %@ != %@", method, eventQueue_->name(),
                                current ? current->name() : std::string("(null)"));
}

void ORVOrisethController::setupFlushTimer() {
  assertOnEventQueue("-[ORVOrisethController setupFlushTimer]");
  double interval = settings_->flushInterval();
  if (!(interval > 0)) {
    flushTimer_.reset();
    return;
  }
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  flushTimer_ = ORVTimer::create(interval, eventQueue_, "io.oriseth.TimedEventsFlush", [weak] {
    if (auto self = weak.lock()) self->flushTimerFired();
  });
}

void ORVOrisethController::flushTimerFired() {
  assertOnEventQueue("-[ORVOrisethController flushTimerFired]");
  if (!(settings_->flushInterval() > 0)) {
    flushTimer_.reset();
    return;
  }
  if (shouldSubmitLogAtURL(currentLogURL_)) rotateAndSubmitCurrentLog();
}

void ORVOrisethController::removeAllLogs() {
  if (!ownsFolder()) return;
  for (const auto& file : ORVFileUtils::allFilesInDirectory(rootEventDirectory_)) {
    std::error_code ec;
    fs::remove(file, ec);
  }
}

fs::path ORVOrisethController::uploaderFilePathForUniqueName(ORVUploader&,
                                                             const std::string& uniqueName) {
  return rootEventDirectory_ / (uniqueName + ".multipartmime");
}

void ORVOrisethController::uploaderDidFinishUpload(ORVUploader&, const std::string& uniqueName,
                                                   const tw::ErrorPtr& error) {
  auto& logger = ORVLogger::sharedLogger();
  if (error) logger.log("Failed to upload '%@': %@", uniqueName, error->localizedDescription());
  logger.log("Finished transmission of '%@'.", uniqueName);
  if (uniqueName.empty()) return;
  std::error_code ec;
  fs::remove(rootEventDirectory_ / (uniqueName + ".multipartmime"), ec);
}

void ORVOrisethController::uploaderDidReceiveChallenge(
    ORVUploader&, const std::shared_ptr<MVXURLSession>& session,
    const tw::URLAuthenticationChallenge& challenge,
    const tw::ChallengeCompletionHandler& handler) {
  networkRetryHandler_->handleChallenge(challenge, session, handler);
}

void ORVOrisethController::uploaderCompletedRequest(ORVUploader&, const tw::URLRequest& request,
                                                    const std::optional<tw::URLResponse>& response,
                                                    const std::string& uniqueName,
                                                    const tw::ErrorPtr& error,
                                                    RetryHandler completionHandler) {
  networkRetryHandler_->handleCompletedRequest(
      request, response ? &*response : nullptr, uniqueName, error,
      [uniqueName, completionHandler](bool retry, const tw::ErrorPtr& e) {
        auto& logger = ORVLogger::sharedLogger();
        if (e) logger.log("Error transmitting '%@': %@", uniqueName, e->localizedDescription());
        if (retry) logger.log("Scheduling retry for '%@'.", uniqueName);
        completionHandler(retry, e);
      });
}
