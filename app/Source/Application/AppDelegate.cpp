#include "app/Source/Application/AppDelegate.h"

#include <malloc.h>

#include <QAction>
#include <QMenu>

#include "app/Source/Application/CoreAssembly_macOS.h"
#include "app/Source/Application/KitStartup.h"
#include "app/Source/MainWindow/MainWindow.h"
#include "app/Source/MainWindow/RootWindowController.h"
#include "app/Source/Settings/AppearanceSettingsViewController.h"
#include "app/Source/Settings/GeneralSettingsViewController.h"
#include "app/Source/Settings/SettingsWindowController.h"
#include "app/Source/Settings/UpdatesSettingsViewController.h"
#include "core/Source/Library/BTStoryboardLoader.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/PlatformServices/BTAlertPresenter.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTCoreDataService.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/UserMessages/BTAlert.h"
#include "core/Source/UserMessages/BTAlertAction.h"
#include "kits/platform/TerminationActivities.h"
#include "platform/desktop/DM_SUUpdater.h"
#include "platform/desktop/DesktopURL.h"
#include "platform/desktop/DevMateKit.h"
#include "platform/desktop/TimeZoneMonitor.h"
#include "platform/desktop/UserNotificationCenter.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/Log.h"
#include "platform/inject/PropertyInjector.h"
#include "platform/inject/TyphoonAssembly.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/store/PersistentStore.h"
#include "platform/store/Predicate.h"
#include "platform/ui/SharedApplication.h"

namespace {

tw::store::Predicate notReset() {
  return tw::store::Predicate::format("%K != %@", "timingState", 0);
}

// The application's answers to the updater, and its messages shown as alerts.
class UpdaterReplies : public DM_SUUpdaterDelegate {
 public:
  explicit UpdaterReplies(std::weak_ptr<BTAlertPresenter> presenter)
      : presenter_(std::move(presenter)) {}
  bool isUpdaterInTestMode(DM_SUUpdater&) override { return false; }
  bool updaterShouldCheckForBetaUpdates(DM_SUUpdater&) override { return false; }
  void updaterShowMessage(DM_SUUpdater&, const std::string& title,
                          const std::string& message) override {
    auto presenter = presenter_.lock();
    if (!presenter) return tw::logf("%@: %@", title, message);
    auto alert = BTAlert::alertWithTitle(title, message);
    alert->addAction(BTAlertAction::actionWithTitle(tw::localized("OK"), 0, nullptr));
    presenter->presentAlert(alert);
  }

 private:
  std::weak_ptr<BTAlertPresenter> presenter_;
};

}  // namespace

AppDelegate::AppDelegate() {
  setAction("terminate", [](QObject*) { tw::ui::SharedApplication::shared().terminate(); });
  setAction("showHelp", [this](QObject* sender) { showHelp(sender); });
  setAction("showFeedbackDialog", [this](QObject* sender) { showFeedbackDialog(sender); });
  setAction("showPreferences", [this](QObject* sender) { showPreferences(sender); });
  setAction("checkForUpdates", [](QObject*) { DM_SUUpdater::sharedUpdater()->checkForUpdates(); });
}

void AppDelegate::injectProperties(tw::PropertyInjector& injector) {
  injector.inject(coreDataProvider_);
  injector.inject(settingsProvider_);
  injector.inject(alertPresenter_);
}

std::shared_ptr<TyphoonAssembly> AppDelegate::makeAssembly() {
  return TyphoonAssembly::assembly<CoreAssembly_macOS>();
}

// ----- launch

