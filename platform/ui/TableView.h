#pragma once
// tw::ui::TableView: a one-column, view-based table that really reuses its views. Only the rows
// inside the viewport (plus a small margin) have live row views, each holding one cell; a row
// leaving that range is handed to the source's didRemoveRowView hook and its views go back to a
// reuse queue keyed by identifier, where makeView finds them again (prepareForReuse runs then,
// before the view shows another row). Rows have one fixed height.
//
// The source (TableViewSource) supplies the row count, cells and row views, and takes part in
// selection, row actions and drag and drop within the table. Structural edits (insertRow,
// removeRow, moveRow) follow the model's own reports; reloadData re-reads everything.
//
// The table owns its live and queued views (Qt children); the source is held weakly by the
// caller's choice of lifetime (a raw pointer that the owner clears). Main thread only.

#include <QAbstractScrollArea>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QVariantAnimation>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QMimeData;

namespace tw::ui {

class TableView;

// A view the table can queue for reuse; its identifier names the queue.
class TableReusableView : public QWidget {
 public:
  explicit TableReusableView(QWidget* parent = nullptr) : QWidget(parent) {}
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
  // Runs when the view is taken from the reuse queue, before it shows its next row.
  virtual void prepareForReuse() {}

 private:
  std::string identifier_;
};

using TableCellView = TableReusableView;

// The view of one row: paints its background, selection and separator under the cell.
class TableRowView : public TableReusableView {
 public:
  explicit TableRowView(QWidget* parent = nullptr);
  bool isSelected() const { return selected_; }
  void setSelected(bool selected);
  // The selected row of a table that has the keyboard focus draws a focus ring.
  bool showsFocusRing() const { return focusRing_; }
  void setShowsFocusRing(bool shows);
  // The row's cell (column 0); null while the row has none.
  TableCellView* cellView() const { return cell_; }
  void setCellView(TableCellView* cell);

 protected:
  virtual void drawBackground(QPainter& painter, const QRect& dirty);
  virtual void drawSelection(QPainter& painter, const QRect& dirty);
  virtual void drawSeparator(QPainter& painter, const QRect& dirty);
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool selected_ = false;
  bool focusRing_ = false;
  QPointer<TableCellView> cell_;
};

enum class TableDropOperation { On = 0, Above = 1 };

// How an inserted or removed row comes or goes; flags, combined with |. A fade runs the row's
// alpha from or to 0; a slide moves it by one row height (an inserted row slides down into
// place, a removed one slides up out of it). The rows after it move to their new places.
enum TableRowAnimation : unsigned {
  TableRowAnimationNone = 0,
  TableRowAnimationFade = 1,
  TableRowAnimationSlideUp = 16,
  TableRowAnimationSlideDown = 32,
};
enum class TableRowActionEdge { Leading = 0, Trailing = 1 };

struct TableRowAction {
  std::string title;
  int style = 0;  // 0 regular, 1 destructive
  std::function<void(int row)> handler;
};

class TableViewSource {
 public:
  virtual ~TableViewSource() = default;
  virtual int numberOfRows(TableView& table) = 0;
  // The cell of `row` (made with table.makeView or new); null leaves the row empty.
  virtual TableCellView* viewForRow(TableView& table, int row) = 0;
  // The row view; null gives a plain TableRowView.
  virtual TableRowView* rowViewForRow(TableView& /*table*/, int /*row*/) { return nullptr; }
  virtual void didRemoveRowView(TableView& /*table*/, TableRowView* /*rowView*/, int /*row*/) {}
  virtual void selectionDidChange(TableView& /*table*/) {}
  virtual std::vector<TableRowAction> rowActions(TableView& /*table*/, int /*row*/,
                                                 TableRowActionEdge /*edge*/) {
    return {};
  }
  // Drag and drop. `source` is the widget the drag came from (null from another application).
  virtual bool writeRows(TableView& /*table*/, const std::vector<int>& /*rows*/,
                         QMimeData& /*data*/) {
    return false;
  }
  virtual QPixmap draggingImage(TableView& table, int row);
  virtual Qt::DropAction validateDrop(TableView& /*table*/, const QObject* /*source*/,
                                      const QMimeData& /*data*/, int /*row*/,
                                      TableDropOperation /*operation*/) {
    return Qt::IgnoreAction;
  }
  virtual bool acceptDrop(TableView& /*table*/, const QMimeData& /*data*/, int /*row*/,
                          TableDropOperation /*operation*/) {
    return false;
  }
};

class TableView : public QAbstractScrollArea {
 public:
  explicit TableView(QWidget* parent = nullptr);
  ~TableView() override;

  void setSource(TableViewSource* source) { source_ = source; }
  TableViewSource* source() const { return source_; }
  int rowHeight() const { return rowHeight_; }
  void setRowHeight(int height);
  // Rows live beyond each edge of the viewport.
  void setLiveMargin(int rows) { margin_ = rows; }

