#pragma once
// FlashScreenActionUtil: the flash-screen action's effect: a frameless, always-on-top, full-screen
// window of the action's colour that fades in and out three times (0.25 s in, 0.2125 s held,
// 0.275 s out). A click lets the running cycle finish and skips the rest. One flash at a time:
// a flash asked for while one runs is ignored. The window is held in a process-wide slot until
// the flash ends.
//
// Class methods only; main thread only.

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/tasks/BFCancellationToken.h"
#include "platform/tasks/BFTask.h"

class BTFlashScreenActionProtocol;

class FlashScreenActionUtil {
 public:
  // The flash window: frameless, on top of the others, translucent.
  class Window : public QWidget {
   public:
    Window();
    bool canBecomeKeyWindow() const { return true; }
    bool canBecomeMainWindow() const { return true; }
  };
  // Fills the window with its colour at its alpha; reports mouse-downs.
  class View : public QWidget {
   public:
    explicit View(QWidget* parent = nullptr);
    std::function<void(QMouseEvent*)> mouseDown;
    QColor color;
    double alpha() const { return alpha_; }
    void setAlpha(double alpha);

   protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

   private:
    double alpha_ = 0.0;
  };

  static void flashScreenWithAction(const std::shared_ptr<BTFlashScreenActionProtocol>& action);
  // The flash now on screen, or null.
  static Window* flashingWindow();
  // Chains `cycle` `count` times after an already completed task; each link runs whatever the
  // previous outcome and gives a cancelled task once cancellation was requested.
  static BFTaskPtr taskForRepeatingTask(const std::function<BFTaskPtr()>& cycle, std::int64_t count,
                                        const std::shared_ptr<BFCancellationToken>& token);
  // Animates `view`'s alpha to `to` over `seconds`; completes (null result) when done.
  static BFTaskPtr taskForAnimation(View* view, double to, double seconds);

  static constexpr double kFadeIn = 0.25;
  static constexpr double kHold = 0.2125;
  static constexpr double kFadeOut = 0.275;
  static constexpr int kCycles = 3;
};
