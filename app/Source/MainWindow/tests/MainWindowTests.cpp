// The main window, the split view and the detail pane on Qt's offscreen platform.

#include <gtest/gtest.h>

#include <QLabel>

#include "app/Source/MainWindow/DetailViewController.h"
#include "app/Source/MainWindow/GradientBackgroundView.h"
#include "app/Source/MainWindow/MainWindow.h"
#include "app/Source/MainWindow/SplitViewController.h"
#include "app/Source/MainWindow/TitleBarLayout.h"
#include "core/Source/Library/BTStoryboardLoader.h"
#include "core/Source/Library/BTViewTransition.h"
#include "core/Source/Model/BTMasterListViewMode.h"
#include "platform/ui/Application.h"
#include "platform/ui/LayerStyle.h"
#include "platform/ui/NamedResources.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::ui::test::runUntil;

TEST(TitleBarLayoutTest, ButtonsSitSideBySideFromTheLeftMarginInYDownSpace) {
  tw::app::TitleBarButtonMetrics metrics{7.0, 3.0, true};
  EXPECT_EQ(tw::app::titleBarButtonFrame(0, 14, 14, 40, metrics).x(), 7);
  EXPECT_EQ(tw::app::titleBarButtonFrame(1, 14, 14, 40, metrics).x(), 27);
  EXPECT_EQ(tw::app::titleBarButtonFrame(2, 14, 14, 40, metrics).x(), 47);
  EXPECT_EQ(tw::app::titleBarButtonFrame(0, 14, 16, 40, metrics).y(), 12) << "centred";
  // Not centred: 3 below the top edge (y-up this is 21 from the bottom of a 40-high bar).
  metrics.centered = false;
  EXPECT_EQ(tw::app::titleBarButtonFrame(1, 14, 16, 40, metrics).y(), 3);
  EXPECT_EQ(40 - 3 - 16, 21);
  EXPECT_EQ(tw::app::titleBarAccessoryHeight(40, 22, false), 18);
  EXPECT_EQ(tw::app::titleBarAccessoryHeight(40, 22, true), 0);
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { tw::ui::test::application(); }
};

TEST_F(MainWindowTest, TallTitleBarKeepsItsButtonsPlacedThroughResizesAndFullScreen) {
  MainWindow window;
  const double usual = MainWindow::defaultTitleBarHeight();
  EXPECT_EQ(window.titleBarHeight(), usual) << "a new window starts with the usual height";
  EXPECT_TRUE(window.hidesTitle());
  window.setTitleBarHeight(40);
  window.resize(600, 400);
  window.show();
  auto buttons = window.standardButtons();
  const int w = buttons[0]->width();
  EXPECT_EQ(window.titleBarView()->height(), 40);
  EXPECT_EQ(buttons[0]->x(), window.standardButtonsLeftMargin());
  EXPECT_EQ(buttons[1]->x(), buttons[0]->x() + w + 6);
  EXPECT_EQ(buttons[2]->x(), buttons[0]->x() + 2 * (w + 6));
  EXPECT_EQ(buttons[0]->y(), (40 - buttons[0]->height()) / 2);
  EXPECT_FALSE(window.isTitleVisible());

  window.setCentersStandardButtons(false);
  window.setStandardButtonsTopMargin(3);
  EXPECT_EQ(buttons[2]->y(), 3);
  window.resize(700, 500);
  EXPECT_EQ(window.titleBarView()->width(), 700);
  EXPECT_EQ(buttons[2]->y(), 3);
  EXPECT_EQ(window.contentHost()->geometry(), window.rect()) << "content runs under the bar";

  window.showFullScreen();
  runUntil([&] { return window.isFullScreen(); }, 1.0);
  if (window.isFullScreen()) {
    EXPECT_EQ(window.effectiveTitleBarHeight(), usual);
    EXPECT_TRUE(window.isTitleVisible());
    window.showNormal();
    runUntil([&] { return !window.isFullScreen(); }, 1.0);
    EXPECT_FALSE(window.isTitleVisible());
  }
}

