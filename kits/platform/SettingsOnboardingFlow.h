#pragma once
// tw::SettingsOnboardingFlow: what the kit registry needs of the settings and onboarding manager
// (the settings download, its cache and the application's record with the kits' web service):
// a way to start it and the settings it holds. The registry owns one; the settings flow runs on
// the network client's queues and answers settingsDictionary() from any thread.

#include <string>

#include "platform/foundation/Value.h"

namespace tw {

class SettingsOnboardingFlow {
 public:
  virtual ~SettingsOnboardingFlow() = default;
  virtual void beginSettingsAndOnboardingOperations(const std::string& apiKey,
                                                    const Dictionary& kitVersionsByBundleId) = 0;
  // The current kit settings; null until a settings file exists and parses.
  virtual Value settingsDictionary() const = 0;
};

}  // namespace tw
