// The settings window and its three panes on Qt's offscreen platform, with settings bundles and
// an updater of the test's own: what each check box shows when its pane loads, what a user's
// click stores and announces, the display-sleep rule, the accuracy pop-up, the last-check text,
// and the window's tabs, title, sizes and placement.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Source/Application/AppDelegate.h"
#include "app/Source/Settings/AppearanceSettingsViewController.h"
#include "app/Source/Settings/GeneralSettingsViewController.h"
#include "app/Source/Settings/SettingsWindowController.h"
#include "app/Source/Settings/UpdatesSettingsViewController.h"
#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Settings/BTSettingsNotification.h"
#include "platform/desktop/DM_SUUpdater.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/testsupport/TestSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

class FourBundles : public BTSettingsProvider {
 public:
  FourBundles()
      : general_(std::make_shared<BTGeneralBundleSettingsImpl>()),
        details_(std::make_shared<BTMasterDetailsBundleSettingsImpl>()),
        timeObjects_(std::make_shared<BTTimeObjectsBundleSettingsImpl>()),
        actionObjects_(std::make_shared<BTActionObjectsBundleSettingsImpl>()) {
    registerDefaults();
  }
  void registerDefaults() override {
    general_->registerDefaults();
    details_->registerDefaults();
    timeObjects_->registerDefaults();
    actionObjects_->registerDefaults();
  }
  void restoreDefaults() override {}
  void load() override {}
  void save() override {}
  std::shared_ptr<BTGeneralBundleSettingsImpl> generalBundle() const override { return general_; }
  void setGeneralBundle(std::shared_ptr<BTGeneralBundleSettingsImpl> b) override { general_ = b; }
  std::shared_ptr<BTMasterDetailsBundleSettingsImpl> masterDetailBundle() const override {
    return details_;
  }
  void setMasterDetailBundle(std::shared_ptr<BTMasterDetailsBundleSettingsImpl> b) override {
    details_ = b;
  }
  std::shared_ptr<BTTimeObjectsBundleSettingsImpl> timeObjectsBundle() const override {
    return timeObjects_;
  }
  void setTimeObjectsBundle(std::shared_ptr<BTTimeObjectsBundleSettingsImpl> b) override {
    timeObjects_ = b;
  }
  std::shared_ptr<BTActionObjectsBundleSettingsImpl> actionObjectsBundle() const override {
    return actionObjects_;
  }
  void setActionObjectsBundle(std::shared_ptr<BTActionObjectsBundleSettingsImpl> b) override {
    actionObjects_ = b;
  }

 private:
  std::shared_ptr<BTGeneralBundleSettingsImpl> general_;
  std::shared_ptr<BTMasterDetailsBundleSettingsImpl> details_;
  std::shared_ptr<BTTimeObjectsBundleSettingsImpl> timeObjects_;
  std::shared_ptr<BTActionObjectsBundleSettingsImpl> actionObjects_;
};

class RecordingReplies : public DM_SUUpdaterDelegate {
 public:
  void updaterShowMessage(DM_SUUpdater&, const std::string& title, const std::string&) override {
    titles.push_back(title);
  }
  std::vector<std::string> titles;
};

void settle(double seconds = 0.05) {
  tw::ui::Application::runEventsUntil([] { return false; }, seconds);
}

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() {
    tw::ui::test::application();
    announcements_ = tw::NotificationCenter::defaultCenter()->addObserver(
        BTSettingsChangedNotification, nullptr, nullptr, [this](const tw::Notification& n) {
          if (auto keys = bt_changedSettingKeys(n))
            for (const auto& key : *keys) announced_.push_back(key.description());
        });
  }
  ~SettingsTest() override { tw::RunLoop::main().drain(); }

  template <class Pane>
  std::shared_ptr<Pane> load() {
    auto pane = std::make_shared<Pane>();
    pane->setSettingsProvider(settings_);
    pane->view();
    tw::RunLoop::main().drain();
    return pane;
  }

  // What a click does: the box's next state, as the user's own change.
  static void click(const std::shared_ptr<tw::SettingsCheckBox>& box) { box->widget()->click(); }

  std::shared_ptr<FourBundles> settings_ = std::make_shared<FourBundles>();
  std::vector<std::string> announced_;
  tw::ScopedNotificationToken announcements_;
};

