// The value popovers against real editing view models: clamped edits shown back, disabled while
// running, the header following renames, the meridiem switch, weekday buttons and the hour range
// of the clock setting; closing a popover saves its edits.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLayout>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include "app/Source/ActionsList/ITSwitch.h"
#include "app/Source/Controls/ElidingLabel.h"
#include "app/Source/MasterList/MasterListAlarmEditingPopover.h"
#include "core/Source/Model/BTSettableTimeObject.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/ViewModels/BTAlarmListItemEditingViewModel.h"
#include "core/testsupport/ViewModelTestSupport.h"
#include "platform/inject/Injection.h"
#include "platform/ui/Application.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

class EditingPopoverTest : public tw::test::ViewModelTest {
 protected:
  void SetUp() override {
    tw::ui::test::application();
    ViewModelTest::SetUp();
  }
  std::shared_ptr<BTTimeSetting> time(const std::shared_ptr<BTTimeObject>& object) {
    return std::dynamic_pointer_cast<BTSettableTimeObject>(object)->time();
  }
  static void type(QLineEdit* field, const char* text) {
    field->setText(text);
    Q_EMIT field->textEdited(text);
  }
};

TEST_F(EditingPopoverTest, TimerFieldsClampThroughTheViewModelAndLockWhileRunning) {
  auto timer = makeObjects(1, 1)[0];
  time(timer)->setMinute(5);
  std::unique_ptr<tw::Popover> popover(
      MasterListItemEditingPopover::popoverWithTimeObject<MasterListItemEditingPopover>(timer));
  auto controller =
      std::dynamic_pointer_cast<MasterListItemEditingPopover>(popover->contentViewController());
  EXPECT_EQ(controller->minutesField()->text(), "05");
  EXPECT_EQ(controller->titleLabel()->text(), "Edit 0");
  type(controller->minutesField(), "75");
  EXPECT_EQ(time(timer)->minute(), 59);
  EXPECT_EQ(controller->minutesField()->text(), "59") << "the field shows the clamped value";
  controller->hoursField()->onTimeValuePlusAction();
  EXPECT_EQ(time(timer)->hour(), 1) << "steps reach the object as edits";
  timer->setTitle("Tea");
  EXPECT_EQ(controller->titleLabel()->text(), "Edit Tea");
  // A long title is cut to the popover, which the fields size.
  const int width = popover->sizeHint().width();
  timer->setTitle(std::string(1 << 20, 'x'));
  EXPECT_EQ(popover->sizeHint().width(), width);
  auto* header = dynamic_cast<ElidingLabel*>(controller->titleLabel());
  ASSERT_TRUE(header);
  header->window()->resize(popover->sizeHint());
  EXPECT_TRUE(header->isElided());
  timer->setTitle("Tea");

  EXPECT_TRUE(controller->secondsField()->isEnabled());
  tw::defaultComponentForType<BTTimingController>()->timingControlForTimingObject(timer)->start();
  pump();
  EXPECT_FALSE(controller->secondsField()->isEnabled());
}

TEST_F(EditingPopoverTest, ClosingThePopoverSavesItsEditsAtOnce) {
  auto timer = makeObjects(1, 1)[0];
  tw::defaultCoreDataProvider()->save();
  auto context = tw::defaultCoreDataProvider()->objectContext();
  auto* popover =
      MasterListItemEditingPopover::popoverWithTimeObject<MasterListItemEditingPopover>(timer);
  QPointer<tw::Popover> alive(popover);  // a closed popover deletes itself on a later turn
  popover->show();
  auto controller =
      std::dynamic_pointer_cast<MasterListItemEditingPopover>(popover->contentViewController());
  type(controller->minutesField(), "12");
  pump();
  EXPECT_TRUE(context->hasChanges()) << "typing waits while the popover is open";
  popover->close();
  pump();
  EXPECT_FALSE(context->hasChanges());
  EXPECT_EQ(time(timer)->minute(), 12);
  delete alive.data();
}

