#include "kits/crash/Morvex.h"

#include "kits/platform/TSYKit.h"

std::shared_ptr<Morvex> Morvex::sharedInstance() {
  static const std::shared_ptr<Morvex> shared = std::make_shared<Morvex>();
  return shared;
}

void Morvex::initializeIfNeeded() { sharedInstance()->start(); }

void Morvex::start() {
  if (started_.exchange(true)) return;
  // Crash capture and the report store start here as they are built.
}

namespace {
// The class's load hook: make "Morvex" findable by name before main.
[[maybe_unused]] const bool kMorvexRegistered =
    (tw::runtime::registerClass(tw::kitClass<Morvex>()), true);
}  // namespace
