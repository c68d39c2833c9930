#include "app/Source/MasterList/MasterListTableView.h"

#include <QPainter>
#include <QPainterPath>

#include "platform/ui/NamedResources.h"

void MasterListTableView::drawContextMenuHighlightForRow(QPainter& painter, int row) {
  auto* rowView = rowViewAtRow(row);
  if (!rowView) return;
  QPainterPath path;
  path.addRoundedRect(QRectF(rectOfRow(row)).adjusted(2.4, 2.4, -2.4, -2.4), 6.0, 6.0);
  painter.setRenderHint(QPainter::Antialiasing);
  if (!rowView->isSelected())
    painter.fillPath(path, tw::ui::colorNamed("OverlayDark10").value_or(QColor(0, 0, 0, 26)));
  painter.strokePath(path, QPen(palette().color(QPalette::Highlight), 2.4));
}