void AppDelegate::applicationDidFinishLaunching() {
  loadIoCAssemblies();
  injectDependencies();
  tellAboutStoreTrouble();
  loadApplicationData();
  watchTimeZone();
  loadRootWindow();
  DevMateKit::sendTrackingReport(nullptr, nullptr);
  DevMateKit::setupIssuesController(nullptr, true);
  setupReportingAndAnalytics();
  setupUserNotificationCenter();
  updaterReplies_ = std::make_shared<UpdaterReplies>(alertPresenter_);
  DM_SUUpdater::sharedUpdater()->setDelegate(updaterReplies_);
  DM_SUUpdater::sharedUpdater()->checkAtLaunchIfDue();
  // Loading the store and building the window leave freed heap behind (a thousand objects'
  // worth of rows and values); give it back once they are done, a turn later.
  tw::DispatchQueue::main()->async([] { malloc_trim(0); });
}

void AppDelegate::loadIoCAssemblies() {
  assembly_ = makeAssembly();
  assembly_->activated();
  assembly_->makeDefault();
}

void AppDelegate::injectDependencies() {
  if (auto factory = TyphoonComponentFactory::defaultFactory()) factory->inject(*this);
}

void AppDelegate::loadApplicationData() {
  settingsProvider_->load();
  settingsProvider_->registerDefaults();
  coreDataProvider_->setup();
  tellAboutMovedAsideStore();
  preloadActiveTimeObjects();
  cleanUpBastardizedObjects();
}

void AppDelegate::preloadActiveTimeObjects() {
  auto timing = TyphoonComponentFactory::defaultFactory()->componentForType<BTTimingController>();
  auto provider = coreDataProvider_;
  coreDataProvider_->runOnCoreDataQueueAsync([provider, timing] {
    auto context = provider->objectContext();
    if (!context || !timing) return;
    for (const auto& object : context->findAllWithPredicate<BTTimeObject>(notReset()))
      (void)timing->timingControlForTimingObject(object);
  });
}

void AppDelegate::cleanUpBastardizedObjects() {
  auto provider = coreDataProvider_;
  provider->runOnCoreDataQueueAsync([provider] {
    auto context = provider->objectContext();
    if (!context) return;
    const auto orphaned = tw::store::Predicate::format("%K == nil", "timeObject");
    for (const auto& action : context->findAllWithPredicate<BTActionObject>(orphaned))
      deleteObject(action);
  });
  provider->runOnCoreDataQueueAsync([provider] {
    auto context = provider->objectContext();
    if (!context) return;
    const auto orphaned = tw::store::Predicate::format("%K == nil", "actionObject");
    for (const auto& trigger : context->findAllWithPredicate<BTActionTrigger>(orphaned))
      deleteObject(trigger);
  });
}

void AppDelegate::loadRootWindow() {
  windowController_ = std::dynamic_pointer_cast<RootWindowController>(
      BTStoryboardLoader::instantiateController("Main", "rootWindowController", nullptr));
  if (!windowController_) {
    tw::log(tw::LogLevel::Error, "The main window's interface \"Main\" is not available");
    return;
  }
  QWidget* window = windowController_->window();
  // The application's commands: in the title bar's menu, and as shortcuts wherever the
  // application has the focus.
  struct Command {
    const char* title;
    const char* action;
    QKeySequence keys;
  };
  const Command commands[] = {
      {"Preferences…", "showPreferences", QKeySequence(Qt::CTRL | Qt::Key_Comma)},
      {"Check for Updates…", "checkForUpdates", {}},
      {"Send Feedback…", "showFeedbackDialog", {}},
      {"Tickwell Help", "showHelp", QKeySequence::HelpContents},
      {nullptr, nullptr, {}},
      // Spelt out: the platform theme may give no Quit key at all.
      {"Quit Tickwell", "terminate", QKeySequence(Qt::CTRL | Qt::Key_Q)},
  };
  auto* menu = new QMenu(window);
  menu->setObjectName("applicationMenu");
  for (const auto& command : commands) {
    if (!command.title) {
      menu->addSeparator();
      continue;
    }
    auto* item = new QAction(QString::fromStdString(tw::localized(command.title)), window);
    item->setShortcut(command.keys);
    item->setShortcutContext(Qt::ApplicationShortcut);
    item->setObjectName(command.action);
    tw::ui::SharedApplication::shared().bindAction(item, command.action);
    window->addAction(item);
    menu->addAction(item);
  }
  if (auto* main = windowController_->mainWindow()) main->setMenu(menu);
  windowController_->showWindow(nullptr);
  tw::ui::SharedApplication::shared().setAutomaticCustomizeTouchBarMenuItemEnabled(true);
}

