#pragma once
// BTActionTriggerUtil: trigger kinds and trigger defaults. A kind is the integer the editor and
// the descriptions use; a stored trigger holds only its class and fields, and its kind is read
// back from those, by protocol, so builders and proxies answer as stored triggers do:
//
//   0 generic (fires on the first evaluation)   BTActionTrigger
//   1 when the time object starts               BTStateTrigger 0 -> 20
//   2 when the time object finishes             BTStateTrigger 20 -> 21
//   3 after a set time has elapsed              BTTimeTrigger, condition 0
//   4 after a set time remains                  BTTimeTrigger, condition 10
//  -1 no kind (a trigger that matches none of the above, or none at all)
//
// No state; main thread (the objects it touches are main-thread objects).

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/Source/Library/Proxying/Protocol.h"

class BTActionTrigger;
class BTActionTriggerProtocol;

class BTActionTriggerUtil {
 public:
  BTActionTriggerUtil() = delete;

  static constexpr long kKindNone = -1;
  static constexpr long kKindGeneric = 0;
  static constexpr long kKindStarts = 1;
  static constexpr long kKindFinishes = 2;
  static constexpr long kKindTimeElapsed = 3;
  static constexpr long kKindTimeRemains = 4;

  // The entity (class) name that stores triggers of `kind`: "BTActionTrigger",
  // "BTStateTrigger" or "BTTimeTrigger"; nullopt for any other value.
  static std::optional<std::string> actionTriggerTypeFromActionTriggerKind(long kind);
  // The kind protocol adopted by the trigger entity (class) named `type`, as the runtime
  // descriptor a BTProxy exposes: "BTStateTrigger" gives BTStateTriggerProtocol's,
  // "BTTimeTrigger" BTTimeTriggerProtocol's; the generic "BTActionTrigger", which adopts only the
  // base protocol, and any other name give nullptr.
  static const tw::Protocol* protocolForActionTriggerType(std::string_view type);
  // A new stored trigger of the entity for `kind`, its fields untouched; nullptr for a value
  // that has no entity. Made through the managed-object factory (main context).
  static std::shared_ptr<BTActionTrigger> makeActionTriggerOfKind(long kind);

  static bool isActionTrigger(const BTActionTriggerProtocol* trigger, long kind);
  static bool isActionTrigger(const std::shared_ptr<BTActionTriggerProtocol>& trigger, long kind) {
    return isActionTrigger(trigger.get(), kind);
  }
  // The first kind of 0...4 the trigger matches; kKindNone when none does or for nullptr.
  static long actionTriggerKindFromActionTrigger(const BTActionTriggerProtocol* trigger);
  static long actionTriggerKindFromActionTrigger(
      const std::shared_ptr<BTActionTriggerProtocol>& trigger) {
    return actionTriggerKindFromActionTrigger(trigger.get());
  }

  // actionObject nil; state triggers -1 / -1; time triggers interval 0.0, condition 0.
  static void setDefaultValues(BTActionTriggerProtocol& trigger);
  // Does nothing for nullptr.
  static void setDefaultValues(const std::shared_ptr<BTActionTriggerProtocol>& trigger);
};
