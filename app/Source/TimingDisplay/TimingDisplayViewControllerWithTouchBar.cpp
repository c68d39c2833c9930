#include "app/Source/TimingDisplay/TimingDisplayViewControllerWithTouchBar.h"

#include "app/Source/TimingDisplay/TimingDisplayAccessible.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/ViewModels/BTAlarmListItemViewModel.h"
#include "core/Source/ViewModels/BTStopwatchListItemViewModel.h"
#include "core/Source/ViewModels/BTTimerListItemViewModel.h"
#include "platform/ui/NamedResources.h"

void TimingDisplayViewControllerWithTouchBar::viewDidLoad() {
  TimingDisplayViewController::viewDidLoad();
  if (auto bar = touchBar()) {
    bar->itemForIdentifier(kStartItem)->bezelColor = tw::ui::colorNamed("TimingStateGreen");
    bar->itemForIdentifier(kResetItem)->bezelColor = tw::ui::colorNamed("TimingStateRed");
  }
}

std::shared_ptr<tw::ui::TouchBar> TimingDisplayViewControllerWithTouchBar::makeTouchBar() {
  auto bar = std::make_shared<tw::ui::TouchBar>();
  bar->customizationIdentifier = "com.velmora.Tickwell.touchbar.timingDisplay";
  bar->defaultItemIdentifiers = {kTitleItem, kValueItem, kStartItem, kResetItem};
  for (const char* identifier : {kTitleItem, kValueItem, kStartItem, kResetItem})
    bar->addItem(std::make_shared<tw::ui::TouchBarItem>(identifier));
  return bar;
}

void TimingDisplayViewControllerWithTouchBar::onTimeObjectNotSet() {
  TimingDisplayViewController::onTimeObjectNotSet();
  setTouchBar(nullptr);
}

std::shared_ptr<BTTimeObjectListItemViewModel>
TimingDisplayViewControllerWithTouchBar::createItemViewModel() {
  const auto& object = timeObject();
  if (object->isAlarmType())
    return BTTimeObjectListItemViewModel::create<BTAlarmListItemViewModel>(object);
  if (object->isTimerType())
    return BTTimeObjectListItemViewModel::create<BTTimerListItemViewModel>(object);
  if (object->isStopwatchType())
    return BTTimeObjectListItemViewModel::create<BTStopwatchListItemViewModel>(object);
  return BTTimeObjectListItemViewModel::create(object);
}

void TimingDisplayViewControllerWithTouchBar::onTimeObjectChanged() {
  TimingDisplayViewController::onTimeObjectChanged();
  willChangeValueForKey("itemViewModel");
  itemViewModel_ = createItemViewModel();
  didChangeValueForKey("itemViewModel");
  // An alarm's display counts down to its time of day, which a reader hears first.
  std::function<QString()> lead;
  if (timeObject()->isAlarmType())
    lead = [weakModel = std::weak_ptr<BTTimeObjectListItemViewModel>(itemViewModel_)] {
      auto model = weakModel.lock();
      return model ? QString::fromStdString(model->staticValueDescription()) : QString();
    };
  TimingDisplayAccessible::setLeadText(displayView(), std::move(lead));
  auto bar = touchBar();
  if (!bar) return;
  std::weak_ptr<tw::ui::Responder> weak = selfResponder();
  auto self = [weak] {
    return std::static_pointer_cast<TimingDisplayViewControllerWithTouchBar>(weak.lock());
  };
  const unsigned options = tw::KVOInitial | tw::KVONew;
  std::weak_ptr<tw::ui::TouchBar> weakBar = bar;
  bindings_.push_back(
      timeObject()->observeScoped("title", options, [self, weakBar](const tw::KeyValueChange&) {
        auto s = self();
        auto b = weakBar.lock();
        if (s && b) b->itemForIdentifier(kTitleItem)->stringValue = s->timeObject()->title();
      }));
  bindings_.push_back(itemViewModel_->observeScoped(
      "dynamicValueDescription", options, [self, weakBar](const tw::KeyValueChange&) {
        auto s = self();
        auto b = weakBar.lock();
        if (s && b && s->itemViewModel_)
          b->itemForIdentifier(kValueItem)->stringValue =
              s->itemViewModel_->dynamicValueDescription();
      }));
  if (auto control = controlViewModel()) {
    auto buttons = [self, weakBar](const tw::KeyValueChange&) {
      auto s = self();
      auto b = weakBar.lock();
      if (!s || !b || !s->controlViewModel()) return;
      const auto& c = *s->controlViewModel();
      auto start = b->itemForIdentifier(kStartItem);
      start->title = c.startText().value_or("");
      start->enabled = c.isStartEnabled();
      auto reset = b->itemForIdentifier(kResetItem);
      reset->title = c.resetText();
      reset->enabled = c.isResetEnabled();
    };
    for (const char* key : {"startText", "startEnabled", "resetEnabled"})
      bindings_.push_back(control->observeScoped(key, options, buttons));
  }
}
