#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>
#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "platform/foundation/Dispatch.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Application.h"
#include "platform/ui/WindowRef.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::ui::Alert;
using tw::ui::AlertStyle;
using tw::ui::test::buttonsInScreenOrder;
using tw::ui::test::buttonTitled;
using tw::ui::test::whenMessageBoxShown;

class AlertTest : public ::testing::Test {
 protected:
  void SetUp() override { tw::ui::test::application(); }
  void TearDown() override {
    EXPECT_TRUE(tw::ui::test::visibleMessageBoxes().empty()) << "a test left an alert open";
  }
};

Alert twoButtons(const char* first, const char* second) {
  Alert alert;
  alert.setMessageText("Are you sure?");
  alert.addButton(first);
  alert.addButton(second);
  return alert;
}

void clickTitled(const QString& title) {
  whenMessageBoxShown([title](QMessageBox* box) {
    QAbstractButton* button = buttonTitled(box, title);
    ASSERT_NE(button, nullptr) << title.toStdString();
    button->click();
  });
}

void pressKey(Qt::Key key) {
  whenMessageBoxShown([key](QMessageBox* box) { QTest::keyClick(box, key); });
}

TEST_F(AlertTest, ModalRunReportsTheClickedButtonsIndex) {
  Alert alert = twoButtons("Keep", "Discard");
  clickTitled("Discard");
  EXPECT_EQ(alert.runModal(), std::optional<std::size_t>(1));
  clickTitled("Keep");
  EXPECT_EQ(alert.runModal(), std::optional<std::size_t>(0)) << "an alert may be shown again";
}

