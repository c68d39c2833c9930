#pragma once
// FlatButton: a borderless push button filled with one colour, and with a second (active) colour
// while pressed; the title is drawn in white. Colours can change at any time (a stopwatch's start
// button turns red while running).
//
// A QWidget owned by its parent widget. Main thread only.

#include <QColor>
#include <QPushButton>

class FlatButton : public QPushButton {
 public:
  explicit FlatButton(QWidget* parent = nullptr);

  QColor buttonColor() const { return buttonColor_; }
  void setButtonColor(const QColor& color);
  QColor activeButtonColor() const { return activeButtonColor_; }
  void setActiveButtonColor(const QColor& color);
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor buttonColor_{0x3a, 0x3a, 0x3c};
  QColor activeButtonColor_{0x54, 0x54, 0x58};
  double cornerRadius_ = 6.0;
};
