// View controllers, window controllers and the responder chain on Qt's offscreen platform.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/ui/SharedApplication.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WindowController.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::ui::Responder;
using tw::ui::ViewController;
using tw::ui::WindowController;

void settle(double seconds = 0.05) {
  tw::ui::Application::runEventsUntil([] { return false; }, seconds);
}

class JournalingController : public ViewController {
 public:
  std::vector<std::string> journal;

 protected:
  void loadView() override {
    journal.push_back("loadView");
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    field = new QLineEdit(view);
    layout->addWidget(field);
    setView(view);
  }
  void viewDidLoad() override { journal.push_back("viewDidLoad"); }
  void viewWillAppear() override { journal.push_back("willAppear"); }
  void viewDidAppear() override { journal.push_back("didAppear"); }
  void viewWillDisappear() override { journal.push_back("willDisappear"); }
  void viewDidDisappear() override { journal.push_back("didDisappear"); }

 public:
  QLineEdit* field = nullptr;
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { tw::ui::test::application(); }
  void TearDown() override { tw::ui::SharedApplication::shared().resetForTesting(); }
};

TEST_F(ControllerTest, ViewLoadsOnceOnFirstUseAndAppearanceFollowsTheWindow) {
  auto controller = std::make_shared<JournalingController>();
  EXPECT_FALSE(controller->isViewLoaded());
  QWidget* view = controller->view();
  EXPECT_EQ(controller->view(), view);
  EXPECT_EQ(controller->journal, (std::vector<std::string>{"loadView", "viewDidLoad"}));

  auto windowController = std::make_shared<WindowController>();
  windowController->setContentViewController(controller);
  windowController->showWindow();
  settle();
  EXPECT_TRUE(controller->isViewVisible());
  windowController->window()->hide();
  settle();
  EXPECT_FALSE(controller->isViewVisible());
  EXPECT_EQ(controller->journal,
            (std::vector<std::string>{"loadView", "viewDidLoad", "willAppear", "didAppear",
                                      "willDisappear", "didDisappear"}));
  // Closing only hides: the window comes back with the same content.
  windowController->showWindow();
  QWidget* window = windowController->window();
  window->close();
  settle();
  EXPECT_EQ(windowController->window(), window);
  EXPECT_EQ(WindowController::forWindow(window), windowController);
}

TEST_F(ControllerTest, ChildControllersMoveBetweenParentsAndLeaveOnRemoval) {
  auto a = std::make_shared<ViewController>();
  auto b = std::make_shared<ViewController>();
  auto child = std::make_shared<ViewController>();
  a->addChildViewController(child);
  EXPECT_EQ(child->parentViewController(), a);
  b->addChildViewController(child);
  EXPECT_TRUE(a->childViewControllers().empty()) << "a child has one parent";
  EXPECT_EQ(b->childViewControllers().size(), 1u);
  child->removeFromParentViewController();
  EXPECT_TRUE(b->childViewControllers().empty());
  EXPECT_EQ(child->parentViewController(), nullptr);
  b->addChildViewController(b);  // itself: ignored
  EXPECT_TRUE(b->childViewControllers().empty());
}

TEST_F(ControllerTest, NilTargetedActionsWalkFromTheFocusToTheDelegate) {
  auto delegate = std::make_shared<tw::ui::ApplicationDelegate>();
  auto& app = tw::ui::SharedApplication::shared();
  app.launchWithoutLoop(delegate);

  auto content = std::make_shared<JournalingController>();
  auto window = std::make_shared<WindowController>();
  window->setContentViewController(content);
  window->showWindow();
  QApplication::setActiveWindow(window->window());
  content->field->setFocus();
  settle();
  ASSERT_EQ(QApplication::focusWidget(), content->field);

  std::vector<std::string> ran;
  content->setAction("copy", [&](QObject*) { ran.push_back("content copy"); });
  window->setAction("copy", [&](QObject*) { ran.push_back("window copy"); });
  window->setAction("close", [&](QObject*) { ran.push_back("window close"); });
  delegate->setAction("quit", [&](QObject*) { ran.push_back("delegate quit"); });

  EXPECT_TRUE(app.sendAction("copy", nullptr, nullptr));
  EXPECT_TRUE(app.sendAction("close", nullptr, nullptr));
  EXPECT_TRUE(app.sendAction("quit", nullptr, nullptr));
  EXPECT_FALSE(app.sendAction("unknown", nullptr, nullptr));
  EXPECT_TRUE(app.sendAction("copy", window, nullptr)) << "an explicit target skips the chain";
  EXPECT_EQ(ran, (std::vector<std::string>{"content copy", "window close", "delegate quit",
                                           "window copy"}));

  // An explicit next responder takes precedence over the enclosing widget.
  auto side = std::make_shared<Responder>();
  side->setAction("close", [&](QObject*) { ran.push_back("side close"); });
  content->setNextResponder(side);
  ran.clear();
  app.sendAction("close", nullptr, nullptr);
  EXPECT_EQ(ran, (std::vector<std::string>{"side close"}));
}