TEST_F(SettingsTest, GeneralPaneShowsStoredValuesWithoutWritingThemBack) {
  auto general = settings_->generalBundle();
  general->setPreventSystemSleep(true);
  general->setPreventDisplaySleep(true);
  settings_->timeObjectsBundle()->setWarnIfActiveOnQuit(true);
  settings_->timeObjectsBundle()->setPromptBeforeDelete(false);
  settings_->actionObjectsBundle()->setPromptBeforeDelete(true);

  auto pane = load<GeneralSettingsViewController>();
  EXPECT_EQ(pane->toolbarItemTitle(), "General");
  EXPECT_EQ(pane->preventSystemSleepButton()->state(), 1);
  EXPECT_EQ(pane->preventDisplaySleepButton()->state(), 1);
  EXPECT_TRUE(pane->preventDisplaySleepButton()->isEnabled());
  EXPECT_EQ(pane->warnIfActiveOnQuitButton()->state(), 1);
  EXPECT_EQ(pane->warnTimeObjectDeleteButton()->state(), 0);
  EXPECT_EQ(pane->warnActionObjectDeleteButton()->state(), 1);
  // The loaded state is neither stored over the settings nor announced.
  EXPECT_TRUE(general->preventDisplaySleep());
  EXPECT_TRUE(settings_->actionObjectsBundle()->promptBeforeDelete());
  EXPECT_TRUE(announced_.empty());

  // A user's click is stored, then announced on a later turn of the main queue.
  click(pane->warnTimeObjectDeleteButton());
  EXPECT_TRUE(settings_->timeObjectsBundle()->promptBeforeDelete());
  EXPECT_TRUE(announced_.empty());
  tw::RunLoop::main().drain();
  EXPECT_EQ(announced_, std::vector<std::string>{"promptBeforeDelete"});

  click(pane->warnActionObjectDeleteButton());
  click(pane->warnIfActiveOnQuitButton());
  tw::RunLoop::main().drain();
  EXPECT_FALSE(settings_->actionObjectsBundle()->promptBeforeDelete());
  EXPECT_FALSE(settings_->timeObjectsBundle()->warnIfActiveOnQuit());

  // A change made elsewhere shows in the box.
  settings_->actionObjectsBundle()->setPromptBeforeDelete(true);
  EXPECT_EQ(pane->warnActionObjectDeleteButton()->state(), 1);

  // The mixed state counts as NO; the box then shows the stored NO.
  pane->warnActionObjectDeleteButton()->widget()->setCheckState(Qt::PartiallyChecked);
  EXPECT_FALSE(settings_->actionObjectsBundle()->promptBeforeDelete());
  EXPECT_EQ(pane->warnActionObjectDeleteButton()->state(), 0);
}

TEST_F(SettingsTest, DisplaySleepFollowsSystemSleep) {
  auto general = settings_->generalBundle();
  general->setPreventSystemSleep(false);
  general->setPreventDisplaySleep(true);  // stored by an older version, say

  // Opening the pane with system sleep allowed stores NO for the display and announces it.
  auto pane = load<GeneralSettingsViewController>();
  auto display = pane->preventDisplaySleepButton();
  EXPECT_FALSE(general->preventDisplaySleep());
  EXPECT_FALSE(display->isEnabled());
  EXPECT_EQ(display->state(), 0);
  EXPECT_NE(std::find(announced_.begin(), announced_.end(), "preventDisplaySleep"),
            announced_.end());

  // On again: the box is enabled but stays off.
  announced_.clear();
  click(pane->preventSystemSleepButton());
  tw::RunLoop::main().drain();
  EXPECT_TRUE(general->preventSystemSleep());
  EXPECT_TRUE(display->isEnabled());
  EXPECT_EQ(display->state(), 0);
  EXPECT_FALSE(general->preventDisplaySleep());
  EXPECT_EQ(announced_, std::vector<std::string>{"preventSystemSleep"});

  click(display);
  tw::RunLoop::main().drain();
  EXPECT_TRUE(general->preventDisplaySleep());

  // Off: display sleep goes off with it, greyed out, stored and announced.
  announced_.clear();
  click(pane->preventSystemSleepButton());
  tw::RunLoop::main().drain();
  EXPECT_FALSE(general->preventSystemSleep());
  EXPECT_FALSE(general->preventDisplaySleep());
  EXPECT_FALSE(display->isEnabled());
  EXPECT_EQ(display->state(), 0);
  EXPECT_NE(std::find(announced_.begin(), announced_.end(), "preventSystemSleep"),
            announced_.end());
  EXPECT_NE(std::find(announced_.begin(), announced_.end(), "preventDisplaySleep"),
            announced_.end());
}

