#pragma once
// A freedesktop notification server of the tests' own, on the session bus that
// DBUS_SESSION_BUS_ADDRESS names (a PrivateSessionBus): owns org.freedesktop.Notifications,
// records every Notify call with its arguments and hints, answers with a new id (or the
// replaced one), and can click or close notifications on the test's request. It may also hold
// its answers back, to show what a client does while a call is in flight.
// Test-only; runs its bus on a thread of its own; every member is thread-safe.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace tw::test {

class FakeNotificationServer {
 public:
  struct NotifyCall {
    std::string appName;
    std::uint32_t replacesId = 0;
    std::string appIcon;
    std::string summary;
    std::string body;
    std::vector<std::string> actions;
    // Value as "s:<text>", "b:true"/"b:false" or "?:<signature>".
    std::map<std::string, std::string> hints;
    std::int32_t expireTimeout = 0;
    std::uint32_t id = 0;  // what the server answered (or will answer)
    // When the call was taken off the bus: std::chrono::steady_clock, nanoseconds (real time
    // even under a virtual clock; for latency measurements).
    std::int64_t receivedNanos = 0;
  };
  struct Options {
    std::vector<std::string> capabilities{"body", "actions", "sound"};
    bool holdReplies = false;
  };

  FakeNotificationServer();
  explicit FakeNotificationServer(Options options);
  ~FakeNotificationServer();
  FakeNotificationServer(const FakeNotificationServer&) = delete;
  FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

  // False when it could not connect or own the name.
  bool ok() const { return ok_; }

  std::vector<NotifyCall> calls() const;
  // Waits (real time) until at least `count` Notify calls have arrived.
  bool waitForCalls(std::size_t count, double timeoutSeconds = 5.0) const;
  // Answers the held calls and stops holding.
  void releaseReplies();
  void emitActionInvoked(std::uint32_t id, const std::string& actionKey);
  void emitNotificationClosed(std::uint32_t id, std::uint32_t reason);

  // The bus methods, defined beside the server's vtable.
  struct Methods;
  friend struct Methods;

 private:
  void run();
  void post(std::function<void()> command);

  Options options_;
  sd_bus* bus_ = nullptr;
  bool ok_ = false;
  bool stopping_ = false;
  std::uint32_t nextId_ = 0;
  std::vector<std::pair<sd_bus_message*, std::uint32_t>> held_;  // bus thread only

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<NotifyCall> calls_;
  std::deque<std::function<void()>> commands_;
  std::thread thread_;
};

}  // namespace tw::test
