// The detail pane's timing display and its controllers with the real assembly, store and
// settings in private XDG folders, on Qt's offscreen platform.

#include <gtest/gtest.h>

#include <cstring>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

#include "app/Source/Application/CoreAssembly_macOS.h"
#include "app/Source/Controls/BTGradientView.h"
#include "app/Source/Controls/FlatButton.h"
#include "app/Source/MainWindow/GradientBackgroundView.h"
#include "app/Source/TimingDisplay/StopwatchTimingDisplayViewController.h"
#include "app/Source/TimingDisplay/TimingDisplayView.h"
#include "app/tests/SampleData.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTMasterListViewMode.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Settings/BTBaseSettingsContainer.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/Timing/BTUpdater.h"
#include "core/Source/ViewModels/BTTimeObjectTimingDisplayViewModel.h"
#include "platform/foundation/Dispatch.h"
#include "platform/inject/Injection.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/testsupport/TestSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/NamedResources.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

void settle(double seconds = 0.05) {
  tw::ui::Application::runEventsUntil([] { return false; }, seconds);
}

class TimingDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tw::ui::test::application();
    auto assembly = TyphoonAssembly::assembly<CoreAssembly_macOS>();
    factory_ = assembly->activated();
    auto settings = tw::defaultComponentForType<BTSettingsProvider>();
    settings->registerDefaults();
    settings->load();
    tw::defaultCoreDataProvider()->setup();
  }
  void TearDown() override {
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

  // The controller's view in a shown window of its own.
  template <class T>
  std::shared_ptr<T> show(const std::shared_ptr<BTTimeObject>& object) {
    auto controller = std::make_shared<T>();
    controller->setTimeObject(object);
    window_ = std::make_unique<QWidget>();
    window_->resize(700, 520);
    auto* layout = new QVBoxLayout(window_.get());
    layout->addWidget(controller->view());
    window_->show();
    settle();
    return controller;
  }

  void key(QWidget* target, QEvent::Type type, bool autoRepeat = false,
           Qt::Key code = Qt::Key_Space, const QString& text = " ") {
    QKeyEvent event(type, code, Qt::NoModifier, text, autoRepeat);
    QApplication::sendEvent(target, &event);
  }

  tw::test::ScopedXdg xdg_;
  std::shared_ptr<TyphoonComponentFactory> factory_;
  std::unique_ptr<QWidget> window_;
};

struct Shown {
  std::vector<std::string> values, units;
};
Shown shown(const TimingDisplayView& view) {
  Shown result;
  for (int n = view.leadingDisplaySegment(); n >= 2; --n) {
    result.values.push_back(view.displaySegment(n)->valueText().toStdString());
    result.units.push_back(view.displaySegment(n)->unitText().toStdString());
  }
  return result;
}

