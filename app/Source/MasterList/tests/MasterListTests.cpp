// The master list on Qt's offscreen platform: the drop rule and what it refuses, cells that
// never carry a value (or a write) across reuse, and the controller's rules for tabs, deletion,
// the context menu and menu validation, against a real store.

#include <gtest/gtest.h>

#include <set>

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>

#include "app/Source/Controls/BTStaticPlaceholderView.h"
#include "app/Source/MasterList/MasterListItemTableCellView.h"
#include "app/Source/MasterList/MasterListTableSource.h"
#include "app/Source/MasterList/MasterListTableView.h"
#include "app/Source/MasterList/MasterViewControllerWithContextMenu.h"
#include "app/Source/MasterList/Popover.h"
#include "app/Source/MasterList/PopoverAccessible.h"
#include "app/Source/Tables/DraggingTableSource.h"
#include "core/Source/Model/BTSettableTimeObject.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/ViewModels/BTAlarmListItemViewModel.h"
#include "core/Source/ViewModels/BTMasterListViewModel.h"
#include "core/Source/ViewModels/BTTimerListItemViewModel.h"
#include "core/testsupport/ViewModelTestSupport.h"
#include "platform/inject/Injection.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::ui::TableDropOperation;

class RecordingDragSource : public DraggingTableSource {
 public:
  using DraggingTableSource::DraggingTableSource;
  int numberOfRows(tw::ui::TableView&) override { return 5; }
  tw::ui::TableCellView* viewForRow(tw::ui::TableView&, int) override { return nullptr; }
  void finalizeMoveRow(tw::ui::TableView&, int from, int to) override {
    moves.emplace_back(from, to);
  }
  std::vector<std::pair<int, int>> moves;
};

TEST(DraggingTableSourceTest, DropsAboveRowsOfTheSameTableMoveToTheRowsFinalIndex) {
  tw::ui::test::application();
  tw::ui::TableView table;
  tw::ui::TableView other;
  RecordingDragSource source(&table);
  QMimeData data;
  ASSERT_TRUE(source.writeRows(table, {3, 1}, data));
  EXPECT_EQ(DraggingTableSource::draggedRow(data), 3) << "only the first index travels";

  const auto drop = [&](int from, int row) {
    QMimeData d;
    source.writeRows(table, {from}, d);
    return source.acceptDrop(table, d, row, TableDropOperation::Above);
  };
  EXPECT_TRUE(drop(0, 3));
  EXPECT_TRUE(drop(3, 0));
  EXPECT_TRUE(drop(2, 2));  // right above itself
  EXPECT_TRUE(drop(2, 3));  // right below itself
  EXPECT_EQ(source.moves, (std::vector<std::pair<int, int>>{{0, 2}, {3, 0}, {2, 2}, {2, 2}}));

  EXPECT_EQ(source.validateDrop(table, &table, data, 1, TableDropOperation::Above), Qt::MoveAction);
  EXPECT_EQ(source.validateDrop(table, &table, data, 1, TableDropOperation::On), Qt::IgnoreAction);
  EXPECT_EQ(source.validateDrop(table, &other, data, 1, TableDropOperation::Above),
            Qt::IgnoreAction)
      << "a drag from another table";
  EXPECT_EQ(source.validateDrop(table, nullptr, data, 1, TableDropOperation::Above),
            Qt::IgnoreAction)
      << "a drag from another application";
  QMimeData empty, garbage;
  garbage.setData(DraggingTableSource::kRowIndexMimeType, "-4x");
  EXPECT_FALSE(source.acceptDrop(table, empty, 1, TableDropOperation::Above));
  EXPECT_FALSE(source.acceptDrop(table, garbage, 1, TableDropOperation::Above));
  EXPECT_EQ(source.moves.size(), 4u);
}