TEST_F(ControllerTest, MenuItemsFollowValidationAndShortcutsValidateBeforeRunning) {
  auto delegate = std::make_shared<tw::ui::ApplicationDelegate>();
  auto& app = tw::ui::SharedApplication::shared();
  app.launchWithoutLoop(delegate);
  bool allowed = false;
  int runs = 0;
  delegate->setAction(
      "startOrPause", [&](QObject*) { ++runs; }, [&](QAction*) { return allowed; });

  QMenu menu;
  auto* item = menu.addAction("Start");
  app.bindAction(item, "startOrPause");
  menu.popup(QPoint(10, 10));
  settle();
  EXPECT_FALSE(item->isEnabled()) << "an invalid action shows disabled while the menu is open";
  menu.hide();
  settle();
  EXPECT_TRUE(item->isEnabled()) << "closed menus keep items enabled for their shortcuts";

  item->trigger();  // as a shortcut would
  EXPECT_EQ(runs, 0) << "validation runs before the action";
  allowed = true;
  item->trigger();
  EXPECT_EQ(runs, 1);
  menu.popup(QPoint(10, 10));
  settle();
  EXPECT_TRUE(item->isEnabled());
  menu.hide();
}

}  // namespace

namespace {

class BarDelegate : public tw::ui::TouchBarDelegate {
 public:
  int made = 0;
  std::shared_ptr<tw::ui::TouchBarItem> makeItemForIdentifier(tw::ui::TouchBar&,
                                                              const std::string& id) override {
    if (id != "plus") return nullptr;
    ++made;
    auto item = std::make_shared<tw::ui::TouchBarItem>(id);
    item->title = "+";
    return item;
  }
};

class BarOwner : public Responder {
 public:
  std::shared_ptr<BarDelegate> delegate = std::make_shared<BarDelegate>();
  int makes = 0;

 protected:
  std::shared_ptr<tw::ui::TouchBar> makeTouchBar() override {
    ++makes;
    auto bar = std::make_shared<tw::ui::TouchBar>();
    bar->defaultItemIdentifiers = {tw::ui::TouchBarItemIdentifierFlexibleSpace, "plus"};
    bar->setDelegate(delegate);
    return bar;
  }
};

TEST(TouchBarModelTest, BarsAreMadeOnceAndItemsByIdentifierThroughTheDelegate) {
  auto owner = std::make_shared<BarOwner>();
  auto bar = owner->touchBar();
  ASSERT_TRUE(bar);
  EXPECT_EQ(owner->touchBar(), bar);
  EXPECT_EQ(owner->makes, 1);
  EXPECT_EQ(bar->itemForIdentifier("plus"), bar->itemForIdentifier("plus"));
  EXPECT_EQ(owner->delegate->made, 1);
  EXPECT_EQ(bar->itemForIdentifier("minus"), nullptr) << "an unknown identifier gets no item";
  owner->setTouchBar(nullptr);
  EXPECT_NE(owner->touchBar(), bar) << "a bar taken away is made afresh on the next request";
  EXPECT_EQ(owner->makes, 2);
  EXPECT_EQ(std::make_shared<Responder>()->touchBar(), nullptr);
}

}  // namespace
