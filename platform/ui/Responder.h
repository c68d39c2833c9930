#pragma once
// tw::ui::Responder: a link of the responder chain. An action is a name ("terminate",
// "showPreferences", "startOrPause"); a responder handles the actions it registered, may refuse
// one for the moment (validation: a menu item shows disabled, a shortcut does nothing), and
// otherwise hands it on to its next responder. Nil-targeted actions start at the responder of the
// focused widget of the active window and walk up: each responder's explicit next responder when
// one was set, else the responder of the nearest enclosing widget, then the window's controller,
// then the application's delegate (SharedApplication::sendAction).
//
// Widgets are tied to their responders with attachToWidget (view controllers and window
// controllers do it for their own views); the tie never keeps either alive.
//
// Owned by whoever owns the responder (shared_ptr). Main thread only.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Object.h"
#include "platform/ui/TouchBar.h"

class QAction;

namespace tw::ui {

class Responder : public tw::Object {
 public:
  using Handler = std::function<void(QObject* sender)>;
  // Whether the action may run now; `item` is the menu item or shortcut asking, or null.
  using Validator = std::function<bool(QAction* item)>;

  Responder() = default;
  ~Responder() override;
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  // Registers (or replaces) an action this responder handles, with an optional validator.
  void setAction(std::string name, Handler handler, Validator validator = {});
  bool respondsToAction(std::string_view name) const;
  // Whether the action is enabled here: false when not handled or the validator says no.
  bool validateAction(std::string_view name, QAction* item) const;
  // Runs the action here when handled and valid; true when it ran.
  bool performAction(std::string_view name, QObject* sender);

  // The explicit next responder; empty unless set.
  std::shared_ptr<Responder> nextResponder() const { return next_.lock(); }
  void setNextResponder(const std::shared_ptr<Responder>& next) { next_ = next; }

  // The responder that takes `name` starting here (this one included) and following explicit
  // next responders, then enclosing widgets; null when none in this chain does. Validation is
  // not asked: the first responder that handles the action is the target, as a disabled item
  // does not fall through to one further up.
  std::shared_ptr<Responder> targetForAction(std::string_view name);

  // The responder's touch bar (never shown on Linux; see TouchBar.h): made by makeTouchBar on
  // first request unless set; after setTouchBar(nullptr) the next request makes a new one.
  std::shared_ptr<TouchBar> touchBar();
  void setTouchBar(std::shared_ptr<TouchBar> bar) {
    touchBar_ = std::move(bar);
    touchBarMade_ = touchBar_ != nullptr;
  }

  // Ties `widget` to this responder (one responder per widget; a later tie replaces it).
  void attachToWidget(QWidget* widget);
  QWidget* attachedWidget() const { return widget_; }
  // The responder tied to `widget` or to its nearest ancestor; null when none.
  static std::shared_ptr<Responder> forWidget(QWidget* widget);

 protected:
  // None unless a subclass makes one.
  virtual std::shared_ptr<TouchBar> makeTouchBar() { return nullptr; }
  std::shared_ptr<Responder> selfResponder() {
    return std::static_pointer_cast<Responder>(shared_from_this());
  }

 private:
  struct Entry {
    Handler handler;
    Validator validator;
  };
  std::map<std::string, Entry, std::less<>> actions_;
  std::weak_ptr<Responder> next_;
  QPointer<QWidget> widget_;
  std::shared_ptr<TouchBar> touchBar_;
  bool touchBarMade_ = false;
};

}  // namespace tw::ui
