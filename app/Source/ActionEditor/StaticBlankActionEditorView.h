#pragma once
// StaticBlankActionEditorView: what the action editor shows for a kind without settings of its
// own (repeating the time object): a title and a line of explanation. No behaviour.
// A QWidget owned by the editor's container; main thread only.

#include <QLabel>
#include <QWidget>

class StaticBlankActionEditorView : public QWidget {
 public:
  explicit StaticBlankActionEditorView(QWidget* parent = nullptr);
  QLabel* titleLabel() const { return titleLabel_; }
  QLabel* detailLabel() const { return detailLabel_; }

 private:
  QLabel* titleLabel_;
  QLabel* detailLabel_;
};
