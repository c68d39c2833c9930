#include "app/Source/MainWindow/SplitView.h"

SplitView::SplitView(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
  setObjectName("SplitView");
  setHandleWidth(1);
  setChildrenCollapsible(false);
  const QColor c = dividerColor();
  setStyleSheet(QString("QSplitter::handle { background-color: rgba(%1,%2,%3,%4); }")
                    .arg(c.red())
                    .arg(c.green())
                    .arg(c.blue())
                    .arg(c.alphaF()));
}
