// The actions list on Qt's offscreen platform, against a real store: rows bound to the model,
// the placeholder, the switch and its labels across cell reuse, reordering, deleting and the
// edit paths, and that a replaced list is freed.

#include <gtest/gtest.h>

#include <QImage>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>

#include "app/Source/ActionsList/ActionListItemTableCellView.h"
#include "app/Source/ActionsList/ActionsListTableSource.h"
#include "app/Source/ActionsList/tests/ActionsUiTestSupport.h"
#include "app/Source/Controls/BTStaticPlaceholderView.h"
#include "app/Source/Controls/ElidingLabel.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/ViewModels/BTActionObjectListItemViewModel.h"
#include "core/Source/ViewModels/BTActionsListViewModel.h"

namespace {

using tw::test::ActionsUiTest;

ActionListItemTableCellView* cellAt(ActionsListViewController& list, int row) {
  return dynamic_cast<ActionListItemTableCellView*>(list.tableView()->viewAtRow(row));
}

TEST_F(ActionsUiTest, RowsFollowTheModelAndAReplacedListIsFreed) {
  auto timers = makeObjects(1, 2);
  auto flash = addAction<BTFlashScreenAction>(timers[0], 1);
  auto alert = addAction(timers[0], 0);
  auto list = openList(timers[0]);
  auto* table = list->tableView();
  ASSERT_EQ(table->numberOfRows(), 2);
  EXPECT_EQ(list->emptyContentViewAlpha(), 0.0) << "loaded with actions: no placeholder";
  EXPECT_EQ(list->statusLabel()->text(), "2 actions");
  auto rowModel = [&](int row) {
    return std::dynamic_pointer_cast<BTActionObjectListItemViewModel>(
        cellAt(*list, row)->viewModel());
  };
  EXPECT_EQ(rowModel(0)->actionObject(), alert) << "sorted by sort order";
  EXPECT_EQ(rowModel(1)->actionObject(), flash);
  EXPECT_EQ(cellAt(*list, 1)->titleLabel()->text().toStdString(), rowModel(1)->actionDescription());
  EXPECT_EQ(cellAt(*list, 1)->subtitleLabel()->text().toStdString(),
            rowModel(1)->triggerDescription());
  EXPECT_FALSE(list->removeButton()->isEnabled()) << "nothing selected";
  table->selectRow(1);
  EXPECT_EQ(list->viewModel()->selectionIndex(), 1);
  EXPECT_TRUE(list->removeButton()->isEnabled());

  std::weak_ptr<BTActionsListViewModel> oldModel = list->viewModel();
  list->setTimeObject(timers[0]);
  EXPECT_EQ(list->viewModel(), oldModel.lock()) << "the same object does not rebuild";

  list->setTimeObject(timers[1]);
  settle();
  EXPECT_TRUE(oldModel.expired()) << "the previous view model is released";
  EXPECT_EQ(table->numberOfRows(), 0);
  EXPECT_EQ(list->emptyContentViewAlpha(), 1.0);
  EXPECT_EQ(list->emptyContentView()->titleLabel()->text(), "No Actions Created");
  EXPECT_EQ(list->statusLabel()->text(), "0 actions");
  EXPECT_FALSE(list->removeButton()->isEnabled());

  // The status and Delete bindings of the old list are gone: a change there shows nowhere.
  std::weak_ptr<ActionsListViewController> weakList = list;
  list.reset();
  list_.reset();
  window_.reset();
  settle();
  EXPECT_TRUE(weakList.expired()) << "the controller is not kept alive by its view model";

  // A window that goes first takes the table with it; the controller then lets go of nothing.
  list = openList(timers[0]);
  window_.reset();
  list_.reset();
  list.reset();
  settle();
}

TEST_F(ActionsUiTest, AGoneLinkTargetIsSaidLongRowsElideAndTheScrollBarSuitsTheDarkPane) {
  auto timer = makeObjects(1, 1)[0];
  auto link = addAction<BTLinkTimeObjectAction>(timer, 0);
  link->setTargetAction(1);
  link->setTargetTimeObject(nullptr);  // what deleting the target leaves
  for (int i = 1; i < 12; ++i) addAction(timer, i);
  auto list = openList(timer);
  EXPECT_EQ(cellAt(*list, 0)->titleLabel()->text(),
            "The linked alarm, timer, or stopwatch was deleted");

  window_->resize(300, 400);
  settle();
  auto* title = dynamic_cast<ElidingLabel*>(cellAt(*list, 0)->titleLabel());
  ASSERT_TRUE(title);
  title->grab();
  EXPECT_TRUE(title->isElided());
  EXPECT_EQ(title->toolTip(), title->text()) << "the whole text under the pointer";

  QScrollBar* bar = list->tableView()->verticalScrollBar();
  ASSERT_TRUE(bar->isVisible());
  QImage image(bar->size(), QImage::Format_ARGB32);
  image.fill(QColor(16, 32, 64));
  bar->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  long lightness = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) lightness += QColor(image.pixel(x, y)).lightness();
  EXPECT_LT(lightness / (static_cast<long>(image.width()) * image.height()), 90)
      << "no light groove on the pane";
}

