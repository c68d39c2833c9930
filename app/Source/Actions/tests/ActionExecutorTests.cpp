// The application's action executor: the flash window, system events against fake login1 and
// session-manager services on private buses, the file panel's start folder, and quitting an
// application by its desktop entry. Qt's offscreen platform; nothing touches the real buses or
// the user's own processes and files.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/Source/Actions/ActionExecutorService.h"
#include "app/Source/Actions/DesktopWorkspace.h"
#include "app/Source/Actions/FileOperationActionUtil.h"
#include "app/Source/Actions/FlashScreenActionUtil.h"
#include "app/Source/Actions/SystemEventActionUtil.h"
#include "app/Source/Application/CoreAssembly_macOS.h"
#include "core/Source/Model/BTActionBuilder.h"
#include "core/Source/Model/BTFileOperationActionProtocol.h"
#include "core/Source/Model/BTFlashScreenActionProtocol.h"
#include "platform/desktop/tests/integration/PrivateSessionBus.h"
#include "platform/foundation/Log.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/testsupport/TestSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::ui::test::runUntil;

class Flash : public tw::Object, public BTFlashScreenActionProtocol {
 public:
  std::int64_t screenColorArgbValue() const override { return 0xffff0000; }
  void setScreenColorArgbValue(std::int64_t) override {}
  std::int64_t sortOrder() const override { return 0; }
  void setSortOrder(std::int64_t) override {}
  bool enabled() const override { return true; }
  void setEnabled(bool) override {}
  std::shared_ptr<BTTimeObject> timeObject() const override { return nullptr; }
  void setTimeObject(const std::shared_ptr<BTTimeObject>&) override {}
  std::shared_ptr<BTActionTriggerProtocol> trigger() const override { return nullptr; }
  void setTrigger(const std::shared_ptr<BTActionTriggerProtocol>&) override {}
};

TEST(FlashScreenTest, OneFlashAtATimeAndAClickEndsItAfterTheRunningCycle) {
  tw::ui::test::application();
  EXPECT_TRUE(
      FlashScreenActionUtil::taskForRepeatingTask([] { return BFTask::voidTask(); }, 0, nullptr)
          ->isCompleted())
      << "no cycles: already completed";

  auto action = std::make_shared<Flash>();
  QElapsedTimer watch;
  watch.start();
  FlashScreenActionUtil::flashScreenWithAction(action);
  auto* window = FlashScreenActionUtil::flashingWindow();
  ASSERT_TRUE(window);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
  FlashScreenActionUtil::flashScreenWithAction(action);
  EXPECT_EQ(FlashScreenActionUtil::flashingWindow(), window) << "a second flash is ignored";

  // A click during the first fade-in: that cycle still ends, the others are skipped.
  runUntil([] { return false; }, 0.1);
  auto* view = window->findChild<FlashScreenActionUtil::View*>();
  ASSERT_TRUE(view);
  EXPECT_GT(view->alpha(), 0.0);
  QMouseEvent click(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view, &click);
  ASSERT_TRUE(runUntil([] { return !FlashScreenActionUtil::flashingWindow(); }, 3.0));
  const double cycle = FlashScreenActionUtil::kFadeIn + FlashScreenActionUtil::kHold +
                       FlashScreenActionUtil::kFadeOut;
  EXPECT_GE(watch.elapsed() / 1000.0, cycle - 0.05);
  EXPECT_LT(watch.elapsed() / 1000.0, 2 * cycle);

  // A full flash runs its three cycles, and a new one can start afterwards.
  watch.restart();
  FlashScreenActionUtil::flashScreenWithAction(action);
  ASSERT_TRUE(FlashScreenActionUtil::flashingWindow());
  ASSERT_TRUE(runUntil([] { return !FlashScreenActionUtil::flashingWindow(); }, 5.0));
  EXPECT_GE(watch.elapsed() / 1000.0, 3 * cycle - 0.05);
}

// A service of our own on a private bus: answers every call on `path` and records
// "Member argument".
class FakeService {
 public:
  FakeService(const std::string& address, const std::string& name, const std::string& path)
      : path_(path) {
    if (sd_bus_new(&bus_) < 0) return;
    sd_bus_set_address(bus_, address.c_str());
    sd_bus_set_bus_client(bus_, 1);
    if (sd_bus_start(bus_) < 0) return;
    if (sd_bus_request_name(bus_, name.c_str(), 0) < 0) return;
    if (sd_bus_add_object(bus_, nullptr, path_.c_str(), &FakeService::handle, this) < 0) return;
    ok_ = true;
    thread_ = std::thread([this] {
      while (!stop_) {
        const int r = sd_bus_process(bus_, nullptr);
        if (r < 0) break;
        if (r == 0) sd_bus_wait(bus_, std::uint64_t{50} * 1000);
      }
    });
  }
  ~FakeService() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (bus_) sd_bus_flush_close_unref(bus_);
  }
  bool ok() const { return ok_; }
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  static int handle(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<FakeService*>(userdata);
    std::string line = sd_bus_message_get_member(m);
    const char* signature = sd_bus_message_get_signature(m, 1);
    if (signature && signature[0] == 's') {
      const char* s = nullptr;
      sd_bus_message_read(m, "s", &s);
      line += std::string(" ") + (s ? s : "");
    } else if (signature && signature[0] == 'b') {
      int b = 0;
      sd_bus_message_read(m, "b", &b);
      line += b ? " true" : " false";
    } else if (signature && signature[0] == 'u') {
      unsigned u = 0;
      sd_bus_message_read(m, "u", &u);
      line += " " + std::to_string(u);
    }
    {
      std::lock_guard lock(self->mutex_);
      self->calls_.push_back(line);
    }
    return sd_bus_reply_method_return(m, "");
  }

  std::string path_;
  sd_bus* bus_ = nullptr;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

