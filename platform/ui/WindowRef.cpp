#include "platform/ui/WindowRef.h"

#include <QPointer>
#include <QWidget>

namespace tw::ui {

struct WindowRef::Impl {
  QPointer<QWidget> window;
};

WindowRef::WindowRef(QWidget* widget) {
  if (widget) impl_ = std::make_shared<const Impl>(Impl{widget->window()});
}

QWidget* WindowRef::widget() const { return impl_ ? impl_->window.data() : nullptr; }

}  // namespace tw::ui
