// How a user notification becomes a freedesktop Notify call, and the text clean-up behind it.

#include <gtest/gtest.h>

#include "platform/desktop/DesktopText.h"
#include "platform/desktop/FreedesktopNotificationCenter.h"

namespace tw {
namespace {

using Args = FreedesktopNotificationCenter::NotifyArguments;
using HintValue = FreedesktopNotificationCenter::HintValue;

FreedesktopNotificationCenter::Options options() {
  FreedesktopNotificationCenter::Options o;
  o.applicationName = "Tickwell";
  o.desktopEntry = "com.velmora.Tickwell";
  return o;
}

const HintValue* hint(const Args& a, const std::string& key) {
  for (const auto& [k, v] : a.hints)
    if (k == key) return &v;
  return nullptr;
}

TEST(NotifyArguments, TitleIsTheSummaryAndSubtitleTakesItsOwnLineAboveTheMessage) {
  UserNotification n;
  n.title = "Tea";
  n.subtitle = "this timer has finished";
  n.informativeText = "Drink it";
  const Args a = FreedesktopNotificationCenter::notifyArguments(n, options(), false);
  EXPECT_EQ(a.appName, "Tickwell");
  EXPECT_EQ(a.summary, "Tea");
  EXPECT_EQ(a.body, "this timer has finished\nDrink it");
  EXPECT_EQ(a.expireTimeout, -1);
  ASSERT_GE(a.actions.size(), 2u);
  EXPECT_EQ(a.actions[0], "default");
  EXPECT_FALSE(a.actions[1].empty());

  n.subtitle.reset();
  EXPECT_EQ(FreedesktopNotificationCenter::notifyArguments(n, options(), false).body, "Drink it");
  n.subtitle = "1 minute remains";
  n.informativeText = "";
  EXPECT_EQ(FreedesktopNotificationCenter::notifyArguments(n, options(), false).body,
            "1 minute remains");
  n.subtitle.reset();
  n.informativeText.reset();
  EXPECT_EQ(FreedesktopNotificationCenter::notifyArguments(n, options(), false).body, "");
}

TEST(NotifyArguments, MissingTitleFallsBackToTheApplicationName) {
  UserNotification n;
  EXPECT_EQ(FreedesktopNotificationCenter::notifyArguments(n, options(), false).summary,
            "Tickwell");
  n.title = "";
  EXPECT_EQ(FreedesktopNotificationCenter::notifyArguments(n, options(), false).summary,
            "Tickwell");
}

TEST(NotifyArguments, SoundNameBecomesAHintAndNoSoundSuppressesIt) {
  UserNotification n;
  n.soundName = NSUserNotificationDefaultSoundName;
  Args a = FreedesktopNotificationCenter::notifyArguments(n, options(), false);
  ASSERT_NE(hint(a, "sound-name"), nullptr);
  EXPECT_EQ(std::get<std::string>(*hint(a, "sound-name")), "message-new-instant");
  EXPECT_EQ(hint(a, "suppress-sound"), nullptr);
  EXPECT_EQ(std::get<std::string>(*hint(a, "desktop-entry")), "com.velmora.Tickwell");

  for (const std::optional<std::string>& silent :
       {std::optional<std::string>(), std::optional(std::string())}) {
    n.soundName = silent;
    a = FreedesktopNotificationCenter::notifyArguments(n, options(), false);
    EXPECT_EQ(hint(a, "sound-name"), nullptr);
    ASSERT_NE(hint(a, "suppress-sound"), nullptr);
    EXPECT_TRUE(std::get<bool>(*hint(a, "suppress-sound")));
  }

  auto noEntry = options();
  noEntry.desktopEntry.clear();
  EXPECT_EQ(
      hint(FreedesktopNotificationCenter::notifyArguments(n, noEntry, false), "desktop-entry"),
      nullptr);
}

TEST(NotifyArguments, BodyIsEscapedOnlyForServersThatReadMarkupAndTextIsAlwaysValidUtf8) {
  UserNotification n;
  n.title = "<b>Tea</b> \xFF";
  n.informativeText = "a < b && c > d";
  const Args plain = FreedesktopNotificationCenter::notifyArguments(n, options(), false);
  EXPECT_EQ(plain.body, "a < b && c > d");
  // The summary is plain text by definition, never markup.
  EXPECT_EQ(plain.summary, "<b>Tea</b> \xEF\xBF\xBD");
  const Args markup = FreedesktopNotificationCenter::notifyArguments(n, options(), true);
  EXPECT_EQ(markup.body, "a &lt; b &amp;&amp; c &gt; d");
}

TEST(DesktopText, WellFormedUtf8PassesAndEveryMalformedSequenceBecomesOneReplacement) {
  const std::string good = "Tee \xC3\xA4 \xE2\x82\xAC \xF0\x9F\x8D\xB5";
  EXPECT_EQ(desktop::validUtf8(good), good);
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(desktop::validUtf8("a\x80z"), "a" + r + "z");            // stray continuation
  EXPECT_EQ(desktop::validUtf8("\xC0\x80"), r + r);                  // overlong NUL
  EXPECT_EQ(desktop::validUtf8("\xED\xA0\x80"), r + r + r);          // surrogate
  EXPECT_EQ(desktop::validUtf8("\xF4\x90\x80\x80"), r + r + r + r);  // above U+10FFFF
  EXPECT_EQ(desktop::validUtf8("x\xE2\x82"), "x" + r + r);           // cut at the end
  EXPECT_EQ(desktop::validUtf8(std::string("a\0b", 3)), "ab");       // NUL dropped
  EXPECT_EQ(desktop::escapeMarkup("<&>\"'"), "&lt;&amp;&gt;\"'");
}

}  // namespace
}  // namespace tw