class MasterListUiTest : public tw::test::ViewModelTest {
 protected:
  void SetUp() override {
    tw::ui::test::application();
    ViewModelTest::SetUp();
  }
  void TearDown() override {
    controller_.reset();
    ViewModelTest::TearDown();
  }
  void open(std::int64_t mode) {
    settings_->masterDetailBundle()->setViewMode(mode);
    controller_ = std::make_shared<MasterViewControllerWithContextMenu>();
    controller_->view()->resize(280, 500);
    controller_->view()->show();
    pump();
  }
  QString title(int row) const {
    auto* cell =
        dynamic_cast<MasterListItemTableCellView*>(controller_->tableView()->viewAtRow(row));
    return cell ? cell->titleLabel()->text() : QString("<none>");
  }
  std::shared_ptr<MasterViewControllerWithContextMenu> controller_;
};

TEST_F(MasterListUiTest, CellsWriteTitlesOnlyOnUserEditsAndCarryNothingAcrossReuse) {
  auto alarms = makeObjects(0, 1);
  auto timers = makeObjects(1, 1);
  MasterListItemTableCellView cell;
  cell.bindViewModel(BTTimeObjectListItemViewModel::create<BTAlarmListItemViewModel>(alarms[0]));
  EXPECT_EQ(cell.titleLabel()->text(), "0");
  EXPECT_FALSE(cell.secondaryDetailLabel()->text().isEmpty()) << "the alarm's day";
  cell.unbindViewModel();
  cell.prepareForReuse();
  EXPECT_EQ(alarms[0]->title(), "0") << "clearing a reused cell writes nothing back";
  for (QLabel* label :
       {cell.subtitleLabel(), cell.primaryDetailLabel(), cell.secondaryDetailLabel()})
    EXPECT_TRUE(label->text().isEmpty());
  EXPECT_EQ(cell.stateIndicatorColor(), QColor(Qt::black));

  cell.bindViewModel(BTTimeObjectListItemViewModel::create<BTTimerListItemViewModel>(timers[0]));
  EXPECT_TRUE(cell.secondaryDetailLabel()->text().isEmpty()) << "timers have no day";
  alarms[0]->setTitle("Renamed elsewhere");
  EXPECT_EQ(cell.titleLabel()->text(), "0") << "the old object's binding has ended";
  cell.titleLabel()->setText("Set by code");
  EXPECT_EQ(timers[0]->title(), "0");
  Q_EMIT cell.titleLabel()->textEdited("Tea");
  EXPECT_EQ(timers[0]->title(), "Tea") << "the user's edit is saved at once";
  EXPECT_THROW(cell.bindViewModel(timers[0]), std::exception) << "not a view model";

  // Longer than a line edit holds by default: held whole, never cut and written back; shown
  // from its start, elided at the end (the tail is cut, never the head).
  const std::string longTitle(40'000, 'x');
  alarms[0]->setTitle(longTitle);
  cell.unbindViewModel();
  cell.prepareForReuse();
  cell.bindViewModel(BTTimeObjectListItemViewModel::create<BTAlarmListItemViewModel>(alarms[0]));
  EXPECT_EQ(cell.titleLabel()->wholeText().size(), 40'000);
  EXPECT_TRUE(cell.titleLabel()->text().endsWith(QChar(0x2026)));
  EXPECT_EQ(cell.titleLabel()->cursorPosition(), 0) << "shown from its start, not its tail";
  EXPECT_EQ(alarms[0]->title(), longTitle);
}

TEST_F(MasterListUiTest, EachEmptyListShowsItsKindsIconOverALegibleHint) {
  std::set<qint64> icons;
  for (std::int64_t mode = 0; mode < 3; ++mode) {
    open(mode);
    auto* placeholder = controller_->emptyContentView();
    ASSERT_FALSE(placeholder->imageView()->pixmap().isNull()) << mode;
    icons.insert(placeholder->imageView()->pixmap().cacheKey());
    placeholder->detailsLabel()->ensurePolished();
    const QColor hint = placeholder->detailsLabel()->palette().color(QPalette::WindowText);
    EXPECT_GE(hint.lightness(), 220) << "light on the tinted pane";
    EXPECT_GE(hint.alpha(), 200) << "not faded into it";
  }
  EXPECT_EQ(icons.size(), 3u) << "one icon per kind";
}

TEST_F(MasterListUiTest, RowsFollowTheListThroughDeleteMoveAndTabs) {
  makeObjects(1, 3);
  makeObjects(2, 1);
  settings_->timeObjectsBundle()->setPromptBeforeDelete(false);
  open(1);
  auto* table = controller_->tableView();
  EXPECT_EQ(table->numberOfRows(), 3);
  EXPECT_EQ(table->selectedRow(), 0);
  EXPECT_TRUE(controller_->timerTabButton()->isChecked());
  EXPECT_TRUE(controller_->removeButton()->isEnabled());

  // A row the list no longer has (the provider changed before the table heard of it) gets an
  // empty, unbound cell.
  auto* stale = dynamic_cast<MasterListItemTableCellView*>(
      controller_->tableSource()->viewForRow(*table, 10));
  ASSERT_NE(stale, nullptr);
  EXPECT_EQ(stale->viewModel(), nullptr);
  EXPECT_TRUE(stale->titleLabel()->text().isEmpty());
  delete stale;

  // A click on a row's text selects the row; one on empty space keeps the selection.
  auto* label =
      dynamic_cast<MasterListItemTableCellView*>(table->viewAtRow(1))->primaryDetailLabel();
  QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(3, 3));
  pump();
  EXPECT_EQ(table->selectedRow(), 1);
  EXPECT_EQ(controller_->viewModel()->selectionIndex(), 1);
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(10, 400));
  pump();
  EXPECT_EQ(table->selectedRow(), 1) << "the view model restores the row";
  table->selectRow(0);
  pump();

  // Drag row 2 above row 0: the store's order changes, the selection stays on its object.
  QMimeData data;
  controller_->tableSource()->writeRows(*table, {2}, data);
  ASSERT_TRUE(controller_->tableSource()->acceptDrop(*table, data, 0, TableDropOperation::Above));
  pump();
  EXPECT_EQ(title(0), "2");
  EXPECT_EQ(title(1), "0");
  EXPECT_EQ(table->selectedRow(), 1);
  // A forged index beyond the list is ignored rather than raising in the store.
  QMimeData forged;
  forged.setData(DraggingTableSource::kRowIndexMimeType, "40");
  EXPECT_TRUE(controller_->tableSource()->acceptDrop(*table, forged, 0, TableDropOperation::Above));
  pump();
  EXPECT_EQ(table->numberOfRows(), 3);

  // Deleting the selected row selects the object that moved into its place.
  controller_->removeTimeObject();
  pump();
  EXPECT_EQ(table->numberOfRows(), 2);
  EXPECT_EQ(table->selectedRow(), 1);
  EXPECT_EQ(title(1), "1");
  EXPECT_EQ(controller_->viewModel()->selectionIndex(), 1);

  // Tabs: a foreign sender changes nothing; next from stopwatches wraps to alarms.
  QObject stranger;
  controller_->selectTab(&stranger);
  EXPECT_EQ(controller_->viewModel()->viewMode(), 1);
  EXPECT_TRUE(controller_->timerTabButton()->isChecked());
  controller_->selectPreviousTab();
  pump();
  controller_->selectPreviousTab();
  pump();
  EXPECT_EQ(controller_->viewModel()->viewMode(), 2);
  EXPECT_FALSE(controller_->validateAction("editTimeObjectValue")) << "stopwatches";
  EXPECT_TRUE(controller_->validateAction("editTimeObjectTitle"));
  controller_->selectNextTab();
  pump();
  EXPECT_EQ(controller_->viewModel()->viewMode(), 0);
  EXPECT_TRUE(controller_->alarmTabButton()->isChecked());
  EXPECT_EQ(table->numberOfRows(), 0);
  EXPECT_EQ(controller_->emptyContentViewAlpha(), 1.0) << "the empty placeholder shows";
  EXPECT_FALSE(controller_->validateAction("removeTimeObject"));
  EXPECT_FALSE(controller_->removeButton()->isEnabled());

  // A stored mode outside 0-2: the tab commands do nothing.
  settings_->masterDetailBundle()->setViewMode(7);
  controller_->selectNextTab();
  controller_->selectPreviousTab();
  EXPECT_EQ(controller_->viewModel()->viewMode(), 7);
}