TEST_F(TimingDisplayTest, SegmentsUnitsAndSeparatorsFollowTheLargestUnit) {
  TimingDisplayView view;
  view.resize(1400, 200);
  view.setTimingValue(0);
  EXPECT_EQ(shown(view).values, (std::vector<std::string>{"0"}));
  EXPECT_EQ(shown(view).units, (std::vector<std::string>{"SECONDS"}));
  EXPECT_TRUE(view.displaySegmentSeparators().empty());

  view.setTimingValue(65);
  EXPECT_EQ(shown(view).values, (std::vector<std::string>{"1", "05"}));
  EXPECT_EQ(shown(view).units, (std::vector<std::string>{"MINUTE", "SECONDS"}));
  EXPECT_EQ(view.displaySegmentSeparators().size(), 1u);

  view.setTimingValue(3725);
  EXPECT_EQ(shown(view).values, (std::vector<std::string>{"1", "02", "05"}));
  EXPECT_EQ(shown(view).units, (std::vector<std::string>{"HOUR", "MINUTES", "SECONDS"}));
  ASSERT_EQ(view.displaySegmentSeparators().size(), 2u);
  // Ticking within the same largest unit makes no view and keeps the separators.
  const int created = view.segmentsCreated();
  const auto separator = view.displaySegmentSeparators()[0].data();
  view.setTimingValue(3724);
  EXPECT_EQ(view.segmentsCreated(), created);
  EXPECT_EQ(view.displaySegmentSeparators()[0].data(), separator);
  EXPECT_EQ(shown(view).values.back(), "04");

  view.setTimingValue(86400 + 3600 + 61);
  EXPECT_EQ(shown(view).values, (std::vector<std::string>{"1", "01", "01", "01"}));
  EXPECT_EQ(shown(view).units, (std::vector<std::string>{"DAY", "HOUR", "MINUTE", "SECOND"}));
  EXPECT_EQ(view.displaySegmentSeparators().size(), 3u);

  // 60 -> 59 drops the minute segment and its separator; the seconds segment then spans the
  // view between both paddings. 59 -> 60 brings them back.
  view.setTimingValue(60);
  view.setTimingValue(59);
  EXPECT_EQ(view.leadingDisplaySegment(), 2);
  EXPECT_EQ(view.displaySegment(3), nullptr);
  EXPECT_TRUE(view.displaySegmentSeparators().empty());
  EXPECT_EQ(view.displaySegment(2)->geometry().left(), 20);
  EXPECT_EQ(view.displaySegment(2)->geometry().right() + 1, 1400 - 20);
  view.setTimingValue(60);
  EXPECT_EQ(shown(view).values, (std::vector<std::string>{"1", "00"}));
  ASSERT_EQ(view.displaySegmentSeparators().size(), 1u);
  // The separator stands centred in the 24-point gap left of the seconds segment.
  const QRect seconds = view.displaySegment(2)->geometry();
  const QRect gap = view.displaySegmentSeparators()[0]->geometry();
  EXPECT_NEAR(seconds.left() - (gap.left() + 1.25), 12, 1.0);
  EXPECT_EQ(view.displaySegment(3)->geometry().right() + 1, seconds.left() - 24);
  // Out-of-range slots are never used.
  EXPECT_EQ(view.displaySegment(6), nullptr);
  EXPECT_TRUE(view.unitValueForDisplaySegment(1).isEmpty());
}

TEST_F(TimingDisplayTest, StopwatchFractionFollowsTheAccuracySetting) {
  auto bundle = tw::defaultComponentForType<BTSettingsProvider>()->timeObjectsBundle();
  TimingDisplayView view;
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "7.5"}, {1, "7.50"}, {2, "7.500"}, {7, "7.5"}};
  view.setDisplayMilliseconds(true);
  for (const auto& [accuracy, text] : cases) {
    bundle->setStopwatchAccuracy(accuracy);
    view.setTimingValue(0);
    view.setTimingValue(7.5);
    EXPECT_EQ(view.displaySegment(2)->valueText().toStdString(), text) << accuracy;
  }
  view.setDisplayMilliseconds(false);
  view.setTimingValue(7.5);
  EXPECT_EQ(view.displaySegment(2)->valueText().toStdString(), "7");
}

TEST_F(TimingDisplayTest, UnitWordsFollowTheShownNumberAndSegmentsFitAShortView) {
  TimingDisplayView view;
  view.resize(900, 300);
  view.show();
  view.setDisplayMilliseconds(true);
  view.setTimingValue(1.59);
  EXPECT_EQ(shown(view).units, (std::vector<std::string>{"SECONDS"})) << "1.5 is not one";
  view.setTimingValue(1.0);
  EXPECT_EQ(shown(view).units, (std::vector<std::string>{"SECOND"}));
  view.setDisplayMilliseconds(false);
  view.setTimingValue(61.5);
  EXPECT_EQ(shown(view).units, (std::vector<std::string>{"MINUTE", "SECOND"}));

  // However short or narrow the view, each number over its unit word fits its segment.
  view.setTimingValue(3725);
  for (const QSize size : {QSize(900, 300), QSize(900, 70), QSize(240, 300), QSize(300, 60)}) {
    view.resize(size);
    for (int n = 2; n <= view.leadingDisplaySegment(); ++n) {
      const QSizeF need = view.displaySegment(n)->naturalSize();
      const QRect room = view.displaySegment(n)->geometry();
      EXPECT_LE(need.height(), room.height() + 0.5) << size.width() << "x" << size.height();
      EXPECT_LE(need.width(), room.width() + 0.5) << size.width() << "x" << size.height();
      EXPECT_TRUE(view.rect().contains(room)) << size.width() << "x" << size.height();
    }
  }
}

