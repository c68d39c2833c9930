#include "platform/ui/ViewController.h"

#include <QEvent>
#include <algorithm>

namespace tw::ui {

// Relays the view's show and hide events; owned by the view.
class ViewController::Watcher : public QObject {
 public:
  Watcher(ViewController* owner, QWidget* view) : QObject(view), owner_(owner) {}
  void detach() { owner_ = nullptr; }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (!owner_) return false;
    if (event->type() == QEvent::Show)
      owner_->viewShown();
    else if (event->type() == QEvent::Hide)
      owner_->viewHidden();
    return false;
  }

 private:
  ViewController* owner_;
};

ViewController::ViewController() = default;

ViewController::~ViewController() {
  if (auto* watcher = static_cast<Watcher*>(watcher_.data())) watcher->detach();
  // A view never placed in a hierarchy is ours to delete; one with a parent belongs to Qt.
  if (view_ && !view_->parentWidget()) delete view_.data();
}

QWidget* ViewController::view() {
  if (!loaded_ && !loading_) {
    loading_ = true;
    loadView();
    if (!view_) setView(new QWidget);
    loading_ = false;
    loaded_ = true;
    viewDidLoad();
  }
  return view_.data();
}

void ViewController::loadView() { setView(new QWidget); }

void ViewController::setView(QWidget* view) {
  if (view_ == view) return;
  if (auto* watcher = static_cast<Watcher*>(watcher_.data())) {
    watcher->detach();
    delete watcher;
  }
  view_ = view;
  if (view) {
    attachToWidget(view);
    installWatcher();
  }
  if (!loaded_ && !loading_) {
    loaded_ = true;
    viewDidLoad();
  }
}

void ViewController::installWatcher() {
  auto* watcher = new Watcher(this, view_.data());
  view_->installEventFilter(watcher);
  watcher_ = watcher;
}

void ViewController::viewShown() {
  if (visible_) return;
  viewWillAppear();
  visible_ = true;
  viewDidAppear();
}

void ViewController::viewHidden() {
  if (!visible_) return;
  viewWillDisappear();
  visible_ = false;
  viewDidDisappear();
}

void ViewController::addChildViewController(const std::shared_ptr<ViewController>& child) {
  if (!child || child.get() == this) return;
  child->removeFromParentViewController();
  children_.push_back(child);
  child->parent_ = std::static_pointer_cast<ViewController>(selfResponder());
}

void ViewController::removeFromParentViewController() {
  auto parent = parent_.lock();
  parent_.reset();
  if (!parent) return;
  auto& siblings = parent->children_;
  siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                [this](const auto& c) { return c.get() == this; }),
                 siblings.end());
}

}  // namespace tw::ui
