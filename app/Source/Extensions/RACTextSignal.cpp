#include "app/Source/Extensions/RACTextSignal.h"

#include <QPointer>

#include "platform/signals/RACSignal.h"

std::shared_ptr<RACSignal> rac_textSignal(QLineEdit* field) {
  QPointer<QLineEdit> weak(field);
  return RACSignal::createSignal([weak](const std::shared_ptr<RACSubscriber>& subscriber) {
    if (!weak) {
      subscriber->sendCompleted();
      return;
    }
    subscriber->sendNext(tw::Value(weak->text().toStdString()));
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
