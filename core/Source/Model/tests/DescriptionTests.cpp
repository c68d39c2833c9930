// The texts that name and describe actions and triggers: kind titles for the editor's menus, the
// actions list's row texts and the notification subtitle. Stored entities, builders adopting
// every kind and proxies exposing one kind must all read as their first kind.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/Source/Library/Proxying/BTProxy.h"
#include "core/Source/Model/BTActionBuilder.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTAppOperationAction.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFileOperationAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTSystemEventAction.h"
#include "core/Source/Model/BTTimeTrigger.h"
#include "core/Source/Model/BTTimer.h"
#include "core/testsupport/CoreStoreTest.h"

namespace {

using Text = std::optional<std::string>;
using AU = BTActionObjectUtil;
using TU = BTActionTriggerUtil;

std::string quoted(const std::string& text) { return "Display message \"" + text + "\""; }

std::string repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

class DescriptionTest : public tw::test::CoreStoreTest {
 protected:
  template <class T>
  std::shared_ptr<T> timeObject(const char* title) {
    auto object = managedObject<T>();
    object->setTitle(title);
    return object;
  }
};

TEST(DescriptionTexts, KindTitlesAndSummariesByEntityAndKind) {
  const struct {
    const char* type;
    Text title, summary;
  } actions[] = {
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
      {"BTActionObject", std::nullopt, std::nullopt},
      {"BTStateTrigger", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
  };
  for (const auto& row : actions) {
    EXPECT_EQ(AU::actionObjectTypeTitle(row.type), row.title) << row.type;
    EXPECT_EQ(AU::actionObjectTypeSummary(row.type), row.summary) << row.type;
  }

  const struct {
    long kind;
    Text title, summary;
  } triggers[] = {
      {1, "upon starting", "When an alarm, timer, or stopwatch starts."},
      {2, "upon finishing", "When an alarm or timer finishes."},
      {3, "after a set time has elapsed",
       "After a set time has elapsed since the start of a stopwatch."},
      {4, "after a set time remains", "After a set time remains in an alarm or timer."},
      {0, std::nullopt, std::nullopt},
      {5, std::nullopt, std::nullopt},
      {-1, std::nullopt, std::nullopt},
  };
  for (const auto& row : triggers) {
    EXPECT_EQ(TU::actionTriggerTypeTitle(row.kind), row.title) << row.kind;
    EXPECT_EQ(TU::actionTriggerTypeSummary(row.kind), row.summary) << row.kind;
  }
}

TEST(DescriptionTexts, IntervalsReadWithTheirUnit) {
  const std::pair<double, const char*> rows[] = {
      {60, "1 minute"},   {90, "1:30 minutes"}, {1, "1 second"},
      {45, "45 seconds"}, {3600, "1 hour"},     {3661, "1:01:01 hours"},
      {86400, "1 day"},   {0, "0 seconds"},     {59.9, "59 seconds"},
  };
  for (auto [seconds, text] : rows)
    EXPECT_EQ(TU::timerIntervalDescription(seconds), text) << seconds;
}

// The message is cut by UTF-16 units, the length the stored descriptions have always used, but
// never inside a code point: an emoji (two units) that would straddle the 24th unit is left out
// whole.
TEST(DescriptionTexts, CustomMessagesAreCutAt24UnitsWithoutSplittingACharacter) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
  const std::string accented = "\xC3\xA9";       // U+00E9, one unit
  const std::string cjk = "\xE6\xB0\xB4";        // U+6C34, one unit
  const struct {
    std::string message, shown;
  } rows[] = {
      {"", ""},
      {repeat("a", 24), repeat("a", 24)},
      {repeat("a", 25), repeat("a", 24) + "..."},
      {repeat(accented, 24), repeat(accented, 24)},
      {repeat(accented, 25), repeat(accented, 24) + "..."},
      {repeat(cjk, 30), repeat(cjk, 24) + "..."},
      {repeat("a", 22) + emoji, repeat("a", 22) + emoji},
      {repeat("a", 23) + emoji, repeat("a", 23) + "..."},
      {repeat("a", 23) + emoji + "b", repeat("a", 23) + "..."},
      {repeat(emoji, 12), repeat(emoji, 12)},
      {repeat(emoji, 13), repeat(emoji, 12) + "..."},
      {"a" + repeat(emoji, 12), "a" + repeat(emoji, 11) + "..."},
      // Malformed bytes count one unit each and pass through untouched.
      {repeat("\xFF", 25), repeat("\xFF", 24) + "..."},
      {repeat("a", 23) + "\xF0\x9F", repeat("a", 23) + "\xF0\x9F"},
  };
  auto builder = BTActionBuilder::builderWithTimeObject(nullptr);
  for (const auto& row : rows) {
    builder->setCustomMessageValue(row.message);
    EXPECT_EQ(AU::customMessageActionDescription(*builder), quoted(row.shown)) << row.message;
  }
  builder->setCustomMessageValue(std::nullopt);
  EXPECT_EQ(AU::customMessageActionDescription(*builder), quoted(""));

  bool truncated = true;
  EXPECT_EQ(AU::prefixOfUtf16Length(emoji, 1, &truncated), "");
  EXPECT_TRUE(truncated);
  EXPECT_EQ(AU::prefixOfUtf16Length(emoji, 2, &truncated), emoji);
  EXPECT_FALSE(truncated);
}

TEST_F(DescriptionTest, EveryKindOfStoredActionIsDescribed) {
  auto tea = timeObject<BTTimer>("Tea");
  auto wake = timeObject<BTAlarm>("Wake");
  auto run = timeObject<BTStopwatch>("Run");

  using Action = std::shared_ptr<BTActionObject>;
  auto alert = [](std::int64_t sound) -> Action {
    auto a = BTActionObject::actionObject<BTDisplayAlertAction>();
    a->setAlertSoundType(sound);
    return a;
  };
  auto message = [](std::int64_t mode, const char* text) -> Action {
    auto a = BTActionObject::actionObject<BTCustomMessageAction>();
    a->setCustomMessageMode(mode);
    a->setCustomMessageValue(text);
    return a;
  };
  auto link = [](std::int64_t operation, const std::shared_ptr<BTTimeObject>& target) -> Action {
    auto a = BTActionObject::actionObject<BTLinkTimeObjectAction>();
    a->setTargetAction(operation);
    a->setTargetTimeObject(target);
    return a;
  };
  auto repeatOn = [](const std::shared_ptr<BTTimeObject>& owner) -> Action {
    auto a = BTActionObject::actionObject<BTRepeatAction>();
    a->setTimeObject(owner);
    return a;
  };
  auto event = [](std::int64_t type) -> Action {
    auto a = BTActionObject::actionObject<BTSystemEventAction>();
    a->setSystemEventType(type);
    return a;
  };
  auto file = [](const Text& path) -> Action {
    auto a = BTActionObject::actionObject<BTFileOperationAction>();
    a->setFileFilepathValue(path);
    return a;
  };
  auto app = [](std::int64_t operation, const Text& path) -> Action {
    auto a = BTActionObject::actionObject<BTAppOperationAction>();
    a->setAppOperationType(operation);
    a->setAppFilepathValue(path);
    return a;
  };

  const struct {
    Action action;
    Text text;
  } rows[] = {
      {alert(-1), "Show notification with no sound"},
      {alert(0), "Show notification with the system sound"},
      {alert(1), "Show notification with a Note sound"},
      {alert(2), "Show notification with an Alarm sound"},
      {alert(3), "Show notification with a Buzzer sound"},
      {alert(4), std::nullopt},
      {message(1, "Tea is ready"), "Display message \"Tea is ready\""},
      {message(2, "Tea is ready"), "Speak message \"Tea is ready\""},
      {message(3, "Tea is ready"), "Display and speak message \"Tea is ready\""},
      {message(0, "x"), "Display message \"x\""},
      {message(7, "x"), "Display message \"x\""},
      {BTActionObject::actionObject<BTFlashScreenAction>(),
       "Flash the screen with the selected color"},
      {link(1, tea), "Start timer \"Tea\""},
      {link(2, wake), "Pause alarm \"Wake\""},
      {link(3, run), "Reset stopwatch \"Run\""},
      {link(4, tea), std::nullopt},
      {link(1, nullptr), std::nullopt},
      {repeatOn(tea), "Repeat this timer"},
      {repeatOn(wake), "Repeat this alarm"},
      {repeatOn(nullptr), std::nullopt},
      {event(1), "Put the system to sleep"},
      {event(2), "Log out the current user"},
      {event(3), "Restart the system"},
      {event(4), "Shutdown the system"},
      {event(0), std::nullopt},
      {event(5), std::nullopt},
      {file("/home/me/Documents/report.pdf"), "Open file \"report.pdf\""},
      {file("/home/me/Documents/"), "Open file \"Documents\""},
      {file("notes.txt"), "Open file \"notes.txt\""},
      {file("/"), "Open file \"/\""},
      {file(std::nullopt), std::nullopt},
      {app(1, "/usr/share/applications/org.example.Editor.desktop"),
       "Launch application \"org.example.Editor.desktop\""},
      {app(2, "/opt/Calc.app/"), "Quit application \"Calc.app\""},
      {app(3, "/opt/Calc.app"), std::nullopt},
      {app(1, std::nullopt), std::nullopt},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& action = rows[i].action;
    EXPECT_EQ(AU::actionObjectDescription(action), rows[i].text) << "row " << i;
    EXPECT_EQ(AU::actionObjectDescription(std::shared_ptr<BTActionObjectProtocol>(action)),
              rows[i].text)
        << "row " << i << " through its protocol";
  }
  EXPECT_EQ(AU::actionObjectDescription(nullptr), std::nullopt);
  EXPECT_EQ(AU::actionObjectDescription(std::shared_ptr<BTActionObject>()), std::nullopt);
}

TEST_F(DescriptionTest, EveryKindOfStoredTriggerIsDescribedPlainAndActivated) {
  auto owners = std::vector<std::shared_ptr<BTTimeObject>>{
      timeObject<BTTimer>("Tea"), timeObject<BTAlarm>("Wake"), timeObject<BTStopwatch>("Run")};
  const char* names[] = {"timer", "alarm", "stopwatch"};

  for (size_t o = 0; o < owners.size(); ++o) {
    const std::string name = names[o];
    const struct {
      std::int64_t from, to;
      Text plain, activated;
    } states[] = {
        {0, 20, "When this " + name + " starts", "this " + name + " has started"},
        {20, 21, "When this " + name + " finishes", "this " + name + " has finished"},
        {10, 20, std::nullopt, std::nullopt},
        {-1, -1, std::nullopt, std::nullopt},
    };
    for (const auto& row : states) {
      auto action = BTActionObject::actionObject<BTRepeatAction>();
      action->setTimeObject(owners[o]);
      auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
      trigger->setStateFrom(row.from);
      trigger->setStateTo(row.to);
      action->setTrigger(trigger);
      EXPECT_EQ(TU::actionTriggerDescription(trigger), row.plain) << name << row.from;
      EXPECT_EQ(TU::actionTriggerActivatedDescription(action->trigger()), row.activated)
          << name << row.from;
    }
  }

  const struct {
    std::int64_t condition;
    double interval;
    Text plain, activated;
  } times[] = {
      {10, 60, "After 1 minute remains", "1 minute remains"},
      {10, 3600, "After 1 hour remains", "1 hour remains"},
      {0, 90, "After 1:30 minutes has elapsed", "1:30 minutes has elapsed"},
      {0, 5, "After 5 seconds has elapsed", "5 seconds has elapsed"},
      {5, 60, std::nullopt, std::nullopt},
  };
  for (const auto& row : times) {
    // A time trigger names no time object, so it reads the same without an action.
    auto trigger = BTActionTrigger::actionTrigger<BTTimeTrigger>();
    trigger->setTimeCondition(row.condition);
    trigger->setTimeInterval(row.interval);
    EXPECT_EQ(TU::actionTriggerDescription(trigger), row.plain) << row.interval;
    EXPECT_EQ(TU::actionTriggerActivatedDescription(trigger.get()), row.activated) << row.interval;
  }
}

TEST_F(DescriptionTest, TriggersWithoutADescription) {
  auto generic = BTActionTrigger::actionTrigger<BTActionTrigger>();
  EXPECT_EQ(TU::actionTriggerDescription(generic), std::nullopt);
  EXPECT_EQ(TU::actionTriggerActivatedDescription(generic), std::nullopt);
  EXPECT_EQ(TU::actionTriggerDescription(nullptr), std::nullopt);
  EXPECT_EQ(TU::actionTriggerDescription(std::shared_ptr<BTActionTriggerProtocol>()), std::nullopt);

  // A starting trigger with nothing to name: no action, or an action without a time object.
  auto detached = BTActionTrigger::actionTrigger<BTStateTrigger>();
  detached->setStateFrom(tw::kTimingStateReset);
  detached->setStateTo(tw::kTimingStateRunning);
  EXPECT_EQ(TU::actionTriggerDescription(detached), std::nullopt);
  auto action = BTActionObject::actionObject<BTRepeatAction>();
  action->setTrigger(detached);
  EXPECT_EQ(TU::actionTriggerActivatedDescription(detached), std::nullopt);
}

// A builder adopts every kind: it reads as the first kind in the fixed order. A proxy over it
// reads as the one kind it exposes, whatever the builder behind it adopts.
TEST_F(DescriptionTest, BuildersReadAsTheirFirstKindAndProxiesAsTheirOwn) {
  auto builder = BTActionBuilder::builderWithTimeObject(timeObject<BTTimer>("Tea"));
  builder->setCustomMessageValue("Tea is ready");
  builder->setFileFilepathValue("/tmp/a.txt");
  EXPECT_EQ(AU::actionObjectDescription(builder), "Show notification with the system sound");
  EXPECT_EQ(AU::actionObjectDescription(static_cast<const BTRepeatActionProtocol*>(builder.get())),
            "Show notification with the system sound");

  const std::pair<const tw::Protocol*, const char*> exposed[] = {
      {&tw::protocolOf<BTCustomMessageActionProtocol>(), "Display message \"Tea is ready\""},
      {&tw::protocolOf<BTFlashScreenActionProtocol>(), "Flash the screen with the selected color"},
      {&tw::protocolOf<BTRepeatActionProtocol>(), "Repeat this timer"},
      {&tw::protocolOf<BTFileOperationActionProtocol>(), "Open file \"a.txt\""},
      {&tw::protocolOf<BTActionObjectProtocol>(), nullptr},
  };
  for (auto [protocol, text] : exposed) {
    auto proxy = BTProxy::proxyWithTarget(builder, protocol);
    EXPECT_EQ(AU::actionObjectDescription(proxy), text ? Text(text) : std::nullopt)
        << protocol->name();
  }

  // The trigger builder is a state trigger first: an unset state pair has no text even when its
  // time condition would have one.
  auto trigger = builder->triggerBuilder();
  trigger->setActionObject(builder);
  trigger->setTimeCondition(10);
  trigger->setTimeInterval(60);
  EXPECT_EQ(TU::actionTriggerDescription(trigger), std::nullopt);
  trigger->setStateFrom(tw::kTimingStateRunning);
  trigger->setStateTo(tw::kTimingStateFinished);
  EXPECT_EQ(TU::actionTriggerActivatedDescription(trigger), "this timer has finished");
  auto timeOnly = BTProxy::proxyWithTarget<BTTimeTriggerProtocol>(trigger);
  EXPECT_EQ(TU::actionTriggerDescription(timeOnly), "After 1 minute remains");
  EXPECT_EQ(TU::actionTriggerActivatedDescription(timeOnly), "1 minute remains");
}

}  // namespace
