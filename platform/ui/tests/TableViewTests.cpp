// The view-based table: reuse of row views and cells, structural edits and drops.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <set>

#include "platform/ui/LayerStyle.h"
#include "platform/ui/TableView.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::ui::TableCellView;
using tw::ui::TableDropOperation;
using tw::ui::TableRowView;
using tw::ui::TableView;

class LabelCell : public TableCellView {
 public:
  LabelCell() : label(new QLabel(this)) { setIdentifier("LabelCell"); }
  void prepareForReuse() override {
    label->clear();
    ++reuses;
  }
  QLabel* label;
  int boundRow = -1;
  int reuses = 0;
};

class Source : public tw::ui::TableViewSource {
 public:
  explicit Source(int count) {
    for (int i = 0; i < count; ++i) titles.push_back(QString("row %1").arg(i));
  }
  int numberOfRows(TableView&) override { return static_cast<int>(titles.size()); }
  TableCellView* viewForRow(TableView& table, int row) override {
    auto* cell = dynamic_cast<LabelCell*>(table.makeView("LabelCell"));
    if (!cell) cell = new LabelCell;
    EXPECT_EQ(cell->boundRow, -1) << "a cell is unbound before it shows another row";
    EXPECT_TRUE(cell->label->text().isEmpty()) << "no stale value survives reuse";
    cell->boundRow = row;
    cell->label->setText(titles[row]);
    cells.insert(cell);
    return cell;
  }
  void didRemoveRowView(TableView&, TableRowView* rowView, int row) override {
    auto* cell = static_cast<LabelCell*>(rowView->cellView());
    EXPECT_NE(cell->boundRow, -1) << "row " << row << " removed twice";
    cell->boundRow = -1;
    ++removed;
  }
  void selectionDidChange(TableView& table) override { selections.push_back(table.selectedRow()); }
  std::vector<QString> titles;
  std::set<LabelCell*> cells;
  std::vector<int> selections;
  int removed = 0;
};

class TableViewTest : public ::testing::Test {
 protected:
  void SetUp() override { tw::ui::test::application(); }
  // Shows the table over the source, its rows loaded.
  static void show(TableView& table, tw::ui::TableViewSource& source, int rowHeight = 20,
                   QSize size = {200, 200}) {
    table.setSource(&source);
    table.setRowHeight(rowHeight);
    table.resize(size);
    table.show();
    table.reloadData();
  }
};

TEST_F(TableViewTest, ScrollingTwoHundredRowsKeepsLiveCellsBoundedAndUnbindsEveryRemovedRow) {
  Source source(200);
  TableView table;
  show(table, source, 20, {200, 100});  // five rows
  const int bound = 5 + 2 * 2 + 1;
  int maxLive = 0;
  auto* bar = table.verticalScrollBar();
  for (int value = 0; value <= bar->maximum(); value += 7) {
    bar->setValue(value);
    maxLive = std::max(maxLive, table.liveRowCount());
    // Every live row shows its own row's title.
    for (int row = 0; row < 200; ++row)
      if (auto* cell = static_cast<LabelCell*>(table.viewAtRow(row))) {
        EXPECT_EQ(cell->boundRow, row);
        EXPECT_EQ(cell->label->text(), source.titles[row]);
      }
  }
  EXPECT_LE(maxLive, bound);
  EXPECT_LE(static_cast<int>(source.cells.size()), bound + 1) << "cells are reused, not made";
  EXPECT_GT(source.removed, 150);
  EXPECT_EQ(table.viewAtRow(0), nullptr) << "scrolled out";
  EXPECT_NE(table.viewAtRow(199), nullptr);
}

