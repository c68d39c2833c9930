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
// Also the texts of triggers: each kind's title and summary (the editor's menu), and a stored
// trigger's description, plain ("When this timer finishes", the actions list) or activated
// ("this timer has finished", the subtitle of an alert's notification). Looked up in the main
// bundle's string table with the English wording as key, formats before they are filled.
// nullopt where there is no text: kinds outside 1...4, a generic trigger, a state pair or time
// condition of no kind, or a trigger whose action has no time object to name.
//
// No state; main thread (the objects it touches are main-thread objects).

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/Source/Library/Proxying/Protocol.h"

#include "core/Source/Model/BTStateTriggerProtocol.h"
#include "core/Source/Model/BTTimeTriggerProtocol.h"

class BTActionTrigger;

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

  // "upon finishing" / "When an alarm or timer finishes." and so on; nullopt outside 1...4.
  static std::optional<std::string> actionTriggerTypeTitle(long kind);
  static std::optional<std::string> actionTriggerTypeSummary(long kind);

  // A duration with its unit: 60 reads "1 minute", 90 "1:30 minutes".
  static std::string timerIntervalDescription(double seconds);

  // By the trigger's kind interface, state first, then time; nullopt for any other trigger and
  // for none. A proxy (tw::ProtocolConformer) answers by the kind it exposes. Take a stored
  // trigger, a builder or a proxy, by raw or shared pointer.
  template <class T>
  static std::optional<std::string> actionTriggerDescription(const T* trigger) {
    return describe(trigger, false);
  }
  template <class T>
  static std::optional<std::string> actionTriggerDescription(const std::shared_ptr<T>& trigger) {
    return describe(trigger.get(), false);
  }
  static std::optional<std::string> actionTriggerDescription(std::nullptr_t) {
    return std::nullopt;
  }
  template <class T>
  static std::optional<std::string> actionTriggerActivatedDescription(const T* trigger) {
    return describe(trigger, true);
  }
  template <class T>
  static std::optional<std::string> actionTriggerActivatedDescription(
      const std::shared_ptr<T>& trigger) {
    return describe(trigger.get(), true);
  }
  static std::optional<std::string> actionTriggerActivatedDescription(std::nullptr_t) {
    return std::nullopt;
  }

  // The kinds' own lines: 0 -> 20 "When this <type> starts" / "this <type> has started",
  // 20 -> 21 "When this <type> finishes" / "this <type> has finished", with the type of the
  // trigger's action's time object; condition 10 "After <interval> remains" / "<interval>
  // remains", condition 0 "After <interval> has elapsed" / "<interval> has elapsed".
  static std::optional<std::string> stateTriggerDescription(const BTStateTriggerProtocol& trigger,
                                                            bool activated);
  static std::optional<std::string> timeTriggerDescription(const BTTimeTriggerProtocol& trigger,
                                                           bool activated);

 private:
  static std::optional<std::string> describeTrigger(const BTActionTriggerProtocol* trigger,
                                                    bool activated);
  static std::optional<std::string> describeTrigger(const tw::Object* trigger, bool activated);
  template <class T>
  static std::optional<std::string> describe(const T* trigger, bool activated) {
    if constexpr (std::is_convertible_v<const T*, const tw::Object*>)
      return describeTrigger(static_cast<const tw::Object*>(trigger), activated);
    else
      return describeTrigger(static_cast<const BTActionTriggerProtocol*>(trigger), activated);
  }
};
