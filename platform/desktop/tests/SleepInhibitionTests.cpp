// Which desktop services an activity's options call on.
#include <gtest/gtest.h>

#include "platform/desktop/ProcessActivities.h"
#include "platform/desktop/SleepInhibition.h"

namespace tw {
namespace {

constexpr std::uint64_t kBase = 0xFF00EFFFFFull;  // user-initiated, idle system sleep allowed
constexpr std::uint64_t kSystem = 0xFF00FFFFFFull;
constexpr std::uint64_t kDisplay = 0x1FF00EFFFFFull;
constexpr std::uint64_t kBoth = 0x1FF00FFFFFFull;

TEST(SleepInhibitionCalls, WithAPortalOneCallCarriesBothFlags) {
  EXPECT_FALSE(sleepInhibitionCalls(kBase, true).any());
  EXPECT_EQ(sleepInhibitionCalls(kSystem, true), (SleepInhibitionCalls{4, false, false}));
  EXPECT_EQ(sleepInhibitionCalls(kDisplay, true), (SleepInhibitionCalls{8, false, false}));
  EXPECT_EQ(sleepInhibitionCalls(kBoth, true), (SleepInhibitionCalls{12, false, false}));
}

TEST(SleepInhibitionCalls, WithoutAPortalLogin1AndTheScreenSaverServeEachBit) {
  EXPECT_FALSE(sleepInhibitionCalls(kBase, false).any());
  EXPECT_EQ(sleepInhibitionCalls(kSystem, false), (SleepInhibitionCalls{0, true, false}));
  EXPECT_EQ(sleepInhibitionCalls(kDisplay, false), (SleepInhibitionCalls{0, false, true}));
  EXPECT_EQ(sleepInhibitionCalls(kBoth, false), (SleepInhibitionCalls{0, true, true}));
  // Only the two sleep bits count.
  EXPECT_EQ(sleepInhibitionCalls(kActivityIdleDisplaySleepDisabled, false),
            sleepInhibitionCalls(kDisplay, false));
  EXPECT_FALSE(sleepInhibitionCalls(
                   ~(kActivityIdleSystemSleepDisabled | kActivityIdleDisplaySleepDisabled), true)
                   .any());
}

}  // namespace
}  // namespace tw
