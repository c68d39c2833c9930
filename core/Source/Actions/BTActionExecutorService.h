#pragma once
// BTActionExecutorService: carries out fired actions. The assembly's one "actionExecutor"
// component, owned by the component factory for the life of the process, handed to every time
// object's control and to the action editor's Test button.
// It runs four kinds itself: an alert (a user notification with the chosen sound), a custom
// message (spoken and/or shown in a modal alert), a link to another time object (start, pause or
// reset it) and a repeat (start its own time object again once it has been reset). The other
// four kinds (flash screen, system event, file, application) need the desktop and do nothing
// here; the application's subclass overrides their methods.
//
// Kinds are told apart by interface, in a fixed order (alert, custom message, flash screen, link,
// repeat, system event, application, file), so a builder that adopts every kind runs as an alert
// and a proxy runs as the one kind it exposes. Each per-kind method receives that kind's
// interface of the object that implements it (behind a proxy: the proxy's target).
//
// The collaborators (alert presenter, notification service, speech service, timing controller)
// are looked up in the default component factory on every use, never kept. When there is no
// factory, or it has no such component, that one effect is skipped with a line in the log.
//
// Threads: executeAction may be called from any thread; it hops through a background queue onto
// the main queue, where everything else (the per-kind methods, the services, the observation of
// a repeat action and its restart) runs. Create with std::make_shared: queued work keeps the
// service alive until it has run.

#include <memory>
#include <optional>
#include <string>

#include "core/Source/Model/BTActionObjectProtocol.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "platform/foundation/Object.h"
#include "platform/tasks/BFTask.h"

class BTAlertPresenter;
class BTAppOperationActionProtocol;
class BTCustomMessageActionProtocol;
class BTDisplayAlertActionProtocol;
class BTFileOperationActionProtocol;
class BTFlashScreenActionProtocol;
class BTLinkTimeObjectActionProtocol;
class BTNotificationService;
class BTRepeatActionProtocol;
class BTSpeechService;
class BTSystemEventActionProtocol;
class BTTimingController;

class BTActionExecutorService : public tw::Object, public BTActionExecutor {
 public:
  // Link actions: what targetAction asks of the target's control.
  static constexpr std::int64_t kTargetActionStart = 1;
  static constexpr std::int64_t kTargetActionPause = 2;
  static constexpr std::int64_t kTargetActionReset = 3;
  // Custom messages: the bits of customMessageMode.
  static constexpr std::int64_t kCustomMessageDisplay = 1;
  static constexpr std::int64_t kCustomMessageSpeak = 2;

  BTActionExecutorService() = default;

  // Queues the action for the main thread and returns a task that completes (null result, never
  // an error) as soon as it is queued, before the action has run. A null action is queued and
  // then ignored like an object of no known kind.
  BFTaskPtr executeAction(const std::shared_ptr<BTActionObjectProtocol>& action) override;

  // ----- one per kind; main thread. Overridable: the application runs the last four itself.
  // A user notification titled with the time object's title, subtitled with what the trigger
  // saw happen, carrying the trimmed message and the alert's sound.
  virtual void executeDisplayAlertAction(
      const std::shared_ptr<BTDisplayAlertActionProtocol>& action);
  // The trimmed message, spoken (bit 2) and then shown with an "OK" button (bit 1); a blank
  // message does nothing.
  virtual void executeCustomMessageAction(
      const std::shared_ptr<BTCustomMessageActionProtocol>& action);
  virtual void executeFlashScreenAction(const std::shared_ptr<BTFlashScreenActionProtocol>& action);
  // start / pause / reset on the target's control; a target that is missing or deleted, or
  // another targetAction, does nothing.
  virtual void executeLinkTimeObjectAction(
      const std::shared_ptr<BTLinkTimeObjectActionProtocol>& action);
  // Watches the action's time object until it is reset (at once when it already is), then starts
  // it on the main queue. If the action or its time object is deleted first, the watch ends and
  // nothing starts.
  virtual void executeRepeatAction(const std::shared_ptr<BTRepeatActionProtocol>& action);
  virtual void executeSystemEventAction(const std::shared_ptr<BTSystemEventActionProtocol>& action);
  virtual void executeFileOperationAction(
      const std::shared_ptr<BTFileOperationActionProtocol>& action);
  virtual void executeAppOperationAction(
      const std::shared_ptr<BTAppOperationActionProtocol>& action);

  // ----- collaborators, looked up afresh in the default component factory; null (and logged)
  // when there is none.
  std::shared_ptr<BTAlertPresenter> alertPresenter() const;
  std::shared_ptr<BTNotificationService> notificationService() const;
  std::shared_ptr<BTSpeechService> speechService() const;
  std::shared_ptr<BTTimingController> timingController() const;

  // Whether the action is only being tried out (BTTestActionObject), looking through proxies to
  // the object they stand for: a tested action's notification must not take the place of a real
  // one on screen.
  static bool isTestActionObject(const BTActionObjectProtocol* action);
  // The text with white space and line breaks cut from both ends (nil stays nil).
  static std::optional<std::string> trimmedText(const std::optional<std::string>& text);

 protected:
  // The main-thread half of executeAction: the first kind the action conforms to gets it.
  void performAction(const std::shared_ptr<BTActionObjectProtocol>& action);
};
