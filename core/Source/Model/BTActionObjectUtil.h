#pragma once
// BTActionObjectUtil: the defaults of a new action, applied to anything that adopts
// BTActionObjectProtocol: stored actions and the editor's builders. Each kind's group applies
// only when the object adopts that kind's protocol, so a builder adopting every kind receives
// every group. Titles and descriptions of actions live elsewhere.
//
// Also the protocol of each stored action kind, as the runtime descriptor a BTProxy exposes
// (the builders hand out an editor's action as a proxy of its kind's protocol only). The
// descriptors of the eight kind protocols are declared below: include this header before asking
// tw::protocolOf / tw::conformsTo for an action kind.
//
// No state; main thread (the objects it touches are main-thread objects).

#include <cstdint>
#include <memory>
#include <string_view>

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
