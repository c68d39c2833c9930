#include "app/Source/TimingDisplay/StopwatchTimingDisplayViewController.h"

#include <QColor>
#include <cstdint>

#include "app/Source/Controls/FlatButton.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "platform/ui/NamedResources.h"

namespace {

QColor named(const char* name, QColor fallback) {
  return tw::ui::colorNamed(name).value_or(fallback);
}

}  // namespace

void StopwatchTimingDisplayViewController::viewDidLoad() {
  TimingDisplayViewControllerWithTouchBar::viewDidLoad();
  if (auto* flat = dynamic_cast<FlatButton*>(resetButton())) {
    flat->setButtonColor(named("OverlayLight20", QColor(255, 255, 255, 51)));
    flat->setActiveButtonColor(named("OverlayLight30", QColor(255, 255, 255, 77)));
  }
  if (auto bar = touchBar())
    bar->itemForIdentifier(kResetItem)->bezelColor = tw::ui::colorNamed("OverlayDark40");
}

std::shared_ptr<BTTimeObjectControlViewModel>
StopwatchTimingDisplayViewController::createControlViewModel() {
  if (timeObject()->isStopwatchType())
    if (auto controller = timingController_.lock())
      if (auto control = controller->stopwatchControlForStopwatchObject(timeObject()))
        return control;
  return TimingDisplayViewControllerWithTouchBar::createControlViewModel();
}

void StopwatchTimingDisplayViewController::onTimeObjectChanged() {
  TimingDisplayViewControllerWithTouchBar::onTimeObjectChanged();
  std::weak_ptr<tw::ui::Responder> weak = selfResponder();
  bindings_.push_back(timeObject()->observeScoped(
      "timingState", tw::KVOInitial | tw::KVONew, [weak](const tw::KeyValueChange&) {
        auto s = std::static_pointer_cast<StopwatchTimingDisplayViewController>(weak.lock());
        if (!s || !s->timeObject()) return;
        auto* flat = dynamic_cast<FlatButton*>(s->startButton());
        const std::int64_t state = s->timeObject()->timingState();
        if (flat) {
          if (state == 20 || state == 21) {
            flat->setButtonColor(named("TimingStateRedDim", QColor(0xc0, 0x39, 0x2b, 0xcc)));
            flat->setActiveButtonColor(named("TimingStateRed", QColor(0xff, 0x3b, 0x30)));
          } else if (state == 0 || state == 10) {
            flat->setButtonColor(named("TimingStateGreenDim", QColor(0x2e, 0x9d, 0x4f, 0xcc)));
            flat->setActiveButtonColor(named("TimingStateGreen", QColor(0x34, 0xc7, 0x59)));
          }
        }
        if (auto bar = s->touchBar()) {
          auto item = bar->itemForIdentifier(kStartItem);
          if (flat)
            item->bezelColor = flat->activeButtonColor();
          else
            item->bezelColor.reset();
        }
      }));
}