TEST_F(TimingDisplayTest, ANewStopwatchAccuracyShowsAtOnceOnAResetStopwatch) {
  auto stopwatch = make("Run", 2);
  auto controller = show<StopwatchTimingDisplayViewController>(stopwatch);
  auto settings = tw::defaultComponentForType<BTSettingsProvider>();
  auto* bundle = dynamic_cast<BTBaseSettingsContainer*>(settings->timeObjectsBundle().get());
  ASSERT_TRUE(bundle);
  settings->timeObjectsBundle()->setStopwatchAccuracy(2);
  bundle->notifySettingsChangedWithKeys("stopwatchAccuracy", nullptr);
  EXPECT_EQ(controller->displayView()->displaySegment(2)->valueText(), "0.000");
  settings->timeObjectsBundle()->setStopwatchAccuracy(1);
  bundle->notifySettingsChangedWithKeys("stopwatchAccuracy", nullptr);
  EXPECT_EQ(controller->displayView()->displaySegment(2)->valueText(), "0.00");
}

TEST_F(TimingDisplayTest, DigitsHaveOneAdvanceAndTicksRepaintAtMostOncePerFrame) {
  const QFontMetricsF metrics(tw::app::tabularDigitFont(100, QFont::Thin));
  for (char c = '1'; c <= '9'; ++c)
    EXPECT_DOUBLE_EQ(metrics.horizontalAdvance(QChar(c)), metrics.horizontalAdvance(QChar('0')));

  QWidget window;
  auto* view = new TimingDisplayView(&window);
  view->resize(700, 200);
  window.show();
  view->setTimingValue(3725.1);
  settle();
  const int frames = view->frameCount();
  const int paints = view->displaySegment(2)->paintCount();
  const int created = view->segmentsCreated();
  // A millisecond stopwatch ticking for half a second.
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; clock.elapsed() < 500; ++i) {
    view->setTimingValue(3725.1 + i * 0.001 * 1000);
    QCoreApplication::processEvents();
  }
  const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
  settle();
  EXPECT_LE(view->frameCount() - frames, seconds * 62 + 2);
  EXPECT_GE(view->frameCount() - frames, 3) << "the display keeps moving";
  EXPECT_LE(view->displaySegment(2)->paintCount() - paints, seconds * 62 + 3);
  EXPECT_EQ(view->segmentsCreated(), created);
}

