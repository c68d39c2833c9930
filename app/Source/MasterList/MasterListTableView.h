#pragma once
// MasterListTableView: the master list's table; marks the row under the context menu with a
// rounded outline (filled as well when the row is not selected). Main thread only.

#include "platform/ui/TableView.h"

class MasterListTableView : public tw::ui::TableView {
 public:
  explicit MasterListTableView(QWidget* parent = nullptr) : tw::ui::TableView(parent) {}

 protected:
  void drawContextMenuHighlightForRow(QPainter& painter, int row) override;
};
