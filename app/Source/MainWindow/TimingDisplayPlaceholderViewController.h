#pragma once
// TimingDisplayPlaceholderViewController: the detail pane's content until the timing display
// screens land: the selected time object's title and running state, large. Registered as the
// initial controller of both timing display interfaces. Main thread only.

#include <QPointer>
#include <memory>

#include "app/Source/MainWindow/BTViewTransitionSubject.h"
#include "app/Source/MainWindow/MasterViewControllerDelegate.h"
#include "platform/ui/ViewController.h"

class QLabel;

class TimingDisplayPlaceholderViewController : public tw::ui::ViewController,
                                               public TimeObjectDisplay,
                                               public BTViewTransitionSubject {
 public:
  void setTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) override;
  std::shared_ptr<BTTimeObject> timeObject() const { return timeObject_; }

  bool implementsPreferredTransitionEndAlphaValue() const override { return true; }
  double preferredTransitionEndAlphaValue() const override { return 1.0; }

 protected:
  void loadView() override;

 private:
  void refresh();
  std::shared_ptr<BTTimeObject> timeObject_;
  QPointer<QLabel> title_;
  QPointer<QLabel> state_;
};