TEST_F(TableViewTest, InsertRemoveAndMoveKeepRowsAndSelectionOnTheirObjects) {
  Source source(4);
  TableView table;
  show(table, source);
  table.selectRow(2);
  EXPECT_EQ(source.selections, std::vector<int>{2});
  table.selectRow(2);
  EXPECT_EQ(source.selections.size(), 1u) << "no change, no report";

  source.titles.insert(source.titles.begin(), "new");
  table.insertRow(0);
  EXPECT_EQ(table.selectedRow(), 3) << "the selection stays on its object";
  EXPECT_EQ(static_cast<LabelCell*>(table.viewAtRow(0))->label->text(), "new");
  EXPECT_EQ(static_cast<LabelCell*>(table.viewAtRow(3))->label->text(), "row 2");

  source.titles.erase(source.titles.begin() + 3);
  table.removeRow(3);
  EXPECT_EQ(table.selectedRow(), -1);
  EXPECT_EQ(source.selections.back(), -1) << "losing the selected row is reported";
  EXPECT_EQ(table.numberOfRows(), 4);

  table.selectRow(1);  // "row 0"
  std::rotate(source.titles.begin() + 1, source.titles.begin() + 2, source.titles.begin() + 4);
  table.moveRow(1, 3);
  EXPECT_EQ(table.selectedRow(), 3);
  for (int row = 0; row < 4; ++row)
    EXPECT_EQ(static_cast<LabelCell*>(table.viewAtRow(row))->label->text(), source.titles[row]);
  table.selectRow(7);
  EXPECT_EQ(table.selectedRow(), 3) << "a row outside the table is not selected";
}

// Only the primary button's double click is the table's double action: two quick right clicks
// are two context menus, not a request to edit the row.
TEST_F(TableViewTest, OnlyALeftDoubleClickRunsTheDoubleAction) {
  Source source(3);
  TableView table;
  show(table, source);
  std::vector<int> rows;
  table.setDoubleAction([&](TableView& t) { rows.push_back(t.clickedRow()); });
  for (auto button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton})
    QTest::mouseDClick(table.viewport(), button, {}, table.rectOfRow(1).center());
  EXPECT_EQ(rows, std::vector<int>{1});
}