TEST_F(SettingsTest, AppearancePaneAnnouncesAtOnceAndOffersTwoAccuracies) {
  auto general = settings_->generalBundle();
  general->setUseMilitaryTime(true);
  settings_->timeObjectsBundle()->setStopwatchAccuracy(1);
  auto pane = load<AppearanceSettingsViewController>();
  EXPECT_EQ(pane->toolbarItemTitle(), "Appearance");
  EXPECT_EQ(pane->useMilitaryTimeButton()->state(), 1);
  EXPECT_EQ(pane->disableAnimationsButton()->state(), 0);
  QComboBox* popUp = pane->stopwatchAccuracySelectButton();
  ASSERT_EQ(popUp->count(), 2);
  EXPECT_EQ(popUp->itemText(0), "Deciseconds (0.0)");
  EXPECT_EQ(popUp->itemData(0).toInt(), 0);
  EXPECT_EQ(popUp->itemText(1), "Centiseconds (0.00)");
  EXPECT_EQ(popUp->itemData(1).toInt(), 1);
  EXPECT_EQ(popUp->currentIndex(), 1);
  EXPECT_TRUE(announced_.empty());

  click(pane->useMilitaryTimeButton());
  EXPECT_FALSE(general->useMilitaryTime());
  EXPECT_EQ(announced_, std::vector<std::string>{"useMilitaryTime"});  // no queue turn needed
  click(pane->disableAnimationsButton());
  EXPECT_TRUE(general->animationsDisabled());

  announced_.clear();
  popUp->setCurrentIndex(0);
  pane->onStopwatchAccuracySelectionChange(popUp);
  EXPECT_EQ(settings_->timeObjectsBundle()->stopwatchAccuracy(), 0);
  EXPECT_EQ(announced_, std::vector<std::string>{"stopwatchAccuracy"});
}

// A pop-up's choices are read only while its list is open: closed, or in a closed window, they
// are not shown, so not read (the hidden list's items said they were showing).
TEST_F(SettingsTest, APopUpsChoicesAreReadOnlyWhileItsListIsOpen) {
  auto pane = load<AppearanceSettingsViewController>();
  QWidget* window = pane->view();
  window->show();
  QComboBox* popUp = pane->stopwatchAccuracySelectButton();
  QAccessibleInterface* combo = QAccessible::queryAccessibleInterface(popUp);
  ASSERT_TRUE(combo && combo->childCount() == 1);
  QAccessibleInterface* list = combo->child(0);
  ASSERT_EQ(list->role(), QAccessible::List);
  const auto shown = [&] {
    QStringList names;
    for (int i = 0; i < list->childCount(); ++i)
      if (QAccessibleInterface* item = list->child(i); item && !item->state().invisible)
        names << item->text(QAccessible::Name);
    return names;
  };
  EXPECT_EQ(shown(), QStringList{}) << "the closed pop-up's choices are read";
  popUp->showPopup();
  ASSERT_TRUE(tw::ui::test::runUntil([&] { return popUp->view()->isVisible(); }));
  EXPECT_EQ(shown(), (QStringList{"Deciseconds (0.0)", "Centiseconds (0.00)"}));
  QAccessibleInterface* item = list->child(1);
  EXPECT_EQ(item->role(), QAccessible::ListItem);
  EXPECT_EQ(item->parent(), list);
  EXPECT_EQ(list->indexOfChild(item), 1);
  EXPECT_EQ(item->state().selected, popUp->currentIndex() == 1);
  EXPECT_FALSE(item->rect().isEmpty());
  popUp->hidePopup();
  ASSERT_TRUE(tw::ui::test::runUntil([&] { return !popUp->view()->isVisible(); }));
  EXPECT_EQ(shown(), QStringList{});
  window->hide();
  EXPECT_EQ(shown(), QStringList{}) << "a closed window's pop-up is read";
}

TEST_F(SettingsTest, StoredMillisecondAccuracyIsReplacedByTheShownItem) {
  settings_->timeObjectsBundle()->setStopwatchAccuracy(2);
  auto pane = load<AppearanceSettingsViewController>();
  EXPECT_EQ(pane->stopwatchAccuracySelectButton()->currentIndex(), 0);
  EXPECT_EQ(settings_->timeObjectsBundle()->stopwatchAccuracy(), 0);
  EXPECT_EQ(announced_, std::vector<std::string>{"stopwatchAccuracy"});
}

