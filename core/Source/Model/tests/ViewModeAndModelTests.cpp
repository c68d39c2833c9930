// The framework's named colours and view-mode helpers, and the merge of the application's own
// entities into the store model.

#include <gtest/gtest.h>

#include "core/Source/Model/BTArgb.h"
#include "core/Source/Model/BTColor.h"
#include "core/Source/Model/BTCoreDataModel.h"
#include "core/Source/Model/BTManagedObject.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTMasterListViewMode.h"
#include "core/Source/Model/BTTimer.h"
#include "core/testsupport/CoreStoreTest.h"
#include "platform/store/Context.h"

namespace {

TEST(NamedColors, KnownNamesGiveTheirColourAndUnknownOnesNothing) {
  for (const char* name :
       {"OverlayDark10", "OverlayDark20", "OverlayDark30", "OverlayDark40", "TimingStateGreen",
        "TimingStateYellow", "TimingStateRed", "TimingStateGreenDim", "TimingStateRedDim",
        "GradientPurpleStart", "GradientBlueMiddle", "GradientGreenEnd"})
    EXPECT_TRUE(BTColorNamed(name)) << name;
  EXPECT_EQ(BTColorNamed("NoSuchColour"), std::nullopt);
  EXPECT_EQ(BTColorNamed(""), std::nullopt);
  EXPECT_EQ(BTColorNamedWithAlpha("NoSuchColour", 0.5), std::nullopt);

  auto dark = BTColorNamed("OverlayDark20");
  EXPECT_NEAR(dark->alpha, 0.2, 0.003);
  EXPECT_EQ(dark->red + dark->green + dark->blue, 0.0);
  auto green = *BTColorNamedWithAlpha("TimingStateGreen", 0.25);
  EXPECT_EQ(green.alpha, 0.25);
  EXPECT_EQ(green.withAlpha(1.0), *BTColorNamed("TimingStateGreen"));
  EXPECT_EQ(BTColor::fromARGB(0x80FF4000).argb(), 0x80FF4000u);
  EXPECT_EQ(green.withAlpha(7.0).alpha, 1.0);
}

TEST(ViewModes, EachModeHasAThreeColourGradientAndOtherValuesNone) {
  const char* families[] = {"GradientPurple", "GradientBlue", "GradientGreen"};
  for (long mode = 0; mode < 3; ++mode) {
    auto colors = BTMasterListViewModeGetGradientColors(mode, 0.5);
    ASSERT_TRUE(colors) << mode;
    ASSERT_EQ(colors->size(), 3u);
    const std::string family = families[mode];
    EXPECT_EQ((*colors)[0], *BTColorNamedWithAlpha(family + "Start", 0.5));
    EXPECT_EQ((*colors)[1], *BTColorNamedWithAlpha(family + "Middle", 0.5));
    EXPECT_EQ((*colors)[2], *BTColorNamedWithAlpha(family + "End", 0.5));
  }
  EXPECT_EQ(BTMasterListViewModeGetGradientColors(3, 1.0), std::nullopt);
  EXPECT_EQ(BTMasterListViewModeGetGradientColors(-1, 1.0), std::nullopt);
}

TEST(ViewModes, TheModeIsReadFromTheNotificationsUserInfo) {
  tw::Notification n{BTMasterListViewModeDidChangeNotification, nullptr,
                     tw::Dictionary{{BTMasterListViewModeValueUserInfoKey, tw::Value(2)}}};
  EXPECT_EQ(BTMasterListViewGetValueFromNotification(n), 2);
  n.userInfo = tw::Dictionary{};
  EXPECT_EQ(BTMasterListViewGetValueFromNotification(n), 0);
  n.userInfo.reset();
  EXPECT_EQ(BTMasterListViewGetValueFromNotification(n), 0);
}

class Note : public BTManagedObject {};

class MergedModelTest : public tw::test::CoreStoreTest {
 protected:
  void TearDown() override {
    tw::removeAllModelContributions();
    CoreStoreTest::TearDown();
  }
};

TEST_F(MergedModelTest, ApplicationEntitiesJoinTheStoreAndUpgradeIt) {
  EXPECT_EQ(service_->objectModel()->version(), tw::kCoreModelVersion);
  auto timer = managedObject<BTTimer>();
  timer->setTitle("kept");
  service_->save();

  tw::addModelContribution(1, [](tw::store::ModelBuilder& b) {
    b.entity<Note>("Note", "BTManagedObject")
        .attribute("text", tw::store::AttributeType::String)
        .toOne("timer", "BTTimer", {}, tw::store::DeleteRule::Nullify);
  });
  EXPECT_EQ(tw::buildCoreModel()->entity("Note"), nullptr);
  reopen();
  EXPECT_EQ(service_->objectModel()->version(), tw::kCoreModelVersion + 1);
  ASSERT_NE(service_->objectModel()->entity("Note"), nullptr);

  auto kept = context().findAll<BTTimer>();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept.front()->title(), "kept");
  auto note = managedObject<Note>();
  EXPECT_TRUE(note->uuid());
  note->setValueForKey("hello", "text");
  note->setValueForKey(kept.front(), "timer");
  reopen();
  auto notes = context().findAll<Note>();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes.front()->stringForKey("text"), "hello");
  EXPECT_EQ(notes.front()->objectForKey("timer"), context().findAll<BTTimer>().front());
}

// ----- packed colours

TEST(Argb, PacksComponentsIntoASignExtendedValue) {
  const BTColor c{0.5, 1.0, 0.0, 1.0};
  EXPECT_EQ(BTArgbValue(c), static_cast<std::int64_t>(static_cast<std::int32_t>(0xFF7FFF00u)));
  EXPECT_LT(BTArgbValue(c), 0);
  EXPECT_EQ(BTArgbValue(BTColor{1, 1, 1, 1}), -1);
  EXPECT_EQ(BTArgbValue(BTColor{0, 0, 0, 0}), 0);
  EXPECT_EQ(BTArgbValue(BTColor{0, 0, 1, 0.5}), 0x7F0000FF);  // 127.5 truncates to 127
}

TEST(Argb, UnpacksOnlyTheLow32Bits) {
  const BTColor white = BTColorWithArgb(0xFFFFFFFF);
  EXPECT_EQ(white, BTColorWithArgb(-1));
  EXPECT_EQ(white, (BTColor{1, 1, 1, 1}));
  EXPECT_EQ(BTColorWithArgb(0x12'FF0000FFll), BTColorWithArgb(0xFF0000FF));
  const BTColor c = BTColorWithArgb(0x80FF4000);
  EXPECT_DOUBLE_EQ(c.red, 1.0);
  EXPECT_DOUBLE_EQ(c.green, 64 / 255.0);
  EXPECT_DOUBLE_EQ(c.blue, 0.0);
  EXPECT_DOUBLE_EQ(c.alpha, 128 / 255.0);
  EXPECT_EQ(BTArgbValue(c), static_cast<std::int32_t>(0x80FF4000u));  // round trip
}

}  // namespace
