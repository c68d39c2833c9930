#pragma once
// BTCustomView: a plain view that fills itself with a settable background colour (clear at
// first). Setting the colour it already has changes nothing, not even a repaint.
//
// A QWidget owned by its parent widget. Main thread only.

#include <QColor>
#include <QWidget>

class BTCustomView : public QWidget {
  Q_OBJECT

 public:
  explicit BTCustomView(QWidget* parent = nullptr);

  QColor backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const QColor& color);

  // How often the drawn background colour was changed (for tests of redundant sets).
  int layerBackgroundChanges() const { return layerBackgroundChanges_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void initializeSeparatorLineView();

  QColor backgroundColor_;
  int layerBackgroundChanges_ = 0;
};
