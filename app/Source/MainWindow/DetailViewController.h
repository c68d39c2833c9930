#pragma once
// DetailViewController: the right pane of the main window. Shows one content controller (the
// timing display of the selected time object) in its container, swapping it with the master
// list's transition, and tints its gradient background by the master list's view mode.
//
// A swap requested while one runs is not lost: the latest such request is kept and applied when
// the running swap finishes (only the latest; the ones it replaced never run their
// completions), so the pane always ends up showing the last selection.
//
// Owned by the split view controller; main thread only.

#include <functional>
#include <memory>

#include "app/Source/MainWindow/BTViewTransitionSubject.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ViewController.h"

class BTViewTransition;
namespace tw {
class GradientBackgroundView;
}

class DetailViewController : public tw::ui::ViewController {
 public:
  DetailViewController();
  ~DetailViewController() override;

  QWidget* containerView();
  std::shared_ptr<tw::ui::ViewController> contentViewController() const { return content_; }
  bool isTransitioningViews() const { return transitioning_; }

  void setViewController(const std::shared_ptr<tw::ui::ViewController>& controller,
                         const std::shared_ptr<const BTViewTransition>& transition);
  void setViewController(const std::shared_ptr<tw::ui::ViewController>& controller,
                         const std::shared_ptr<const BTViewTransition>& transition,
                         std::function<void()> completion);

  // The swap's own duration, whatever the transition says.
  static constexpr double kSwapDuration = 0.5;

  tw::GradientBackgroundView* gradientView();

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  struct Pending {
    std::shared_ptr<tw::ui::ViewController> controller;
    std::shared_ptr<const BTViewTransition> transition;
    std::function<void()> completion;
  };
  void masterListViewModeDidChange(const tw::Notification& notification);
  void finishSwap();
  // Sizes the shown content to the container, unless a swap is placing it.
  void fitContent();

  QWidget* container_ = nullptr;
  std::shared_ptr<tw::ui::ViewController> content_;
  bool transitioning_ = false;
  std::optional<Pending> pending_;
  tw::ScopedNotificationToken modeObserver_;
};
