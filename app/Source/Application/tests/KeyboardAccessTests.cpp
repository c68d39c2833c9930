// The launched application driven with the keyboard alone, and what assistive technologies are
// told of each control (through QAccessible), on Qt's offscreen platform with the real assembly
// and store in private XDG folders.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <map>
#include <set>

#include "app/Source/Application/AppDelegate.h"
#include "app/Source/Application/CoreAssembly_macOS.h"
#include "app/Source/Application/Interfaces.h"
#include "app/Source/MainWindow/MainWindow.h"
#include "app/Source/MainWindow/RootWindowController.h"
#include "app/Source/MasterList/MasterListItemTableCellView.h"
#include "app/Source/Settings/SettingsWindowController.h"
#include "app/tests/SampleData.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTSettableTimeObject.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "platform/foundation/Dispatch.h"
#include "platform/inject/TyphoonAssembly.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/testsupport/TestSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/SharedApplication.h"
#include "platform/ui/TableView.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::ui::SharedApplication;

using tw::ui::test::runUntil;

void settle(double seconds = 0.05) {
  runUntil([] { return false; }, seconds);
}

QString nameOf(QWidget* w) { return tw::ui::test::accessibleName(w); }

QAccessible::Role roleOf(QWidget* w) {
  auto* iface = QAccessible::queryAccessibleInterface(w);
  return iface ? iface->role() : QAccessible::NoRole;
}

std::string unnamedIn(QWidget* root) {
  const auto unnamed = tw::ui::test::unnamedControls(root);
  return QStringList(unnamed.begin(), unnamed.end()).join(", ").toStdString();
}

class KeyboardAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tw::ui::test::application();
    tw::app::registerInterfaces();
    // Stored before the launch, as an earlier session would have left them.
    {
      auto assembly = TyphoonAssembly::assembly<CoreAssembly_macOS>();
      auto factory = assembly->activated();
      tw::defaultCoreDataProvider()->setup();
      tw::app::sample::insert(stored_);
      if (auto tea = timer("Tea")) {
        addAction<BTDisplayAlertAction>(tea, 0);
        addAction<BTFlashScreenAction>(tea, 1);
      }
      tw::defaultCoreDataProvider()->save();
      tw::defaultCoreDataProvider()->cleanUp();
      resetProcessState();
    }
    delegate_ = std::make_shared<AppDelegate>();
    SharedApplication::shared().launchWithoutLoop(delegate_);
    tw::RunLoop::main().drain();
    auto settings = delegate_->settingsProvider();
    settings->timeObjectsBundle()->setPromptBeforeDelete(true);
    settings->timeObjectsBundle()->setWarnIfActiveOnQuit(true);
    settings->masterDetailBundle()->setActionsListViewCollapsed(false);
    window_ = delegate_->windowController()->mainWindow();
    window_->resize(900, 640);
    window_->activateWindow();
    ASSERT_TRUE(runUntil([&] { return QApplication::activeWindow() == window_; }));
  }

  void TearDown() override {
    auto& app = SharedApplication::shared();
    if (delegate_ && !app.hasTerminated()) app.terminateWithoutAsking(0);
    delegate_.reset();
    resetProcessState();
  }

  static void resetProcessState() {
    SharedApplication::shared().resetForTesting();
    tw::setDefaultCoreDataProvider(nullptr);
    BTActionExecutor::setDefaultExecutor(nullptr);
    TyphoonComponentFactory::clearDefaultFactory();
    tw::RunLoop::main().drain();
  }

  template <class T = QWidget>
  T* child(const char* name) const {
    return window_->findChild<T*>(name);
  }

  QWidget* focus() const { return QApplication::focusWidget(); }

  // Whether the detail pane shows `title`, alone (an earlier pane's transition is over).
  bool detailShows(const QString& title) const {
    const auto fields = window_->findChildren<QLineEdit*>("TitleField");
    return fields.size() == 1 && fields[0]->text() == title;
  }

  void key(int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::activePopupWidget();
    if (!target) target = QApplication::focusWidget();
    if (!target) {
      // A closed popup may leave no window active here; the main window takes the keys then.
      window_->activateWindow();
      runUntil([&] { return QApplication::activeWindow() == window_; });
      target = window_->focusWidget() ? window_->focusWidget() : window_;
    }
    QTest::keyClick(target, static_cast<Qt::Key>(k), modifiers);
    settle(0.02);
  }

  std::shared_ptr<BTTimer> timer(const std::string& title) {
    for (const auto& t : tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimer>())
      if (t->title() == title) return t;
    return nullptr;
  }

  template <class T>
  void addAction(const std::shared_ptr<BTTimeObject>& owner, std::int64_t order) {
    auto action = BTActionObject::actionObject<T>();
    BTActionObjectUtil::setDefaultValues(*action);
    action->setTimeObject(owner);
    action->setSortOrder(order);
    auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
    trigger->setStateFrom(20);
    trigger->setStateTo(21);
    action->setTrigger(trigger);
    owner->addActionObject(action);
  }

  // Tabs once round the window, from `from`, and lists the widgets met.
  std::vector<QPointer<QWidget>> tabCycle(QWidget* from) {
    from->setFocus(Qt::TabFocusReason);
    std::vector<QPointer<QWidget>> met{focus()};
    for (int i = 0; i < 60; ++i) {
      key(Qt::Key_Tab);
      if (focus() == from) break;
      met.push_back(focus());
    }
    return met;
  }

  // What an earlier session stored.
  std::vector<tw::app::sample::Entry> stored_ = {
      {"Tea", 1, 3, false}, {"Eggs", 1, 7, false}, {"Lap", 2, 0, false}};
  std::shared_ptr<AppDelegate> delegate_;
  MainWindow* window_ = nullptr;
  tw::test::ScopedXdg xdg_;
};

