#pragma once
// IndicatorView: a small rounded rectangle with a hairline border, filled with one colour or
// left empty (a row's state light, the tab indicator below the list's tabs). Painted by hand: a
// style sheet would put the row it sits in under Qt's style-sheet engine.
//
// A QWidget owned by its parent widget. Main thread only.

#include <QColor>
#include <QWidget>
#include <optional>

class IndicatorView : public QWidget {
 public:
  explicit IndicatorView(QWidget* parent = nullptr);

  void setFillColor(std::optional<QColor> color);
  void setBorderColor(const QColor& color);
  std::optional<QColor> fillColor() const { return fill_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::optional<QColor> fill_;
  QColor border_{0, 0, 0, 51};
};
