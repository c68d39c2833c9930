#include "core/Source/Model/BTActionObjectUtil.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <climits>
#include <utility>

#include "core/Source/Library/DesktopEntry.h"
#include "core/Source/Library/Proxying/Protocol.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Model/BTTimeObjectUtil.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Localization.h"

namespace {

// The message of a custom-message action is shown up to this many UTF-16 units.
constexpr std::size_t kCustomMessageDescriptionLength = 24;

struct KindTexts {
  std::string_view type;
  const char* title;
  const char* summary;
};

// In the order kinds are tested in.
constexpr std::array<KindTexts, 8> kKindTexts{{
    {"BTDisplayAlertAction", "Display Alert Notification",
     "Shows a system alert notification with a message and sound."},
    {"BTCustomMessageAction", "Display or Speak Message",
     "Shows and/or speaks a customized message."},
    {"BTFlashScreenAction", "Flash Screen with Color",
     "Briefly flashes the screen with a selected color."},
    {"BTLinkTimeObjectAction", "Link Alarm, Timer, or Stopwatch",
     "Starts, pauses, or resets another alarm, timer, or stopwatch."},
    {"BTRepeatAction", "Repeat Alarm or Timer", "Repeats an alarm or timer once finished."},
    {"BTSystemEventAction", "Sleep, Restart, or Shutdown",
     "Performs system sleep, restart, or shutdown."},
    {"BTFileOperationAction", "Open a File", "Opens any specified file."},
    {"BTAppOperationAction", "Launch or Quit an App",
     "Launches or quits any specified application."},
}};

const KindTexts* kindTexts(std::string_view type) {
  for (const auto& kind : kKindTexts)
    if (kind.type == type) return &kind;
  return nullptr;
}

std::optional<std::string> localizedOrNil(const char* key) {
  if (!key) return std::nullopt;
  return tw::localized(key);
}

template <class T>
std::optional<std::string> describe(const T* action) {
  using U = BTActionObjectUtil;
  if (auto a = tw::kindOf<BTDisplayAlertActionProtocol>(action))
    return U::displayAlertActionDescription(*a);
  if (auto a = tw::kindOf<BTCustomMessageActionProtocol>(action))
    return U::customMessageActionDescription(*a);
  if (auto a = tw::kindOf<BTFlashScreenActionProtocol>(action))
    return U::flashScreenActionDescription(*a);
  if (auto a = tw::kindOf<BTLinkTimeObjectActionProtocol>(action))
    return U::linkTimeObjectActionDescription(*a);
  if (auto a = tw::kindOf<BTRepeatActionProtocol>(action)) return U::repeatActionDescription(*a);
  if (auto a = tw::kindOf<BTSystemEventActionProtocol>(action))
    return U::systemEventActionDescription(*a);
  if (auto a = tw::kindOf<BTFileOperationActionProtocol>(action))
    return U::fileOperationActionDescription(*a);
  if (auto a = tw::kindOf<BTAppOperationActionProtocol>(action))
    return U::appOperationActionDescription(*a);
  return std::nullopt;
}

// The last component of a path, as the actions list shows a file: trailing slashes do not count,
// and the root stays "/".
std::string lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return std::string(path);
  const auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The text of a value code; nullptr for a code without one.
struct CodeText {
  std::int64_t code;
  const char* text;
};
template <std::size_t N>
const char* textFor(std::int64_t code, const CodeText (&texts)[N]) {
  for (const auto& entry : texts)
    if (entry.code == code) return entry.text;
  return nullptr;
}

constexpr CodeText kSoundTexts[] = {{-1, "no sound"},
                                    {0, "the system sound"},
                                    {1, "a Note sound"},
                                    {2, "an Alarm sound"},
                                    {3, "a Buzzer sound"}};
constexpr CodeText kLinkOperationTexts[] = {{1, "Start"}, {2, "Pause"}, {3, "Reset"}};
constexpr CodeText kSystemEventTexts[] = {{1, "Put the system to sleep"},
                                          {2, "Log out the current user"},
                                          {3, "Restart the system"},
                                          {4, "Shutdown the system"}};
constexpr CodeText kAppOperationTexts[] = {
    {BTAppOperationActionProtocol::kAppOperationLaunch, "Launch"},
    {BTAppOperationActionProtocol::kAppOperationQuit, "Quit"}};

std::optional<std::string> typeNameOf(const std::shared_ptr<BTTimeObject>& timeObject) {
  if (!timeObject) return std::nullopt;
  return BTTimeObjectUtil::timeObjectTypeName(*timeObject);
}

}  // namespace

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
    app->setAppOperationType(BTAppOperationActionProtocol::kAppOperationLaunch);
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

