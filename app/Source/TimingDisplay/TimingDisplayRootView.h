#pragma once
// TimingDisplayRootView: the timing display pane's root view. It takes the keyboard focus when
// clicked (its controller is then first responder), swallows key-downs while focused and toggles
// start/pause on the release of Space, and tells the controller when its window shows or leaves
// the minimised state. Owned by its parent widget; the controller detaches itself before it goes.
// Main thread only.

#include <QPointer>
#include <QWidget>

class TimingDisplayViewController;

namespace tw {

class TimingDisplayRootView : public QWidget {
 public:
  explicit TimingDisplayRootView(TimingDisplayViewController* owner);
  void detach();
  void watchWindow();

 protected:
  bool eventFilter(QObject* object, QEvent* event) override;
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  TimingDisplayViewController* owner_;
  QPointer<QWidget> watched_;
};

}  // namespace tw