  int numberOfRows() const { return rowCount_; }
  void reloadData();
  // The row's cell is bound (insert) or unbound (remove) at once, whatever the animation: a
  // removed row leaves as a picture of itself, its views already back in the reuse queue.
  void insertRow(int row, unsigned animation = TableRowAnimationNone);
  void removeRow(int row, unsigned animation = TableRowAnimationNone);
  void moveRow(int from, int to);
  // Seconds a row animation takes (0.25 by default; 0 applies changes at once).
  void setRowAnimationDuration(double seconds) { rowAnimationDuration_ = seconds; }
  bool isAnimatingRows() const { return rowAnimation_ != nullptr; }
  // Ends a running row animation now, every row in its final place.
  void finishRowAnimation();

  // A queued view with that identifier, prepared for reuse; null when the queue is empty.
  TableReusableView* makeView(const std::string& identifier);
  // The live row view (never made here); null when the row is not live.
  TableRowView* rowViewAtRow(int row) const;
  TableCellView* viewAtRow(int row) const;
  int liveRowCount() const { return static_cast<int>(live_.size()); }
  int queuedViewCount() const;
  QRect rectOfRow(int row) const;  // in viewport coordinates
  int rowAt(const QPoint& viewportPoint) const;
  void scrollRowToVisible(int row);

  int selectedRow() const { return selected_; }
  // Selects exactly `row` (-1 clears when empty selection is allowed); tells the source when
  // the selection changed.
  void selectRow(int row);
  void setAllowsEmptySelection(bool allows) { allowsEmptySelection_ = allows; }
  // The row of the last click or context click (-1 outside the rows); Return on a selected row
  // counts as a click on it.
  int clickedRow() const { return clicked_; }
  // A table that refuses first responder takes no focus from clicks but is still reached with
  // Tab, so that the keyboard can move its selection (Up, Down, Home, End), act on the selected
  // row (Return: the double action) and delete it (Delete: the trailing row action).
  void setRefusesFirstResponder(bool refuses);

  void setDoubleAction(std::function<void(TableView&)> action) {
    doubleAction_ = std::move(action);
  }
  // The context menu; `willOpen` runs after clickedRow is set and before the menu shows.
  void setMenu(QMenu* menu, std::function<void(QMenu&)> willOpen = {});
  QMenu* menu() const { return menu_; }
  // Context click at a viewport point: sets clickedRow, runs the will-open hook, returns the menu
  // to show (null when none). Kept apart from showing so tests need no modal menu.
  QMenu* prepareContextMenu(const QPoint& viewportPoint);
  int contextMenuRow() const { return contextRow_; }
  // Runs the first action of the row on that edge; false when there is none.
  bool performRowAction(int row, TableRowActionEdge edge);

  // Drop handling, reachable without a drag session (tests, keyboard paths).
  Qt::DropAction validateDropAt(const QObject* source, const QMimeData& data, const QPoint& point,
                                int* row, TableDropOperation* operation);
  bool performDropAt(const QObject* source, const QMimeData& data, const QPoint& point);

 protected:
  virtual void drawContextMenuHighlightForRow(QPainter& painter, int row);
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void layoutRows();
  void updateFocusRing();
  // Tab walks the controls of the live rows in row order, whatever order their reused views
  // were made in.
  void chainRowFocus();
  void retireRow(int row);
  void enqueue(TableReusableView* view);
  void updateScrollRange();
  void startDrag(int row);
  void dropPoint(const QPoint& point, int* row, TableDropOperation* operation) const;
  std::map<QWidget*, QRect> liveFrames() const;
  // Animates the live rows from `before` to where they are now, plus the inserted row (-1 for
  // none) and the picture of a removed one (null for none).
  void animateRows(const std::map<QWidget*, QRect>& before, int inserted, QWidget* removed,
                   unsigned animation);

  struct RowMotion {
    QPointer<QWidget> view;
    QRect from, to;
    bool fades = false;
    double fromAlpha = 1, toAlpha = 1;
  };

  TableViewSource* source_ = nullptr;
  int rowHeight_ = 44;
  int margin_ = 2;
  int rowCount_ = 0;
  int selected_ = -1;
  int clicked_ = -1;
  int contextRow_ = -1;
  int dropIndicator_ = -1;
  bool allowsEmptySelection_ = true;
  QPoint pressPoint_;
  int pressRow_ = -1;
  std::map<int, TableRowView*> live_;
  std::map<std::string, std::vector<QPointer<TableReusableView>>> queues_;
  std::function<void(TableView&)> doubleAction_;
  QPointer<QMenu> menu_;
  std::function<void(QMenu&)> menuWillOpen_;
  double rowAnimationDuration_ = 0.25;
  QVariantAnimation* rowAnimation_ = nullptr;
  std::vector<RowMotion> rowMotions_;
  std::vector<QPointer<QWidget>> rowGhosts_;  // pictures of removed rows, deleted at the end
};

}  // namespace tw::ui
