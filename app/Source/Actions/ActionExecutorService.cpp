#include "app/Source/Actions/ActionExecutorService.h"

#include "app/Source/Actions/DesktopWorkspace.h"
#include "app/Source/Actions/FlashScreenActionUtil.h"
#include "app/Source/Actions/SystemEventActionUtil.h"
#include "core/Source/Model/BTAppOperationActionProtocol.h"
#include "core/Source/Model/BTFileOperationActionProtocol.h"

void ActionExecutorService::executeFlashScreenAction(
    const std::shared_ptr<BTFlashScreenActionProtocol>& action) {
  FlashScreenActionUtil::flashScreenWithAction(action);
}

void ActionExecutorService::executeSystemEventAction(
    const std::shared_ptr<BTSystemEventActionProtocol>& action) {
  SystemEventActionUtil::performSystemEventWithAction(action);
}

void ActionExecutorService::executeFileOperationAction(
    const std::shared_ptr<BTFileOperationActionProtocol>& action) {
  if (!action) return;
  if (auto path = action->fileFilepathValue()) tw::app::openFile(*path);
}

void ActionExecutorService::executeAppOperationAction(
    const std::shared_ptr<BTAppOperationActionProtocol>& action) {
  if (!action) return;
  const auto path = action->appFilepathValue();
  if (!path) return;
  switch (action->appOperationType()) {
    case BTAppOperationActionProtocol::kAppOperationLaunch:
      tw::app::launchApplication(*path);
      break;
    case BTAppOperationActionProtocol::kAppOperationQuit:
      tw::app::forceTerminateApplication(*path);
      break;
    default:
      break;
  }
}