std::optional<std::string> BTActionObjectUtil::actionObjectTypeTitle(std::string_view type) {
  const auto* kind = kindTexts(type);
  return kind ? localizedOrNil(kind->title) : std::nullopt;
}

std::optional<std::string> BTActionObjectUtil::actionObjectTypeSummary(std::string_view type) {
  const auto* kind = kindTexts(type);
  return kind ? localizedOrNil(kind->summary) : std::nullopt;
}

std::optional<std::string> BTActionObjectUtil::describeAction(
    const BTActionObjectProtocol* action) {
  return describe(action);
}

std::optional<std::string> BTActionObjectUtil::describeAction(const tw::Object* action) {
  return describe(action);
}

std::optional<std::string> BTActionObjectUtil::displayAlertActionDescription(
    const BTDisplayAlertActionProtocol& action) {
  const char* sound = textFor(action.alertSoundType(), kSoundTexts);
  if (!sound) return std::nullopt;
  return tw::localizedFormat("Show notification with %@", tw::localized(sound));
}

std::optional<std::string> BTActionObjectUtil::customMessageActionDescription(
    const BTCustomMessageActionProtocol& action) {
  const auto modeCode = action.customMessageMode();
  const char* mode = modeCode == 3 ? "Display and speak" : modeCode == 2 ? "Speak" : "Display";
  bool truncated = false;
  std::string message = prefixOfUtf16Length(action.customMessageValue().value_or(std::string()),
                                            kCustomMessageDescriptionLength, &truncated);
  if (truncated) message = tw::format("%@...", message);
  return tw::localizedFormat("%@ message \"%@\"", tw::localized(mode), message);
}

std::optional<std::string> BTActionObjectUtil::flashScreenActionDescription(
    const BTFlashScreenActionProtocol&) {
  return tw::localized("Flash the screen with the selected color");
}

std::optional<std::string> BTActionObjectUtil::linkTimeObjectActionDescription(
    const BTLinkTimeObjectActionProtocol& action) {
  const char* operation = textFor(action.targetAction(), kLinkOperationTexts);
  if (!operation) return std::nullopt;
  const auto target = action.targetTimeObject();
  const auto typeName = typeNameOf(target);
  if (!typeName) return std::nullopt;
  return tw::format("%@ %@ \"%@\"", tw::localized(operation), *typeName, target->title());
}

std::optional<std::string> BTActionObjectUtil::repeatActionDescription(
    const BTRepeatActionProtocol& action) {
  const auto typeName = typeNameOf(action.timeObject());
  if (!typeName) return std::nullopt;
  return tw::localizedFormat("Repeat this %@", *typeName);
}

std::optional<std::string> BTActionObjectUtil::systemEventActionDescription(
    const BTSystemEventActionProtocol& action) {
  return localizedOrNil(textFor(action.systemEventType(), kSystemEventTexts));
}

std::optional<std::string> BTActionObjectUtil::fileOperationActionDescription(
    const BTFileOperationActionProtocol& action) {
  const auto path = action.fileFilepathValue();
  if (!path) return std::nullopt;
  return tw::localizedFormat("Open file \"%@\"", lastPathComponent(*path));
}

std::optional<std::string> BTActionObjectUtil::appOperationActionDescription(
    const BTAppOperationActionProtocol& action) {
  const char* operation = textFor(action.appOperationType(), kAppOperationTexts);
  if (!operation) return std::nullopt;
  const auto path = action.appFilepathValue();
  if (!path) return std::nullopt;
  // An application here is its desktop entry: the name it shows in menus, not its file's.
  return tw::localizedFormat("%@ application \"%@\"", tw::localized(operation),
                             tw::DesktopEntry::displayName(*path));
}

std::string BTActionObjectUtil::prefixOfUtf16Length(std::string_view text, std::size_t maxUnits,
                                                    bool* truncated) {
  if (truncated) *truncated = false;
  // The walk ends after maxUnits code points at most, so an int32 index suffices however long the
  // text is.
  const auto length = static_cast<std::int32_t>(
      std::min<std::size_t>(text.size(), static_cast<std::size_t>(INT32_MAX)));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  std::int32_t index = 0;
  std::size_t units = 0;
  while (index < length) {
    const std::int32_t start = index;
    UChar32 c = 0;
    U8_NEXT(bytes, index, length, c);
    // A malformed sequence would become one replacement character.
    const std::size_t width = (c >= 0 && U_IS_SUPPLEMENTARY(c)) ? 2 : 1;
    if (units + width > maxUnits) {
      if (truncated) *truncated = true;
      return std::string(text.substr(0, static_cast<std::size_t>(start)));
    }
    units += width;
  }
  return std::string(text);
}
