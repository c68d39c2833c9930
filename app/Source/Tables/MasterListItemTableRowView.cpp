#include "app/Source/Tables/MasterListItemTableRowView.h"

#include <QLinearGradient>
#include <QPainter>

#include "platform/ui/NamedResources.h"

MasterListItemTableRowView::MasterListItemTableRowView(QWidget* parent)
    : tw::ui::TableRowView(parent) {
  setIdentifier(kIdentifier);
}

void MasterListItemTableRowView::drawBackground(QPainter&, const QRect&) {}

void MasterListItemTableRowView::drawSelection(QPainter& painter, const QRect& dirty) {
  painter.fillRect(dirty, tw::ui::colorNamed("OverlayDark40").value_or(QColor(0, 0, 0, 102)));
}

void MasterListItemTableRowView::drawSeparator(QPainter& painter, const QRect&) {
  const QRectF band(0, height() - 1.0, width(), 1.0);
  QLinearGradient gradient(band.topLeft(), band.topRight());
  gradient.setColorAt(0, tw::ui::colorNamed("OverlayDark30").value_or(QColor(0, 0, 0, 77)));
  gradient.setColorAt(1, tw::ui::colorNamed("OverlayDark10").value_or(QColor(0, 0, 0, 26)));
  painter.fillRect(band, gradient);
}
