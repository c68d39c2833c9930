#include "app/Source/Controls/BTTextField.h"

#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <limits>

#include "app/Source/Controls/ControlAnimation.h"

namespace {

// The hover rule: the hover colour when highlighted, else the normal one; an absent choice falls
// back to the normal colour, then to clear.
QColor chosen(bool highlighted, const BTTextField::Color& normal, const BTTextField::Color& hover) {
  const BTTextField::Color& pick = highlighted ? hover : normal;
  if (pick) return *pick;
  if (normal) return *normal;
  return Qt::transparent;
}

}  // namespace

BTTextField::BTTextField(QWidget* parent) : QLineEdit(parent) { initializeTextField(); }

BTTextField::~BTTextField() {
  if (animation_) animation_->stop();
}

void BTTextField::initializeTextField() {
  // The box is ours: no native frame or base, text on a transparent background.
  setFrame(false);
  // Stored text is shown whole, however long: a cut title would be written back cut.
  setMaxLength(std::numeric_limits<int>::max());
  setAttribute(Qt::WA_Hover, true);
  setAttribute(Qt::WA_MacShowFocusRect, false);
  QPalette p = palette();
  p.setColor(QPalette::Base, Qt::transparent);
  setPalette(p);
  setAutoFillBackground(false);
  setCornerRadius(4.0);
  setBorderWidth(static_cast<double>(1.2f));
  setBorderColor(std::nullopt);
  setBackgroundColor(std::nullopt);
  hoverAnimationEnabled_ = true;
  hoverAnimationDuration_ = 0.375;
  hoverBorderColor_.reset();
  hoverBackgroundColor_.reset();
  isEditing_ = false;
  isHovered_ = false;
  updateHoverState(false);
}

void BTTextField::setCornerRadius(double radius) {
  cornerRadius_ = radius;
  update();
}

void BTTextField::setBorderWidth(double width) {
  borderWidth_ = width;
  updateTextMargins();
  update();
}

void BTTextField::setBorderColor(const Color& color) {
  borderColor_ = color;
  setLayerColors(borderColor_.value_or(Qt::transparent), layerBackgroundColor_);
}

void BTTextField::setBackgroundColor(const Color& color) {
  backgroundColor_ = color;
  setLayerColors(layerBorderColor_, backgroundColor_.value_or(Qt::transparent));
}

void BTTextField::setEditing(bool editing) {
  isEditing_ = editing;
  updateHoverState(hoverAnimationEnabled_);
}

bool BTTextField::isAnimatingHover() const {
  return animation_ && animation_->state() == QAbstractAnimation::Running;
}

void BTTextField::setLayerColors(const QColor& border, const QColor& background) {
  if (animation_) animation_->stop();  // a direct set wins over a running animation
  layerBorderColor_ = border;
  layerBackgroundColor_ = background;
  update();
}

void BTTextField::updateCursor() {
  bool text = isHovered_ && !isReadOnly() && isEnabled();
  setCursor(text ? Qt::IBeamCursor : Qt::ArrowCursor);
}

void BTTextField::updateHoverState(bool animated) {
  updateCursor();
  bool highlighted = isEditing_ || isHovered_;
  QColor border = chosen(highlighted, borderColor_, hoverBorderColor_);
  QColor background = chosen(highlighted, backgroundColor_, hoverBackgroundColor_);
  if (!animated) {
    setLayerColors(border, background);
    return;
  }
  QColor fromBorder = layerBorderColor_, fromBackground = layerBackgroundColor_;
  if (animation_) animation_->stop();
  QPointer<BTTextField> self(this);
  animation_ = tw::controls::animate(
      this, hoverAnimationDuration_,
      [self, fromBorder, fromBackground, border, background](double t) {
        if (!self) return;
        self->layerBorderColor_ = tw::controls::mix(fromBorder, border, t);
        self->layerBackgroundColor_ = tw::controls::mix(fromBackground, background, t);
        self->update();
      });
}

void BTTextField::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF box = QRectF(rect()).adjusted(borderWidth_ / 2, borderWidth_ / 2, -borderWidth_ / 2,
                                         -borderWidth_ / 2);
    QPainterPath path;
    path.addRoundedRect(box, cornerRadius_, cornerRadius_);
    painter.fillPath(path, layerBackgroundColor_);
    if (borderWidth_ > 0 && layerBorderColor_.alpha() > 0) {
      painter.setPen(QPen(layerBorderColor_, borderWidth_));
      painter.drawPath(path);
    }
  }
  QLineEdit::paintEvent(event);
}

void BTTextField::updateTextMargins() {
  // Inside the border on every side. The line edit centres its text line vertically by itself;
  // margins taken from the current height would feed the size hint, and each layout pass would
  // make the field taller.
  const int border = static_cast<int>(std::ceil(borderWidth_));
  const int side = border + 2;
  setTextMargins(side, border, side, border);
}

void BTTextField::enterEvent(QEnterEvent* event) {
  QLineEdit::enterEvent(event);
  isHovered_ = true;
  updateHoverState(hoverAnimationEnabled_);
}

void BTTextField::leaveEvent(QEvent* event) {
  QLineEdit::leaveEvent(event);
  isHovered_ = false;
  updateHoverState(hoverAnimationEnabled_);
}

void BTTextField::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  setEditing(true);
}

void BTTextField::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  setEditing(false);
}

void BTTextField::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (event->type() == QEvent::EnabledChange || event->type() == QEvent::ReadOnlyChange) {
    updateCursor();
  }
}
