// What a screen reader hears of the detail pane's time display, read through QAccessible with
// the real assembly, store and settings in private XDG folders, driven by real clicks on the
// pane's buttons, on Qt's offscreen platform.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QTest>
#include <QVBoxLayout>
#include <vector>

#include "app/Source/Application/CoreAssembly_macOS.h"
#include "app/Source/TimingDisplay/StopwatchTimingDisplayViewController.h"
#include "app/Source/TimingDisplay/TimingDisplayAccessible.h"
#include "app/Source/TimingDisplay/TimingDisplayView.h"
#include "app/tests/SampleData.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "platform/foundation/Dispatch.h"
#include "platform/inject/Injection.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/testsupport/TestSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

// The accessibility events sent about one widget, as their types.
std::vector<QAccessible::Event>* recorded = nullptr;
QObject* recordedObject = nullptr;
void record(QAccessibleEvent* event) {
  if (recorded && event->object() == recordedObject) recorded->push_back(event->type());
}

class TimingDisplayAccessibilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tw::ui::test::application();
    factory_ = TyphoonAssembly::assembly<CoreAssembly_macOS>()->activated();
    auto settings = tw::defaultComponentForType<BTSettingsProvider>();
    settings->registerDefaults();
    settings->load();
    tw::defaultCoreDataProvider()->setup();
    previousAnnouncer_ = TimingDisplayAccessible::setAnnouncer(record);
  }
  void TearDown() override {
    TimingDisplayAccessible::setAnnouncer(previousAnnouncer_);
    recorded = nullptr;
    recordedObject = nullptr;
    window_.reset();
    tw::defaultCoreDataProvider()->cleanUp();
    tw::setDefaultCoreDataProvider(nullptr);
    BTActionExecutor::setDefaultExecutor(nullptr);
    TyphoonComponentFactory::clearDefaultFactory();
    tw::RunLoop::main().drain();
  }

  std::shared_ptr<BTTimeObject> make(const std::string& title, int kind, int minutes = 0) {
    tw::app::sample::insert({{title, kind, minutes, false}});
    for (const auto& object :
         tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimeObject>())
      if (object->title() == title) return object;
    return nullptr;
  }

  // The pane the application shows, in a window of its own; its display's events recorded.
  std::shared_ptr<StopwatchTimingDisplayViewController> show(
      const std::shared_ptr<BTTimeObject>& object) {
    auto controller = std::make_shared<StopwatchTimingDisplayViewController>();
    controller->setTimeObject(object);
    window_ = std::make_unique<QWidget>();
    window_->resize(700, 520);
    (new QVBoxLayout(window_.get()))->addWidget(controller->view());
    window_->show();
    tw::ui::Application::runEventsUntil([] { return false; }, 0.05);
    events_.clear();
    recorded = &events_;
    recordedObject = controller->displayView();
    return controller;
  }

  static QString name(QWidget* display) {
    return QAccessible::queryAccessibleInterface(display)->text(QAccessible::Name);
  }
  static QString description(QWidget* display) {
    return QAccessible::queryAccessibleInterface(display)->text(QAccessible::Description);
  }

  tw::test::ScopedXdg xdg_;
  std::shared_ptr<TyphoonComponentFactory> factory_;
  std::unique_ptr<QWidget> window_;
  std::vector<QAccessible::Event> events_;
  TimingDisplayAccessible::Announcer previousAnnouncer_ = nullptr;
};

using Events = std::vector<QAccessible::Event>;
const Events kAnnounced = {QAccessible::NameChanged, QAccessible::DescriptionChanged};

TEST_F(TimingDisplayAccessibilityTest, TheTimeIsOneElementReadAsSpeechAndOnlyStateChangesAreTold) {
  auto timer = make("Tea", 1, 4);
  auto pane = show(timer);
  auto* display = pane->displayView();
  QAccessibleInterface* element = QAccessible::queryAccessibleInterface(display);
  ASSERT_TRUE(element);
  EXPECT_EQ(element->role(), QAccessible::StaticText);
  EXPECT_EQ(element->childCount(), 0) << "numbers, unit words and separators are one element";
  EXPECT_GE(QAccessible::queryAccessibleInterface(pane->view())->indexOfChild(element), 0)
      << "in the pane's tree";
  EXPECT_EQ(name(display), "4 minutes");
  EXPECT_EQ(description(display), "");

  QTest::mouseClick(pane->startButton(), Qt::LeftButton);
  ASSERT_EQ(timer->timingState(), 20);
  EXPECT_EQ(events_, kAnnounced) << "started";
  EXPECT_EQ(description(display), "Running");
  // Ticks change what is read, asked for, and announce nothing.
  events_.clear();
  for (int tenth = 0; tenth < 70; ++tenth) timer->setTimingValue(240.0 - tenth * 0.1);
  timer->setTimingValue(233.2);
  EXPECT_EQ(name(display), "3 minutes 53 seconds");
  timer->setTimingValue(61);
  EXPECT_EQ(name(display), "1 minute 1 second");
  EXPECT_EQ(events_, Events{}) << "a tick is not announced";

  QTest::mouseClick(pane->startButton(), Qt::LeftButton);
  ASSERT_EQ(timer->timingState(), 10);
  EXPECT_EQ(events_, kAnnounced) << "paused";
  EXPECT_EQ(description(display), "Paused");
  events_.clear();
  timer->setTimingState(21);
  EXPECT_EQ(events_, kAnnounced) << "finished";
  EXPECT_EQ(description(display), "Finished");

  // A stopwatch reads its fraction; zero units are left out.
  auto stopwatch = make("Run", 2);
  pane = show(stopwatch);
  display = pane->displayView();
  EXPECT_EQ(name(display), "0 seconds");
  QTest::mouseClick(pane->startButton(), Qt::LeftButton);
  stopwatch->setTimingValue(14.74);
  EXPECT_EQ(name(display), "14.7 seconds");
  stopwatch->setTimingValue(3600 + 5.25);
  EXPECT_EQ(name(display), "1 hour 5.2 seconds");

  // An alarm reads its time of day, and once set how long is left until it.
  auto alarm = make("Wake up", 0, 0);
  pane = show(alarm);
  display = pane->displayView();
  EXPECT_EQ(name(display), "7:00 AM");
  QTest::mouseClick(pane->startButton(), Qt::LeftButton);
  ASSERT_EQ(alarm->timingState(), 20);
  EXPECT_EQ(events_, kAnnounced) << "set";
  alarm->setTimingValue(7200);
  EXPECT_EQ(name(display), "7:00 AM in 2 hours");
}

}  // namespace