TEST_F(EditingPopoverTest, AlarmMeridiemWeekdaysAndHourRangeFollowTheClockSetting) {
  auto alarm = makeObjects(0, 1)[0];
  time(alarm)->setHour(9);
  settings_->generalBundle()->setUseMilitaryTime(false);
  std::unique_ptr<tw::Popover> popover(
      MasterListItemEditingPopover::popoverWithTimeObject<MasterListAlarmEditingPopover>(alarm));
  auto controller =
      std::dynamic_pointer_cast<MasterListAlarmEditingPopover>(popover->contentViewController());
  ASSERT_TRUE(controller->alarmViewModel());
  EXPECT_EQ(controller->hoursRange(), std::make_pair(1, 12));
  EXPECT_FALSE(controller->meridiemSegmentView()->isHidden());
  EXPECT_TRUE(controller->secondsSegmentView()->isHidden());
  const QString am = controller->meridiemField()->text();
  controller->meridiemFieldClicked();
  EXPECT_EQ(time(alarm)->hour(), 21);
  EXPECT_NE(controller->meridiemField()->text(), am);

  auto model = controller->alarmViewModel();
  const bool monday = model->mondaySetting();
  controller->weekdayButtons()[0]->setChecked(!model->sundaySetting());
  EXPECT_EQ(model->sundaySetting(), controller->weekdayButtons()[0]->isChecked());
  EXPECT_EQ(model->mondaySetting(), monday) << "other days keep their values";
  QObject stranger;
  controller->weekdaySettingChanged(&stranger);
  // The seven one-letter buttons are told apart by their names.
  EXPECT_TRUE(tw::ui::test::unnamedControls(popover.get()).empty());
  EXPECT_EQ(tw::ui::test::accessibleName(controller->weekdayButtons()[4]), "Repeat on Thursday");
  EXPECT_EQ(tw::ui::test::accessibleName(controller->hoursField()), "hours");

  tw::defaultComponentForType<BTTimingController>()->timingControlForTimingObject(alarm)->start();
  pump();
  EXPECT_FALSE(controller->meridiemField()->isEnabled());
  controller->meridiemFieldClicked();
  EXPECT_EQ(time(alarm)->hour(), 21) << "no switch while the alarm runs";

  settings_->generalBundle()->setUseMilitaryTime(true);
  std::unique_ptr<tw::Popover> military(
      MasterListItemEditingPopover::popoverWithTimeObject<MasterListAlarmEditingPopover>(alarm));
  auto other =
      std::dynamic_pointer_cast<MasterListAlarmEditingPopover>(military->contentViewController());
  EXPECT_EQ(other->hoursRange(), std::make_pair(0, 23));
  EXPECT_TRUE(other->meridiemSegmentView()->isHidden());
}

}  // namespace