TEST_F(AlertTest, ShowsTextStyleAndButtonsAsGiven) {
  Alert alert;
  alert.setMessageText("Tea <b>ready</b>");
  alert.setInformativeText("Steeped & <i>strained</i>");
  alert.setStyle(AlertStyle::Critical);
  alert.addButton("Save & Quit");
  alert.addButton("Cancel");
  whenMessageBoxShown([](QMessageBox* box) {
    // User text is never read as markup, and '&' is no mnemonic.
    EXPECT_EQ(box->text(), "Tea <b>ready</b>");
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel");
    ASSERT_NE(informative, nullptr);
    EXPECT_EQ(informative->text(), "Steeped & <i>strained</i>");
    EXPECT_EQ(informative->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_TRUE(box->isModal());
    QAbstractButton* save = buttonTitled(box, "Save && Quit");
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(box->buttons().size(), 2);
    save->click();
  });
  EXPECT_EQ(alert.runModal(), std::optional<std::size_t>(0));
}

// A style (a desktop's theme) may make message texts inert; the informative text, often an
// address or a path to copy, stays selectable.
TEST_F(AlertTest, InformativeTextIsSelectableWhateverTheStyleSays) {
  class InertTexts : public QProxyStyle {
   public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
      if (hint == SH_MessageBox_TextInteractionFlags) return Qt::NoTextInteraction;
      return QProxyStyle::styleHint(hint, option, widget, data);
    }
  };
  const QString previous = QApplication::style()->name();
  QApplication::setStyle(new InertTexts);
  Alert alert;
  alert.setMessageText("Help could not be opened");
  alert.setInformativeText("https://example.invalid/help");
  Qt::TextInteractionFlags flags;
  whenMessageBoxShown([&](QMessageBox* box) {
    if (auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel"))
      flags = informative->textInteractionFlags();
    box->reject();
  });
  alert.runModal();
  QApplication::setStyle(QStyleFactory::create(previous));
  EXPECT_TRUE(flags & Qt::TextSelectableByMouse);
}

TEST_F(AlertTest, EscapeAndReturnNameButtonsByIndexWhereverQtPlacesThem) {
  // Qt places the cancel button on one side of the default button by platform habit, so one of
  // these two orders is shown reversed; the results must follow the indexes either way.
  bool someOrderWasReversed = false;
  for (bool cancelFirst : {true, false}) {
    Alert alert = cancelFirst ? twoButtons("Cancel", "Delete") : twoButtons("Delete", "Cancel");
    const std::size_t cancel = cancelFirst ? 0 : 1;
    const std::size_t other = 1 - cancel;
    alert.setCancelButton(cancel);

    whenMessageBoxShown([&](QMessageBox* box) {
      auto shown = buttonsInScreenOrder(box);
      ASSERT_EQ(shown.size(), 2u);
      const QString firstAdded = cancelFirst ? "Cancel" : "Delete";
      if (shown[0]->text() != firstAdded) someOrderWasReversed = true;
      QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_EQ(alert.runModal(), std::optional<std::size_t>(cancel))
        << "cancelFirst " << cancelFirst;

    pressKey(Qt::Key_Return);
    EXPECT_EQ(alert.runModal(), std::optional<std::size_t>(other)) << "cancelFirst " << cancelFirst;

    clickTitled("Cancel");
    EXPECT_EQ(alert.runModal(), std::optional<std::size_t>(cancel));
  }
  EXPECT_TRUE(someOrderWasReversed);
}

TEST_F(AlertTest, EscapeDoesNothingWithoutACancelButton) {
  Alert alert = twoButtons("One", "Two");
  whenMessageBoxShown([](QMessageBox* box) {
    QTest::keyClick(box, Qt::Key_Escape);
    box->close();
    EXPECT_TRUE(box->isVisible());
    buttonTitled(box, "Two")->click();
  });
  EXPECT_EQ(alert.runModal(), std::optional<std::size_t>(1));
}

TEST_F(AlertTest, WithoutButtonsQtsOwnOkClosesItAndReportsNone) {
  Alert alert;
  alert.setMessageText("Nothing to choose");
  whenMessageBoxShown([](QMessageBox* box) {
    ASSERT_EQ(box->buttons().size(), 1);
    box->buttons().front()->click();
  });
  EXPECT_EQ(alert.runModal(), std::nullopt);
}

TEST_F(AlertTest, MainQueueWorkRunsWhileTheModalAlertIsOpen) {
  Alert alert = twoButtons("OK", "Cancel");
  std::atomic<bool> fromThread{false};
  bool fromMain = false;
  bool openMeanwhile = true;
  std::thread poster;
  whenMessageBoxShown([&](QMessageBox*) {
    poster = std::thread([&] { tw::onMain([&] { fromThread = true; }); });
    tw::onMain([&] { fromMain = true; });
    // Close only once both ran, from a main-queue block: the queue keeps flowing in here.
    tw::onMain([&] {
      tw::ui::Application::runEventsUntil([&] { return fromThread.load(); }, 5.0);
      auto boxes = tw::ui::test::visibleMessageBoxes();
      openMeanwhile = !boxes.empty();
      if (!boxes.empty()) buttonTitled(boxes.front(), "Cancel")->click();
    });
  });
  EXPECT_EQ(alert.runModal(), std::optional<std::size_t>(1));
  poster.join();
  EXPECT_TRUE(fromThread);
  EXPECT_TRUE(fromMain);
  EXPECT_TRUE(openMeanwhile);
}

TEST_F(AlertTest, ModalAlertOpenedFromAMainQueueBlockLetsLaterBlocksRun) {
  bool laterRan = false;
  bool laterRanWhileOpen = false;
  std::optional<Alert::Result> result;
  tw::onMain([&] {
    Alert alert = twoButtons("OK", "Cancel");
    whenMessageBoxShown([&](QMessageBox* box) {
      tw::ui::Application::runEventsUntil([&] { return laterRan; }, 5.0);
      laterRanWhileOpen = laterRan;
      buttonTitled(box, "OK")->click();
    });
    result = alert.runModal();
  });
  tw::onMain([&] { laterRan = true; });
  ASSERT_TRUE(tw::ui::Application::runEventsUntil([&] { return result.has_value(); }, 10.0));
  EXPECT_TRUE(laterRanWhileOpen);
  EXPECT_EQ(*result, std::optional<std::size_t>(0));
}

class SheetTest : public AlertTest {
 protected:
  void SetUp() override {
    AlertTest::SetUp();
    window = std::make_unique<QWidget>();
    window->resize(400, 300);
    window->show();
  }
  std::unique_ptr<QWidget> window;
};

TEST_F(SheetTest, AttachesToTheWindowAndCompletesAfterClosing) {
  Alert alert = twoButtons("Start", "Reset");
  std::optional<Alert::Result> result;
  bool closedAtCompletion = false;
  alert.beginSheetModalForWindow(tw::ui::WindowRef(window.get()), [&](Alert::Result chosen) {
    closedAtCompletion = tw::ui::test::visibleMessageBoxes().empty();
    result = chosen;
  });
  // Returns at once, the alert shown modal to its window only.
  auto boxes = tw::ui::test::visibleMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  QMessageBox* box = boxes.front();
  EXPECT_EQ(box->parentWidget(), window.get());
  EXPECT_EQ(box->windowModality(), Qt::WindowModal);
  EXPECT_FALSE(result.has_value());

  buttonTitled(box, "Reset")->click();
  ASSERT_TRUE(tw::ui::Application::runEventsUntil([&] { return result.has_value(); }, 5.0));
  EXPECT_EQ(*result, std::optional<std::size_t>(1));
  EXPECT_TRUE(closedAtCompletion);
}

TEST_F(SheetTest, ARefToAChildWidgetAttachesToItsWindow) {
  auto* child = new QWidget(window.get());
  tw::ui::WindowRef ref(child);
  EXPECT_EQ(ref.widget(), window.get());
  Alert alert = twoButtons("OK", "Cancel");
  alert.setCancelButton(1);
  std::optional<Alert::Result> result;
  alert.beginSheetModalForWindow(ref, [&](Alert::Result chosen) { result = chosen; });
  auto boxes = tw::ui::test::visibleMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes.front()->parentWidget(), window.get());
  QTest::keyClick(boxes.front(), Qt::Key_Escape);
  ASSERT_TRUE(tw::ui::Application::runEventsUntil([&] { return result.has_value(); }, 5.0));
  EXPECT_EQ(*result, std::optional<std::size_t>(1));
}

TEST_F(SheetTest, WindowDestroyedFirstCompletesOnceWithNoButton) {
  Alert alert = twoButtons("OK", "Cancel");
  int calls = 0;
  Alert::Result last = 0;
  alert.beginSheetModalForWindow(tw::ui::WindowRef(window.get()), [&](Alert::Result chosen) {
    ++calls;
    last = chosen;
  });
  tw::ui::WindowRef ref(window.get());
  window.reset();
  EXPECT_FALSE(ref);
  ASSERT_TRUE(tw::ui::Application::runEventsUntil([&] { return calls > 0; }, 5.0));
  tw::ui::Application::runEventsUntil([] { return false; }, 0.05);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(last, std::nullopt);
}

TEST_F(SheetTest, WithoutAWindowTheAlertIsApplicationModal) {
  Alert alert = twoButtons("OK", "Cancel");
  std::optional<Alert::Result> result;
  alert.beginSheetModalForWindow(tw::ui::WindowRef(),
                                 [&](Alert::Result chosen) { result = chosen; });
  auto boxes = tw::ui::test::visibleMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes.front()->windowModality(), Qt::ApplicationModal);
  buttonTitled(boxes.front(), "OK")->click();
  ASSERT_TRUE(tw::ui::Application::runEventsUntil([&] { return result.has_value(); }, 5.0));
  EXPECT_EQ(*result, std::optional<std::size_t>(0));
}

}  // namespace