TEST_F(SettingsTest, PaneWithoutSettingsStoresNothing) {
  settings_->generalBundle()->setPreventSystemSleep(false);
  auto pane = std::make_shared<GeneralSettingsViewController>();
  pane->view();
  click(pane->preventSystemSleepButton());
  tw::RunLoop::main().drain();
  EXPECT_TRUE(announced_.empty());
  EXPECT_FALSE(settings_->generalBundle()->preventSystemSleep());
}

class UpdatesPaneTest : public SettingsTest {
 protected:
  tw::test::TempDir dir_;
  tw::UserDefaults defaults_{dir_.path() / "defaults.plist"};
  std::shared_ptr<DM_SUUpdater> updater_ =
      std::make_shared<DM_SUUpdater>(DM_SUUpdater::Options{"", "1.0", "Tickwell"}, defaults_);
};

TEST_F(UpdatesPaneTest, ShowsTheLastCheckAndBindsTheAutomaticSwitch) {
  auto replies = std::make_shared<RecordingReplies>();
  updater_->setDelegate(replies);
  auto pane = std::make_shared<UpdatesSettingsViewController>(updater_);
  pane->view();
  EXPECT_EQ(pane->toolbarItemTitle(), "Updates");
  EXPECT_EQ(pane->lastUpdateCheckLabel()->text().toStdString(), "Last Check: Never");
  EXPECT_EQ(pane->autoCheckForUpdatesButton()->state(), 0);

  // The box stores into the updater (and its defaults); a change elsewhere shows in the box.
  click(pane->autoCheckForUpdatesButton());
  EXPECT_TRUE(updater_->automaticallyChecksForUpdates());
  EXPECT_TRUE(defaults_.boolForKey(DM_SUUpdater::kAutomaticChecksDefaultsKey));
  updater_->setAutomaticallyChecksForUpdates(false);
  EXPECT_EQ(pane->autoCheckForUpdatesButton()->state(), 0);
  EXPECT_TRUE(announced_.empty());

  // Check now without a feed: the user is told, no date is recorded.
  pane->checkNowButton()->click();
  EXPECT_EQ(replies->titles, std::vector<std::string>{"Updates come from your package manager"});
  EXPECT_EQ(pane->lastUpdateCheckLabel()->text().toStdString(), "Last Check: Never");

  // A check earlier today, and one long ago.
  const double now = tw::clock::wallNow();
  const tw::Date today{now - 1};
  defaults_.setObject(tw::Value(today), DM_SUUpdater::kLastCheckDefaultsKey);
  pane->refreshLastUpdateCheckUi();
  EXPECT_EQ(pane->lastUpdateCheckLabel()->text().toStdString(),
            "Last Check: Today at " + BTDateUtility::shortTimeString(today));
  const tw::Date old{now - 40 * 86400};
  EXPECT_EQ(UpdatesSettingsViewController::lastCheckText(old),
            BTDateUtility::shortDateString(old) + " at " + BTDateUtility::shortTimeString(old));
}

// ----- the window

std::vector<std::shared_ptr<tw::ui::ViewController>> threePanes(
    const std::shared_ptr<BTSettingsProvider>& settings,
    const std::shared_ptr<DM_SUUpdater>& updater) {
  auto general = std::make_shared<GeneralSettingsViewController>();
  general->setSettingsProvider(settings);
  auto appearance = std::make_shared<AppearanceSettingsViewController>();
  appearance->setSettingsProvider(settings);
  return {general, appearance, std::make_shared<UpdatesSettingsViewController>(updater)};
}

TEST_F(UpdatesPaneTest, WindowNeedsPanes) {
  try {
    SettingsWindowController::initWithViewControllers({});
    FAIL() << "no exception";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name(), tw::NSInvalidArgumentException);
    EXPECT_EQ(e.reason(), "`viewControllers` cannot be nil or empty");
  }
  EXPECT_THROW(SettingsWindowController::initWithWindow(nullptr), tw::Exception);
}

