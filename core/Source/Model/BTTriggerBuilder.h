#pragma once
// BTTriggerBuilder: the unstored, editable trigger of the action editor. Holds the fields of
// every trigger kind at once (state pair, time interval and condition), so the editor can switch
// kinds without losing what was typed; on save it makes a new stored trigger of the chosen kind,
// on Test an unstored proxy exposing only that kind. Key-value coding and observation cover every
// field, so editor views bind to it.
//
// The reference back to the action is weak: a tested action (a proxy owning a copy of this
// builder through its trigger) would otherwise own itself. Whoever runs the action holds it.
//
// Owned by its action builder (shared); main thread only.

#include <cstdint>
#include <memory>
#include <string_view>

#include "core/Source/Model/BTStateTriggerProtocol.h"
#include "core/Source/Model/BTTimeTriggerProtocol.h"
#include "platform/foundation/Object.h"

class BTActionTrigger;

class BTTriggerBuilder : public tw::Object,
                         public virtual BTStateTriggerProtocol,
                         public virtual BTTimeTriggerProtocol {
 public:
  // The trigger defaults: no action, state pair -1 / -1, interval 0, condition 0, armed.
  static std::shared_ptr<BTTriggerBuilder> builder();
  // Defaults, then the fields of `trigger` (nothing more for a null trigger).
  static std::shared_ptr<BTTriggerBuilder> builderWithActionTrigger(
      const std::shared_ptr<BTActionTriggerProtocol>& trigger);

  // Copies the action and the spent flag, and the fields of the kinds the trigger has (a proxy
  // answers by the kind it exposes); the other kinds' fields keep their values. Null: no change.
  void assignFromActionTrigger(const BTActionTriggerProtocol* trigger);
  // A new builder with every field of this one.
  std::shared_ptr<BTTriggerBuilder> copy() const;

  // A new stored trigger of the entity `type` ("BTStateTrigger" or "BTTimeTrigger") with this
  // builder's fields of that kind and its spent flag; nullptr for any other type. The trigger
  // points at the builder's action when that is a stored one and `linkAction` is set; the action
  // builder builds its own trigger unlinked and links it to the new action instead.
  std::shared_ptr<BTActionTrigger> buildActionTriggerOfType(std::string_view type,
                                                            bool linkAction = true) const;
  // An unstored copy behind a proxy that exposes only the kind protocol of `type`; nullptr for a
  // type without one (the generic trigger).
  std::shared_ptr<BTActionTriggerProtocol> buildGenericActionTriggerOfType(
      std::string_view type) const;

  // BTActionTriggerProtocol
  std::shared_ptr<BTActionObjectProtocol> actionObject() const override {
    return actionObject_.lock();
  }
  void setActionObject(const std::shared_ptr<BTActionObjectProtocol>& actionObject) override;
  bool isTriggered() const override { return triggered_; }
  void setTriggered(bool triggered);

  // BTStateTriggerProtocol
  std::int64_t stateFrom() const override { return stateFrom_; }
  void setStateFrom(std::int64_t stateFrom) override;
  std::int64_t stateTo() const override { return stateTo_; }
  void setStateTo(std::int64_t stateTo) override;

  // BTTimeTriggerProtocol
  double timeInterval() const override { return timeInterval_; }
  void setTimeInterval(double timeInterval) override;
  std::int64_t timeCondition() const override { return timeCondition_; }
  void setTimeCondition(std::int64_t timeCondition) override;

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;

 private:
  std::weak_ptr<BTActionObjectProtocol> actionObject_;
  bool triggered_ = false;
  std::int64_t stateFrom_ = BTStateTriggerProtocol::kStateUnset;
  std::int64_t stateTo_ = BTStateTriggerProtocol::kStateUnset;
  double timeInterval_ = 0.0;
  std::int64_t timeCondition_ = BTTimeTriggerProtocol::kTimeConditionElapsed;
};
