#pragma once
// ActionExecutorService: the application's action executor: the core's, plus the four kinds that
// need the desktop: flash screen, system event, open a file, launch or quit an application.
// Registered as the assembly's "actionExecutor" component; created with std::make_shared by the
// component factory, which owns it for the life of the process. A file or application action
// tried out with the editor's Test button that cannot run (the file or application is gone, or
// the desktop refuses it) says why in an alert; a fired one only logs it. The per-kind methods
// run on the main thread.

#include <string>

#include "core/Source/Actions/BTActionExecutorService.h"

class ActionExecutorService : public BTActionExecutorService {
 public:
  void executeFlashScreenAction(
      const std::shared_ptr<BTFlashScreenActionProtocol>& action) override;
  void executeSystemEventAction(
      const std::shared_ptr<BTSystemEventActionProtocol>& action) override;
  // Opens the path with the user's default application for it.
  void executeFileOperationAction(
      const std::shared_ptr<BTFileOperationActionProtocol>& action) override;
  // 1 launches the application entry, 2 force-terminates its first running process of ours.
  void executeAppOperationAction(
      const std::shared_ptr<BTAppOperationActionProtocol>& action) override;

 private:
  void tellTestFailed(const std::string& title, const std::string& message);
};