TEST_F(KeyboardAccessTest, TabReachesEveryControlOfTheWindowInOrderAndEachSaysWhatItDoes) {
  // The Timers tab, chosen with the arrow keys from the Alarms tab.
  auto* alarms = child<QPushButton>("alarmTab");
  alarms->setFocus(Qt::TabFocusReason);
  key(Qt::Key_Right);
  EXPECT_EQ(focus(), child("timerTab"));
  EXPECT_TRUE(child<QPushButton>("timerTab")->isChecked());
  // The list: Home selects the first timer, and the detail pane shows it.
  child("MasterList")->setFocus(Qt::TabFocusReason);
  key(Qt::Key_Home);
  ASSERT_TRUE(runUntil([&] { return detailShows("Tea") && child("enabledSwitch"); }))
      << "the detail pane never showed the selected timer with its actions";

  const auto met = tabCycle(window_->menuButton());
  std::vector<std::string> order;
  order.reserve(met.size());
  for (const auto& w : met) order.push_back(w ? w->objectName().toStdString() : "(gone)");
  // The tabs are one stop (the chosen one), as a group of radio buttons is.
  const std::vector<std::string> expected = {
      "menuButton", "timerTab",      "MasterList", "addButton",        "removeButton",
      "TitleField", "StartButton",   "FoldButton", "ActionsListTable", "enabledSwitch",
      "editButton", "enabledSwitch", "editButton", "addActionButton"};
  EXPECT_EQ(order, expected) << "Tab order round the main window";

  // Names and roles, as a screen reader reads them.
  std::set<QString> names;
  for (const auto& w : met) {
    if (!w) continue;
    EXPECT_FALSE(nameOf(w).isEmpty()) << w->objectName().toStdString() << " has no name";
    names.insert(nameOf(w));
  }
  EXPECT_EQ(roleOf(child("timerTab")), QAccessible::RadioButton) << "tabs are not check boxes";
  EXPECT_EQ(nameOf(child("addButton")), "Add timer");
  EXPECT_EQ(nameOf(child("removeButton")), "Remove timer");
  EXPECT_EQ(roleOf(child("MasterList")), QAccessible::List);
  EXPECT_EQ(nameOf(child("MasterList")), "Timers");
  EXPECT_EQ(nameOf(child("TitleField")), "Title");
  EXPECT_EQ(nameOf(child("FoldButton")), "Hide actions");
  EXPECT_EQ(roleOf(child("enabledSwitch")), QAccessible::CheckBox);
  EXPECT_EQ(roleOf(window_->menuButton()), QAccessible::ButtonMenu);
  EXPECT_EQ(nameOf(window_->menuButton()), "Main Menu");
  // Only the list shares its name, with the tab that chose it.
  EXPECT_EQ(names.size(), met.size() - 1)
      << "two controls share a name: "
      << QStringList(names.begin(), names.end()).join(" | ").toStdString();
  EXPECT_EQ(roleOf(child("alarmTab")), QAccessible::RadioButton);
  for (QWidget* edit : window_->findChildren<QToolButton*>("editButton"))
    if (edit->isVisible()) {
      EXPECT_TRUE(nameOf(edit).startsWith("Edit action: ")) << nameOf(edit).toStdString();
    }
  const auto buttons = window_->standardButtons();
  EXPECT_EQ(nameOf(buttons[0]), "Close");
  EXPECT_EQ(nameOf(buttons[1]), "Minimize");
  EXPECT_EQ(nameOf(buttons[2]), "Maximize");
  EXPECT_EQ(unnamedIn(window_), "") << "unnamed controls";
  // The list's rows are items, named by what they show, the selected one marked so.
  int items = 0;
  for (QWidget* w : child("MasterList")->findChildren<QWidget*>()) {
    if (roleOf(w) != QAccessible::ListItem || !w->isVisible()) continue;
    ++items;
    auto* iface = QAccessible::queryAccessibleInterface(w);
    EXPECT_EQ(iface->state().selected, nameOf(w).startsWith("Tea")) << nameOf(w).toStdString();
  }
  EXPECT_EQ(items, 2);
}