// A content controller that records the transition calls it is asked.
class Content : public tw::ui::ViewController, public BTViewTransitionSubject {
 public:
  explicit Content(std::string name) : name_(std::move(name)) {}
  std::vector<std::string> calls;
  bool implementsWillPerformTransition() const override { return true; }
  bool implementsDidPerformTransition() const override { return true; }
  bool implementsPreferredTransitionEndAlphaValue() const override { return true; }
  void willPerformTransition(const std::shared_ptr<const BTViewTransition>&) override {
    calls.push_back("will");
  }
  void didPerformTransition(const std::shared_ptr<const BTViewTransition>&) override {
    calls.push_back("did");
  }
  double preferredTransitionEndAlphaValue() const override { return 0.8; }

 protected:
  void loadView() override { setView(new QLabel(QString::fromStdString(name_))); }

 private:
  std::string name_;
};

class DetailTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    detail_ = std::make_shared<DetailViewController>();
    detail_->view()->resize(400, 300);
    detail_->view()->show();
  }
  std::shared_ptr<DetailViewController> detail_;
};

TEST_F(DetailTest, FirstSelectionFadesInFromNothingAndTheSameControllerIsNotRebuilt) {
  auto a = std::make_shared<Content>("a");
  int completions = 0;
  auto fade = BTViewTransition::transitionWithAnimation(1, 0);
  detail_->setViewController(a, fade, [&] { ++completions; });
  EXPECT_EQ(a->calls, (std::vector<std::string>{"will"}));
  EXPECT_DOUBLE_EQ(tw::ui::alpha(a->view()), 0.0);
  ASSERT_TRUE(runUntil([&] { return completions == 1; }));
  EXPECT_EQ(detail_->contentViewController(), a);
  EXPECT_EQ(a->calls, (std::vector<std::string>{"will", "did"}));
  EXPECT_NEAR(tw::ui::alpha(a->view()), 0.8, 1e-9) << "the subject's preferred end alpha";
  EXPECT_EQ(a->view()->geometry(), detail_->containerView()->rect());

  detail_->setViewController(a, fade, [&] { ++completions; });
  EXPECT_FALSE(detail_->isTransitioningViews());
  EXPECT_EQ(completions, 1) << "showing the shown controller does nothing";

  // An empty list: no new controller either; the pane empties without animation trouble.
  detail_->setViewController(nullptr, fade, [&] { ++completions; });
  ASSERT_TRUE(runUntil([&] { return completions == 2; }));
  EXPECT_EQ(detail_->contentViewController(), nullptr);
  EXPECT_EQ(a->parentViewController(), nullptr);
  // Neither old nor new: straight to the end.
  detail_->setViewController(nullptr, fade, [&] { ++completions; });
  EXPECT_EQ(completions, 2) << "nil to nil is the same controller";
}

TEST_F(DetailTest, FadeAndSlideMoveTheOldContentRightAndTheNewInFromTheLeft) {
  auto a = std::make_shared<Content>("a");
  auto b = std::make_shared<Content>("b");
  detail_->setViewController(a, nullptr);
  ASSERT_EQ(detail_->contentViewController(), a);
  bool done = false;
  // Long enough that a loaded machine still finds it under way once it has begun to move.
  detail_->setViewController(b, BTViewTransition::transitionWithAnimation(3, 2, 4.0),
                             [&] { done = true; });
  EXPECT_EQ(b->view()->x(), -400) << "the new content starts one width to the left";
  ASSERT_TRUE(runUntil([&] { return a->view()->x() > 0; }, 3.0)) << "the old content never moved";
  EXPECT_LT(b->view()->x(), 0);
  EXPECT_LT(tw::ui::alpha(a->view()), 1.0);
  ASSERT_TRUE(runUntil([&] { return done; }, 10.0));
  EXPECT_EQ(b->view()->geometry(), detail_->containerView()->rect());
  EXPECT_EQ(a->view()->parentWidget(), nullptr);
}

