#include "app/Source/Tables/DraggingTableSource.h"

#include <QMimeData>

void DraggingTableSource::makeTableViewRegistrations() {
  if (tableView_) tableView_->setAcceptDrops(true);
}

bool DraggingTableSource::writeRows(tw::ui::TableView&, const std::vector<int>& rows,
                                    QMimeData& data) {
  if (rows.empty()) return false;
  data.setData(kRowIndexMimeType, QByteArray::number(rows.front()));
  return true;
}

std::optional<QPixmap> DraggingTableSource::draggingImageForTableViewCell(tw::ui::TableCellView*,
                                                                          int) {
  return std::nullopt;
}

QPixmap DraggingTableSource::draggingImage(tw::ui::TableView& table, int row) {
  auto* cell = table.viewAtRow(row);
  if (cell)
    if (auto image = draggingImageForTableViewCell(cell, row)) return *image;
  return tw::ui::TableViewSource::draggingImage(table, row);
}

std::optional<int> DraggingTableSource::draggedRow(const QMimeData& data) {
  if (!data.hasFormat(kRowIndexMimeType)) return std::nullopt;
  bool ok = false;
  const int row = data.data(kRowIndexMimeType).toInt(&ok);
  if (!ok || row < 0) return std::nullopt;
  return row;
}

Qt::DropAction DraggingTableSource::validateDrop(tw::ui::TableView& table, const QObject* source,
                                                 const QMimeData&, int,
                                                 tw::ui::TableDropOperation operation) {
  // A drag from another table or application is refused, whatever it carries.
  if (operation == tw::ui::TableDropOperation::Above && source == &table) return Qt::MoveAction;
  return Qt::IgnoreAction;
}

bool DraggingTableSource::acceptDrop(tw::ui::TableView& table, const QMimeData& data, int row,
                                     tw::ui::TableDropOperation) {
  const auto from = draggedRow(data);
  if (!from) return false;
  finalizeMoveRow(table, *from, destinationRow(*from, row));
  return true;
}
