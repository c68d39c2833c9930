#include "platform/ui/Responder.h"

#include <QVariant>
#include <unordered_map>

namespace tw::ui {

namespace {

// Widget -> responder; entries of destroyed widgets are dropped by the widget's destroyed signal.
std::unordered_map<const QWidget*, std::weak_ptr<Responder>>& ties() {
  static std::unordered_map<const QWidget*, std::weak_ptr<Responder>> map;
  return map;
}

}  // namespace

Responder::~Responder() {
  if (widget_) {
    auto it = ties().find(widget_.data());
    if (it != ties().end() && it->second.expired()) ties().erase(it);
  }
}

void Responder::setAction(std::string name, Handler handler, Validator validator) {
  actions_.insert_or_assign(std::move(name), Entry{std::move(handler), std::move(validator)});
}

bool Responder::respondsToAction(std::string_view name) const {
  return actions_.find(name) != actions_.end();
}

bool Responder::validateAction(std::string_view name, QAction* item) const {
  auto it = actions_.find(name);
  if (it == actions_.end()) return false;
  return !it->second.validator || it->second.validator(item);
}

bool Responder::performAction(std::string_view name, QObject* sender) {
  auto it = actions_.find(name);
  if (it == actions_.end()) return false;
  if (it->second.validator && !it->second.validator(qobject_cast<QAction*>(sender))) return false;
  // The handler may replace the table (or end this responder): run a copy, with us kept alive.
  auto self = selfResponder();
  Handler handler = it->second.handler;
  if (handler) handler(sender);
  return true;
}

std::shared_ptr<Responder> Responder::targetForAction(std::string_view name) {
  std::shared_ptr<Responder> current = selfResponder();
  // Bounded walk: a chain that loops back on itself ends instead of spinning.
  for (int steps = 0; current && steps < 256; ++steps) {
    if (current->respondsToAction(name)) return current;
    if (auto next = current->nextResponder()) {
      current = next;
      continue;
    }
    QWidget* widget = current->attachedWidget();
    current = widget ? forWidget(widget->parentWidget()) : nullptr;
  }
  return nullptr;
}

std::shared_ptr<TouchBar> Responder::touchBar() {
  if (!touchBarMade_) {
    touchBarMade_ = true;
    touchBar_ = makeTouchBar();
  }
  return touchBar_;
}

void Responder::attachToWidget(QWidget* widget) {
  if (widget_ == widget) return;
  if (widget_) ties().erase(widget_.data());
  widget_ = widget;
  if (!widget) return;
  ties()[widget] = selfResponder();
  QObject::connect(widget, &QObject::destroyed, [widget] { ties().erase(widget); });
}

std::shared_ptr<Responder> Responder::forWidget(QWidget* widget) {
  for (QWidget* w = widget; w; w = w->parentWidget()) {
    auto it = ties().find(w);
    if (it != ties().end())
      if (auto responder = it->second.lock()) return responder;
  }
  return nullptr;
}

}  // namespace tw::ui
