#include "app/Source/ActionEditor/DetailsMenuItem.h"

#include <QCursor>
#include <QEnterEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

DetailsItemView::DetailsItemView(QWidget* parent) : QWidget(parent) {
  setObjectName("DetailsItemView");
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 4, 14, 4);
  layout->setSpacing(1);
  titleLabel_ = new QLabel(this);
  detailsLabel_ = new QLabel(this);
  QFont small = detailsLabel_->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  detailsLabel_->setFont(small);
  detailsLabel_->setWordWrap(true);
  layout->addWidget(titleLabel_);
  layout->addWidget(detailsLabel_);
  applyColors();
}

void DetailsItemView::setHighlighted(bool highlighted) {
  if (highlighted == highlighted_) return;
  highlighted_ = highlighted;
  applyColors();
  repaint();
}

void DetailsItemView::applyColors() {
  const QPalette p = palette();
  const QColor title = highlighted_ ? p.color(QPalette::HighlightedText) : p.color(QPalette::Text);
  QColor details = highlighted_ ? p.color(QPalette::HighlightedText) : p.color(QPalette::Text);
  if (!highlighted_) details.setAlphaF(0.6);
  titleLabel_->setStyleSheet(QString("color: %1;").arg(title.name(QColor::HexArgb)));
  detailsLabel_->setStyleSheet(QString("color: %1;").arg(details.name(QColor::HexArgb)));
}

void DetailsItemView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(),
                   highlighted_ ? palette().color(QPalette::Highlight) : QColor(Qt::transparent));
}

void DetailsItemView::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  setHighlighted(true);
}

void DetailsItemView::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  setHighlighted(false);
}

void DetailsItemView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A menu opened with the mouse already over the item shows it highlighted at once.
  setHighlighted(rect().contains(mapFromGlobal(QCursor::pos())));
}

void DetailsItemView::mouseMoveEvent(QMouseEvent* event) {
  QWidget::mouseMoveEvent(event);
  if (rect().contains(event->position().toPoint()) && !highlighted_) setHighlighted(true);
}

void DetailsItemView::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (mouseUp) mouseUp();
}

DetailsMenuItem::DetailsMenuItem(QObject* parent) : QWidgetAction(parent) {}

DetailsMenuItem* DetailsMenuItem::menuItemWithTitle(const QString& title, const QString& details,
                                                    QObject* parent) {
  auto* item = new DetailsMenuItem(parent);
  item->setText(title);
  item->details_ = details;
  return item;
}

QWidget* DetailsMenuItem::createWidget(QWidget* parent) {
  auto* view = new DetailsItemView(parent);
  view->titleLabel()->setText(text());
  view->detailsLabel()->setText(details_);
  QPointer<DetailsMenuItem> self(this);
  view->mouseUp = [self, view] {
    if (!self) return;
    // Choose the item as an ordinary one would be chosen: the menu closes and reports it.
    for (QWidget* w = view->parentWidget(); w; w = w->parentWidget()) {
      if (auto* menu = qobject_cast<QMenu*>(w)) {
        menu->setActiveAction(self);
        self->trigger();
        menu->close();
        return;
      }
    }
    self->trigger();
  };
  view_ = view;
  return view;
}
