#include "platform/ui/LayerStyle.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace tw::ui {

namespace {

constexpr const char* kPainterName = "twLayerStylePainter";

class LayerPainter : public QObject {
 public:
  explicit LayerPainter(QWidget* widget) : QObject(widget), widget_(widget) {
    setObjectName(kPainterName);
    widget->installEventFilter(this);
  }
  LayerStyle style;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (object != widget_ || event->type() != QEvent::Paint) return false;
    QPainter painter(widget_);
    painter.setRenderHint(QPainter::Antialiasing);
    const double inset = style.borderWidth / 2.0;
    QRectF rect = QRectF(widget_->rect()).adjusted(inset, inset, -inset, -inset);
    QPainterPath path;
    path.addRoundedRect(rect, style.cornerRadius, style.cornerRadius);
    if (style.backgroundColor.alpha() > 0) painter.fillPath(path, style.backgroundColor);
    if (style.borderWidth > 0 && style.borderColor.alpha() > 0)
      painter.strokePath(path, QPen(style.borderColor, style.borderWidth));
    return false;  // the widget paints itself on top
  }

 private:
  QWidget* widget_;
};

LayerPainter* painterOf(const QWidget* widget) {
  return widget->findChild<LayerPainter*>(kPainterName, Qt::FindDirectChildrenOnly);
}

}  // namespace

double alpha(const QWidget* widget) {
  if (!widget) return 1.0;
  if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect()))
    return effect->opacity();
  return 1.0;
}

void setAlpha(QWidget* widget, double value) {
  if (!widget) return;
  value = std::clamp(value, 0.0, 1.0);
  auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
  if (value >= 1.0) {
    if (effect) widget->setGraphicsEffect(nullptr);
    return;
  }
  if (!effect) {
    effect = new QGraphicsOpacityEffect(widget);
    widget->setGraphicsEffect(effect);
  }
  effect->setOpacity(value);
}

LayerStyle LayerStyle::of(const QWidget* widget) {
  if (auto* painter = widget ? painterOf(widget) : nullptr) return painter->style;
  return {};
}

void LayerStyle::apply(QWidget* widget, const LayerStyle& style) {
  if (!widget) return;
  auto* painter = painterOf(widget);
  if (!painter) painter = new LayerPainter(widget);
  painter->style = style;
  widget->update();
}

}  // namespace tw::ui
