#pragma once
// BTTextField: a single-line text field drawn as a rounded box whose border and background
// colours change, animated, while the pointer is over it or while it is being edited. Colours
// left unset fall back to the normal colour, then to clear. The box's current colours (what a
// paint shows, mid-animation included) are readable for tests.
//
// A QWidget owned by its parent widget. Main thread only.

#include <QColor>
#include <QLineEdit>
#include <QPointer>
#include <QVariantAnimation>
#include <optional>

#include "app/Source/Controls/BTTextFieldCell.h"

class BTTextField : public QLineEdit {
  Q_OBJECT

 public:
  using Color = std::optional<QColor>;

  explicit BTTextField(QWidget* parent = nullptr);
  ~BTTextField() override;

  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius);
  double borderWidth() const { return borderWidth_; }
  void setBorderWidth(double width);
  Color borderColor() const { return borderColor_; }
  void setBorderColor(const Color& color);
  Color backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const Color& color);
  bool hoverAnimationEnabled() const { return hoverAnimationEnabled_; }
  void setHoverAnimationEnabled(bool enabled) { hoverAnimationEnabled_ = enabled; }
  double hoverAnimationDuration() const { return hoverAnimationDuration_; }
  void setHoverAnimationDuration(double seconds) { hoverAnimationDuration_ = seconds; }
  Color hoverBorderColor() const { return hoverBorderColor_; }
  void setHoverBorderColor(const Color& color) { hoverBorderColor_ = color; }
  Color hoverBackgroundColor() const { return hoverBackgroundColor_; }
  void setHoverBackgroundColor(const Color& color) { hoverBackgroundColor_ = color; }

  BTTextFieldCell& cell() { return cell_; }

  bool isEditing() const { return isEditing_; }
  bool isHovered() const { return isHovered_; }
  void setEditing(bool editing);
  void updateHoverState(bool animated);

  // The colours the box is drawn with right now.
  QColor layerBorderColor() const { return layerBorderColor_; }
  QColor layerBackgroundColor() const { return layerBackgroundColor_; }
  bool isAnimatingHover() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void initializeTextField();
  void setLayerColors(const QColor& border, const QColor& background);
  void updateCursor();
  void updateTextMargins();

  double cornerRadius_ = 0;
  double borderWidth_ = 0;
  Color borderColor_, backgroundColor_, hoverBorderColor_, hoverBackgroundColor_;
  bool hoverAnimationEnabled_ = true;
  double hoverAnimationDuration_ = 0;
  bool isEditing_ = false;
  bool isHovered_ = false;
  BTTextFieldCell cell_;
  QColor layerBorderColor_ = Qt::transparent;
  QColor layerBackgroundColor_ = Qt::transparent;
  QPointer<QVariantAnimation> animation_;
};
