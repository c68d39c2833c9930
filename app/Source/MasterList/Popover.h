#pragma once
// Popover: a transient panel that shows one view controller's view next to a rectangle of
// another view, whole on the screen, with the keyboard in its first field; it closes (and frees
// itself and the controller) when the user clicks outside it or presses Return. Its window title
// is its content view's; while shown, assistive technologies find it under the widget it was
// opened from (PopoverAccessible). Main thread only; owns its content controller.

#include <QFrame>
#include <QPointer>
#include <memory>

#include "platform/ui/ViewController.h"

namespace tw {

class Popover : public QFrame {
 public:
  enum class Edge { MinX = 0, MinY = 1, MaxX = 2, MaxY = 3 };

  explicit Popover(std::shared_ptr<tw::ui::ViewController> content);
  ~Popover() override;
  const std::shared_ptr<tw::ui::ViewController>& contentViewController() const { return content_; }
  // Shows the panel beside `rect` (in `view`'s coordinates) on the given edge, its first field
  // focused; Return or Escape closes it (the fields write their values as they are typed).
  void showRelativeToRect(const QRect& rect, QWidget* view, Edge edge);
  // What stands for the shown popover in the widget it was opened from (nullptr while hidden).
  QWidget* accessibleMark() const { return accessibleMark_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void keepOnScreen(QWidget* anchor);

  std::shared_ptr<tw::ui::ViewController> content_;
  QPointer<QWidget> accessibleMark_;
};

}  // namespace tw