TEST_F(MasterListUiTest, ContextMenuActsOnTheClickedRowAndNothingOverEmptySpace) {
  auto timers = makeObjects(1, 2);
  for (auto& timer : timers)
    if (auto time = std::dynamic_pointer_cast<BTSettableTimeObject>(timer)->time())
      time->setMinute(5);
  settings_->timeObjectsBundle()->setPromptBeforeDelete(false);
  open(1);
  auto* table = controller_->tableView();
  const QPoint row1 = table->rectOfRow(1).center();
  QMenu* menu = table->prepareContextMenu(row1);
  ASSERT_NE(menu, nullptr);
  auto* start = controller_->contextMenuItem("MenuItemStart");
  auto* reset = controller_->contextMenuItem("MenuItemReset");
  auto* value = controller_->contextMenuItem("MenuItemEditValue");
  ASSERT_TRUE(start && reset && value);
  EXPECT_EQ(controller_->capturedControl()->timeObject(), timers[1]);
  EXPECT_TRUE(start->isEnabled());
  EXPECT_FALSE(reset->isEnabled()) << "a timer at rest has nothing to reset";
  EXPECT_TRUE(value->isEnabled());
  const QString startTitle = start->text();
  start->trigger();
  pump();
  EXPECT_EQ(timers[1]->timingState(), 20) << "Start started the clicked row's timer";
  table->prepareContextMenu(row1);
  EXPECT_NE(start->text(), startTitle) << "a running timer offers to pause";
  EXPECT_TRUE(reset->isEnabled());

  // Deleting passes the object's index at the time of the choice, not the selected row.
  EXPECT_EQ(table->selectedRow(), 0);
  controller_->contextMenuItem("MenuItemDelete")->trigger();
  pump();
  ASSERT_EQ(table->numberOfRows(), 1);
  EXPECT_EQ(title(0), "0");

  // Over no row: the earlier capture must not be acted on.
  table->prepareContextMenu(QPoint(10, 400));
  EXPECT_EQ(controller_->capturedControl(), nullptr);
  EXPECT_FALSE(start->isEnabled());
  EXPECT_FALSE(controller_->contextMenuItem("MenuItemDelete")->isEnabled());
  controller_->onContextMenuDelete();
  pump();
  EXPECT_EQ(table->numberOfRows(), 1);
}

