#include "app/Source/Actions/ActionExecutorService.h"

#include "app/Source/Actions/DesktopWorkspace.h"
#include "app/Source/Actions/FlashScreenActionUtil.h"
#include "app/Source/Actions/SystemEventActionUtil.h"
#include "core/Source/Model/BTAppOperationActionProtocol.h"
#include "core/Source/Model/BTFileOperationActionProtocol.h"
#include "core/Source/PlatformServices/BTAlertPresenter.h"
#include "core/Source/UserMessages/BTAlert.h"
#include "core/Source/UserMessages/BTAlertAction.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/Log.h"

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
  const auto path = action->fileFilepathValue();
  if (!path) return;
  std::string reason;
  if (!tw::app::openFile(*path, &reason) && isTestActionObject(action.get()))
    tellTestFailed(tw::localized("The file could not be opened"),
                   tw::localizedFormat("Tickwell could not open %@: %@.", *path, reason));
}

void ActionExecutorService::executeAppOperationAction(
    const std::shared_ptr<BTAppOperationActionProtocol>& action) {
  if (!action) return;
  const auto path = action->appFilepathValue();
  if (!path) return;
  std::string reason;
  switch (action->appOperationType()) {
    case BTAppOperationActionProtocol::kAppOperationLaunch:
      if (!tw::app::launchApplication(*path, &reason) && isTestActionObject(action.get()))
        tellTestFailed(tw::localized("The application could not be launched"),
                       tw::localizedFormat("Tickwell could not launch %@: %@.", *path, reason));
      break;
    case BTAppOperationActionProtocol::kAppOperationQuit:
      // An application that is not running has nothing to quit; only one that is gone is told.
      if (!tw::app::forceTerminateApplication(*path) && isTestActionObject(action.get()) &&
          tw::app::applicationExecutable(*path).empty())
        tellTestFailed(tw::localized("The application could not be quit"),
                       tw::localizedFormat("Tickwell could not quit %@: %@.", *path,
                                           tw::app::unreadableEntry(*path)));
      break;
    default:
      break;
  }
}

void ActionExecutorService::tellTestFailed(const std::string& title, const std::string& message) {
  tw::log(tw::LogLevel::Error, "Telling the user: " + title + ": " + message);
  auto presenter = alertPresenter();
  if (!presenter) return;
  auto alert = BTAlert::alertWithTitle(title, message, BTAlert::kStyleCritical);
  alert->addAction(BTAlertAction::actionWithTitle(tw::localized("OK"), 0, nullptr));
  presenter->presentAlert(alert);
}
