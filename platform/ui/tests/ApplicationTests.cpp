// The application object's quitting rules, animations and layer styles, on Qt's offscreen
// platform.

#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <cmath>
#include <string>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/LayerStyle.h"
#include "platform/ui/NamedResources.h"
#include "platform/ui/SharedApplication.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::ui::SharedApplication;
using tw::ui::TerminateReply;

class ScriptedDelegate : public tw::ui::ApplicationDelegate {
 public:
  TerminateReply reply = TerminateReply::Now;
  int asked = 0;
  int willTerminate = 0;
  std::vector<bool> reopens;
  TerminateReply applicationShouldTerminate() override {
    ++asked;
    return reply;
  }
  void applicationWillTerminate() override { ++willTerminate; }
  bool applicationShouldHandleReopen(bool visible) override {
    reopens.push_back(visible);
    return true;
  }
};

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tw::ui::test::application();
    delegate_ = std::make_shared<ScriptedDelegate>();
    SharedApplication::shared().launchWithoutLoop(delegate_);
  }
  void TearDown() override { SharedApplication::shared().resetForTesting(); }
  std::shared_ptr<ScriptedDelegate> delegate_;
};

TEST_F(ApplicationTest, TerminateAsksTheDelegateAndEndsOnlyOnNowOrAYesReply) {
  auto& app = SharedApplication::shared();
  EXPECT_FALSE(QApplication::quitOnLastWindowClosed());

  delegate_->reply = TerminateReply::Cancel;
  app.terminate();
  EXPECT_FALSE(app.hasTerminated());

  delegate_->reply = TerminateReply::Later;
  app.terminate();
  EXPECT_TRUE(app.isWaitingForTerminateReply());
  app.terminate();  // a second request while waiting is not asked again
  EXPECT_EQ(delegate_->asked, 2);
  app.replyToApplicationShouldTerminate(false);
  EXPECT_FALSE(app.isWaitingForTerminateReply());
  EXPECT_FALSE(app.hasTerminated());
  app.replyToApplicationShouldTerminate(true);  // no question pending: ignored
  EXPECT_FALSE(app.hasTerminated());

  app.terminate();
  app.replyToApplicationShouldTerminate(true);
  EXPECT_TRUE(app.hasTerminated());
  EXPECT_EQ(delegate_->willTerminate, 1);
  app.terminateWithoutAsking(0);
  EXPECT_EQ(delegate_->willTerminate, 1) << "the ending runs once";
}

TEST_F(ApplicationTest, SigtermEndsWithoutAskingThroughTheSameEnding) {
  auto& app = SharedApplication::shared();
  delegate_->reply = TerminateReply::Later;  // would wait forever if asked
  ::raise(SIGTERM);
  EXPECT_TRUE(tw::ui::Application::runEventsUntil([&] { return app.hasTerminated(); }, 5.0));
  EXPECT_EQ(delegate_->asked, 0);
  EXPECT_EQ(delegate_->willTerminate, 1);
}

TEST_F(ApplicationTest, ReopenTellsWhetherAWindowIsVisible) {
  auto& app = SharedApplication::shared();
  for (QWidget* w : app.windows()) w->hide();
  app.reopen();
  QWidget window;
  window.show();
  app.reopen();
  EXPECT_EQ(delegate_->reopens, (std::vector<bool>{false, true}));
}

// The ease-in-ease-out curve is the cubic Bezier through (0,0), (0.42,0), (0.58,1), (1,1):
// solved here independently by bisection on x.
double bezierEaseInOut(double x) {
  auto coord = [](double t, double p1, double p2) {
    const double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
  };
  double lo = 0, hi = 1;
  for (int i = 0; i < 60; ++i) {
    const double mid = (lo + hi) / 2;
    (coord(mid, 0.42, 0.58) < x ? lo : hi) = mid;
  }
  return coord((lo + hi) / 2, 0.0, 1.0);
}

TEST(TimingFunctionTest, EaseInEaseOutIsTheStandardCubic) {
  const QEasingCurve curve = tw::ui::TimingFunction::easeInEaseOut();
  for (double x : {0.0, 0.1, 0.25, 0.5, 0.75, 0.9, 1.0})
    EXPECT_NEAR(curve.valueForProgress(x), bezierEaseInOut(x), 0.01) << "at " << x;
  EXPECT_NEAR(curve.valueForProgress(0.25), 0.129, 0.01);
}

