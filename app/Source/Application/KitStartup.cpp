#include "app/Source/Application/KitStartup.h"

#include "kits/crash/Morvex.h"
#include "kits/platform/TSYKit.h"
#include "kits/platform/Tessaly.h"
#include "platform/foundation/UserDefaults.h"

namespace tw::app {

void setupReportingAndAnalytics() {
  UserDefaults::standard().registerDefaults({{"NSApplicationCrashOnExceptions", Value(true)}});
  // The registry swallows its own faults; the application ignores the shared instance.
  Tessaly::with({tw::kitClass<Morvex>()});
}

}  // namespace tw::app
