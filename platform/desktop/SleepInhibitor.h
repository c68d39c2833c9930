#pragma once
// tw::SleepInhibitor: process activities over the desktop's D-Bus services (see
// SleepInhibition.h for which options call on what): the desktop portal on the session bus
// (an inhibition lasts until its request object is closed), login1 on the system bus (until
// the descriptor it hands out is closed) and the screen saver service on the session bus
// (until UnInhibit with its cookie). When the portal refuses, the direct services are used.
//
// Every bus call runs on the inhibitor's own serial queue, with a time-out, in the order the
// activities were begun and ended, so begin and end never block their caller. A missing bus or
// service is logged once and the activity is held without it; it is looked for again at the next
// begin. Destroying the inhibitor releases whatever its activities still hold.
//
// Owned through std::shared_ptr (ProcessActivities::shared() keeps one for the process). Any
// thread.

#include <memory>
#include <string>

#include "platform/desktop/ProcessActivities.h"
#include "platform/foundation/Dispatch.h"

namespace tw {

class SleepInhibitor final : public ProcessActivities {
 public:
  struct Options {
    std::string applicationName;  // "who" / application name given to the services
    double callTimeoutSeconds = 5.0;
  };
  // The application's name from the main bundle.
  static Options defaultOptions();

  explicit SleepInhibitor(Options options);
  ~SleepInhibitor() override;
  SleepInhibitor(const SleepInhibitor&) = delete;
  SleepInhibitor& operator=(const SleepInhibitor&) = delete;

  Token beginActivity(std::uint64_t options, const std::string& reason) override;
  void endActivity(const Token& token) override;

  // Waits until the calls asked for so far have been made; false on time-out. For tests.
  bool waitUntilIdle(double timeoutSeconds);

  struct State;

 private:
  std::shared_ptr<State> state_;
  std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace tw