TEST_F(TableViewTest, AnimatedInsertAndRemoveBindAtOnceAndEndWithEveryRowInPlace) {
  Source source(4);
  TableView table;
  show(table, source);
  const auto fadeDown = tw::ui::TableRowAnimationFade | tw::ui::TableRowAnimationSlideDown;
  const auto fadeUp = tw::ui::TableRowAnimationFade | tw::ui::TableRowAnimationSlideUp;

  // Inserted: bound now, fading in from one row above; the rows after it move down.
  source.titles.insert(source.titles.begin() + 1, "new");
  table.insertRow(1, fadeDown);
  ASSERT_TRUE(table.isAnimatingRows());
  auto* inserted = table.rowViewAtRow(1);
  EXPECT_EQ(static_cast<LabelCell*>(inserted->cellView())->label->text(), "new");
  EXPECT_EQ(inserted->geometry().top(), 0) << "starts one row above its place";
  EXPECT_DOUBLE_EQ(tw::ui::alpha(inserted), 0.0);
  EXPECT_EQ(table.rowViewAtRow(2)->geometry().top(), 20) << "the next row starts where it was";
  // Qt's animation clock runs the animation to its end.
  QElapsedTimer waited;
  waited.start();
  while (table.isAnimatingRows() && waited.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_FALSE(table.isAnimatingRows());
  EXPECT_EQ(inserted->geometry(), table.rectOfRow(1));
  EXPECT_EQ(inserted->graphicsEffect(), nullptr) << "no opacity effect left behind";
  EXPECT_EQ(table.rowViewAtRow(2)->geometry(), table.rectOfRow(2));

  // Removed: unbound at once (its cell is back in the queue); a picture of it leaves.
  const int removedBefore = source.removed;
  source.titles.erase(source.titles.begin() + 1);
  table.removeRow(1, fadeUp);
  EXPECT_EQ(source.removed, removedBefore + 1);
  EXPECT_TRUE(table.isAnimatingRows());
  EXPECT_EQ(table.rowViewAtRow(1)->geometry().top(), 40) << "the next row moves up from there";
  // A new edit meanwhile ends the running animation with every row in place.
  source.titles.push_back("last");
  table.insertRow(4, fadeDown);
  table.finishRowAnimation();
  EXPECT_FALSE(table.isAnimatingRows());
  for (int row = 0; row < table.numberOfRows(); ++row) {
    EXPECT_EQ(table.rowViewAtRow(row)->geometry(), table.rectOfRow(row)) << "row " << row;
    EXPECT_EQ(static_cast<LabelCell*>(table.viewAtRow(row))->label->text(), source.titles[row]);
    EXPECT_EQ(table.rowViewAtRow(row)->graphicsEffect(), nullptr);
  }
  // Only the rows remain on the viewport once the removed row's picture has gone.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(table.viewport()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly).isEmpty());
}

// Drops between rows only, as the master list allows: a drag that enters over the middle of a
// row is still taken in, so that the moves that follow can find a place between rows.
class BetweenRowsSource : public Source {
 public:
  BetweenRowsSource() : Source(5) {}
  Qt::DropAction validateDrop(TableView&, const QObject*, const QMimeData&, int,
                              TableDropOperation operation) override {
    return operation == TableDropOperation::Above ? Qt::MoveAction : Qt::IgnoreAction;
  }
};

TEST_F(TableViewTest, ADragEnteringOverARowMiddleIsTakenInAndEachMoveDecides) {
  BetweenRowsSource source;
  TableView table;
  show(table, source);
  QMimeData data;
  data.setData("application/x-test-row", "2");
  const QPoint middleOfRow2(50, 2 * 20 + 10);
  QDragEnterEvent enter(middleOfRow2, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(table.viewport(), &enter);
  EXPECT_TRUE(enter.isAccepted()) << "refused at the start, the drag would never drop";
  QDragMoveEvent onRow(middleOfRow2, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(table.viewport(), &onRow);
  EXPECT_FALSE(onRow.isAccepted()) << "no drop onto a row";
  QDragMoveEvent aboveRow0(QPoint(50, 2), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(table.viewport(), &aboveRow0);
  EXPECT_TRUE(aboveRow0.isAccepted());
}

class DropSource : public Source {
 public:
  DropSource() : Source(5) {}
  Qt::DropAction validateDrop(TableView&, const QObject* from, const QMimeData&, int row,
                              TableDropOperation operation) override {
    lastRow = row;
    lastOperation = operation;
    return from ? Qt::MoveAction : Qt::IgnoreAction;
  }
  bool acceptDrop(TableView&, const QMimeData&, int row, TableDropOperation) override {
    accepted = row;
    return true;
  }
  int lastRow = -1;
  TableDropOperation lastOperation = TableDropOperation::On;
  int accepted = -1;
};

TEST_F(TableViewTest, DropPointsSplitRowsIntoAboveOnAndBelowAndAskTheSource) {
  DropSource source;
  TableView table;
  show(table, source, 40, {200, 300});
  QMimeData data;
  EXPECT_FALSE(table.performDropAt(nullptr, data, QPoint(10, 81)));
  EXPECT_EQ(source.lastRow, 2);
  EXPECT_EQ(source.lastOperation, TableDropOperation::Above);
  EXPECT_TRUE(table.performDropAt(&table, data, QPoint(10, 100)));
  EXPECT_EQ(source.lastOperation, TableDropOperation::On);
  EXPECT_TRUE(table.performDropAt(&table, data, QPoint(10, 78)));
  EXPECT_EQ(source.accepted, 2) << "the bottom quarter drops above the next row";
  EXPECT_TRUE(table.performDropAt(&table, data, QPoint(10, 290)));
  EXPECT_EQ(source.accepted, 5) << "below the last row";
}

}  // namespace
