#pragma once
// AppDelegate: the root of the application. Runs the launch sequence (assembly, injection,
// settings, store, resumption of the time objects that were running, clean-up of actions and
// triggers left without an owner, the main window, the crash kits, notification clicks), asks
// before quitting while time objects run, saves settings and store when the application ends
// (whatever ends it: the Quit command, a signal, the session's end), and brings the main window
// back on reopen. Tells the user at launch, in an alert, when the store can be read but not
// written (changes will not be kept) or could not be read and was moved aside (where the old
// file is), and when Help or Feedback cannot open its address. Watches for changes of the time zone
// and wakes from sleep (which armed alarms follow). Owned by the SharedApplication for the life of
// the process; main thread only.

#include <memory>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/inject/Injectable.h"
#include "platform/ui/ApplicationDelegate.h"

class BTAlertPresenter;
class BTCoreDataProvider;
class BTSettingsProvider;
class DM_SUUpdaterDelegate;
class RootWindowController;
class SettingsWindowController;
class TyphoonAssembly;
namespace tw {
class TimeZoneMonitor;
}

class AppDelegate : public tw::ui::ApplicationDelegate, public tw::Injectable {
 public:
  AppDelegate();

  // ----- the application's questions
  void applicationDidFinishLaunching() override;
  tw::ui::TerminateReply applicationShouldTerminate() override;
  void applicationWillTerminate() override;
  bool applicationShouldHandleReopen(bool hasVisibleWindows) override;

  // ----- menu actions ("showHelp", "showFeedbackDialog", "showPreferences", "checkForUpdates",
  // "terminate"); the main window's title-bar menu holds them all.
  void showHelp(QObject* sender);
  void showFeedbackDialog(QObject* sender);
  void showPreferences(QObject* sender);

  // ----- the update service's questions
  bool isUpdaterInTestMode() const { return false; }
  bool updaterShouldCheckForBetaUpdates() const { return false; }

  // ----- launch and quit steps
  void loadIoCAssemblies();
  void injectDependencies();
  void loadApplicationData();
  void preloadActiveTimeObjects();
  void cleanUpBastardizedObjects();
  void loadRootWindow();
  void setupReportingAndAnalytics();
  void setupUserNotificationCenter();
  void watchTimeZone();
  void tellAboutStoreTrouble();
  void tellAboutMovedAsideStore();
  void saveApplicationData();
  void checkForActiveTimeObjects(tw::ui::TerminateReply& reply);

  std::shared_ptr<RootWindowController> windowController() const { return windowController_; }
  std::shared_ptr<BTCoreDataProvider> coreDataProvider() const { return coreDataProvider_; }
  std::shared_ptr<BTSettingsProvider> settingsProvider() const { return settingsProvider_; }
  std::shared_ptr<TyphoonAssembly> assembly() const { return assembly_; }
  // Null until the first Preferences command.
  std::shared_ptr<SettingsWindowController> settingsWindowController() const {
    return settingsWindowController_;
  }

  void injectProperties(tw::PropertyInjector& injector) override;

  // The knowledge-base page Help opens: the Info.plist's "TickwellHelpURL", else this.
  static constexpr const char* kHelpAddress = "https://velmora.com/tickwell/help";
  static constexpr const char* kHelpURLKey = "TickwellHelpURL";

 protected:
  // The assembly activated at launch; tests put their own.
  virtual std::shared_ptr<TyphoonAssembly> makeAssembly();

 private:
  // An alert naming the address (selectable, so it can be copied) and why it did not open.
  void tellAddressNotOpened(const std::string& title, const std::string& address,
                            const std::string& reason);

  std::shared_ptr<TyphoonAssembly> assembly_;
  std::shared_ptr<RootWindowController> windowController_;
  std::shared_ptr<BTCoreDataProvider> coreDataProvider_;
  std::shared_ptr<BTSettingsProvider> settingsProvider_;
  std::shared_ptr<BTAlertPresenter> alertPresenter_;
  tw::ScopedNotificationToken notificationClicks_;
  tw::ScopedNotificationToken storeIsReadOnly_;
  std::shared_ptr<SettingsWindowController> settingsWindowController_;
  // Answers the updater's questions and shows what its checks have to say.
  std::shared_ptr<DM_SUUpdaterDelegate> updaterReplies_;
  std::shared_ptr<tw::TimeZoneMonitor> timeZoneMonitor_;
};
