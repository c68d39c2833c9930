#include "app/Source/Controls/ListFooterView.h"

ListFooterView::ListFooterView(const QString& objectName, const QMargins& margins, int spacing)
    : row_(new QHBoxLayout(this)) {
  setObjectName(objectName);
  row_->setContentsMargins(margins);
  if (spacing >= 0) row_->setSpacing(spacing);
}

QPushButton* ListFooterView::addButton(const QString& text, const QString& objectName) {
  auto* button = new QPushButton(text);
  button->setObjectName(objectName);
  button->setFocusPolicy(Qt::TabFocus);
  button->setFixedSize(28, 24);
  button->setStyleSheet(
      "QPushButton { color: white; background: transparent; border: none; font-size: 18px;"
      " border-radius: 4px; }"
      "QPushButton:disabled { color: rgba(255,255,255,0.3); }"
      "QPushButton:focus { border: 1px solid rgba(255,255,255,0.85); }");
  row_->addWidget(button);
  return button;
}

void ListFooterView::setTint(const QColor& color) {
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(
      QString("QWidget#%1 { background: %2; }").arg(objectName(), color.name(QColor::HexArgb)));
}

void ListFooterView::styleScrollBar(QScrollBar* bar) {
  bar->setStyleSheet(
      "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 0; }"
      "QScrollBar::handle:vertical { background: rgba(255,255,255,0.35); border-radius: 3px;"
      " min-height: 24px; margin: 0 1px; }"
      "QScrollBar::handle:vertical:hover { background: rgba(255,255,255,0.55); }"
      "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
      "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }");
}