void AppDelegate::setupReportingAndAnalytics() { tw::app::setupReportingAndAnalytics(); }

void AppDelegate::setupUserNotificationCenter() {
  // Notifications are always shown by the desktop, also while we are in front; a click on one
  // brings the main window up.
  std::weak_ptr<tw::ui::Responder> weak = selfResponder();
  notificationClicks_ = tw::NotificationCenter::defaultCenter()->addObserver(
      tw::UserNotificationActivatedNotification, nullptr, nullptr, [weak](const tw::Notification&) {
        auto self = std::static_pointer_cast<AppDelegate>(weak.lock());
        if (self && self->windowController_) self->windowController_->showWindow(nullptr);
      });
}

void AppDelegate::tellAboutStoreTrouble() {
  // Both alerts wait for the main queue's next turn, by when the main window is up.
  auto presenter = alertPresenter_;
  storeIsReadOnly_ = tw::NotificationCenter::defaultCenter()->addObserver(
      BTCoreDataServiceStoreIsReadOnlyNotification, nullptr, nullptr,
      [presenter](const tw::Notification& n) {
        auto provider = std::dynamic_pointer_cast<BTCoreDataProvider>(n.object);
        auto store = provider ? provider->storeCoordinator() : nullptr;
        const std::string path = store ? store->path().string() : std::string("?");
        tw::logf("Telling the user that changes cannot be saved: %@ is read-only", path);
        if (!presenter) return;
        presenter->presentAlert(BTAlert::alertWithTitle(
            tw::localized("Changes cannot be saved"),
            tw::localizedFormat("Tickwell is not allowed to write to %@. Your timers are shown, "
                                "but any change you make will be lost when Tickwell quits.",
                                path),
            BTAlert::kStyleCritical));
      });
}

void AppDelegate::tellAboutMovedAsideStore() {
  auto store = coreDataProvider_ ? coreDataProvider_->storeCoordinator() : nullptr;
  if (!store || !store->movedAsidePath()) return;
  const std::string kept = store->movedAsidePath()->string();
  tw::logf("Telling the user that the unreadable store was kept as %@", kept);
  auto presenter = alertPresenter_;
  tw::DispatchQueue::main()->async([presenter, kept] {
    if (!presenter) return;
    presenter->presentAlert(BTAlert::alertWithTitle(
        tw::localized("Your timers could not be read"),
        tw::localizedFormat("The file that holds them is damaged or from a newer Tickwell, so "
                            "Tickwell started with an empty list. The old file was kept as %@.",
                            kept),
        BTAlert::kStyleCritical));
  });
}

void AppDelegate::watchTimeZone() {
  // The timing controller listens for what the monitor posts.
  timeZoneMonitor_ = std::make_shared<tw::TimeZoneMonitor>();
}

// ----- quit

tw::ui::TerminateReply AppDelegate::applicationShouldTerminate() {
  tw::ui::TerminateReply reply = tw::ui::TerminateReply::Now;
  checkForActiveTimeObjects(reply);
  return reply;
}

