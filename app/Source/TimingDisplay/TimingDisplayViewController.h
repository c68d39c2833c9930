#pragma once
// TimingDisplayViewController: the detail pane's view of one time object: its editable title,
// the big time display, Start/Pause and Reset buttons, and a foldable place for its actions
// list. The buttons' titles and enabled states follow the object's running control; the display
// follows a timing display view model. The split view controller makes a new controller for
// every selection.
//
// While the window is hidden or minimised the running values are not painted; the current value
// is applied when the window shows again and whenever the object leaves the running state, so a
// value that changed meanwhile (a pause by a link action) is never left stale.
//
// Owned by the detail pane (shared_ptr); main thread only.

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <functional>
#include <memory>
#include <vector>

#include "app/Source/Controls/ElidingLineEdit.h"
#include "app/Source/MainWindow/BTViewTransitionSubject.h"
#include "app/Source/MainWindow/MasterViewControllerDelegate.h"
#include "app/Source/TimingDisplay/TimingDisplayView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Object.h"
#include "platform/ui/ViewController.h"

class BTSettingsProvider;
class BTTimeObject;
class BTTimeObjectControlViewModel;
class BTTimeObjectListItemViewModel;
class BTTimeObjectTimingDisplayViewModel;
class BTTimingController;
namespace tw {
class TimingDisplayRootView;
}

class TimingDisplayViewController : public tw::ui::ViewController,
                                    public TimeObjectDisplay,
                                    public BTViewTransitionSubject {
 public:
  TimingDisplayViewController();
  ~TimingDisplayViewController() override;

  // Null: the pane shows "Untitled" and disabled buttons; the stored object stays as it was.
  void setTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) override;
  const std::shared_ptr<BTTimeObject>& timeObject() const { return timeObject_; }
  const std::shared_ptr<BTTimeObjectControlViewModel>& controlViewModel() const {
    return controlViewModel_;
  }
  const std::shared_ptr<BTTimeObjectTimingDisplayViewModel>& displayViewModel() const {
    return displayViewModel_;
  }

  void startTiming();
  void resetTiming();
  void hideOrRevealActions();
  void setActionsListViewHidden(bool hidden, bool animated);

  bool isFirstResponder() const;
  void makeFirstResponder();

  bool implementsPreferredTransitionEndAlphaValue() const override { return true; }
  double preferredTransitionEndAlphaValue() const override {
    return timeObject_ ? 1.0 : static_cast<double>(0.6f);
  }

  ElidingLineEdit* titleField() const { return titleField_; }
  TimingDisplayView* displayView() const { return displayView_; }
  QPushButton* startButton() const { return startButton_; }
  QPushButton* resetButton() const { return resetButton_; }
  QToolButton* hideOrRevealActionsButton() const { return hideOrRevealActionsButton_; }
  QWidget* actionsContainerView() const { return actionsContainerView_; }

  // The actions list of the pane: whoever provides it registers its maker here; the controller
  // it makes is shown in actionsContainerView and handed each time object (TimeObjectDisplay).
  using ActionsListFactory = std::function<std::shared_ptr<tw::ui::ViewController>()>;
  static void setActionsListFactory(ActionsListFactory factory);

 protected:
  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear() override;
  void viewDidAppear() override;

  virtual std::shared_ptr<BTTimeObjectControlViewModel> createControlViewModel();
  std::shared_ptr<BTTimeObjectTimingDisplayViewModel> createDisplayViewModel();
  virtual void onTimeObjectNotSet();
  virtual void onTimeObjectChanged();
  void onTimingValueUpdated(double seconds);
  void setActionsListViewIfNeeded();
  // Applies the view model's current value to the display.
  void refreshDisplayedValue();
  bool isWindowShowing() const;

  // Bindings made for the current time object; all end when another object is set.
  std::vector<tw::Observation> bindings_;
  std::weak_ptr<BTTimingController> timingController_;
  std::weak_ptr<BTSettingsProvider> settingsProvider_;

 private:
  friend class tw::TimingDisplayRootView;
  void windowShown();

  // Redraws a stopwatch's value in the places its accuracy setting now asks for.
  void stopwatchAccuracyChanged();

  std::shared_ptr<BTTimeObject> timeObject_;
  tw::ScopedNotificationToken settingsObserver_;
  std::shared_ptr<BTTimeObjectControlViewModel> controlViewModel_;
  std::shared_ptr<BTTimeObjectTimingDisplayViewModel> displayViewModel_;
  std::shared_ptr<tw::ui::ViewController> actionsListViewController_;
  bool droppedWhileHidden_ = false;

  QPointer<ElidingLineEdit> titleField_;
  bool titleTyped_ = false;  // since the title field took the focus
  QPointer<TimingDisplayView> displayView_;
  QPointer<QPushButton> startButton_;
  QPointer<QPushButton> resetButton_;
  QPointer<QToolButton> hideOrRevealActionsButton_;
  QPointer<QWidget> actionsContainerView_;
};