// The display over the stopwatch pane's gradient, as in the detail pane. Each tick repaints only
// the figures that moved (and a unit word that changed), and what the screen then holds is what a
// whole repaint of the old kind draws, pixel for pixel.
TEST_F(TimingDisplayTest, ATickRepaintsOnlyWhatMovedAndTheScreenMatchesAWholeRepaint) {
  tw::defaultComponentForType<BTSettingsProvider>()->timeObjectsBundle()->setStopwatchAccuracy(1);
  tw::GradientBackgroundView pane;
  std::vector<QColor> colors;
  for (const auto& c :
       BTMasterListViewModeGetGradientColors(2, 0.5).value_or(std::vector<BTColor>{}))
    colors.push_back(QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                                      static_cast<float>(c.blue), static_cast<float>(c.alpha)));
  pane.setColors(colors, false);
  pane.resize(900, 260);
  auto* view = new TimingDisplayView(&pane);
  view->setDisplayMilliseconds(true);
  view->setGeometry(pane.rect());
  pane.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
  auto onScreen = [&] {
    return QGuiApplication::primaryScreen()
        ->grabWindow(pane.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
  };
  auto wholeRepaint = [&] {
    TimingDisplaySegment::setRepaintsWholeSegments(true);
    pane.repaint();
    QImage image = onScreen();
    TimingDisplaySegment::setRepaintsWholeSegments(false);
    return image;
  };
  const QFontMetricsF valueMetrics(
      tw::app::tabularDigitFont(TimingDisplaySegment::kValuePointSize, QFont::Thin));

  // Whether the point at the middle of figure `index` of the seconds segment's number (or of its
  // unit word, for -1) was in the last paint.
  auto repainted = [&](TimingDisplaySegment* segment, qsizetype index) {
    const QString& text = segment->valueText();
    const double top = (segment->height() - TimingDisplaySegment::naturalBlockHeight()) / 2;
    if (index < 0) {
      const QFontMetricsF unitMetrics(
          tw::app::tabularDigitFont(TimingDisplaySegment::kUnitPointSize, QFont::Thin));
      const double x = segment->width() - unitMetrics.horizontalAdvance(segment->unitText()) / 2;
      return segment->lastPaintedRegion().contains(
          QPoint(static_cast<int>(x),
                 static_cast<int>(top + valueMetrics.height() + unitMetrics.height() / 2)));
    }
    const double start = segment->width() - valueMetrics.horizontalAdvance(text);
    const double x = start + (valueMetrics.horizontalAdvance(text.left(index)) +
                              valueMetrics.horizontalAdvance(text.left(index + 1))) /
                                 2;
    return segment->lastPaintedRegion().contains(
        QPoint(static_cast<int>(x), static_cast<int>(top + valueMetrics.height() / 2)));
  };
  // How many pixels differ, for the failure message.
  auto differing = [](const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x) n += a.pixel(x, y) != b.pixel(x, y);
    return n;
  };

  struct Tick {
    double from, to;
    const char* moved;  // per figure of the seconds' number: 'x' where it changes
    bool unit;          // the unit word changes
    bool minutes;       // the minutes segment changes
  } ticks[] = {
      {3725.12, 3725.13, "____x", false, false},  // 1:02:05.12 to .13
      {3725.13, 3725.29, "___xx", false, false}, {3725.99, 3726.00, "_x_xx", false, false},
      {3779.99, 3780.00, "xx_xx", false, true},  // the minutes roll over too
      {1.0, 1.01, "___x", true, false},          // "1.00 SECOND" to "1.01 SECONDS"
  };
  for (const auto& t : ticks) {
    SCOPED_TRACE(t.to);
    view->setTimingValue(t.from);
    settle();
    pane.repaint();  // the screen as a whole paint leaves it
    auto* seconds = view->displaySegment(2);
    auto* minutes = view->displaySegment(3);
    const int secondsPaints = seconds->paintCount();
    const int minutesPaints = minutes ? minutes->paintCount() : 0;
    view->setTimingValue(t.to);
    settle();
    ASSERT_EQ(seconds->paintCount(), secondsPaints + 1);
    ASSERT_EQ(seconds->valueText().size(), static_cast<qsizetype>(std::strlen(t.moved)));
    for (qsizetype i = 0; i < seconds->valueText().size(); ++i)
      EXPECT_EQ(repainted(seconds, i), t.moved[i] == 'x') << "figure " << i;
    EXPECT_EQ(repainted(seconds, -1), t.unit) << "the unit word";
    if (minutes) {
      EXPECT_EQ(minutes->paintCount(), minutesPaints + (t.minutes ? 1 : 0));
    }
    const QImage shown = onScreen();
    const QImage expected = wholeRepaint();
    ASSERT_EQ(shown.size(), expected.size());
    EXPECT_EQ(differing(shown, expected), 0) << "pixels that differ from a whole repaint";
  }
}