TEST(SystemEventTest, SleepGoesToLogin1AndTheRestToTheSessionManagerWhenOneAnswers) {
  tw::test::PrivateSessionBus system;
  ASSERT_TRUE(system.ok()) << system.failure();
  tw::test::PrivateSessionBus session;
  ASSERT_TRUE(session.ok()) << session.failure();
  const char* saved = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string savedSystem = saved ? saved : "";
  setenv("DBUS_SYSTEM_BUS_ADDRESS", system.address().c_str(), 1);
  setenv("XDG_SESSION_ID", "c7", 1);

  EXPECT_FALSE(SystemEventActionUtil::performSystemEvent(0));
  EXPECT_FALSE(SystemEventActionUtil::performSystemEvent(5));
  EXPECT_FALSE(SystemEventActionUtil::performSystemEvent(1)) << "nobody answers: a failure";
  {
    FakeService login1(system.address(), "org.freedesktop.login1", "/org/freedesktop/login1");
    ASSERT_TRUE(login1.ok());
    for (int type = 1; type <= 4; ++type)
      EXPECT_TRUE(SystemEventActionUtil::performSystemEvent(type)) << type;
    EXPECT_EQ(login1.calls(), (std::vector<std::string>{"Suspend true", "TerminateSession c7",
                                                        "Reboot true", "PowerOff true"}));
    FakeService gnome(session.address(), "org.gnome.SessionManager", "/org/gnome/SessionManager");
    ASSERT_TRUE(gnome.ok());
    for (int type = 1; type <= 4; ++type)
      EXPECT_TRUE(SystemEventActionUtil::performSystemEvent(type)) << type;
    EXPECT_EQ(gnome.calls(), (std::vector<std::string>{"Logout 1", "Reboot", "Shutdown"}));
    EXPECT_EQ(login1.calls().size(), 5u) << "only the second sleep reached login1";
  }
  if (saved)
    setenv("DBUS_SYSTEM_BUS_ADDRESS", savedSystem.c_str(), 1);
  else
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  unsetenv("XDG_SESSION_ID");
}

