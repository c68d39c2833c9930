#include "app/Source/Application/KitStartup.h"

#include <QGuiApplication>

#include "kits/crash/Morvex.h"
#include "kits/crash/controller/MVXCrashReportingController.h"
#include "kits/platform/TSYKit.h"
#include "kits/platform/TerminationActivities.h"
#include "kits/platform/Tessaly.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Alert.h"

namespace tw::app {

namespace {

// The crash kit's permission prompt, over the application's own alert: the result is 1000 + the
// index of the chosen button. An alert closed without a button (the application quitting) counts
// as the last button, the one that declines.
long runPermissionAlert(const tw::crash::PermissionAlert& prompt) {
  ui::Alert alert;
  alert.setMessageText(prompt.messageText);
  alert.setInformativeText(prompt.informativeText);
  for (const std::string& title : prompt.buttons) alert.addButton(title);
  if (prompt.buttons.empty()) return 1000;
  const std::size_t decline = prompt.buttons.size() - 1;
  alert.setCancelButton(decline);
  return 1000 + static_cast<long>(alert.runModal().value_or(decline));
}

// The kits hear of the application becoming active or inactive through the platform's names.
void postActivationChanges() {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (app == nullptr) return;
  QObject::connect(app, &QGuiApplication::applicationStateChanged, app,
                   [](Qt::ApplicationState state) {
                     auto center = NotificationCenter::defaultCenter();
                     if (state == Qt::ApplicationActive) {
                       center->post("NSApplicationWillBecomeActiveNotification");
                     } else {
                       center->post("NSApplicationDidResignActiveNotification");
                     }
                   });
}

}  // namespace

void setupReportingAndAnalytics() {
  static const bool hooked = [] {
    tw::crash::setPermissionAlertPresenter(runPermissionAlert);
    postActivationChanges();
    // Log-out, shut-down and suspend wait for the kits' activities as the ending does.
    TerminationActivities::shared().inhibitThroughLogind("Tickwell");
    return true;
  }();
  (void)hooked;
  UserDefaults::standard().registerDefaults({{"NSApplicationCrashOnExceptions", Value(true)}});
  // The registry swallows its own faults; the application ignores the shared instance.
  Tessaly::with({tw::kitClass<Morvex>()});
}

}  // namespace tw::app
