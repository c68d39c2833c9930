#pragma once
// ColorWell: a swatch of one colour (with its alpha, over a checkerboard) that opens the
// desktop's colour chooser on a click; a chosen colour is kept and the change handler runs.
// Setting the colour from code runs nothing.
//
// A QWidget owned by its parent; main thread only.

#include <QColor>
#include <QPushButton>
#include <functional>

namespace tw::app {

class ColorWell : public QPushButton {
 public:
  explicit ColorWell(QWidget* parent = nullptr);

  const QColor& color() const { return color_; }
  void setColor(const QColor& color);
  void setChangeHandler(std::function<void(ColorWell*)> handler) { handler_ = std::move(handler); }
  // A user's choice: keep it, then run the handler.
  void chooseColor(const QColor& color);

  QSize sizeHint() const override { return {64, 26}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_ = Qt::white;
  std::function<void(ColorWell*)> handler_;
};

}  // namespace tw::app