// The window's accessible tree, depth first as a reader walks it, each node with its parent.
struct Node {
  QAccessibleInterface* iface;
  QAccessibleInterface* parent;
};
void walkTree(QAccessibleInterface* iface, std::vector<Node>& out, int depth = 0) {
  if (!iface || depth > 40) return;
  for (int i = 0; i < iface->childCount(); ++i) {
    QAccessibleInterface* child = iface->child(i);
    if (!child) continue;
    out.push_back({child, iface});
    walkTree(child, out, depth + 1);
  }
}

TEST_F(KeyboardAccessTest, TheAccessibleTreeHoldsWhatIsShownOnceInTheOrderTabReachesIt) {
  child<QPushButton>("timerTab")->click();
  child("MasterList")->setFocus(Qt::TabFocusReason);
  key(Qt::Key_Home);
  ASSERT_TRUE(runUntil([&] { return detailShows("Tea") && child("enabledSwitch"); }));
  settle(0.5);  // the placeholders' fades are over

  std::vector<Node> tree;
  walkTree(QAccessible::queryAccessibleInterface(window_), tree);
  const auto name = [](const Node& n) { return n.iface->text(QAccessible::Name); };
  const auto within = [&](QWidget* ancestor, const Node& n) {
    auto* w = qobject_cast<QWidget*>(n.iface->object());
    return w && ancestor->isAncestorOf(w);
  };
  QWidget* masterList = child("MasterList");
  QWidget* actionsList = child("ActionsListTable");
  ASSERT_TRUE(masterList && actionsList);
  std::map<QString, int> titleFields;
  std::map<QString, int> texts;
  for (const auto& n : tree) {
    const QString what = name(n) + " (" + QString::number(n.iface->role()) + ")";
    // Both lists hold rows: their placeholders are not shown, so not read out.
    EXPECT_FALSE(name(n).startsWith("No ") || name(n).startsWith("Start by creating"))
        << what.toStdString();
    if (!within(masterList, n) && !within(actionsList, n)) continue;
    // In the lists: only what is shown, and each thing once.
    EXPECT_FALSE(n.iface->state().invisible) << what.toStdString();
    EXPECT_FALSE(n.iface->rect().isEmpty()) << what.toStdString();
    EXPECT_NE(n.iface->role(), QAccessible::ScrollBar) << "two rows need no scroll bar";
    EXPECT_GE(n.parent->indexOfChild(n.iface), 0) << what.toStdString();
    EXPECT_EQ(n.iface->parent(), n.parent) << "its parent is where it was found";
    if (n.iface->role() == QAccessible::StaticText) {
      EXPECT_FALSE(name(n).trimmed().isEmpty()) << "an empty label";
      ++texts[name(n)];
    }
    if (n.iface->role() == QAccessible::EditableText && within(masterList, n))
      ++titleFields[n.iface->text(QAccessible::Value) + (name(n).isEmpty() ? " unnamed" : "")];
  }
  EXPECT_EQ(titleFields, (std::map<QString, int>{{"Tea", 1}, {"Eggs", 1}}))
      << "each row's title field is there once, named";
  EXPECT_EQ(texts["3:00"], 1) << "a row's time is read once";
  EXPECT_EQ(texts["7:00"], 1);

  // The order of the tree is the order on screen and of Tab: the title bar, then the list's
  // pane, then the detail pane.
  std::vector<std::string> order;
  for (const auto& n : tree) {
    auto* w = qobject_cast<QWidget*>(n.iface->object());
    if (!w) continue;
    for (const char* stop : {"menuButton", "timerTab", "MasterList", "addButton", "TitleField",
                             "StartButton", "ActionsListTable", "addActionButton"})
      if (w->objectName() == stop && (order.empty() || order.back() != stop)) order.push_back(stop);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"menuButton", "timerTab", "MasterList", "addButton",
                                             "TitleField", "StartButton", "ActionsListTable",
                                             "addActionButton"}));
}