// Return ends an edit of the title there and then: it must not go on to the list, where it
// would open the row's value popover over the renamed row. Escape ends it going back.
TEST_F(MasterListUiTest, ReturnAndEscapeEndATitleEditAndOpenNothingElse) {
  auto timers = makeObjects(1, 2);
  open(1);
  auto* table = controller_->tableView();
  table->prepareContextMenu(table->rectOfRow(1).center());
  controller_->contextMenuItem("MenuItemEditTitle")->trigger();
  pump();
  auto* cell = dynamic_cast<MasterListItemTableCellView*>(table->viewAtRow(1));
  ASSERT_NE(cell, nullptr);
  QLineEdit* field = cell->titleLabel();
  ASSERT_FALSE(field->testAttribute(Qt::WA_TransparentForMouseEvents)) << "being edited";
  const auto popoverShown = [] {
    for (QWidget* w : QApplication::allWidgets())
      if (dynamic_cast<tw::Popover*>(w) && w->isVisible()) return true;
    return false;
  };
  // The field is darkened while it is edited and shows its row through it otherwise.
  const auto fieldCorner = [&] {
    return table->grab().toImage().pixelColor(field->mapTo(table, QPoint(1, 1))).lightness();
  };
  field->window()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(field->window()));
  field->setFocus();
  const int edited = fieldCorner();
  for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
    field->selectAll();
    QTest::keyClicks(field, "Tea");
    QTest::keyClick(field, static_cast<Qt::Key>(key));
    pump();
    EXPECT_EQ(timers[1]->title(), "Tea");
    EXPECT_TRUE(field->testAttribute(Qt::WA_TransparentForMouseEvents)) << "the edit ended";
    EXPECT_EQ(field->cursorPosition(), 0) << "the title shows from its start again";
    EXPECT_FALSE(popoverShown()) << "key " << key;
    EXPECT_LT(edited, fieldCorner()) << "darkened only while edited";
    cell->beginTitleEditing();
  }
  // Escape ends the edit too, and puts back the title it began with.
  QTest::keyClicks(field, "Mug");
  EXPECT_EQ(timers[1]->title(), "Mug") << "written as typed";
  QTest::keyClick(field, Qt::Key_Escape);
  pump();
  EXPECT_EQ(timers[1]->title(), "Tea");
  EXPECT_EQ(field->text(), "Tea");
  EXPECT_TRUE(field->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST_F(MasterListUiTest, ContextMenuStatesFollowTheClickedRowsKindAndControl) {
  // Alarms: Start follows the control, which refuses to start an alarm that already runs.
  auto alarms = makeObjects(0, 2);
  auto timing = tw::defaultComponentForType<BTTimingController>();
  timing->timingControlForTimingObject(alarms[1])->startOrPause();
  pump();
  open(0);
  auto* table = controller_->tableView();
  auto* start = controller_->contextMenuItem("MenuItemStart");
  auto* value = controller_->contextMenuItem("MenuItemEditValue");
  for (int row : {0, 1}) {
    table->prepareContextMenu(table->rectOfRow(row).center());
    ASSERT_TRUE(controller_->capturedControl());
    EXPECT_EQ(start->isEnabled(), controller_->capturedControl()->isStartEnabled()) << row;
    EXPECT_EQ(start->isEnabled(), row == 0) << "a running alarm cannot be started again";
    EXPECT_TRUE(value->isEnabled());
  }

  // Stopwatches have no value to edit, from the context menu or the menu command.
  controller_.reset();
  makeObjects(2, 1);
  open(2);
  table = controller_->tableView();
  controller_->viewModel()->selectObjectAtIndex(0);
  table->prepareContextMenu(table->rectOfRow(0).center());
  value = controller_->contextMenuItem("MenuItemEditValue");
  ASSERT_TRUE(controller_->capturedControl());
  EXPECT_FALSE(value->isEnabled());
  EXPECT_TRUE(controller_->contextMenuItem("MenuItemStart")->isEnabled());
  EXPECT_TRUE(controller_->contextMenuItem("MenuItemEditTitle")->isEnabled());
  EXPECT_FALSE(controller_->validateAction("editTimeObjectValue"));
  EXPECT_TRUE(controller_->validateAction("editTimeObjectTitle"));
}

// What readers were told, in order, while a test listens.
std::vector<std::pair<QObject*, QAccessible::Event>>& heard() {
  static std::vector<std::pair<QObject*, QAccessible::Event>> events;
  return events;
}

// Every element below `iface`, depth first, each with the element it was found under.
void collect(QAccessibleInterface* iface,
             std::vector<std::pair<QAccessibleInterface*, QAccessibleInterface*>>& out,
             int depth = 0) {
  if (!iface || depth > 30) return;
  for (int i = 0; i < iface->childCount(); ++i)
    if (QAccessibleInterface* child = iface->child(i)) {
      out.emplace_back(child, iface);
      collect(child, out, depth + 1);
    }
}

// A value popover, a popup window, is read where it was opened: under its row, as a dialog named
// by its header, with its controls named; readers hear it come and go, and it leaves the tree
// when it closes. Opened by a click on the row and Return, as a person opens it.
TEST_F(MasterListUiTest, AValuePopoverIsReadUnderItsRowAsANamedDialogOnlyWhileShown) {
  const auto previous = tw::PopoverAccessible::setAnnouncer(
      [](QAccessibleEvent* event) { heard().emplace_back(event->object(), event->type()); });
  for (std::int64_t mode : {1, 0}) {
    SCOPED_TRACE(mode == 1 ? "timer" : "alarm");
    auto objects = makeObjects(mode, 2);
    open(mode);
    auto* table = controller_->tableView();
    ASSERT_TRUE(tw::ui::test::runUntil([&] { return table->rowViewAtRow(1) != nullptr; }));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->rectOfRow(1).center());
    pump();
    heard().clear();
    QTest::keyClick(table, Qt::Key_Return);
    ASSERT_TRUE(tw::ui::test::runUntil([] { return QApplication::activePopupWidget(); }));
    auto* popover = dynamic_cast<tw::Popover*>(QApplication::activePopupWidget());
    ASSERT_NE(popover, nullptr);
    const auto dialogs = [&] {
      std::vector<std::pair<QAccessibleInterface*, QAccessibleInterface*>> all, found;
      collect(QAccessible::queryAccessibleInterface(table), all);
      for (const auto& node : all)
        if (node.first->role() == QAccessible::Dialog) found.push_back(node);
      return found;
    };
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1u) << "the popover is not under the list once";
    auto [dialog, row] = shown.front();
    EXPECT_EQ(row->object(), table->rowViewAtRow(1)) << "not under the row it was opened from";
    EXPECT_EQ(dialog->parent(), row);
    EXPECT_GE(row->indexOfChild(dialog), 0);
    const QString rowTitle = title(1);
    EXPECT_EQ(dialog->text(QAccessible::Name), "Edit " + rowTitle);
    EXPECT_FALSE(dialog->state().invisible);
    EXPECT_EQ(dialog->rect(), popover->frameGeometry());
    EXPECT_EQ(dialog->window(), popover->windowHandle());

    // Its controls, each under the element it is found under, named by what they do.
    std::vector<std::pair<QAccessibleInterface*, QAccessibleInterface*>> inside;
    collect(dialog, inside);
    std::set<QString> fields, buttons;
    for (const auto& [node, parent] : inside) {
      EXPECT_EQ(node->parent(), parent) << node->text(QAccessible::Name).toStdString();
      if (node->state().invisible) continue;  // a hidden unit, read as not shown
      if (node->role() == QAccessible::EditableText) fields.insert(node->text(QAccessible::Name));
      if (node->role() == QAccessible::Button || node->role() == QAccessible::CheckBox)
        buttons.insert(node->text(QAccessible::Name));
    }
    std::set<QString> visibleFields;
    for (auto* field : popover->findChildren<QLineEdit*>())
      if (field->isVisibleTo(popover)) visibleFields.insert(tw::ui::test::accessibleName(field));
    EXPECT_EQ(fields, visibleFields);
    EXPECT_TRUE(fields.count("minutes")) << "the value fields are read by their units";
    EXPECT_FALSE(fields.count(QString())) << "an unnamed field";
    if (mode == 0) {
      for (const char* day : {"Repeat on Sunday", "Repeat on Wednesday", "Repeat on Saturday"})
        EXPECT_TRUE(buttons.count(day)) << day;
    }
    // The focused field's parents lead back to the dialog, so readers say where the focus is.
    QAccessibleInterface* up = QAccessible::queryAccessibleInterface(popover->focusWidget());
    while (up && up != dialog) up = up->parent();
    EXPECT_EQ(up, dialog) << "the focused field is not within the dialog";
    // Told that the dialog came.
    QObject* mark = dialog->object();
    const auto at = [&](QObject* object, QAccessible::Event what) {
      const auto& events = heard();
      for (std::size_t i = 0; i < events.size(); ++i)
        if (events[i].first == object && events[i].second == what) return static_cast<int>(i);
      return -1;
    };
    EXPECT_GE(at(mark, QAccessible::ObjectCreated), 0);

    // Renamed while open: the name follows and is announced.
    for (const auto& object : objects)
      if (QString::fromStdString(object->title()) == rowTitle) object->setTitle("Renamed");
    pump();
    EXPECT_EQ(dialog->text(QAccessible::Name), "Edit Renamed");
    EXPECT_GE(at(mark, QAccessible::NameChanged), 0);

    QTest::keyClick(popover->focusWidget(), Qt::Key_Escape);
    ASSERT_TRUE(tw::ui::test::runUntil([] { return !QApplication::activePopupWidget(); }));
    EXPECT_GE(at(mark, QAccessible::ObjectDestroyed), 0) << "its going is not told";
    EXPECT_TRUE(dialogs().empty()) << "a closed popover is still in the tree";
    controller_.reset();
    pump();
  }
  tw::PopoverAccessible::setAnnouncer(previous);
}

}  // namespace