namespace {

TEST_F(EditingPopoverTest, PopoversAreCompactDarkStableAndWholeOnTheScreenAtItsEdge) {
  auto alarm = makeObjects(0, 1)[0];
  settings_->generalBundle()->setUseMilitaryTime(false);
  const QRect area = QApplication::primaryScreen()->availableGeometry();
  QWidget anchor;
  anchor.setGeometry(area.right() - 60, area.bottom() - 30, 60, 30);
  anchor.show();
  tw::Popover* popover =
      MasterListItemEditingPopover::popoverWithTimeObject<MasterListAlarmEditingPopover>(alarm);
  QPointer<tw::Popover> guard(popover);
  auto controller =
      std::dynamic_pointer_cast<MasterListAlarmEditingPopover>(popover->contentViewController());
  popover->showRelativeToRect(anchor.rect(), &anchor, tw::Popover::Edge::MaxX);
  pump();
  const QSize first = popover->size();
  EXPECT_LT(first.height(), 260);
  EXPECT_LT(first.width(), 460);
  EXPECT_TRUE(area.contains(popover->geometry()))
      << "pushed back onto the screen " << popover->x() << "," << popover->y() << " "
      << popover->width() << "x" << popover->height() << " in " << area.width() << "x"
      << area.height();
  // Open a while and laid out again and again, it keeps its size.
  for (int pass = 0; pass < 3; ++pass) {
    popover->layout()->invalidate();
    QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    tw::ui::Application::runEventsUntil([] { return false; }, 0.1);
  }
  EXPECT_EQ(popover->size(), first);

  // Light digits in visible dark boxes, each with its caption; meridiem and weekdays inside.
  for (TimeValueTextField* field : {controller->hoursField(), controller->minutesField()}) {
    EXPECT_GE(field->palette().color(QPalette::Text).lightness(), 220);
    EXPECT_LE(field->palette().color(QPalette::Base).lightness(), 80);
    EXPECT_GT(field->layerBorderColor().alpha(), 0);
    EXPECT_GE(field->height(), field->fontMetrics().height());
  }
  const QRect inside = popover->rect();
  std::vector<QWidget*> controls{controller->meridiemField()};
  for (QWidget* button : controller->weekdayButtons()) controls.push_back(button);
  for (QWidget* control : controls) {
    EXPECT_TRUE(control->isVisible());
    EXPECT_TRUE(inside.contains(QRect(control->mapTo(popover, QPoint(0, 0)), control->size())));
  }
  // Typing goes into the first field at once; Return is done.
  EXPECT_EQ(QApplication::focusWidget(), controller->hoursField());
  EXPECT_EQ(controller->hoursField()->selectedText(), controller->hoursField()->text());
  QTest::keyClick(controller->hoursField(), Qt::Key_Return);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull()) << "closed and freed";
}

// Pixels of `a` and `b` that differ plainly (by a quarter of a channel's range or more).
int plainlyDifferent(const QImage& a, const QImage& b) {
  int n = 0;
  for (int y = 0; y < std::min(a.height(), b.height()); ++y)
    for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
      const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
      if (std::max({std::abs(p.red() - q.red()), std::abs(p.green() - q.green()),
                    std::abs(p.blue() - q.blue())}) >= 64)
        ++n;
    }
  return n;
}

// The focus ring of a switch and of a weekday is drawn whole and stands apart from on and off:
// a focused control, on or off, differs plainly from the same control without the focus along
// its whole edge.
TEST_F(EditingPopoverTest, FocusIsPlainlyApartFromOnAndOffOnSwitchesAndWeekdays) {
  const auto focusStandsApart = [](QAbstractButton* control) {
    QWidget* window = control->window();
    window->activateWindow();
    ASSERT_TRUE(tw::ui::test::runUntil([&] {
      return QApplication::activeWindow() == window || QApplication::activePopupWidget() == window;
    }));
    const int edge = 2 * (control->width() + control->height());
    for (bool on : {false, true}) {
      control->setChecked(on);
      control->clearFocus();
      const QImage plain = control->grab().toImage();
      control->setFocus(Qt::TabFocusReason);
      ASSERT_TRUE(control->hasFocus());
      const QImage focused = control->grab().toImage();
      EXPECT_GE(plainlyDifferent(plain, focused), edge)
          << control->metaObject()->className() << (on ? " on" : " off");
    }
  };
  QWidget holder;
  holder.setStyleSheet("background: #3a5a78;");  // a tinted pane, as the actions list sits on
  auto* toggle = new ITSwitch(&holder);
  toggle->resize(toggle->sizeHint());
  holder.resize(100, 60);
  holder.show();
  focusStandsApart(toggle);
  holder.hide();

  auto alarm = makeObjects(0, 1)[0];
  std::unique_ptr<tw::Popover> popover(
      MasterListItemEditingPopover::popoverWithTimeObject<MasterListAlarmEditingPopover>(alarm));
  auto controller =
      std::dynamic_pointer_cast<MasterListAlarmEditingPopover>(popover->contentViewController());
  popover->show();
  focusStandsApart(controller->weekdayButtons()[1]);
}

}  // namespace
