#pragma once
// ListFooterView: the bar under a list on one of the window's tinted panes: a row of small
// buttons ("+", "−"), light on the tint with a ring when focused and faint when disabled, then
// whatever the list adds after them, over a translucent tint of its own. The same pane's
// scroll bar takes a thin light handle through styleScrollBar.
//
// A QWidget owned by the layout's widget it is added to. Main thread only.

#include <QColor>
#include <QHBoxLayout>
#include <QMargins>
#include <QPushButton>
#include <QScrollBar>
#include <QString>
#include <QWidget>

class ListFooterView : public QWidget {
 public:
  // `objectName` also names the bar in its tint's style sheet; a negative `spacing` keeps the
  // style's.
  ListFooterView(const QString& objectName, const QMargins& margins, int spacing = -1);

  QHBoxLayout* row() const { return row_; }
  // A button showing `text`, reached with Tab, appended to the row.
  QPushButton* addButton(const QString& text, const QString& objectName);
  void setTint(const QColor& color);

  // A thin light handle on the dark pane, without arrows; the sheet sits on the bar alone, so
  // the list's rows are not polished by the style-sheet engine.
  static void styleScrollBar(QScrollBar* bar);

 private:
  QHBoxLayout* row_;
};