TEST_F(KeyboardAccessTest, KeysEditDeleteStartAndOpenTheMenuAndEscapeClosesWhatTheyOpened) {
  child<QPushButton>("timerTab")->click();
  auto* list = child("MasterList");
  list->setFocus(Qt::TabFocusReason);
  key(Qt::Key_Home);
  key(Qt::Key_Down);
  key(Qt::Key_Down);
  ASSERT_TRUE(runUntil([&] { return detailShows("Eggs"); })) << "Down stops at the last row";
  key(Qt::Key_Up);
  ASSERT_TRUE(runUntil([&] { return detailShows("Tea"); }));

  // Return edits the value: the popover opens with its first field focused, Escape closes it.
  key(Qt::Key_Return);
  ASSERT_TRUE(runUntil([] { return QApplication::activePopupWidget() != nullptr; }))
      << "Return opened no value popover";
  QWidget* popover = QApplication::activePopupWidget();
  ASSERT_TRUE(qobject_cast<QLineEdit*>(popover->focusWidget()))
      << "the popover's first field has no focus";
  EXPECT_EQ(nameOf(popover->focusWidget()), "hours");
  key(Qt::Key_Escape);
  EXPECT_TRUE(runUntil([] { return QApplication::activePopupWidget() == nullptr; }));
  // Typed into and ended with Return, the value is the timer's.
  key(Qt::Key_Return);
  ASSERT_TRUE(runUntil([] {
    return QApplication::activePopupWidget() && QApplication::activePopupWidget()->focusWidget();
  }));
  QTest::keyClicks(QApplication::activePopupWidget()->focusWidget(), "2");
  key(Qt::Key_Return);
  EXPECT_TRUE(runUntil([] { return QApplication::activePopupWidget() == nullptr; }));
  EXPECT_EQ(std::dynamic_pointer_cast<BTSettableTimeObject>(timer("Tea"))->time()->hour(), 2);

  // Delete asks first, from the list and from the detail pane alike; Escape cancels.
  QWidget* pane = child("TimingDisplay");
  for (QWidget* from : {list, pane}) {
    from->setFocus(Qt::OtherFocusReason);
    QString asked;
    tw::ui::test::whenMessageBoxShown([&](QMessageBox* box) {
      asked = box->text();
      QTest::keyClick(box, Qt::Key_Escape);
    });
    key(Qt::Key_Delete);
    ASSERT_TRUE(runUntil([&] { return !asked.isEmpty(); }))
        << "Delete asked nothing with the focus on " << from->objectName().toStdString();
    settle();
    EXPECT_TRUE(timer("Tea")) << "Escape cancels the deletion";
  }
  tw::ui::test::whenMessageBoxShown(
      [](QMessageBox* box) { tw::ui::test::buttonTitled(box, "Delete")->click(); });
  list->setFocus(Qt::TabFocusReason);
  key(Qt::Key_Delete);
  EXPECT_TRUE(runUntil([&] { return !timer("Tea"); })) << "Delete, confirmed, deletes";

  // Space on the focused Start button starts the selected timer.
  list->setFocus(Qt::TabFocusReason);
  key(Qt::Key_Home);
  ASSERT_TRUE(runUntil([&] { return detailShows("Eggs"); }));
  child("StartButton")->setFocus(Qt::TabFocusReason);
  key(Qt::Key_Space);
  EXPECT_TRUE(runUntil([&] { return timer("Eggs")->timingState() == 20; }));

  // F10 opens the menu, whose commands show their shortcuts; Preferences opens the settings
  // window, which Escape closes.
  // The menu runs its own loop: it is read and answered from inside it.
  QStringList titles, shortcuts;
  auto* poll = new QTimer(window_);
  QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || !menu->isVisible()) return;
    poll->deleteLater();
    for (QAction* item : menu->actions())
      if (!item->isSeparator()) {
        titles << item->text();
        shortcuts << item->shortcut().toString();
      }
    QTest::keyClick(menu, Qt::Key_Down);  // the first item
    QTest::keyClick(menu, Qt::Key_Return);
  });
  poll->start(20);
  key(Qt::Key_F10);
  EXPECT_EQ(titles.join("|").toStdString(),
            "Preferences…|Check for Updates…|Send Feedback…|Tickwell Help|Quit Tickwell");
  EXPECT_EQ(shortcuts.join("|").toStdString(), "Ctrl+,|||F1|Ctrl+Q")
      << "the menu shows the commands' shortcuts";
  ASSERT_TRUE(runUntil([&] {
    auto settings = delegate_->settingsWindowController();
    return settings && settings->window()->isVisible();
  })) << "Preferences did not open from the menu";
  QWidget* settingsWindow = delegate_->settingsWindowController()->window();
  EXPECT_EQ(unnamedIn(settingsWindow), "");
  settingsWindow->activateWindow();
  ASSERT_TRUE(runUntil([&] { return QApplication::activeWindow() == settingsWindow; }));
  key(Qt::Key_Escape);
  EXPECT_TRUE(runUntil([&] { return !settingsWindow->isVisible(); }));

  // Quit from the menu asks first (the timer runs); Escape keeps the application running.
  window_->activateWindow();
  ASSERT_TRUE(runUntil([&] { return QApplication::activeWindow() == window_; }));
  QString asked;
  tw::ui::test::whenMessageBoxShown([&](QMessageBox* box) {
    asked = box->text();
    QTest::keyClick(box, Qt::Key_Escape);
  });
  window_->findChild<QAction*>("terminate")->trigger();
  ASSERT_TRUE(runUntil([&] { return !asked.isEmpty(); }));
  EXPECT_EQ(asked, "Are you sure you want to quit?");
  settle();
  EXPECT_FALSE(SharedApplication::shared().hasTerminated());
}

