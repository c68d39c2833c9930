#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "core/Source/PlatformServices/UI/BTAlertPresenterController_macOS.h"
#include "core/Source/UserMessages/BTAlert.h"
#include "core/Source/UserMessages/BTAlertAction.h"
#include "platform/ui/Application.h"
#include "platform/ui/WindowRef.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::ui::test::buttonTitled;
using tw::ui::test::visibleMessageBoxes;
using tw::ui::test::whenMessageBoxShown;

class AlertPresenterTest : public ::testing::Test {
 protected:
  void SetUp() override { tw::ui::test::application(); }
  void TearDown() override {
    EXPECT_TRUE(visibleMessageBoxes().empty()) << "a test left an alert open";
  }

  // An action that records its title in `ran` when chosen, and whether an alert was still open.
  std::shared_ptr<BTAlertAction> recording(const std::string& title, std::int64_t style = 0) {
    return BTAlertAction::actionWithTitle(title, style, [this, title] {
      ran.push_back(title);
      alertOpenDuringHandler = alertOpenDuringHandler || !visibleMessageBoxes().empty();
    });
  }

  BTAlertPresenterController_macOS presenter;
  std::vector<std::string> ran;
  bool alertOpenDuringHandler = false;
};

TEST_F(AlertPresenterTest, SecondOfTwoButtonsRunsTheSecondHandlerAfterTheAlertClosed) {
  auto alert = BTAlert::alertWithTitle("Timer finished", "Tea is ready");
  alert->addAction(recording("Start Again"));
  alert->addAction(recording("Done"));
  whenMessageBoxShown([](QMessageBox* box) { buttonTitled(box, "Done")->click(); });
  presenter.presentAlert(alert);
  EXPECT_EQ(ran, std::vector<std::string>{"Done"});
  EXPECT_FALSE(alertOpenDuringHandler);
}

TEST_F(AlertPresenterTest, ActionWithoutHandlerClosesTheAlertAndRunsNothing) {
  auto alert = BTAlert::alertWithTitle("Timer finished");
  alert->addAction(BTAlertAction::actionWithTitle("OK", nullptr));
  alert->addAction(recording("Other"));
  whenMessageBoxShown([](QMessageBox* box) { buttonTitled(box, "OK")->click(); });
  presenter.presentAlert(alert);
  EXPECT_TRUE(ran.empty());
}

TEST_F(AlertPresenterTest, BuildsThePlatformAlertFromTheMessage) {
  struct Case {
    std::int64_t style;
    QMessageBox::Icon icon;
  };
  for (Case c : {Case{0, QMessageBox::Information}, Case{1, QMessageBox::Critical},
                 Case{2, QMessageBox::Warning}, Case{-5, QMessageBox::Warning}}) {
    // No message at all: the informative text is empty, not missing or "null".
    auto alert = BTAlert::alertWithTitle("Stopwatch", std::nullopt, c.style);
    alert->addAction(recording("OK"));
    QString text;
    QString informative = "unset";
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    whenMessageBoxShown([&](QMessageBox* box) {
      text = box->text();
      informative = tw::ui::test::informativeText(box);
      icon = box->icon();
      box->buttons().front()->click();
    });
    presenter.presentAlert(alert);
    EXPECT_EQ(text, "Stopwatch");
    EXPECT_EQ(informative, "") << "style " << c.style;
    EXPECT_EQ(icon, c.icon) << "style " << c.style;
  }

  auto withMessage = BTAlert::alertWithTitle(std::nullopt, "Only a message");
  withMessage->addAction(recording("OK"));
  whenMessageBoxShown([](QMessageBox* box) {
    EXPECT_EQ(box->text(), "");
    EXPECT_EQ(tw::ui::test::informativeText(box), "Only a message");
    box->buttons().front()->click();
  });
  presenter.presentAlert(withMessage);
}

TEST_F(AlertPresenterTest, EscapeChoosesTheCancelStyledActionWhereverItIsShown) {
  // The delete prompt's order, and the reverse: Qt puts the cancel button on its own side.
  for (bool cancelFirst : {false, true}) {
    ran.clear();
    auto alert = BTAlert::alertWithTitle("Are you sure you want to delete this action?",
                                         "This action will be removed from `Tea`.");
    if (cancelFirst) alert->addAction(recording("Cancel", BTAlertAction::kStyleCancel));
    alert->addAction(recording("Delete", BTAlertAction::kStyleDestructive));
    if (!cancelFirst) alert->addAction(recording("Cancel", BTAlertAction::kStyleCancel));
    whenMessageBoxShown([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    presenter.presentAlert(alert);
    EXPECT_EQ(ran, std::vector<std::string>{"Cancel"}) << "cancelFirst " << cancelFirst;

    ran.clear();
    whenMessageBoxShown([](QMessageBox* box) { buttonTitled(box, "Delete")->click(); });
    presenter.presentAlert(alert);
    EXPECT_EQ(ran, std::vector<std::string>{"Delete"}) << "cancelFirst " << cancelFirst;
  }
}

TEST_F(AlertPresenterTest, NullAlertShowsNothing) {
  presenter.presentAlert(nullptr);
  QWidget window;
  presenter.presentActionSheet(nullptr, tw::ui::WindowRef(&window));
  EXPECT_TRUE(visibleMessageBoxes().empty());
}

TEST_F(AlertPresenterTest, SheetRunsTheChosenHandlerOnceItHasClosed) {
  QWidget window;
  window.show();
  auto alert = BTAlert::alertWithTitle("Reset all timers?");
  alert->addAction(recording("Reset"));
  alert->addAction(recording("Cancel", BTAlertAction::kStyleCancel));
  presenter.presentActionSheet(alert, tw::ui::WindowRef(&window));
  alert.reset();  // the sheet keeps what it needs

  auto boxes = visibleMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes.front()->parentWidget(), &window);
  EXPECT_EQ(boxes.front()->windowModality(), Qt::WindowModal);
  EXPECT_TRUE(ran.empty()) << "returns before the user chose";

  buttonTitled(boxes.front(), "Reset")->click();
  ASSERT_TRUE(tw::ui::Application::runEventsUntil([&] { return !ran.empty(); }, 5.0));
  EXPECT_EQ(ran, std::vector<std::string>{"Reset"});
  EXPECT_FALSE(alertOpenDuringHandler);
}

}  // namespace
