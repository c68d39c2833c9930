#pragma once
// The desktop's sleep-inhibition services as the tests' own fakes, on one message bus (a
// PrivateSessionBus, named by its address): the desktop portal's Inhibit with its request
// objects, the screen saver service and login1's Inhibit. Every call is recorded as one line
// ("Portal.Inhibit flags=12 reason=...", "Request.Close <path>", "ScreenSaver.Inhibit ...",
// "ScreenSaver.UnInhibit cookie=1", "login1.Inhibit what=idle who=... why=... mode=block").
// login1 hands out one end of a pipe per inhibition and keeps the other, so the test can see
// whether the client still holds it.
// Test-only; serves on a thread of its own; every member is thread-safe.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct sd_bus;

namespace tw::test {

class FakeSleepServices {
 public:
  enum Service : unsigned { Portal = 1, ScreenSaver = 2, Login1 = 4 };
  struct Options {
    unsigned services = 0;
    bool portalRefuses = false;  // the portal answers Inhibit with an error
  };

  FakeSleepServices(std::string busAddress, Options options);
  ~FakeSleepServices();
  FakeSleepServices(const FakeSleepServices&) = delete;
  FakeSleepServices& operator=(const FakeSleepServices&) = delete;

  bool ok() const { return ok_; }
  std::vector<std::string> calls() const;
  bool waitForCalls(std::size_t count, double timeoutSeconds = 5.0) const;
  // login1 inhibitions whose descriptor some client still holds open.
  int heldLogin1Inhibitions() const;

  struct Methods;
  friend struct Methods;

 private:
  void run(const std::string& address);
  void record(std::string line);

  Options options_;
  std::atomic<bool> stopping_{false};
  bool ok_ = false;
  sd_bus* bus_ = nullptr;  // serving thread only
  unsigned nextCookie_ = 0;
  unsigned nextRequest_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool ready_ = false;
  std::vector<std::string> calls_;
  std::vector<int> login1ReadEnds_;
  std::thread thread_;
};

}  // namespace tw::test