TEST(WorkspaceTest, PanelStartFolderAndQuitTerminatesOnlyTheFirstOwnProcess) {
  tw::test::TempDir dir;
  const auto& root = dir.path();
  std::filesystem::create_directories(root / "Docs");
  std::ofstream(root / "Docs" / "note.txt") << "x";
  std::filesystem::create_directories(root / "Apps" / "Thing.app");
  EXPECT_EQ(FileOperationActionUtil::startFolder(std::nullopt, (root / "Docs/note.txt").string()),
            (root / "Docs/note.txt").string());
  EXPECT_EQ(FileOperationActionUtil::startFolder(std::nullopt, (root / "Apps/Thing.app").string()),
            (root / "Apps").string())
      << "a folder-like application opens its parent";
  EXPECT_EQ(
      FileOperationActionUtil::startFolder((root / "Docs").string(), (root / "gone.txt").string()),
      (root / "Docs").string());

  // Two instances of an application of our own: quit kills only the first.
  const auto tool = root / "tw-quit-probe";
  std::filesystem::copy_file("/bin/sleep", tool);
  const auto entry = root / "probe.desktop";
  std::ofstream(entry) << "[Desktop Entry]\nType=Application\nName=Probe\nExec=" << tool.string()
                       << " 30\n";
  pid_t children[2];
  for (auto& child : children) {
    child = fork();
    if (child == 0) {
      execl(tool.c_str(), tool.c_str(), "30", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  EXPECT_EQ(tw::app::applicationExecutable(entry.string()), "tw-quit-probe");
  ASSERT_TRUE(
      runUntil([&] { return tw::app::runningProcessesOf("tw-quit-probe").size() == 2; }, 3.0));
  EXPECT_TRUE(tw::app::forceTerminateApplication(entry.string()));
  int status = 0;
  const pid_t first = std::min(children[0], children[1]);
  const pid_t second = std::max(children[0], children[1]);
  ASSERT_EQ(waitpid(first, &status, 0), first);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(waitpid(second, &status, WNOHANG), 0) << "the other instance keeps running";
  kill(second, SIGKILL);
  waitpid(second, &status, 0);
  EXPECT_FALSE(tw::app::forceTerminateApplication(entry.string())) << "none running";
  EXPECT_FALSE(tw::app::forceTerminateApplication((root / "missing.desktop").string()));
}

TEST(ActionExecutorAssemblyTest, TheApplicationsExecutorIsTheAssemblysActionExecutor) {
  tw::test::ScopedXdg xdg;
  auto factory = TyphoonAssembly::assembly<CoreAssembly_macOS>()->activated();
  EXPECT_TRUE(std::dynamic_pointer_cast<ActionExecutorService>(
      factory->componentForType<BTActionExecutorService>()));
  TyphoonComponentFactory::clearDefaultFactory();
}

// A file action that fired from a trigger, not from the editor's Test button.
class FiredFile : public tw::Object, public BTFileOperationActionProtocol {
 public:
  explicit FiredFile(std::string path) : path_(std::move(path)) {}
  std::optional<std::string> fileFilepathValue() const override { return path_; }
  void setFileFilepathValue(const std::optional<std::string>&) override {}
  std::int64_t sortOrder() const override { return 0; }
  void setSortOrder(std::int64_t) override {}
  bool enabled() const override { return true; }
  void setEnabled(bool) override {}
  std::shared_ptr<BTTimeObject> timeObject() const override { return nullptr; }
  void setTimeObject(const std::shared_ptr<BTTimeObject>&) override {}
  std::shared_ptr<BTActionTriggerProtocol> trigger() const override { return nullptr; }
  void setTrigger(const std::shared_ptr<BTActionTriggerProtocol>&) override {}

 private:
  std::string path_;
};

TEST(ActionExecutorAssemblyTest, ATestedFileOrApplicationThatIsGoneIsToldWithItsPath) {
  tw::ui::test::application();
  tw::test::ScopedXdg xdg;
  auto factory = TyphoonAssembly::assembly<CoreAssembly_macOS>()->activated();
  auto executor = factory->componentForType<BTActionExecutorService>();
  ASSERT_TRUE(executor);
  tw::test::TempDir dir;
  const std::string missingFile = (dir.path() / "gone.txt").string();
  const std::string missingEntry = (dir.path() / "gone.desktop").string();
  const std::string idleEntry = (dir.path() / "idle.desktop").string();
  const auto idleTool = dir.path() / "tw-idle-probe";  // installed, never started
  std::filesystem::copy_file("/bin/true", idleTool);
  std::ofstream(idleEntry) << "[Desktop Entry]\nType=Application\nName=Idle\nExec="
                           << idleTool.string() << "\n";

  // What the Test button runs: the editor's unsaved copy behind a proxy of the chosen kind.
  auto tested = [](const char* type, const std::string& path, std::int64_t operation) {
    auto builder = BTActionBuilder::builderWithTimeObject(nullptr);
    builder->setFileFilepathValue(path);
    builder->setAppFilepathValue(path);
    builder->setAppOperationType(operation);
    return builder->buildGenericActionObjectOfType(type);
  };
  struct Case {
    std::shared_ptr<BTActionObjectProtocol> action;
    QString title, text;  // an empty title: no alert
  } cases[] = {
      {tested("BTFileOperationAction", missingFile, 0), "The file could not be opened",
       QString::fromStdString("Tickwell could not open " + missingFile +
                              ": there is no such file.")},
      {tested("BTAppOperationAction", missingEntry, 1), "The application could not be launched",
       QString::fromStdString("Tickwell could not launch " + missingEntry +
                              ": there is no such file.")},
      {tested("BTAppOperationAction", missingEntry, 2), "The application could not be quit",
       QString::fromStdString("Tickwell could not quit " + missingEntry +
                              ": there is no such file.")},
      {tested("BTAppOperationAction", idleEntry, 2), {}, {}},  // nothing to quit: no failure
      {std::make_shared<FiredFile>(missingFile), {}, {}},      // fired: only logged
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title.isEmpty() ? "no alert" : c.title.toStdString());
    ASSERT_TRUE(c.action);
    QString title, text;
    Qt::TextInteractionFlags flags;
    tw::ui::test::whenMessageBoxShown(
        [&](QMessageBox* box) {
          title = box->text();
          text = tw::ui::test::informativeText(box);
          if (auto* label = box->findChild<QLabel*>("qt_msgbox_informativelabel"))
            flags = label->textInteractionFlags();
          box->reject();
        },
        c.title.isEmpty() ? 0.5 : 5.0);
    tw::LogCapture log;
    executor->executeAction(c.action);
    runUntil([&] { return !title.isEmpty(); }, c.title.isEmpty() ? 0.6 : 5.0);
    EXPECT_EQ(title, c.title);
    EXPECT_EQ(text, c.text);
    if (!c.title.isEmpty()) {
      EXPECT_TRUE(flags & Qt::TextSelectableByMouse) << "the path can be copied";
      EXPECT_FALSE(log.lines().empty()) << "and it is logged";
    }
  }
  TyphoonComponentFactory::clearDefaultFactory();
}

}  // namespace