// A person who clicks a row and goes on with the keyboard acts on that row: the click gives the
// list the keyboard, and shows it; Return opens the value popover as for a row reached with Tab.
TEST_F(KeyboardAccessTest, AClickedRowTakesTheKeyboardVisiblyAndWhatIsTypedSetsItsDuration) {
  child<QPushButton>("timerTab")->click();
  auto* list = child<tw::ui::TableView>("MasterList");
  ASSERT_TRUE(runUntil([&] { return list->numberOfRows() == 2 && list->viewAtRow(1); }));
  for (int row : {1, 0}) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->rectOfRow(row).center());
    ASSERT_TRUE(runUntil([&] { return detailShows(row == 0 ? "Tea" : "Eggs"); }));
    EXPECT_EQ(focus(), list) << "row " << row;
    EXPECT_TRUE(list->rowViewAtRow(row)->showsFocusRing()) << "the focus is shown on the row";
    EXPECT_FALSE(child<QLineEdit>("TitleField")->hasFocus());
  }
  key(Qt::Key_Return);
  ASSERT_TRUE(runUntil([] {
    return QApplication::activePopupWidget() && QApplication::activePopupWidget()->focusWidget();
  })) << "Return on the clicked row opened no value popover";
  for (const char* typed : {"0", "\t", "0", "\t", "25", "\r"}) {
    QWidget* field = QApplication::activePopupWidget()->focusWidget();
    if (typed[0] == '\t')
      key(Qt::Key_Tab);
    else if (typed[0] == '\r')
      key(Qt::Key_Return);
    else
      QTest::keyClicks(field, typed);
  }
  EXPECT_TRUE(runUntil([] { return QApplication::activePopupWidget() == nullptr; }));
  auto tea = std::dynamic_pointer_cast<BTSettableTimeObject>(timer("Tea"));
  ASSERT_TRUE(tea) << "the timer was renamed";
  EXPECT_EQ(tea->time()->hour(), 0);
  EXPECT_EQ(tea->time()->minute(), 0);
  EXPECT_EQ(tea->time()->second(), 25);
}

