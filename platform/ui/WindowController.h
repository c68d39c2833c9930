#pragma once
// tw::ui::WindowController: manages one top-level window. The window is made on first use of
// window() (loadWindow, then windowDidLoad); showWindow shows it, brings it to the front and
// makes it active. The window controller is the responder after every view of its window, and
// the window's content view controller (when set) is kept alive by it.
//
// The controller owns its window: closing only hides it (WA_DeleteOnClose is cleared), and the
// window is deleted with the controller. Main thread only.

#include <QPointer>
#include <QWidget>
#include <memory>

#include "platform/ui/Responder.h"
#include "platform/ui/ViewController.h"

namespace tw::ui {

class WindowController : public Responder {
 public:
  WindowController();
  ~WindowController() override;

  QWidget* window();
  bool isWindowLoaded() const { return loaded_; }
  // Brings the window up: loads it, shows it (normal size when minimised), raises and
  // activates it. `sender` is what asked (a menu item, the delegate), for logging only.
  virtual void showWindow(QObject* sender = nullptr);

  std::shared_ptr<ViewController> contentViewController() const { return content_; }
  // Makes the controller's view the window's content, below whatever the window lays out above
  // it (see setContentWidgetHost).
  void setContentViewController(const std::shared_ptr<ViewController>& controller);

  // The controller of `window` (a top-level widget), or null.
  static std::shared_ptr<WindowController> forWindow(QWidget* window);

 protected:
  // Makes the window; the default makes a plain top-level QWidget.
  virtual QWidget* loadWindow();
  virtual void windowDidLoad() {}
  // Where the content view controller's view goes; the default is the window itself, with a
  // layout that fills it.
  virtual QWidget* contentHost();

 private:
  QPointer<QWidget> window_;
  bool loaded_ = false;
  std::shared_ptr<ViewController> content_;
};

}  // namespace tw::ui
