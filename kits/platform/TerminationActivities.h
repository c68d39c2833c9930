#pragma once
// tw::TerminationActivities: the process-wide count of the kits' activities that must not be cut
// short by the process ending (sudden or automatic termination switched off). The application's
// ending (signals, the session's end, Quit) waits a bounded time for them before it saves and
// exits, and logs any activity it had to leave.
//
// Once the application asks for it, a logind delay inhibitor ("shutdown:sleep") is held over the
// system bus while any activity runs, so that a log-out, shut-down or suspend waits for it too;
// its "why" is the reason of the activity that made the count leave zero. The bus calls run on
// the instance's own serial queue, never on the caller's thread. Without a system bus or logind
// the count alone works; the absence is logged once.
//
// The shared instance lives until the process ends; tests make their own. Every member may be
// called from any thread.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tw {

class DispatchQueue;

class TerminationActivities {
 public:
  static constexpr std::uint64_t kSuddenTerminationDisabled = 0x4000;
  static constexpr std::uint64_t kAutomaticTerminationDisabled = 0x8000;
  // How long the application's ending waits for running activities.
  static constexpr double kTerminationWaitSeconds = 4.0;

  // 0 stands for no activity: ending it does nothing.
  using Token = std::uint64_t;
  struct Running {
    std::string reason;
    std::uint64_t options = 0;
  };

  static TerminationActivities& shared();

  TerminationActivities();
  ~TerminationActivities();
  TerminationActivities(const TerminationActivities&) = delete;
  TerminationActivities& operator=(const TerminationActivities&) = delete;

  // Counts an activity whose options hold either termination bit; other options count nothing
  // and give 0.
  Token begin(std::uint64_t options, const std::string& reason);
  // Idempotent; a token never begun (or 0) does nothing.
  void end(Token token);

  std::size_t count() const;
  // The running activities, oldest first.
  std::vector<Running> running() const;

  // Blocks until no activity runs or `seconds` pass; the ones still running then are logged.
  // True when none was left.
  bool waitUntilNoneRun(double seconds);
  // The application's ending: waits kTerminationWaitSeconds at most.
  bool waitBeforeTermination() { return waitUntilNoneRun(kTerminationWaitSeconds); }

  // From now on holds the logind delay inhibitor while any activity runs, `who` naming the
  // application. `callTimeoutSeconds` bounds each bus call.
  void inhibitThroughLogind(std::string who, double callTimeoutSeconds = 5.0);
  // Waits until the bus calls asked for so far have been made; false on time-out. For tests.
  bool waitUntilBusIdle(double timeoutSeconds);

  struct Inhibitor;

 private:
  void reconcileLater();

  // Guards running_ and nextToken_; noneRun_ waits on it.
  mutable std::mutex mutex_;
  std::condition_variable noneRun_;
  std::map<Token, Running> running_;
  Token nextToken_ = 1;
  std::shared_ptr<Inhibitor> inhibitor_;  // set once by inhibitThroughLogind
  std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace tw
