#pragma once
// BTActionObjectUtil: the defaults of a new action, applied to anything that adopts
// BTActionObjectProtocol: stored actions and the editor's builders. Each kind's group applies
// only when the object adopts that kind's protocol, so a builder adopting every kind receives
// every group.
//
// The texts that name an action kind (the editor's menu: title and summary) and describe one
// action (the actions list row): each is looked up in the main bundle's string table with its
// English wording as key, formats before they are filled. nullopt where there is no text: an
// unknown kind, a value code without a text, or a missing part (no time object, no file).
// Kinds are tested in the fixed order alert, custom message, flash screen, link, repeat, system
// event, file, application; an object adopting several (a builder) is described as the first.
//
// Also the protocol of each stored action kind, as the runtime descriptor a BTProxy exposes
// (the builders hand out an editor's action as a proxy of its kind's protocol only). The
// descriptors of the eight kind protocols are declared below: include this header before asking
// tw::protocolOf / tw::conformsTo for an action kind.
//
// No state; main thread (the objects it touches are main-thread objects).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/Source/Library/Proxying/Protocol.h"
#include "core/Source/Model/BTActionObjectProtocol.h"
#include "core/Source/Model/BTAppOperationActionProtocol.h"
#include "core/Source/Model/BTCustomMessageActionProtocol.h"
#include "core/Source/Model/BTDisplayAlertActionProtocol.h"
#include "core/Source/Model/BTFileOperationActionProtocol.h"
#include "core/Source/Model/BTFlashScreenActionProtocol.h"
#include "core/Source/Model/BTLinkTimeObjectActionProtocol.h"
#include "core/Source/Model/BTRepeatActionProtocol.h"
#include "core/Source/Model/BTSystemEventActionProtocol.h"

class BTActionObjectUtil {
 public:
  BTActionObjectUtil() = delete;

  static constexpr std::int64_t kDefaultScreenColorArgbValue = 0xFFFFFFFF;  // opaque white

  static void setDefaultValues(BTActionObjectProtocol& object);
  // Does nothing for nullptr.
  static void setDefaultValues(const std::shared_ptr<BTActionObjectProtocol>& object);

  // The kind protocol adopted by the action entity (class) named `type`: "BTDisplayAlertAction"
  // gives the descriptor of BTDisplayAlertActionProtocol, and so on for the eight kinds; the
  // base "BTActionObject", and any name that is no action kind, give nullptr.
  static const tw::Protocol* protocolForActionObjectType(std::string_view type);

  // Title and summary of the action kind stored by the entity named `type` ("BTDisplayAlertAction"
  // gives "Display Alert Notification" and "Shows a system alert notification with a message and
  // sound."); nullopt for "BTActionObject" and any other name.
  static std::optional<std::string> actionObjectTypeTitle(std::string_view type);
  static std::optional<std::string> actionObjectTypeSummary(std::string_view type);

  // One line describing what the action does, by the first kind it conforms to. A proxy
  // (tw::ProtocolConformer) is described by the kind it exposes, not by what stands behind it.
  // Takes a stored action, a builder or a proxy, by raw or shared pointer.
  template <class T>
  static std::optional<std::string> actionObjectDescription(const T* action) {
    if constexpr (std::is_convertible_v<const T*, const tw::Object*>)
      return describeAction(static_cast<const tw::Object*>(action));
    else
      return describeAction(static_cast<const BTActionObjectProtocol*>(action));
  }
  template <class T>
  static std::optional<std::string> actionObjectDescription(const std::shared_ptr<T>& action) {
    return actionObjectDescription(action.get());
  }
  static std::optional<std::string> actionObjectDescription(std::nullptr_t) { return std::nullopt; }

  // The kinds' own lines.
  // "Show notification with <sound>"; nullopt for a sound code other than -1...3.
  static std::optional<std::string> displayAlertActionDescription(
      const BTDisplayAlertActionProtocol& action);
  // "<Display|Speak|Display and speak> message "<text>"", the text cut to its first 24 UTF-16
  // units plus "..." when longer (never inside a code point, so an emoji straddling the cut is
  // left out whole). An absent message reads as empty.
  static std::optional<std::string> customMessageActionDescription(
      const BTCustomMessageActionProtocol& action);
  static std::optional<std::string> flashScreenActionDescription(
      const BTFlashScreenActionProtocol& action);
  // "<Start|Pause|Reset> <type> "<title>"" of the target; nullopt without a target or for another
  // operation code.
  static std::optional<std::string> linkTimeObjectActionDescription(
      const BTLinkTimeObjectActionProtocol& action);
  // "Repeat this <type>" of the action's own time object; nullopt without one.
  static std::optional<std::string> repeatActionDescription(const BTRepeatActionProtocol& action);
  static std::optional<std::string> systemEventActionDescription(
      const BTSystemEventActionProtocol& action);
  // "Open file "<name>"", the last path component only; nullopt without a path.
  static std::optional<std::string> fileOperationActionDescription(
      const BTFileOperationActionProtocol& action);
  // "<Launch|Quit> application "<name>""; nullopt without a path or for another operation code.
  static std::optional<std::string> appOperationActionDescription(
      const BTAppOperationActionProtocol& action);

  // The first `maxUnits` UTF-16 units of UTF-8 `text` (the whole text when it is no longer),
  // never ending inside a code point: a character of two units that would straddle the limit is
  // left out. A malformed byte sequence counts as one unit and is kept as it is.
  static std::string prefixOfUtf16Length(std::string_view text, std::size_t maxUnits,
                                         bool* truncated = nullptr);

 private:
  static std::optional<std::string> describeAction(const BTActionObjectProtocol* action);
  static std::optional<std::string> describeAction(const tw::Object* action);
};

TW_PROTOCOL(BTDisplayAlertActionProtocol, {&tw::protocolOf<BTActionObjectProtocol>()},
            {"alertSoundType", "setAlertSoundType:", "alertCustomMessage",
             "setAlertCustomMessage:"})
TW_PROTOCOL(BTCustomMessageActionProtocol, {&tw::protocolOf<BTActionObjectProtocol>()},
            {"customMessageMode", "setCustomMessageMode:", "customMessageValue",
             "setCustomMessageValue:"})
TW_PROTOCOL(BTFlashScreenActionProtocol, {&tw::protocolOf<BTActionObjectProtocol>()},
            {"screenColorArgbValue", "setScreenColorArgbValue:"})
TW_PROTOCOL(BTLinkTimeObjectActionProtocol, {&tw::protocolOf<BTActionObjectProtocol>()},
            {"targetTimeObject", "setTargetTimeObject:", "targetAction", "setTargetAction:"})
TW_PROTOCOL(BTRepeatActionProtocol, {&tw::protocolOf<BTActionObjectProtocol>()}, {})
TW_PROTOCOL(BTSystemEventActionProtocol, {&tw::protocolOf<BTActionObjectProtocol>()},
            {"systemEventType", "setSystemEventType:"})
TW_PROTOCOL(BTFileOperationActionProtocol, {&tw::protocolOf<BTActionObjectProtocol>()},
            {"fileFilepathValue", "setFileFilepathValue:"})
TW_PROTOCOL(BTAppOperationActionProtocol, {&tw::protocolOf<BTActionObjectProtocol>()},
            {"appOperationType", "setAppOperationType:", "appFilepathValue",
             "setAppFilepathValue:"})
