#pragma once
// SplitView: the main window's two panes side by side, with a thin divider in black at 75 %.
// Owned by the split view controller's view hierarchy; main thread only.

#include <QColor>
#include <QSplitter>

class SplitView : public QSplitter {
 public:
  explicit SplitView(QWidget* parent = nullptr);
  static QColor dividerColor() { return QColor::fromRgbF(0, 0, 0, 0.75); }

 protected:
  QSplitterHandle* createHandle() override;
};
