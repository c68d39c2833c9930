#include "app/Source/Controls/ElidingLineEdit.h"

#include "app/Source/Controls/ElidingLabel.h"

#include <QEvent>
#include <QFocusEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <limits>

ElidingLineEdit::ElidingLineEdit(QWidget* parent) : QLineEdit(parent) {
  // Stored text is never cut at QLineEdit's default 32,767 characters.
  setMaxLength(std::numeric_limits<int>::max());
  QObject::connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
    whole_ = text;
    describe();
  });
}

void ElidingLineEdit::setWholeText(const QString& text) {
  if (text == whole_ && !editing_) return;
  whole_ = text;
  if (editing_)
    showWhole();
  else
    showElided();
  describe();
}

void ElidingLineEdit::setFixedAccessibleName(const QString& name) {
  fixedName_ = name;
  setAccessibleName(name);
  describe();
}

void ElidingLineEdit::describe() {
  if (toolTip() != whole_) setToolTip(whole_);
  if (fixedName_.isEmpty()) {
    if (accessibleName() != whole_) setAccessibleName(whole_);
  } else if (accessibleDescription() != whole_) {
    setAccessibleDescription(whole_);
  }
}

int ElidingLineEdit::textWidth() const {
  QStyleOptionFrame option;
  initStyleOption(&option);
  const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
  // The line edit keeps 2 pixels each side of its text and one for the cursor.
  return contents.marginsRemoved(textMargins()).width() - 5;
}

void ElidingLineEdit::showWhole() {
  if (text() != whole_) setText(whole_);
}

void ElidingLineEdit::showElided() {
  const QString shown = tw::app::elideRight(whole_, fontMetrics(), textWidth());
  if (text() != shown) setText(shown);
  // Shown from its start, not scrolled to its end.
  setCursorPosition(0);
}

void ElidingLineEdit::beginEditing() {
  if (editing_) return;
  editing_ = true;
  showWhole();
}

void ElidingLineEdit::endEditing() {
  if (!editing_) return;
  editing_ = false;
  showElided();
}

void ElidingLineEdit::focusInEvent(QFocusEvent* event) {
  beginEditing();
  QLineEdit::focusInEvent(event);
}

void ElidingLineEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  // A context menu, a popup of the field's own or another window keeps the edit open.
  if (hasFocus() || event->reason() == Qt::PopupFocusReason ||
      event->reason() == Qt::ActiveWindowFocusReason)
    return;
  endEditing();
}

void ElidingLineEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  if (!editing_) showElided();
}

void ElidingLineEdit::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (!editing_ && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
    showElided();
}
