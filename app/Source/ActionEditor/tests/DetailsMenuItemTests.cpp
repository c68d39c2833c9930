// The two-line menu item: highlight under the mouse and choosing on release, on Qt's offscreen
// platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>

#include "app/Source/ActionEditor/DetailsMenuItem.h"
#include "platform/ui/Application.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

TEST(DetailsMenuItemTest, HighlightsUnderTheMouseAndAReleaseChoosesIt) {
  tw::ui::test::application();
  QMenu menu;
  auto* start =
      DetailsMenuItem::menuItemWithTitle("Start", "Starts an alarm, timer, or stopwatch.", &menu);
  auto* pause = DetailsMenuItem::menuItemWithTitle("Pause", "Pauses a timer or stopwatch.", &menu);
  menu.addAction(start);
  menu.addAction(pause);
  EXPECT_EQ(start->text(), "Start") << "the title is the item's own text";
  EXPECT_TRUE(start->shortcut().isEmpty());
  QSignalSpy chosen(&menu, &QMenu::triggered);
  menu.popup(QPoint(2000, 2000));  // away from the pointer
  tw::ui::Application::runEventsUntil([&] { return pause->itemView() != nullptr; }, 1.0);
  ASSERT_TRUE(start->itemView() && pause->itemView());
  EXPECT_EQ(start->itemView()->titleLabel()->text(), "Start");
  EXPECT_EQ(start->itemView()->detailsLabel()->text(), "Starts an alarm, timer, or stopwatch.");

  auto* view = pause->itemView();
  QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
  QApplication::sendEvent(view, &enter);
  EXPECT_TRUE(view->isHighlighted());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(view, &leave);
  EXPECT_FALSE(view->isHighlighted());
  // A press dragged onto the item highlights it; the release chooses it.
  QMouseEvent drag(QEvent::MouseMove, QPointF(3, 3), QPointF(3, 3), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(view, &drag);
  EXPECT_TRUE(view->isHighlighted());
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(view, &release);
  ASSERT_EQ(chosen.count(), 1);
  EXPECT_EQ(chosen.first().first().value<QAction*>(), pause);
  EXPECT_FALSE(menu.isVisible());
}

}  // namespace
