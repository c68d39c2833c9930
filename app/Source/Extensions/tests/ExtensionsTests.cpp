// View and window extensions on Qt's offscreen platform. Geometry is y-down: a slide "upwards"
// moves towards negative y.

#include <gtest/gtest.h>

#include <QLabel>
#include <QVBoxLayout>

#include "app/Source/Extensions/ContentTransitions.h"
#include "app/Source/Extensions/ViewExtensions.h"
#include "core/Source/Library/BTViewTransition.h"
#include "platform/ui/Application.h"
#include "platform/ui/LayerStyle.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::app::contentView;
using tw::app::isTransitioningViews;
using tw::app::setContentView;

using tw::ui::test::runUntil;

class ExtensionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tw::ui::test::application();
    container_ = std::make_unique<QWidget>();
    container_->resize(300, 200);
    container_->show();
  }
  std::unique_ptr<QWidget> container_;
};

TEST(SlideFramesTest, EachDirectionMovesOneCoordinateTheRightWayInYDownSpace) {
  const QRect bounds(0, 0, 300, 200);
  const QRect frame(0, 0, 300, 200);
  // 1 leaves upwards (y-down: towards -H) and enters from below.
  EXPECT_EQ(tw::app::oldViewEndFrame(frame, bounds, 1).topLeft(), QPoint(0, -200));
  EXPECT_EQ(tw::app::newViewStartFrame(frame, bounds, 1).topLeft(), QPoint(0, 200));
  EXPECT_EQ(tw::app::oldViewEndFrame(frame, bounds, 2).topLeft(), QPoint(300, 0));
  EXPECT_EQ(tw::app::newViewStartFrame(frame, bounds, 2).topLeft(), QPoint(-300, 0));
  EXPECT_EQ(tw::app::oldViewEndFrame(frame, bounds, 3).topLeft(), QPoint(0, 200));
  EXPECT_EQ(tw::app::newViewStartFrame(frame, bounds, 3).topLeft(), QPoint(0, -200));
  EXPECT_EQ(tw::app::oldViewEndFrame(frame, bounds, 4).topLeft(), QPoint(-300, 0));
  EXPECT_EQ(tw::app::newViewStartFrame(frame, bounds, 4).topLeft(), QPoint(300, 0));
  for (long other : {0L, 5L, -1L}) {
    EXPECT_EQ(tw::app::oldViewEndFrame(frame, bounds, other), frame);
    EXPECT_EQ(tw::app::newViewStartFrame(frame, bounds, other), frame);
  }
  // Only the one coordinate changes; the size is kept.
  EXPECT_EQ(tw::app::oldViewEndFrame(QRect(5, 7, 10, 10), bounds, 2), QRect(300, 7, 10, 10));
}

TEST_F(ExtensionsTest, ReplacingContentAtOnceAndIgnoringTheViewAlreadyShown) {
  auto* first = new QLabel("first");
  int completions = 0;
  setContentView(container_.get(), first, nullptr, [&] { ++completions; });
  EXPECT_EQ(contentView(container_.get()), first);
  EXPECT_EQ(first->parentWidget(), container_.get());
  EXPECT_EQ(first->geometry(), container_->rect());
  EXPECT_EQ(completions, 1);

  setContentView(container_.get(), first, nullptr, [&] { ++completions; });
  EXPECT_EQ(completions, 1) << "the view already shown: nothing, no completion";

  auto* second = new QLabel("second");
  setContentView(container_.get(), second);
  EXPECT_EQ(contentView(container_.get()), second);
  EXPECT_EQ(first->parentWidget(), nullptr);
  delete first;
}

TEST_F(ExtensionsTest, AnimatedReplacementsFinishWithTheGroupAndDropRequestsMeanwhile) {
  auto* old = new QLabel("old");
  setContentView(container_.get(), old);
  auto* incoming = new QLabel("new");
  int completions = 0;
  // Slide without a direction: no movement, but still finished by the animation group.
  setContentView(container_.get(), incoming, BTViewTransition::transitionWithAnimation(2, 0, 0.2),
                 [&] { ++completions; });
  EXPECT_TRUE(isTransitioningViews(container_.get()));
  EXPECT_EQ(incoming->geometry(), container_->rect());
  auto* dropped = new QLabel("dropped");
  bool droppedCompleted = false;
  setContentView(container_.get(), dropped, nullptr, [&] { droppedCompleted = true; });
  EXPECT_EQ(completions, 0);
  ASSERT_TRUE(runUntil([&] { return completions == 1; }));
  EXPECT_FALSE(droppedCompleted);
  EXPECT_EQ(contentView(container_.get()), incoming);
  EXPECT_EQ(old->parentWidget(), nullptr) << "the old view leaves when the group completes";
  delete old;
  delete dropped;

  // A fade brings the new view from transparent to opaque and the old one out.
  auto* faded = new QLabel("faded");
  setContentView(container_.get(), faded, BTViewTransition::transitionWithAnimation(1, 0, 0.2),
                 [&] { ++completions; });
  EXPECT_DOUBLE_EQ(tw::ui::alpha(faded), 0.0);
  EXPECT_DOUBLE_EQ(tw::ui::alpha(incoming), 1.0);
  ASSERT_TRUE(runUntil([&] { return completions == 2; }));
  EXPECT_DOUBLE_EQ(tw::ui::alpha(faded), 1.0);
  delete incoming;
}