TEST_F(UpdatesPaneTest, WindowTabsRetitleAndFixTheWindowsSizeKeepingTheTopLeftCorner) {
  auto controller =
      SettingsWindowController::initWithViewControllers(threePanes(settings_, updater_));
  QWidget* window = controller->window();
  auto tabs = controller->tabViewController();
  // Titled after the pane selected at the start, not with the placeholder title.
  EXPECT_EQ(window->windowTitle(), "General");
  ASSERT_EQ(tabs->tabViewItems().size(), 3u);
  EXPECT_EQ(tabs->tabViewItems()[1]->label, "Appearance");
  EXPECT_EQ(tabs->tabViewItems()[1]->identifier, "Appearance");
  EXPECT_EQ(tabs->tabStyle(), SettingsTabViewController::kToolbarTabStyle);
  EXPECT_EQ(tabs->transitionOptions(), SettingsTabViewController::kNoTransition);
  EXPECT_EQ(tabs->toolbarButton(2)->text(), "Updates");

  // A fixed-size dialog to the window manager (no resize handle, no maximise), whose size
  // only its panes change: its minimum and maximum are its size at every pane, also halfway
  // through the slide from one pane's size to the next.
  EXPECT_FALSE(window->windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
  const auto fixedAtItsSize = [window](const char* when) {
    EXPECT_EQ(window->minimumSize(), window->size()) << when;
    EXPECT_EQ(window->maximumSize(), window->size()) << when;
  };

  // Hidden: shown centred.
  controller->showWindow(nullptr);
  settle();
  fixedAtItsSize("opened");
  const QPoint centre = window->screen()->availableGeometry().center();
  EXPECT_LE((window->frameGeometry().center() - centre).manhattanLength(), 10);

  // Moved by the user, then a tab is chosen: the window keeps its top-left corner and takes
  // the measured size of the pane plus the toolbar.
  window->move(40, 60);
  settle();
  const QPoint corner = window->geometry().topLeft();
  const QSize generalFrame = window->size();
  tabs->toolbarButton(2)->click();
  settle(SettingsTabViewController::kResizeDuration / 2);
  fixedAtItsSize("sliding");
  EXPECT_LT(window->height(), generalFrame.height()) << "the slide moves on";
  settle(SettingsTabViewController::kResizeDuration + 0.3);
  fixedAtItsSize("on the Updates pane");
  EXPECT_EQ(window->windowTitle(), "Updates");
  EXPECT_EQ(tabs->selectedTabViewItemIndex(), 2);
  ASSERT_EQ(tabs->tabViewSizes().count("Updates"), 1u);
  const QSize updatesSize = tabs->tabViewSizes().at("Updates");
  EXPECT_EQ(window->geometry().topLeft(), corner);
  EXPECT_EQ(window->size(), tabs->frameSizeForContentSize(updatesSize));

  // The General pane is taller: its size was measured when the window opened on it, and a
  // later change of its layout is not measured again.
  QWidget* generalView = tabs->tabViewItems()[0]->viewController->view();
  const QSize generalSize = tabs->tabViewSizes().at("General");
  generalView->layout()->addWidget(new QCheckBox("one more", generalView));
  tabs->toolbarButton(0)->click();
  settle(SettingsTabViewController::kResizeDuration + 0.3);
  EXPECT_EQ(window->windowTitle(), "General");
  EXPECT_EQ(tabs->tabViewSizes().at("General"), generalSize);
  EXPECT_EQ(window->geometry().topLeft(), corner);
  // Ctrl+Tab steps on to the next pane.
  QTest::keyClick(window, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(tabs->selectedTabViewItemIndex(), 1);
  settle(SettingsTabViewController::kResizeDuration + 0.3);
  fixedAtItsSize("on the Appearance pane");
  EXPECT_EQ(window->size(), tabs->frameSizeForContentSize(tabs->tabViewSizes().at("Appearance")));

  // Shown again while visible: stays where it is.
  controller->showWindow(nullptr);
  settle();
  EXPECT_EQ(window->geometry().topLeft(), corner);
}

TEST_F(UpdatesPaneTest, PreferencesCommandMakesTheWindowOnceWithThreePanesInOrder) {
  auto delegate = std::make_shared<AppDelegate>();
  EXPECT_EQ(delegate->settingsWindowController(), nullptr);
  delegate->showPreferences(nullptr);
  auto first = delegate->settingsWindowController();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->window()->isVisible());
  std::vector<std::string> labels;
  for (const auto& item : first->tabViewController()->tabViewItems()) labels.push_back(item->label);
  EXPECT_EQ(labels, (std::vector<std::string>{"General", "Appearance", "Updates"}));
  first->window()->hide();
  delegate->showPreferences(nullptr);
  EXPECT_EQ(delegate->settingsWindowController(), first);
  EXPECT_TRUE(first->window()->isVisible());
}

}  // namespace