class TitleEditTest : public KeyboardAccessTest {
 protected:
  TitleEditTest() { stored_ = {{longTitle(), 1, 3, false}, {"Eggs", 1, 7, false}}; }
  static std::string longTitle() {
    std::string title = "BEGIN-";
    while (title.size() < (1u << 20)) title += "long title of a timer ";
    return title + "-END";
  }
  static bool saved() { return !tw::defaultCoreDataProvider()->objectContext()->hasChanges(); }
  void click(int row) {
    auto* list = child<tw::ui::TableView>("MasterList");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->rectOfRow(row).center());
    settle();
  }
};

// Only what is shown of a title is laid out: cut with an ellipsis, whole in the tool tip and the
// accessible tree, whole again once an edit begins, and never written back unless typed in. An
// edit that ends (Return, Escape, the focus leaving) is saved there and then.
TEST_F(TitleEditTest, AMegabyteTitleShowsElidedAndWholeToEditAndAFinishedRenameIsSavedAtOnce) {
  child<QPushButton>("timerTab")->click();
  auto* list = child<tw::ui::TableView>("MasterList");
  ASSERT_TRUE(runUntil([&] { return list->numberOfRows() == 2 && list->viewAtRow(1); }));
  click(0);
  auto* pane = dynamic_cast<ElidingLineEdit*>(child<QLineEdit>("TitleField"));
  ASSERT_TRUE(runUntil([&] { return pane && pane->wholeText().size() > 1000; }));
  auto* row = dynamic_cast<MasterListItemTableCellView*>(list->viewAtRow(0))->titleLabel();
  const QString whole = QString::fromStdString(longTitle());
  for (ElidingLineEdit* field : {row, pane}) {
    const QString shown = field->text();
    EXPECT_TRUE(shown.startsWith("BEGIN-long title") && shown.endsWith(QChar(0x2026)))
        << shown.toStdString();
    EXPECT_LE(field->fontMetrics().horizontalAdvance(shown), field->width());
    EXPECT_EQ(field->cursorPosition(), 0);
    EXPECT_EQ(field->toolTip(), whole);
  }
  EXPECT_EQ(nameOf(row), whole);
  EXPECT_EQ(nameOf(pane), "Title");
  EXPECT_EQ(pane->accessibleDescription(), whole);
  ASSERT_TRUE(saved());
  // Clicked into, the pane's field holds the whole title; left untouched, nothing is written.
  QTest::mouseClick(pane, Qt::LeftButton);
  ASSERT_TRUE(pane->hasFocus());
  EXPECT_EQ(pane->text(), whole);
  click(1);
  ASSERT_TRUE(runUntil([&] { return detailShows("Eggs"); }));
  EXPECT_TRUE(saved()) << "nothing written back";
  EXPECT_EQ(timer(longTitle())->title(), longTitle());

  // A rename in the list is saved as it ends, with Return, Escape and the focus leaving.
  auto* eggs = dynamic_cast<MasterListItemTableCellView*>(list->viewAtRow(1));
  const auto rename = [&](const char* typed, int endKey) {
    eggs->beginTitleEditing();
    QTest::keyClicks(eggs->titleLabel(), typed);
    EXPECT_FALSE(saved()) << "keystrokes wait for the auto-save";
    if (endKey)
      QTest::keyClick(eggs->titleLabel(), static_cast<Qt::Key>(endKey));
    else
      click(0);
    EXPECT_TRUE(runUntil(saved, 2.0)) << typed << " ended with key " << endKey;
  };
  rename("Boiled", Qt::Key_Return);
  EXPECT_TRUE(timer("Boiled"));
  rename("Fried", Qt::Key_Escape);
  EXPECT_TRUE(timer("Boiled")) << "Escape restored the title";
  rename("Soft", 0);
  EXPECT_TRUE(timer("Soft"));
}

}  // namespace
