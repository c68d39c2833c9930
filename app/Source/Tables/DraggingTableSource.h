#pragma once
// DraggingTableSource: a table source that lets the user reorder the rows of its one table by
// drag and drop. A drag carries the index of its first row under a private type of ours; only
// drops between rows ("above") that come from this same table are taken, and dropping above row r
// moves the row to r - 1 when it came from above r, else to r (the row's final index after its
// removal). The move itself and the drag image are the subclass's.
// Owned by the controller of the table; main thread only.

#include <QPointer>
#include <optional>

#include "platform/ui/TableView.h"

class DraggingTableSource : public tw::ui::TableViewSource {
 public:
  static constexpr const char* kRowIndexMimeType = "application/x-tickwell-row-index";

  explicit DraggingTableSource(tw::ui::TableView* tableView = nullptr) : tableView_(tableView) {}
  tw::ui::TableView* tableView() const { return tableView_; }

  // Subclasses extend it and call it once after the table is set up.
  virtual void makeTableViewRegistrations();

  bool writeRows(tw::ui::TableView& table, const std::vector<int>& rows, QMimeData& data) override;
  QPixmap draggingImage(tw::ui::TableView& table, int row) override;
  Qt::DropAction validateDrop(tw::ui::TableView& table, const QObject* source,
                              const QMimeData& data, int row,
                              tw::ui::TableDropOperation operation) override;
  bool acceptDrop(tw::ui::TableView& table, const QMimeData& data, int row,
                  tw::ui::TableDropOperation operation) override;

  // The index a drag carries; none for missing or malformed data.
  static std::optional<int> draggedRow(const QMimeData& data);
  // Where a row dragged from `from` ends when dropped above `row`.
  static int destinationRow(int from, int row) { return from < row ? row - 1 : row; }

 protected:
  // None: the table's own picture of the row is used.
  virtual std::optional<QPixmap> draggingImageForTableViewCell(tw::ui::TableCellView* cell,
                                                               int row);
  virtual void finalizeMoveRow(tw::ui::TableView& /*table*/, int /*from*/, int /*to*/) {}

 private:
  QPointer<tw::ui::TableView> tableView_;
};
