#include "core/Source/Model/BTActionObjectUtil.h"

#include <array>
#include <utility>

#include "core/Source/Model/BTTimeObject.h"

void BTActionObjectUtil::setDefaultValues(BTActionObjectProtocol& object) {
  object.setEnabled(true);
  object.setTimeObject(nullptr);
  object.setTrigger(nullptr);
  object.setSortOrder(BTTimeObject::kSortOrderNotFound);

  if (auto* alert = dynamic_cast<BTDisplayAlertActionProtocol*>(&object)) {
    alert->setAlertSoundType(0);
    alert->setAlertCustomMessage(std::nullopt);
  }
  if (auto* message = dynamic_cast<BTCustomMessageActionProtocol*>(&object)) {
    message->setCustomMessageMode(1);
    message->setCustomMessageValue(std::string());
  }
  if (auto* flash = dynamic_cast<BTFlashScreenActionProtocol*>(&object))
    flash->setScreenColorArgbValue(kDefaultScreenColorArgbValue);
  if (auto* link = dynamic_cast<BTLinkTimeObjectActionProtocol*>(&object)) {
    link->setTargetAction(1);
    link->setTargetTimeObject(nullptr);
  }
  if (auto* event = dynamic_cast<BTSystemEventActionProtocol*>(&object))
    event->setSystemEventType(1);
  if (auto* file = dynamic_cast<BTFileOperationActionProtocol*>(&object))
    file->setFileFilepathValue(std::nullopt);
  if (auto* app = dynamic_cast<BTAppOperationActionProtocol*>(&object)) {
    app->setAppOperationType(1);
    app->setAppFilepathValue(std::nullopt);
  }
}

void BTActionObjectUtil::setDefaultValues(const std::shared_ptr<BTActionObjectProtocol>& object) {
  if (object) setDefaultValues(*object);
}

const tw::Protocol* BTActionObjectUtil::protocolForActionObjectType(std::string_view type) {
  // Each entity adopts exactly one kind protocol, named after it; the base adopts none.
  static const std::array<std::pair<std::string_view, const tw::Protocol*>, 8> kinds{{
      {"BTDisplayAlertAction", &tw::protocolOf<BTDisplayAlertActionProtocol>()},
      {"BTCustomMessageAction", &tw::protocolOf<BTCustomMessageActionProtocol>()},
      {"BTFlashScreenAction", &tw::protocolOf<BTFlashScreenActionProtocol>()},
      {"BTLinkTimeObjectAction", &tw::protocolOf<BTLinkTimeObjectActionProtocol>()},
      {"BTRepeatAction", &tw::protocolOf<BTRepeatActionProtocol>()},
      {"BTSystemEventAction", &tw::protocolOf<BTSystemEventActionProtocol>()},
      {"BTFileOperationAction", &tw::protocolOf<BTFileOperationActionProtocol>()},
      {"BTAppOperationAction", &tw::protocolOf<BTAppOperationActionProtocol>()},
  }};
  for (const auto& [name, protocol] : kinds)
    if (name == type) return protocol;
  return nullptr;
}
