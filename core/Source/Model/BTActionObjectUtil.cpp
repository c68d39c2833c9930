#include "core/Source/Model/BTActionObjectUtil.h"

#include "core/Source/Model/BTActionObjectProtocol.h"
#include "core/Source/Model/BTAppOperationActionProtocol.h"
#include "core/Source/Model/BTCustomMessageActionProtocol.h"
#include "core/Source/Model/BTDisplayAlertActionProtocol.h"
#include "core/Source/Model/BTFileOperationActionProtocol.h"
#include "core/Source/Model/BTFlashScreenActionProtocol.h"
#include "core/Source/Model/BTLinkTimeObjectActionProtocol.h"
#include "core/Source/Model/BTSystemEventActionProtocol.h"
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
