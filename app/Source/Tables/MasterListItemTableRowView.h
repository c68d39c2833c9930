#pragma once
// MasterListItemTableRowView: the row behind a master list cell: clear background (the list's
// gradient shows through), a darker band when selected, and a one-point separator fading from
// left to right. Owned by the table; main thread only.

#include "platform/ui/TableView.h"

class MasterListItemTableRowView : public tw::ui::TableRowView {
 public:
  static constexpr const char* kIdentifier = "MasterListItemTableRowView";
  explicit MasterListItemTableRowView(QWidget* parent = nullptr);

 protected:
  void drawBackground(QPainter& painter, const QRect& dirty) override;
  void drawSelection(QPainter& painter, const QRect& dirty) override;
  void drawSeparator(QPainter& painter, const QRect& dirty) override;
};
