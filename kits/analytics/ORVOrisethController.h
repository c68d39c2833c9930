#pragma once
// ORVOrisethController: the analytics kit's engine. Owns the serial event queue
// ("io.oriseth.EventQueue"), the events folder, the current log file, the settings gate, the flush
// timer and the wiring of every file operation (write, compress, package, upload). Public calls
// (enqueueEvent, logCrashEvent, initializeSettingsIfNeeded) may come from any thread and only
// add operations; all other state is touched on the event queue. Events logged in a row share one
// operation, which appends their lines to the current log file with one write; work queued by
// the controller in between (settings, a crash event) closes the run, so order is kept. While it
// lives it holds an exclusive advisory lock on the analytics folder; without the lock (another
// process has it) it records nothing and leaves the files alone.
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "kits/analytics/EventJournal.h"
#include "kits/analytics/EventLogAppender.h"
#include "kits/analytics/ORVEmberlynAnalyticsBridge.h"
#include "kits/analytics/ORVEvent.h"
#include "kits/analytics/ORVFileUtils.h"
#include "kits/analytics/ORVMetadata.h"
#include "kits/analytics/ORVNetworkRetryHandler.h"
#include "kits/analytics/ORVSettings.h"
#include "kits/analytics/ORVTimer.h"
#include "kits/analytics/ORVUploader.h"
#include "kits/analytics/ORVWriteEventOperation.h"
#include "kits/analytics/SpinLock.h"
#include "platform/foundation/OperationQueue.h"

