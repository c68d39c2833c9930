#pragma once
// tw::ui::ViewController: manages one view (a QWidget) and its part of the responder chain. The
// view is made on first use of view() (loadView, then viewDidLoad); the appearance hooks follow
// the view's own show and hide events, so a view that becomes visible because its window was
// shown appears too. Child controllers are kept (strongly) for as long as they are children.
//
// The controller owns its view only while the view has no parent widget; once placed in a
// hierarchy, Qt's parent owns it, and the controller holds it weakly (view() then reads null
// after the parent deleted it). Main thread only.

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

#include "platform/ui/Responder.h"

namespace tw::ui {

class ViewController : public Responder {
 public:
  ViewController();
  ~ViewController() override;

  // Loads the view when needed; null only when a loaded view was deleted by its parent.
  QWidget* view();
  bool isViewLoaded() const { return loaded_; }
  // Replaces the view (before loading, this counts as the load: viewDidLoad still runs once).
  void setView(QWidget* view);

  void addChildViewController(const std::shared_ptr<ViewController>& child);
  void removeFromParentViewController();
  const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const {
    return children_;
  }
  std::shared_ptr<ViewController> parentViewController() const { return parent_.lock(); }

  // Whether the view is on screen (between viewDidAppear and viewWillDisappear).
  bool isViewVisible() const { return visible_; }

 protected:
  // Makes the view; the default makes a plain QWidget. Must call setView or leave it to the base.
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillAppear() {}
  virtual void viewDidAppear() {}
  virtual void viewWillDisappear() {}
  virtual void viewDidDisappear() {}

 private:
  class Watcher;
  void installWatcher();
  void viewShown();
  void viewHidden();

  QPointer<QWidget> view_;
  bool loaded_ = false;
  bool loading_ = false;
  bool visible_ = false;
  std::vector<std::shared_ptr<ViewController>> children_;
  std::weak_ptr<ViewController> parent_;
  QPointer<QObject> watcher_;
};

}  // namespace tw::ui
