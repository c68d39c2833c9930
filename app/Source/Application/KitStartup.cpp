#include "app/Source/Application/KitStartup.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"

namespace {

// The least the kit registry must do at this call site until the kits themselves are built in:
// run once, say so when called again, and do nothing at all without an API key.
struct KitClass {
  const char* name;
};
constexpr KitClass Morvex{"Morvex"};

struct Tessaly {
  static void with(const std::vector<KitClass>& kits) {
    static std::once_flag once;
    bool first = false;
    std::call_once(once, [&] { first = true; });
    if (!first) {
      tw::log(
          "[Tessaly] [Tessaly +with] called multiple times. Only the first call is honored, "
          "please pass all kits you wish to initialize");
      return;
    }
    const tw::Value& config = tw::Bundle::main().objectForInfoDictionaryKey("Tessaly");
    const tw::Value& key = config["APIKey"];
    if (!key.isString() || key.string()->empty()) return;  // silently: no kits without a key
    for (const auto& kit : kits) tw::logf("[Tessaly] kit %@ is not part of this build", kit.name);
  }
};

}  // namespace

namespace tw::app {

void setupReportingAndAnalytics() {
  UserDefaults::standard().registerDefaults({{"NSApplicationCrashOnExceptions", Value(true)}});
  Tessaly::with({Morvex});
}

}  // namespace tw::app