TEST_F(ActionsUiTest, TheSwitchWritesEnabledAndLabelsFollowItAlsoInAReusedCell) {
  auto timer = makeObjects(1, 1)[0];
  auto off = addAction(timer, 0, false);
  auto on = addAction(timer, 1, true);
  auto list = openList(timer);
  auto* offCell = cellAt(*list, 0);
  ASSERT_TRUE(offCell);
  EXPECT_FALSE(offCell->enabledSwitch()->checked());
  EXPECT_FALSE(offCell->titleLabel()->isEnabled()) << "a disabled action shows greyed at once";
  EXPECT_FALSE(offCell->subtitleLabel()->isEnabled());

  QTest::mouseClick(offCell->enabledSwitch(), Qt::LeftButton);
  EXPECT_TRUE(off->enabled());
  EXPECT_TRUE(offCell->titleLabel()->isEnabled());
  QTest::mouseClick(offCell->enabledSwitch(), Qt::LeftButton);
  EXPECT_FALSE(off->enabled());
  EXPECT_FALSE(offCell->subtitleLabel()->isEnabled());

  // The greyed cell, reused for the enabled action, shows it normally.
  offCell->unbindViewModel();
  offCell->prepareForReuse();
  offCell->bindViewModel(BTActionObjectViewModel::create<BTActionObjectListItemViewModel>(on));
  EXPECT_TRUE(offCell->enabledSwitch()->checked());
  EXPECT_TRUE(offCell->titleLabel()->isEnabled());
  EXPECT_TRUE(offCell->subtitleLabel()->isEnabled());
  EXPECT_FALSE(off->enabled()) << "rebinding writes nothing to the previous action";

  // Set elsewhere (a link action, the store): the switch and labels follow.
  on->setEnabled(false);
  EXPECT_FALSE(offCell->enabledSwitch()->checked());
  EXPECT_FALSE(offCell->titleLabel()->isEnabled());
  EXPECT_THROW(offCell->bindViewModel(on), std::exception) << "not a list-item view model";
}