TEST_F(TimingDisplayTest, ButtonsSpaceKeyAndMenusFollowTheControl) {
  auto timer = make("Tea", 1, 3);
  auto controller = show<TimingDisplayViewControllerWithTouchBar>(timer);
  EXPECT_EQ(controller->titleField()->text(), "Tea");
  EXPECT_EQ(controller->startButton()->text(), "Start");
  EXPECT_TRUE(controller->startButton()->isEnabled());
  EXPECT_EQ(controller->resetButton()->text(), "Stop");
  EXPECT_FALSE(controller->resetButton()->isEnabled());
  EXPECT_EQ(shown(*controller->displayView()).values, (std::vector<std::string>{"3", "00"}))
      << "a reset timer shows its duration";
  EXPECT_DOUBLE_EQ(controller->preferredTransitionEndAlphaValue(), 1.0);

  QWidget* root = controller->view();
  controller->makeFirstResponder();
  ASSERT_TRUE(controller->isFirstResponder());
  // Key-downs are swallowed, auto-repeat and other keys do nothing; the release of Space
  // toggles start and pause.
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
  QApplication::sendEvent(root, &down);
  EXPECT_TRUE(down.isAccepted());
  key(root, QEvent::KeyRelease, true);
  key(root, QEvent::KeyRelease, false, Qt::Key_A, "a");
  EXPECT_EQ(timer->timingState(), 0);
  key(root, QEvent::KeyRelease);
  EXPECT_EQ(timer->timingState(), 20);
  EXPECT_EQ(controller->startButton()->text(), "Pause");
  EXPECT_TRUE(controller->resetButton()->isEnabled());
  key(root, QEvent::KeyRelease);
  EXPECT_EQ(timer->timingState(), 10);
  EXPECT_EQ(controller->startButton()->text(), "Resume");

  // Menu items take the buttons' titles and enabled states.
  QAction item;
  EXPECT_TRUE(controller->validateAction("startTiming", &item));
  EXPECT_EQ(item.text(), "Resume");
  EXPECT_TRUE(controller->validateAction("resetTiming", &item));
  EXPECT_EQ(item.text(), "Stop");
  controller->performAction("resetTiming", nullptr);
  EXPECT_EQ(timer->timingState(), 0);
  EXPECT_FALSE(controller->validateAction("resetTiming", &item));

  // Typing renames the object; the touch bar's title follows.
  controller->titleField()->setText("Green tea");
  Q_EMIT controller->titleField()->textEdited("Green tea");
  EXPECT_EQ(timer->title(), "Green tea");
  EXPECT_EQ(controller->touchBar()
                ->itemForIdentifier(TimingDisplayViewControllerWithTouchBar::kTitleItem)
                ->stringValue,
            "Green tea");
  EXPECT_EQ(controller->touchBar()
                ->itemForIdentifier(TimingDisplayViewControllerWithTouchBar::kStartItem)
                ->title,
            "Start");
}

TEST_F(TimingDisplayTest, NoObjectShowsUntitledWithEverythingDisabled) {
  auto controller = show<TimingDisplayViewControllerWithTouchBar>(nullptr);
  EXPECT_EQ(controller->titleField()->text(), "Untitled");
  EXPECT_FALSE(controller->titleField()->isEnabled());
  EXPECT_EQ(controller->startButton()->text(), "Start");
  EXPECT_FALSE(controller->startButton()->isEnabled());
  EXPECT_EQ(controller->resetButton()->text(), "Stop");
  EXPECT_FALSE(controller->resetButton()->isEnabled());
  EXPECT_DOUBLE_EQ(controller->preferredTransitionEndAlphaValue(), 0.6000000238418579);
  controller->startTiming();  // nothing to start: no crash
  QAction item;
  EXPECT_FALSE(controller->validateAction("startTiming", &item));
}