TEST_F(ApplicationTest, AnimationGroupsAlwaysCompleteOnceAndLandOnTheirTargets) {
  QWidget parent;
  parent.resize(200, 200);
  auto* a = new QWidget(&parent);
  auto* b = new QWidget(&parent);
  a->setGeometry(0, 0, 50, 50);
  parent.show();

  // Zero duration: applied at once, completion on a later main-queue turn.
  int completions = 0;
  tw::ui::AnimationGroup::run(
      [&](tw::ui::AnimationContext& c) {
        c.duration = 0;
        c.animateAlpha(a, 0.25);
        c.animateFrame(a, QRect(10, 20, 30, 40));
      },
      [&] { ++completions; });
  EXPECT_DOUBLE_EQ(tw::ui::alpha(a), 0.25);
  EXPECT_EQ(a->geometry(), QRect(10, 20, 30, 40));
  EXPECT_EQ(completions, 0);
  tw::RunLoop::main().drain();
  EXPECT_EQ(completions, 1);

  // A target deleted under a running animation: the rest finishes, the completion runs.
  tw::ui::AnimationGroup::run(
      [&](tw::ui::AnimationContext& c) {
        c.duration = 0.15;
        c.animateAlpha(a, 1.0);
        c.animateFrame(b, QRect(5, 5, 20, 20));
      },
      [&] { ++completions; });
  delete a;
  EXPECT_TRUE(tw::ui::Application::runEventsUntil([&] { return completions == 2; }, 3.0));
  EXPECT_EQ(b->geometry(), QRect(5, 5, 20, 20));
  tw::ui::Application::runEventsUntil([] { return false; }, 0.05);
  EXPECT_EQ(completions, 2);

  // No changes at all still complete.
  tw::ui::AnimationGroup::run({}, [&] { ++completions; });
  tw::RunLoop::main().drain();
  EXPECT_EQ(completions, 3);
}

TEST_F(ApplicationTest, LayerStyleAndAlphaAreKeptPerWidget) {
  QWidget w;
  EXPECT_DOUBLE_EQ(tw::ui::alpha(&w), 1.0);
  tw::ui::setAlpha(&w, 0.4);
  EXPECT_DOUBLE_EQ(tw::ui::alpha(&w), 0.4);
  tw::ui::setAlpha(&w, 7.0);
  EXPECT_DOUBLE_EQ(tw::ui::alpha(&w), 1.0);
  EXPECT_EQ(w.graphicsEffect(), nullptr) << "opaque widgets paint without an effect";

  tw::ui::LayerStyle style;
  style.cornerRadius = 6;
  style.borderWidth = 1;
  style.backgroundColor = Qt::red;
  tw::ui::LayerStyle::apply(&w, style);
  EXPECT_EQ(tw::ui::LayerStyle::of(&w).cornerRadius, 6);
  w.resize(20, 20);
  const QImage image = w.grab().toImage();
  EXPECT_EQ(QColor(image.pixel(10, 10)), QColor(Qt::red)) << "the backdrop is painted";
  EXPECT_FALSE(tw::ui::colorNamed("NoSuchColour").has_value());
  EXPECT_TRUE(tw::ui::imageNamed("NoSuchImage").isNull());
}

}  // namespace

namespace {

// The full run: the loop starts after the launch, runs what was queued before it on its first
// turn, and a quit from anywhere in Qt (as the desktop session's end does) takes the same ending.
class QuittingDelegate : public tw::ui::ApplicationDelegate {
 public:
  std::vector<std::string> journal;
  void applicationDidFinishLaunching() override {
    journal.push_back("launched");
    tw::DispatchQueue::main()->async([this] {
      journal.push_back("queued at launch");
      QCoreApplication::quit();
    });
  }
  void applicationWillTerminate() override { journal.push_back("will terminate"); }
};

TEST(SharedApplicationRunTest, QueuedWorkRunsOnTheFirstTurnAndAQtQuitEndsThroughTheDelegate) {
  tw::ui::test::application();
  auto delegate = std::make_shared<QuittingDelegate>();
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  tw::ui::SharedApplication::Options options;
  options.singleInstance = false;
  const int status = SharedApplication::shared().run(argc, argv, delegate, options);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(delegate->journal,
            (std::vector<std::string>{"launched", "queued at launch", "will terminate"}));
  SharedApplication::shared().resetForTesting();
}

}  // namespace