TEST_F(DetailTest, ASelectionDuringASwapIsShownWhenTheSwapEnds) {
  auto a = std::make_shared<Content>("a");
  auto b = std::make_shared<Content>("b");
  auto c = std::make_shared<Content>("c");
  detail_->setViewController(a, BTViewTransition::transitionWithAnimation(1, 0));
  ASSERT_TRUE(detail_->isTransitioningViews());
  detail_->setViewController(b, BTViewTransition::transitionWithAnimation(1, 0));
  detail_->setViewController(c, BTViewTransition::transitionWithAnimation(1, 0));
  ASSERT_TRUE(runUntil(
      [&] { return detail_->contentViewController() == c && !detail_->isTransitioningViews(); }));
  EXPECT_TRUE(b->calls.empty()) << "a superseded request never starts";
}

TEST_F(DetailTest, TheShownContentFollowsThePaneThroughResizesAndASwapMadeMeanwhile) {
  auto a = std::make_shared<Content>("a");
  detail_->setViewController(a, nullptr);
  for (const QSize size : {QSize(1300, 960), QSize(400, 300), QSize(520, 410)}) {
    detail_->view()->resize(size);
    EXPECT_EQ(a->view()->geometry(), QRect(QPoint(0, 0), size));
  }
  // Resized while a swap runs: the new content takes the final size when it ends.
  auto b = std::make_shared<Content>("b");
  bool done = false;
  detail_->setViewController(b, BTViewTransition::transitionWithAnimation(3, 2),
                             [&] { done = true; });
  detail_->view()->resize(900, 700);
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_EQ(b->view()->geometry(), QRect(0, 0, 900, 700));
}

TEST_F(MainWindowTest, NamedColoursComeFromTheApplicationsResources) {
  auto colour = tw::ui::colorNamed("MasterBackground");
  ASSERT_TRUE(colour.has_value()) << "Colors.json is part of the main bundle";
  EXPECT_EQ(colour->name(), "#1d1d22");
  EXPECT_NEAR(tw::ui::colorNamed("Divider")->alphaF(), 0.75, 0.01);
}

TEST_F(DetailTest, ViewModeTintsTheBackground) {
  tw::NotificationCenter::defaultCenter()->post(
      BTMasterListViewModeDidChangeNotification, nullptr,
      tw::Dictionary{{BTMasterListViewModeValueUserInfoKey, tw::Value(std::int64_t{2})}});
  auto expected = BTMasterListViewModeGetGradientColors(2, 0.5);
  ASSERT_TRUE(expected);
  const auto& colors = detail_->gradientView()->colors();
  ASSERT_EQ(colors.size(), expected->size());
  EXPECT_NEAR(colors[0].alphaF(), 0.5, 0.01);
  EXPECT_NEAR(colors[0].greenF(), (*expected)[0].green, 0.01);
}

class Display : public tw::ui::ViewController, public TimeObjectDisplay {
 public:
  explicit Display(std::string kind) : kind(std::move(kind)) {}
  void setTimeObject(const std::shared_ptr<BTTimeObject>& o) override { object = o; }
  std::string kind;
  std::shared_ptr<BTTimeObject> object;
};

TEST_F(MainWindowTest, SplitViewLoadsTheDisplayForTheSelectionAndChainsTheDetailToTheMaster) {
  for (const char* name : {"TimingDisplayViewController", "StopwatchTimingDisplayViewController"}) {
    BTStoryboardLoader::Storyboard board;
    board.controllers.emplace("initial", [name]() -> std::shared_ptr<tw::Object> {
      return std::make_shared<Display>(name);
    });
    board.initialControllerIdentifier = "initial";
    BTStoryboardLoader::registerStoryboard(name, std::move(board));
  }
  auto master = std::make_shared<tw::ui::ViewController>();
  auto detail = std::make_shared<DetailViewController>();
  auto split = std::make_shared<SplitViewController>(master, detail);
  split->view();
  EXPECT_EQ(detail->nextResponder(), master);
  split->masterViewControllerDidSelectTimeObject(*master, nullptr, nullptr);
  auto shown = std::dynamic_pointer_cast<Display>(detail->contentViewController());
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->kind, "TimingDisplayViewController") << "no object: the general display";
  EXPECT_TRUE(shown->isViewLoaded());
  BTStoryboardLoader::unregisterStoryboard("TimingDisplayViewController");
  BTStoryboardLoader::unregisterStoryboard("StopwatchTimingDisplayViewController");
}

}  // namespace