void AppDelegate::checkForActiveTimeObjects(tw::ui::TerminateReply& reply) {
  reply = tw::ui::TerminateReply::Now;
  auto bundle = settingsProvider_ ? settingsProvider_->timeObjectsBundle() : nullptr;
  if (!bundle || !bundle->warnIfActiveOnQuit() || !coreDataProvider_) return;
  std::size_t count = 0;
  auto provider = coreDataProvider_;
  provider->runOnCoreDataQueueSync([&] {
    if (auto context = provider->objectContext())
      count = context->countOf<BTTimeObject>(notReset());
  });
  if (count == 0) return;
  reply = tw::ui::TerminateReply::Later;
  tw::logf("Asking before quitting: %ld alarms, timers, or stopwatches running",
           static_cast<long>(count));
  auto presenter = alertPresenter_;
  tw::DispatchQueue::main()->async([presenter, count] {
    auto alert = BTAlert::alertWithTitle(
        tw::localized("Are you sure you want to quit?"),
        tw::localizedFormat("There are %ld alarms, timers, or stopwatches running.",
                            static_cast<long>(count)));
    alert->addAction(BTAlertAction::actionWithTitle(tw::localized("Quit"), 2, [] {
      tw::ui::SharedApplication::shared().replyToApplicationShouldTerminate(true);
    }));
    alert->addAction(BTAlertAction::actionWithTitle(tw::localized("Cancel"), 1, [] {
      tw::ui::SharedApplication::shared().replyToApplicationShouldTerminate(false);
    }));
    if (presenter) presenter->presentAlert(alert);
  });
}

void AppDelegate::applicationWillTerminate() {
  timeZoneMonitor_.reset();
  // A report or event the kits are still writing or sending ends first (a few seconds at most).
  tw::TerminationActivities::shared().waitBeforeTermination();
  saveApplicationData();
}

void AppDelegate::saveApplicationData() {
  if (settingsProvider_) settingsProvider_->save();
  if (coreDataProvider_) {
    coreDataProvider_->save();
    coreDataProvider_->cleanUp();
  }
}

// ----- reopen and menu actions

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
  if (hasVisibleWindows) return true;
  if (windowController_) windowController_->showWindow(nullptr);
  return true;
}

void AppDelegate::showHelp(QObject*) {
  std::string address = kHelpAddress;
  std::string reason;
  try {
    address = DevMateKit::infoAddress(tw::Bundle::main(), kHelpURLKey);
    if (address.empty()) address = kHelpAddress;
    if (tw::openURLWithDefaultHandler(address, &reason)) return;
  } catch (const std::exception& e) {
    reason = e.what();
  }
  tellAddressNotOpened(tw::localized("Help could not be opened"), address, reason);
}

void AppDelegate::showFeedbackDialog(QObject*) {
  std::string reason;
  if (DevMateKit::showFeedbackDialog(nullptr, 0, &reason)) return;
  tellAddressNotOpened(tw::localized("Feedback could not be opened"),
                       DevMateKit::infoAddress(tw::Bundle::main(), DevMateKit::kFeedbackURLKey),
                       reason);
}

void AppDelegate::tellAddressNotOpened(const std::string& title, const std::string& address,
                                       const std::string& reason) {
  tw::logf("Telling the user that %@ could not be opened: %@", address, reason);
  std::string message =
      address.empty()
          ? tw::localizedFormat("Tickwell could not open it: %@.", reason)
          : tw::localizedFormat(
                "Tickwell could not open %@ (%@). You can copy the address and open it in your "
                "web browser.",
                address, reason);
  auto alert = BTAlert::alertWithTitle(title, std::move(message), BTAlert::kStyleCritical);
  alert->addAction(BTAlertAction::actionWithTitle(tw::localized("OK"), 0, nullptr));
  // A turn later: the menu or shortcut that asked has finished by then.
  auto presenter = alertPresenter_;
  tw::DispatchQueue::main()->async([presenter, alert] {
    if (presenter) presenter->presentAlert(alert);
  });
}

void AppDelegate::showPreferences(QObject* sender) {
  if (!settingsWindowController_) {
    settingsWindowController_ = SettingsWindowController::initWithViewControllers(
        {std::make_shared<GeneralSettingsViewController>(),
         std::make_shared<AppearanceSettingsViewController>(),
         std::make_shared<UpdatesSettingsViewController>()});
  }
  settingsWindowController_->showWindow(sender);
}
