#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <thread>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/ui/Application.h"
#include "platform/ui/QtMainLoopDriver.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

class QtMainLoopDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { tw::ui::test::application(); }
};

TEST_F(QtMainLoopDriverTest, SetUpOnceDrivesTheMainQueueFromQt) {
  auto driver = tw::RunLoop::main().driver();
  ASSERT_TRUE(tw::ui::QtMainLoopDriver::isInstalled());
  tw::ui::Application::ensure();
  EXPECT_EQ(tw::RunLoop::main().driver(), driver) << "a second set-up must not stack drivers";
  EXPECT_EQ(tw::ui::QtMainLoopDriver::install(), driver);
}

TEST_F(QtMainLoopDriverTest, PlainQtEventLoopRunsWorkFromOtherThreadsInOrder) {
  // The application's own loop is a bare Qt loop; nothing pumps the main queue but the driver.
  QEventLoop loop;
  std::vector<int> order;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) {
      tw::onMain([&, i] {
        order.push_back(i);
        if (i == 99) loop.quit();
      });
    }
  });
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
  loop.exec();
  poster.join();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST_F(QtMainLoopDriverTest, BlocksQueuedBehindANestedLoopRunInsideIt) {
  // The first block opens a nested loop (as a modal dialog does) while the second still waits in
  // the queue; nothing else is posted, so only the driver can get the second one going.
  bool secondRan = false;
  bool secondRanInsideNestedLoop = false;
  bool firstDone = false;
  tw::onMain([&] {
    QEventLoop nested;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &nested, [&] {
      if (secondRan) nested.quit();
    });
    poll.start(1);
    QTimer::singleShot(3000, &nested, &QEventLoop::quit);
    nested.exec();
    secondRanInsideNestedLoop = secondRan;
    firstDone = true;
  });
  tw::onMain([&] { secondRan = true; });
  ASSERT_TRUE(tw::ui::Application::runEventsUntil([&] { return firstDone; }, 5.0));
  EXPECT_TRUE(secondRanInsideNestedLoop);
}

TEST_F(QtMainLoopDriverTest, DelayedMainQueueWorkFiresUnderQtsLoop) {
  bool fired = false;
  tw::DispatchQueue::main()->after(0.01, [&] { fired = true; });
  EXPECT_TRUE(tw::ui::Application::runEventsUntil([&] { return fired; }, 5.0));
}

}  // namespace
