#include "app/Source/Extensions/RACTextSignal.h"

#include <QPointer>
#include <limits>

#include "platform/signals/RACSignal.h"

std::shared_ptr<RACSignal> rac_textSignal(QLineEdit* field) {
  QPointer<QLineEdit> weak(field);
  return RACSignal::createSignal([weak](const std::shared_ptr<RACSubscriber>& subscriber) {
    if (!weak) {
      subscriber->sendCompleted();
      return;
    }
    // The connections keep the subscriber until it ends (its disposer disconnects them) or the
    // field goes away.
    auto edited = QObject::connect(weak, &QLineEdit::textEdited, [subscriber](const QString& text) {
      subscriber->sendNext(tw::Value(text.toStdString()));
    });
    auto gone =
        QObject::connect(weak, &QObject::destroyed, [subscriber] { subscriber->sendCompleted(); });
    subscriber->addDisposer([edited, gone] {
      QObject::disconnect(edited);
      QObject::disconnect(gone);
    });
  });
}

void tw::app::showWholeText(QLineEdit* field) {
  if (!field) return;
  field->setMaxLength(std::numeric_limits<int>::max());
  // A line edit scrolls to its cursor, which typing leaves at the end: once an edit ends, a long
  // text would show only its tail.
  QObject::connect(field, &QLineEdit::editingFinished, field,
                   [field] { field->setCursorPosition(0); });
}