TEST_F(TimingDisplayTest, ValuesWhileHiddenAreNotPaintedAndTheLatestShowsWhenVisibleAgain) {
  auto stopwatch = make("Run", 2);
  auto controller = show<StopwatchTimingDisplayViewController>(stopwatch);
  auto* flat = dynamic_cast<FlatButton*>(controller->startButton());
  ASSERT_TRUE(flat);
  EXPECT_EQ(flat->activeButtonColor(), *tw::ui::colorNamed("TimingStateGreen"));
  controller->startTiming();
  EXPECT_EQ(flat->activeButtonColor(), *tw::ui::colorNamed("TimingStateRed"));
  EXPECT_EQ(controller->touchBar()
                ->itemForIdentifier(TimingDisplayViewControllerWithTouchBar::kStartItem)
                ->bezelColor,
            tw::ui::colorNamed("TimingStateRed"));

  window_->showMinimized();
  window_->hide();
  settle();
  const double before = controller->displayView()->timingValue();
  stopwatch->setTimingValue(42.0);  // a tick while hidden
  EXPECT_DOUBLE_EQ(controller->displayView()->timingValue(), before) << "not painted";
  // Paused meanwhile (as a link action pauses: the state changes, no value is written):
  // leaving the running state shows the value dropped while hidden.
  stopwatch->setTimingValue(43.0);
  stopwatch->setTimingState(10);
  EXPECT_NEAR(controller->displayView()->timingValue(), 43.0, 0.001);
  EXPECT_EQ(flat->activeButtonColor(), *tw::ui::colorNamed("TimingStateGreen"));

  // Still running while hidden, then shown: the latest value is applied on showing alone, with
  // no tick of the scheduler to bring it.
  controller->startTiming();
  ASSERT_EQ(stopwatch->timingState(), 20);
  tw::defaultComponentForType<BTUpdater>()->removeUpdateableObject(
      std::dynamic_pointer_cast<BTUpdateable>(controller->controlViewModel()));
  stopwatch->setTimingValue(50.0);
  EXPECT_NEAR(controller->displayView()->timingValue(), 43.0, 0.5) << "dropped while hidden";
  window_->showNormal();
  settle();
  EXPECT_NEAR(controller->displayView()->timingValue(), 50.0, 0.001);
}

TEST_F(TimingDisplayTest, FoldingTheActionsListIsStoredAndTheNextPaneOpensFolded) {
  auto timer = make("Tea", 1, 3);
  auto controller = show<TimingDisplayViewControllerWithTouchBar>(timer);
  EXPECT_FALSE(controller->actionsContainerView()->isHidden());
  EXPECT_EQ(controller->hideOrRevealActionsButton()->property("imageName").toString(),
            "IconFoldDown");
  controller->hideOrRevealActions();
  EXPECT_TRUE(controller->actionsContainerView()->isHidden());
  EXPECT_EQ(controller->hideOrRevealActionsButton()->property("imageName").toString(),
            "IconFoldUp");
  EXPECT_TRUE(tw::defaultComponentForType<BTSettingsProvider>()
                  ->masterDetailBundle()
                  ->actionsListViewCollapsed());
  auto next = show<TimingDisplayViewControllerWithTouchBar>(timer);
  EXPECT_TRUE(next->actionsContainerView()->isHidden());
}

TEST_F(TimingDisplayTest, ControllerAndViewModelsAreFreedWithThePaneAndItsViewOutlivesThem) {
  auto timer = make("Tea", 1, 3);
  std::weak_ptr<TimingDisplayViewController> weakController;
  std::weak_ptr<BTTimeObjectTimingDisplayViewModel> weakDisplay;
  QPointer<QWidget> root;
  {
    auto controller = show<TimingDisplayViewControllerWithTouchBar>(timer);
    weakController = controller;
    weakDisplay = controller->displayViewModel();
    root = controller->view();
  }
  EXPECT_TRUE(weakController.expired());
  EXPECT_TRUE(weakDisplay.expired());
  // The window still holds the view (as during a pane transition): its events reach no
  // controller.
  ASSERT_TRUE(root);
  timer->setTimingValue(12.0);
  window_->hide();
  window_->show();
  settle();
  root->setFocus();
  key(root, QEvent::KeyPress);
  key(root, QEvent::KeyRelease);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(root, &press);
  EXPECT_EQ(timer->timingState(), 0);
}

}  // namespace
