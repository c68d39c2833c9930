#pragma once
// Popover: a transient panel that shows one view controller's view next to a rectangle of
// another view, whole on the screen, with the keyboard in its first field; it closes (and frees
// itself and the controller) when the user clicks outside it or presses Return. Main thread only;
// owns its content controller.

#include <QFrame>
#include <memory>

#include "platform/ui/ViewController.h"

namespace tw {

class Popover : public QFrame {
 public:
  enum class Edge { MinX = 0, MinY = 1, MaxX = 2, MaxY = 3 };

  explicit Popover(std::shared_ptr<tw::ui::ViewController> content);
  const std::shared_ptr<tw::ui::ViewController>& contentViewController() const { return content_; }
  // Shows the panel beside `rect` (in `view`'s coordinates) on the given edge, its first field
  // focused; Return or Escape closes it (the fields write their values as they are typed).
  void showRelativeToRect(const QRect& rect, QWidget* view, Edge edge);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void keepOnScreen(QWidget* anchor);

  std::shared_ptr<tw::ui::ViewController> content_;
};

}  // namespace tw
