#include "core/Source/Actions/BTActionExecutorService.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <string_view>
#include <utility>

#include "core/Source/Library/Proxying/BTProxy.h"
#include "core/Source/Library/Proxying/Protocol.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/Model/BTTestActionObject.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/PlatformServices/BTAlertPresenter.h"
#include "core/Source/PlatformServices/BTNotificationService.h"
#include "core/Source/PlatformServices/BTSpeechService.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/UserMessages/BTAlert.h"
#include "core/Source/UserMessages/BTAlertAction.h"
#include "core/Source/UserMessages/BTNotification.h"
#include "platform/desktop/UserNotification.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/Log.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSubject.h"
#include "platform/store/ManagedObject.h"
#include "platform/tasks/BFTaskCompletionSource.h"

namespace {

constexpr std::string_view kLogPrefix = "<BTActionExecutorService> ";

// The collaborator of type T from the default factory, or null with one line in the log: an
// action must never bring the application down because a service is missing.
template <class T>
std::shared_ptr<T> lookUpComponent(std::string_view name) {
  const auto factory = TyphoonComponentFactory::defaultFactory();
  if (!factory) {
    tw::log(tw::LogLevel::Error, std::string(kLogPrefix) + "No component factory to find the " +
                                     std::string(name) + " in; skipping what needs it");
    return nullptr;
  }
  try {
    if (auto component = factory->componentForType<T>()) return component;
    tw::log(tw::LogLevel::Error, std::string(kLogPrefix) + "The component factory has no " +
                                     std::string(name) + "; skipping what needs it");
  } catch (const tw::Exception& e) {
    tw::log(tw::LogLevel::Error, std::string(kLogPrefix) + "Cannot get the " + std::string(name) +
                                     " (" + e.reason() + "); skipping what needs it");
  }
  return nullptr;
}

// The action's P interface: by what a proxy exposes, else by the object's own type.
template <class P>
std::shared_ptr<P> kindOf(const std::shared_ptr<BTActionObjectProtocol>& action,
                          const std::shared_ptr<tw::Object>& object) {
  if (object) return tw::interfaceOf<P>(object);
  return std::dynamic_pointer_cast<P>(action);
}

// A stored object that has been deleted, or has left its store; other objects never are.
bool isGone(const tw::Object* object) {
  const auto* managed = dynamic_cast<const tw::store::ManagedObject*>(object);
  return managed && (managed->isDeleted() || managed->isFault());
}

// Whether the repeat action can still run its time object: the action is neither deleted nor
// detached from it, and the time object is still stored.
bool canRepeat(const std::shared_ptr<BTRepeatActionProtocol>& action) {
  if (isGone(dynamic_cast<const tw::Object*>(action.get()))) return false;
  const auto timeObject = action->timeObject();
  return timeObject && !isGone(timeObject.get());
}

// NSCharacterSet's "whitespace and newline" set: separators of every kind, tab, the line breaks
// U+000A to U+000D and NEL.
bool isWhiteSpaceOrNewline(UChar32 c) {
  if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
  const auto type = static_cast<UCharCategory>(u_charType(c));
  return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

}  // namespace

// ----- executing

BFTaskPtr BTActionExecutorService::executeAction(
    const std::shared_ptr<BTActionObjectProtocol>& action) {
  auto source = BFTaskCompletionSource::taskCompletionSource();
  auto self = std::dynamic_pointer_cast<BTActionExecutorService>(weak_from_this().lock());
  if (!self) {
    // Queued work could outlive an executor nobody owns through a shared_ptr.
    tw::log(tw::LogLevel::Error,
            std::string(kLogPrefix) + "Not owned through a shared_ptr; action dropped");
    source->trySetResult(tw::Value());
    return source->task();
  }
  // The background hop only queues: the action is main-thread work. Both the action and the
  // executor move on into the main block, so the last reference to a main-thread object is never
  // dropped on the background thread.
  tw::DispatchQueue::global(tw::QoS::Background)
      ->async([self = std::move(self), action = action, source]() mutable {
        tw::DispatchQueue::main()->async(
            [self = std::move(self), action = std::move(action)] { self->performAction(action); });
        source->trySetResult(tw::Value());
      });
  return source->task();
}

void BTActionExecutorService::performAction(const std::shared_ptr<BTActionObjectProtocol>& action) {
  if (!action) return;
  const auto object = std::dynamic_pointer_cast<tw::Object>(action);
  if (auto a = kindOf<BTDisplayAlertActionProtocol>(action, object))
    executeDisplayAlertAction(a);
  else if (auto c = kindOf<BTCustomMessageActionProtocol>(action, object))
    executeCustomMessageAction(c);
  else if (auto f = kindOf<BTFlashScreenActionProtocol>(action, object))
    executeFlashScreenAction(f);
  else if (auto l = kindOf<BTLinkTimeObjectActionProtocol>(action, object))
    executeLinkTimeObjectAction(l);
  else if (auto r = kindOf<BTRepeatActionProtocol>(action, object))
    executeRepeatAction(r);
  else if (auto s = kindOf<BTSystemEventActionProtocol>(action, object))
    executeSystemEventAction(s);
  else if (auto p = kindOf<BTAppOperationActionProtocol>(action, object))
    executeAppOperationAction(p);
  else if (auto o = kindOf<BTFileOperationActionProtocol>(action, object))
    executeFileOperationAction(o);
}

// ----- the kinds

void BTActionExecutorService::executeDisplayAlertAction(
    const std::shared_ptr<BTDisplayAlertActionProtocol>& action) {
  if (!action) return;
  const auto timeObject = action->timeObject();

  auto notification = std::make_shared<BTNotification>();
  if (timeObject) notification->setTitle(timeObject->title());
  notification->setSubtitle(
      BTActionTriggerUtil::actionTriggerActivatedDescription(action->trigger()));
  notification->setMessage(trimmedText(action->alertCustomMessage()));
  // Notifications with one identifier replace each other on screen: a try-out must never take
  // the place of the real alert of the same time object.
  if (timeObject && !isTestActionObject(action.get()))
    notification->setIdentifier(timeObject->uuid());
  switch (action->alertSoundType()) {
    case 0:
      notification->setSoundName(std::string(NSUserNotificationDefaultSoundName));
      break;
    case 1:
    case 2:
    case 3:
      // Named sounds are not set here; the notification stays silent.
      break;
    default:
      notification->setSoundName(std::nullopt);
      break;
  }

  if (auto service = notificationService()) service->deliverNotification(notification);
}

void BTActionExecutorService::executeCustomMessageAction(
    const std::shared_ptr<BTCustomMessageActionProtocol>& action) {
  if (!action) return;
  const auto text = trimmedText(action->customMessageValue());
  if (!text || text->empty()) return;
  const auto mode = action->customMessageMode();

  // Speech first, so it goes on while the modal alert is up.
  if (mode & kCustomMessageSpeak) {
    if (auto speech = speechService()) speech->startSpeakingText(*text);
  }
  if (mode & kCustomMessageDisplay) {
    const auto timeObject = action->timeObject();
    auto alert = BTAlert::alertWithTitle(
        timeObject ? std::optional<std::string>(timeObject->title()) : std::nullopt, *text,
        BTAlert::kStyleInformational);
    alert->addAction(
        BTAlertAction::actionWithTitle(tw::localized("OK"), BTAlertAction::kStyleDefault, {}));
    if (auto presenter = alertPresenter()) presenter->presentAlert(alert);
  }
}

void BTActionExecutorService::executeFlashScreenAction(
    const std::shared_ptr<BTFlashScreenActionProtocol>& /*action*/) {}

void BTActionExecutorService::executeLinkTimeObjectAction(
    const std::shared_ptr<BTLinkTimeObjectActionProtocol>& action) {
  if (!action) return;
  const auto target = action->targetTimeObject();
  // The target was deleted (the link nullified, or not yet): nothing to drive.
  if (!target || isGone(target.get())) {
    tw::log(tw::LogLevel::Info,
            std::string(kLogPrefix) + "Link action without a target time object; nothing to do");
    return;
  }
  const auto controller = timingController();
  if (!controller) return;
  const auto control = controller->timingControlForTimingObject(target);
  if (!control) return;
  switch (action->targetAction()) {
    case kTargetActionStart:
      control->start();
      break;
    case kTargetActionPause:
      control->pause();
      break;
    case kTargetActionReset:
      control->reset();
      break;
    default:
      break;
  }
}

void BTActionExecutorService::executeRepeatAction(
    const std::shared_ptr<BTRepeatActionProtocol>& action) {
  const auto object = std::dynamic_pointer_cast<tw::Object>(action);
  if (!object) return;  // nothing to observe

  // Only a reset of a time object that is still there restarts it; the observation also ends
  // when the action or its time object is deleted (its path then reads null), or when either
  // side of the observation goes away, and then nothing starts.
  struct Watch {
    bool resetSeen = false;
  };
  auto watch = std::make_shared<Watch>();
  auto subject = RACSubject::subject();
  std::weak_ptr<BTActionExecutorService> weakSelf =
      std::dynamic_pointer_cast<BTActionExecutorService>(weak_from_this().lock());

  rac_valuesForKeyPath(object, "timeObject.timingState", weak_from_this().lock())
      ->takeUntil(subject)
      ->subscribeNext(
          [action, watch, subject](const tw::Value& state) {
            if (!canRepeat(action)) {
              subject->sendCompleted();
              return;
            }
            if (state.isNumber() && state.integerValue() == tw::kTimingStateReset) {
              watch->resetSeen = true;
              subject->sendCompleted();
            }
          },
          [action, watch, weakSelf] {
            if (!watch->resetSeen) return;
            tw::DispatchQueue::main()->async([action, weakSelf] {
              const auto self = weakSelf.lock();
              // Deleted between the reset and this turn (a deletion resets the control first).
              if (!self || !canRepeat(action)) return;
              const auto controller = self->timingController();
              if (!controller) return;
              if (auto control = controller->timingControlForTimingObject(action->timeObject()))
                control->start();
            });
          });
}

void BTActionExecutorService::executeSystemEventAction(
    const std::shared_ptr<BTSystemEventActionProtocol>& /*action*/) {}

void BTActionExecutorService::executeFileOperationAction(
    const std::shared_ptr<BTFileOperationActionProtocol>& /*action*/) {}

void BTActionExecutorService::executeAppOperationAction(
    const std::shared_ptr<BTAppOperationActionProtocol>& /*action*/) {}

// ----- collaborators

std::shared_ptr<BTAlertPresenter> BTActionExecutorService::alertPresenter() const {
  return lookUpComponent<BTAlertPresenter>("alert presenter");
}

std::shared_ptr<BTNotificationService> BTActionExecutorService::notificationService() const {
  return lookUpComponent<BTNotificationService>("notification service");
}

std::shared_ptr<BTSpeechService> BTActionExecutorService::speechService() const {
  return lookUpComponent<BTSpeechService>("speech service");
}

std::shared_ptr<BTTimingController> BTActionExecutorService::timingController() const {
  return lookUpComponent<BTTimingController>("timing controller");
}

// ----- helpers

bool BTActionExecutorService::isTestActionObject(const BTActionObjectProtocol* action) {
  if (!action) return false;
  if (dynamic_cast<const BTTestActionObject*>(action)) return true;
  // A proxy hides every protocol but one, the marker included; what it stands for decides.
  const auto* object = dynamic_cast<const tw::Object*>(action);
  std::shared_ptr<tw::Object> behind;
  for (int depth = 0; object && depth < 8; ++depth) {
    if (const auto* proxy = dynamic_cast<const BTProxy*>(object)) {
      behind = proxy->target();
    } else if (const auto* conformer = dynamic_cast<const tw::ProtocolConformer*>(object)) {
      behind = conformer->implementerOf(tw::protocolOf<BTActionObjectProtocol>());
    } else {
      return false;
    }
    if (dynamic_cast<const BTTestActionObject*>(behind.get())) return true;
    object = behind.get();
  }
  return false;
}

std::optional<std::string> BTActionExecutorService::trimmedText(
    const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const std::string& s = *text;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
  const auto length = static_cast<std::int32_t>(s.size());

  std::int32_t begin = 0;
  while (begin < length) {
    std::int32_t next = begin;
    UChar32 c;
    U8_NEXT(bytes, next, length, c);
    if (c < 0 || !isWhiteSpaceOrNewline(c)) break;
    begin = next;
  }
  std::int32_t end = length;
  while (end > begin) {
    std::int32_t previous = end;
    UChar32 c;
    U8_PREV(bytes, begin, previous, c);
    if (c < 0 || !isWhiteSpaceOrNewline(c)) break;
    end = previous;
  }
  return s.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}
