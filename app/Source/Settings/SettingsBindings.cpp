#include "app/Source/Settings/SettingsBindings.h"

#include "app/Source/Settings/SettingsCheckBox.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"

namespace tw::app {

std::shared_ptr<RACSignal> bindCheckBox(const std::shared_ptr<tw::SettingsCheckBox>& box,
                                        const std::shared_ptr<tw::Object>& target,
                                        const std::string& key,
                                        const std::shared_ptr<tw::Object>& observer) {
  if (!box || !target) return RACSignal::empty();
  RAC(box, "state") = rac_valuesForKeyPath(target, key, observer)->map([](const tw::Value& value) {
    return tw::Value(value.boolValue() ? tw::SettingsCheckBox::kOnState
                                       : tw::SettingsCheckBox::kOffState);
  });
  auto changes = rac_valuesForKeyPath(box, "cell.state", observer)
                     ->map([](const tw::Value& state) {
                       return tw::Value(state.integerValue() == tw::SettingsCheckBox::kOnState);
                     })
                     ->skip(1);
  RAC(target, key) = changes;
  return changes;
}

}  // namespace tw::app
