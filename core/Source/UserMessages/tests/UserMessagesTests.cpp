#include <gtest/gtest.h>

#include "core/Source/UserMessages/BTAlert.h"
#include "core/Source/UserMessages/BTAlertAction.h"
#include "core/Source/UserMessages/BTNotification.h"

namespace {

TEST(UserMessages, AlertFactoriesFillInTheMissingFields) {
  auto plain = BTAlert::alertWithTitle("Done");
  EXPECT_EQ(plain->title(), "Done");
  EXPECT_FALSE(plain->message().has_value());  // shown as an empty informative text
  EXPECT_EQ(plain->style(), BTAlert::kStyleInformational);
  EXPECT_TRUE(plain->actions().empty());

  auto critical =
      BTAlert::alertWithTitle("Delete?", "It cannot be undone.", BTAlert::kStyleCritical);
  EXPECT_EQ(critical->message(), "It cannot be undone.");
  EXPECT_EQ(critical->style(), 1);
  EXPECT_EQ(BTAlert::alertWithTitle(std::nullopt, "m")->title(), std::nullopt);
}

TEST(UserMessages, ActionsKeepTheirOrderAndIgnoreNull) {
  auto alert = BTAlert::alertWithTitle("Quit?");
  int chosen = -1;
  alert->addAction(BTAlertAction::actionWithTitle("Quit", [&] { chosen = 0; }));
  alert->addAction(nullptr);
  alert->addAction(BTAlertAction::actionWithTitle("Cancel", BTAlertAction::kStyleCancel, nullptr));
  auto actions = alert->actions();
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[0]->title(), "Quit");
  EXPECT_EQ(actions[0]->style(), BTAlertAction::kStyleDefault);
  EXPECT_EQ(actions[1]->style(), BTAlertAction::kStyleCancel);
  EXPECT_FALSE(actions[1]->handlerBlock());
  actions[0]->handlerBlock()();
  EXPECT_EQ(chosen, 0);

  alert->setActions({nullptr, actions[1]});
  ASSERT_EQ(alert->actions().size(), 1u);
  EXPECT_EQ(alert->actions()[0], actions[1]);
}

TEST(UserMessages, TheActionListHandedOutIsACopy) {
  auto alert = BTAlert::alertWithTitle("t");
  alert->addAction(BTAlertAction::actionWithTitle("OK", nullptr));
  auto copy = alert->actions();
  copy.clear();
  copy.push_back(BTAlertAction::actionWithTitle("Other", nullptr));
  ASSERT_EQ(alert->actions().size(), 1u);
  EXPECT_EQ(alert->actions()[0]->title(), "OK");
}

TEST(UserMessages, ANewNotificationIsEmptyUntilFilled) {
  auto n = std::make_shared<BTNotification>();
  EXPECT_FALSE(n->title() || n->message() || n->subtitle() || n->identifier() || n->soundName());
  EXPECT_FALSE(n->deliveryDate() || n->userInfo());
  n->setTitle("Timer");
  n->setSoundName("Glass");
  n->setDeliveryDate(tw::Date{1'700'000'000});
  n->setUserInfo(tw::Dictionary{{"uuid", tw::Value("abc")}});
  EXPECT_EQ(n->soundName(), "Glass");
  EXPECT_EQ(n->deliveryDate()->secondsSince1970, 1'700'000'000);
  EXPECT_EQ(n->userInfo()->at("uuid"), tw::Value("abc"));
  EXPECT_NE(n->description().find("title: \"Timer\", message: (null)"), std::string::npos);
}

}  // namespace