TEST_F(ActionsUiTest, ReorderDeleteAndEditReachTheStoreAndTheRightAction) {
  auto timer = makeObjects(1, 1)[0];
  std::vector<std::shared_ptr<BTDisplayAlertAction>> actions;
  actions.reserve(4);
  for (int i = 0; i < 4; ++i) actions.push_back(addAction(timer, i));
  auto list = openList(timer);
  auto* table = list->tableView();
  auto* source = list->tableSource();

  // With the setting on (its default), Remove asks first and deletes nothing yet.
  table->selectRow(0);
  list->removeButton()->click();
  settle();
  EXPECT_EQ(presenter().alerts.size(), 1u);
  EXPECT_EQ(timer->actions().size(), 4u);
  settings_->actionObjectsBundle()->setPromptBeforeDelete(false);
  table->selectRow(-1);

  // Drag the first row below the third: a drop above row 3 puts it at index 2.
  QMimeData data;
  ASSERT_TRUE(source->writeRows(*table, {0}, data));
  EXPECT_TRUE(data.hasFormat(DraggingTableSource::kRowIndexMimeType));
  EXPECT_TRUE(source->acceptDrop(*table, data, 3, tw::ui::TableDropOperation::Above));
  EXPECT_EQ(actions[0]->sortOrder(), 2);
  EXPECT_EQ(actions[1]->sortOrder(), 0);
  EXPECT_EQ(actions[2]->sortOrder(), 1);
  EXPECT_EQ(actions[3]->sortOrder(), 3);
  EXPECT_EQ(
      std::dynamic_pointer_cast<BTActionObjectListItemViewModel>(cellAt(*list, 2)->viewModel())
          ->actionObject(),
      actions[0]);
  // A drop from another table is refused.
  tw::ui::TableView other;
  EXPECT_EQ(source->validateDrop(*table, &other, data, 1, tw::ui::TableDropOperation::Above),
            Qt::IgnoreAction);

  // The row's edit button opens its own action, even after a row was deleted above it.
  auto* lastCell = cellAt(*list, 3);
  EXPECT_TRUE(source->rowActions(*table, 0, tw::ui::TableRowActionEdge::Leading).empty());
  ASSERT_TRUE(table->performRowAction(0, tw::ui::TableRowActionEdge::Trailing));
  settle();
  EXPECT_EQ(table->numberOfRows(), 3);
  EXPECT_EQ(timer->actions().size(), 3u);
  EXPECT_EQ(list->statusLabel()->text(), "3 actions");
  QTest::mouseClick(lastCell->actionButton(), Qt::LeftButton);
  settle();
  ASSERT_TRUE(editor());
  EXPECT_EQ(editor()->actionObject(), actions[3]);
  editor()->cancelAction();
  settle();
  EXPECT_FALSE(editor());

  // A double-click outside the rows edits nothing; on a row, that row's action.
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, QPoint(20, 44 * 3 + 20));
  settle();
  EXPECT_FALSE(editor());
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, QPoint(60, 44 * 1 + 20));
  settle();
  ASSERT_TRUE(editor());
  EXPECT_EQ(editor()->actionObject(), actions[0]);
  editor()->cancelAction();
  settle();

  // Remove deletes the selected row; the placeholder comes back with the last one.
  for (int i = 0; i < 3; ++i) {
    table->selectRow(0);
    list->removeButton()->click();
    settle();
  }
  EXPECT_TRUE(timer->actions().empty());
  EXPECT_EQ(table->numberOfRows(), 0);
  EXPECT_EQ(list->emptyContentViewAlpha(), 1.0);
  EXPECT_FALSE(list->removeButton()->isEnabled());
}

TEST_F(ActionsUiTest, SelectionStaysOnItsActionWhenRowsMoveOrAreInsertedAbove) {
  settings_->actionObjectsBundle()->setPromptBeforeDelete(false);
  auto timer = makeObjects(1, 1)[0];
  auto a = addAction(timer, 0);
  auto b = addAction(timer, 1);
  auto c = addAction(timer, 2);
  auto list = openList(timer);
  list->tableView()->selectRow(2);
  list->viewModel()->moveObjectAtIndex(0, 2);  // a goes below c
  EXPECT_EQ(list->viewModel()->selectionIndex(), list->tableView()->selectedRow());
  list->removeActionObject();
  settle();
  EXPECT_EQ(timer->actions().size(), 2u);
  const auto left = timer->actions();
  const auto has = [&](const std::shared_ptr<BTDisplayAlertAction>& x) {
    return std::find(left.begin(), left.end(), x) != left.end();
  };
  EXPECT_TRUE(has(a) && has(b) && !has(c))
      << "Remove deleted the selected action, not the one now at its old index";
}

}  // namespace