TEST_F(ExtensionsTest, AFadedInViewIsDrawnWithoutAnEffectThatCouldGoStale) {
  // An opacity effect draws from a kept picture; left on an opaque view inside a sliding pane it
  // showed the view shifted and cut. Opaque, the view has none.
  auto* view = new QLabel("No Actions Created", container_.get());
  view->show();
  tw::app::setViewAlpha(view, 0.0, false, 300);
  ASSERT_TRUE(view->graphicsEffect());
  tw::app::setViewAlpha(view, 1.0, true, 100);
  EXPECT_TRUE(view->graphicsEffect()) << "fading";
  ASSERT_TRUE(runUntil([&] { return view->graphicsEffect() == nullptr; }));
  tw::app::setViewAlpha(view, 0.0, true, 50);
  tw::ui::Application::runEventsUntil([] { return false; }, 0.2);
  ASSERT_TRUE(view->graphicsEffect()) << "hidden by its effect";
  EXPECT_TRUE(view->isHidden()) << "and hidden, so not read out";
  tw::app::setViewAlpha(view, 1.0, false, 50);
  EXPECT_EQ(view->graphicsEffect(), nullptr);
  EXPECT_TRUE(view->isVisible());
  // Faded out at once and in again over time, it shows for the fade.
  tw::app::setViewAlpha(view, 0.0, false, 50);
  EXPECT_TRUE(view->isHidden());
  tw::app::setViewAlpha(view, 1.0, true, 50);
  EXPECT_TRUE(view->isVisible());
  ASSERT_TRUE(runUntil([&] { return view->graphicsEffect() == nullptr; }));
  // A view its owner hid stays hidden.
  view->hide();
  tw::app::setViewAlpha(view, 1.0, false, 50);
  EXPECT_TRUE(view->isHidden());
}

TEST_F(ExtensionsTest, PinningKeepsInsetsAsTheParentResizes) {
  auto* view = new QWidget;
  auto* other = new QWidget(container_.get());
  view->setParent(other);
  auto* pinning = tw::app::constrainToParent(view, container_.get(), QMargins(2, 1, 4, 3));
  ASSERT_NE(pinning, nullptr);
  EXPECT_EQ(view->parentWidget(), container_.get());
  // Qt's QMargins are (left, top, right, bottom): 2 from the left, 1 from the top, 4 from the
  // right, 3 from the bottom.
  EXPECT_EQ(view->geometry(), QRect(2, 1, 300 - 2 - 4, 200 - 1 - 3));
  container_->resize(400, 300);
  EXPECT_EQ(view->geometry(), QRect(2, 1, 400 - 6, 300 - 4));
  // Pinning again in the same parent replaces the old pinning.
  tw::app::constrainToParent(view, container_.get());
  EXPECT_EQ(view->findChildren<tw::app::EdgePinning*>().size(), 1u);
  EXPECT_EQ(view->geometry(), container_->rect());
}

TEST_F(ExtensionsTest, FittingAWindowKeepsItsTopEdge) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* content = new QWidget;
  content->setFixedSize(120, 80);
  layout->addWidget(content);
  window.setGeometry(100, 150, 400, 400);
  window.show();
  tw::app::sizeToFitContentView(&window, false);
  EXPECT_EQ(window.geometry().top(), 150);
  EXPECT_EQ(window.geometry().left(), 100);
  EXPECT_LT(window.height(), 400) << "the window shrank at the bottom";
}

TEST_F(ExtensionsTest, PicturesKeepTransparencyUnlessGivenABackground) {
  QWidget view;
  view.resize(10, 10);
  view.setAttribute(Qt::WA_TranslucentBackground);
  view.setAutoFillBackground(false);
  view.setAttribute(Qt::WA_NoSystemBackground);
  const QImage clear = tw::app::imageRepresentation(&view, std::nullopt);
  EXPECT_EQ(qAlpha(clear.pixel(5, 5)), 0);
  const QImage filled = tw::app::imageRepresentation(&view, QColor(Qt::blue));
  EXPECT_EQ(QColor(filled.pixel(5, 5)), QColor(Qt::blue));
}

}  // namespace
