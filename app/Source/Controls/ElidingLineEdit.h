#pragma once
// ElidingLineEdit: a one-line editable field that, while it is not being edited, shows its text
// cut with an ellipsis to its width (as ElidingLabel does, through tw::app::elideRight) and holds
// the whole text aside; when the edit begins (the field takes the focus) the whole text is there to
// edit. Only what is shown is measured, so a text of a megabyte costs about what a short one costs
// until it is edited. The whole text is the tool tip and, unless the field keeps a fixed accessible
// name, the accessible name (with a fixed name, the accessible description).
//
// Callers show text with setWholeText(), never setText() (which would lay a long text out whole
// and leave the whole text behind). textEdited carries what the user typed, never what the field
// only showed. A QWidget owned by its parent widget. Main thread only.

#include <QLineEdit>

class ElidingLineEdit : public QLineEdit {
 public:
  explicit ElidingLineEdit(QWidget* parent = nullptr);

  void setWholeText(const QString& text);
  const QString& wholeText() const { return whole_; }
  // Whether the field holds the whole text for editing. Taking the focus begins an edit and
  // losing it (but to a popup or another window) ends it; a field that edits in place without
  // the focus says so itself.
  bool isEditing() const { return editing_; }
  void beginEditing();
  void endEditing();
  // The accessible name stays `name`; the whole text goes to the accessible description.
  void setFixedAccessibleName(const QString& name);

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void showWhole();
  void showElided();
  void describe();
  int textWidth() const;

  QString whole_;
  QString fixedName_;
  bool editing_ = false;
};