class ORVOrisethController : public ORVUploaderDelegate,
                             public std::enable_shared_from_this<ORVOrisethController> {
 public:
  // Starts the controller over `rootDirectory` with this run's metadata.
  static std::shared_ptr<ORVOrisethController> create(std::shared_ptr<ORVMetadata> metadata,
                                                      std::filesystem::path rootDirectory,
                                                      bool isFirstInstall,
                                                      std::optional<tw::Dictionary> settings);
  ~ORVOrisethController() override;

  static std::filesystem::path eventDirectoryForRootDirectory(const std::filesystem::path& root) {
    return root / "events";
  }
  static std::filesystem::path crashMetadataPathForRootDirectory(
      const std::filesystem::path& root) {
    return root / "crash_metadata";
  }
  // Where each run journals its events until they are in a log file.
  static std::filesystem::path journalDirectoryForRootDirectory(const std::filesystem::path& root) {
    return root / "journals";
  }

  void initializeSettingsIfNeededWithTessalySettings(std::optional<tw::Dictionary> settings);
  void logEvent(const std::shared_ptr<ORVEvent>& event);
  void enqueueEvent(const std::shared_ptr<ORVEvent>& event);
  void logCrashEvent(const std::shared_ptr<ORVCrashEvent>& event);

  // Uploader delegate (on the event queue).
  std::filesystem::path uploaderFilePathForUniqueName(ORVUploader&,
                                                      const std::string& uniqueName) override;
  void uploaderDidFinishUpload(ORVUploader&, const std::string& uniqueName,
                               const tw::ErrorPtr& error) override;
  bool implementsDidReceiveChallenge() const override { return true; }
  void uploaderDidReceiveChallenge(ORVUploader&, const std::shared_ptr<MVXURLSession>& session,
                                   const tw::URLAuthenticationChallenge& challenge,
                                   const tw::ChallengeCompletionHandler& handler) override;
  void uploaderCompletedRequest(ORVUploader&, const tw::URLRequest& request,
                                const std::optional<tw::URLResponse>& response,
                                const std::string& uniqueName, const tw::ErrorPtr& error,
                                RetryHandler completionHandler) override;

  const std::shared_ptr<tw::OperationQueue>& eventQueue() const { return eventQueue_; }
  const std::filesystem::path& rootEventDirectory() const { return rootEventDirectory_; }
  // Whether this process holds the analytics folder.
  bool ownsFolder() const { return lockFd_ >= 0; }
  // For tests: the retry handler's pinner (nullptr for plain HTTP services).
  void setRetryHandlerForTesting(const std::shared_ptr<ORVNetworkRetryHandler>& handler);

 private:
  ORVOrisethController(std::shared_ptr<ORVMetadata> metadata, std::filesystem::path root);
  void takeFolder();
  void startUp(bool isFirstInstall, std::optional<tw::Dictionary> settings);
  void recoverJournals();
  void registerForApplicationLifecycleEvents();
  std::filesystem::path generateNewLogPath();
  bool shouldLogEvent() const;
  bool shouldSubmitLogAtURL(const std::filesystem::path& url) const;
  void rotateAndSubmitCurrentLog();
  std::vector<std::shared_ptr<tw::Operation>> operationsForUncompressedLog(
      const std::filesystem::path& url);
  std::vector<std::shared_ptr<tw::Operation>> operationsForCompressedLog(
      const std::filesystem::path& url);
  std::shared_ptr<tw::Operation> uploadOperationForFileAtURL(const std::filesystem::path& url,
                                                             const std::string& boundary);
  void cleanupAndProcessExistingFiles();
  void uploadAllMultipartFiles();
  void uploadMultipartFiles(const ORVFileUtils::URLSet& files);
  // Logs a queuing bug when not called on the event queue, then lets the caller go on.
  void assertOnEventQueue(const char* method) const;
  void setupFlushTimer();
  void flushTimerFired();
  void removeAllLogs();
  // Logs how many events could be neither written nor journalled, once (event queue, or the
  // destructor).
  void reportLostEvents();
  // An event handed over and not yet written, with its line when the caller journalled it.
  struct PendingEvent {
    std::shared_ptr<ORVEvent> event;
    std::optional<std::string> journalledLine;
  };
  // Events logged in a row, written by one operation of the event queue.
  struct EventRun {
    std::vector<PendingEvent> events;  // under eventRunMutex_
    // Set when an event joins; lets the queue wait for more without taking the mutex.
    std::atomic<bool> hasEvents{false};
    std::shared_ptr<ORVActivityOperation> activity;
  };
  // Ends the open run, so that events logged from now on are written after what comes next.
  void closeEventRun();
  // Writes the run's events as they come, then ends the run (event queue).
  void drainEventRun(EventRun& run);
  // Appends the events' lines to the current log file, rotating as the sizes say; the
  // identifiers of the journalled ones are added to `done`, one per line.
  void writeEvents(std::vector<PendingEvent>& events, std::string& done);
  // The crash event's write into the current log file; its caller runs it at the end of its
  // block. `journalledLine`: the event's line when it was journalled (a done mark follows).
  std::shared_ptr<ORVWriteEventOperation> makeWrite(
      const std::shared_ptr<const ORVEvent>& event,
      std::shared_ptr<const ORVMetadataSerializable> metadata,
      const std::shared_ptr<ORVActivityOperation>& activity,
      std::optional<std::string> journalledLine = std::nullopt);
  bool isDiscarded(const ORVEvent& event, std::int64_t samplingRate) const;
  void logEventToEmberlyn(const ORVEvent& event) const;

  std::shared_ptr<tw::OperationQueue> eventQueue_;
  std::filesystem::path root_;
  std::filesystem::path rootEventDirectory_;
  std::shared_ptr<ORVMetadata> metadata_;
  std::shared_ptr<ORVCrashMetadata> previousExecutionMetadata_;
  std::shared_ptr<ORVUploader> uploader_;
  std::shared_ptr<ORVNetworkRetryHandler> networkRetryHandler_;
  std::filesystem::path currentLogURL_;
  // Set when a write to currentLogURL_ is scheduled, cleared on rotation: decides whether the
  // previous run's crash event needs a fresh file (the file itself may not exist yet).
  bool currentLogHasScheduledWrite_ = false;
  ORVEventFilter eventFilter_;
  std::shared_ptr<ORVSettings> settings_;
  std::shared_ptr<ORVTimer> flushTimer_;
  std::shared_ptr<ORVEmberlynAnalyticsBridge> emberlynAnalyticsBridge_;
  int lockFd_ = -1;
  // Every log file this run has named (a few per minute at most).
  std::set<std::filesystem::path> logsOfThisRun_;
  // This run's journal; null without the folder (or when it could not be made).
  std::shared_ptr<tw::EventJournal> journal_;
  // The run new events join; null when the next event starts one. Any thread, under the lock.
  tw::SpinLock eventRunMutex_;
  std::shared_ptr<EventRun> openEventRun_;
  // Written events, handed back to the log calls to be freed there (under the lock): freed on
  // the queue, each would take the allocator's lock that the log calls' allocations need.
  std::vector<PendingEvent> writtenEvents_;
  // The identifiers a run's done marks name, one per line, and views of them (event queue; both
  // keep their capacity from run to run).
  std::string doneIdentifiers_;
  std::vector<std::string_view> doneViews_;
  // The current log file's writer (event queue).
  tw::EventLogAppender appender_;
  // Events that could be neither written nor journalled (any thread); told at quit.
  std::atomic<std::uint64_t> lostEvents_{0};
};
