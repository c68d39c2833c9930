// The Tickwell program: hands its arguments to the application object and returns its status.

#include <QCoreApplication>
#include <QEvent>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "app/Source/Application/AppDelegate.h"
#include "app/Source/Application/Interfaces.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/SharedApplication.h"

namespace {

// For the start-up benchmark only: when its first window is exposed the program prints the
// moment ("exposed-at <CLOCK_MONOTONIC nanoseconds>") on its standard output and ends through the
// normal ending, so the time to the first frame can be measured from outside, apart from the
// time the ending takes.
class ExitOnFirstExpose : public QObject {
 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    auto* window = qobject_cast<QWindow*>(object);
    if (event->type() == QEvent::Expose && window && window->isExposed() && !done_) {
      done_ = true;
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      std::printf("exposed-at %lld\n",
                  static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
      std::fflush(stdout);
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [] { tw::ui::SharedApplication::shared().terminateWithoutAsking(0); },
          Qt::QueuedConnection);
    }
    return false;
  }

 private:
  bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  // Besides the system log, the program's messages go to its standard error, which the desktop
  // session's journal (or the terminal that started it) keeps.
  tw::setLogHook([](tw::LogLevel, std::string_view message) {
    std::fprintf(stderr, "Tickwell: %.*s\n", static_cast<int>(message.size()), message.data());
  });
  // Qt's X11 backing store through shared memory makes every repaint wait for the server's
  // completion event on Qt's event thread: two more wake-ups per repaint, and a segment the size
  // of the window. The window's repaints are small (a ticking row, the time digits), and sent
  // over the connection they cost neither. Set in the environment, the user's choice stands.
  if (!std::getenv("QT_XCB_NO_MITSHM")) setenv("QT_XCB_NO_MITSHM", "1", 0);
  tw::app::registerInterfaces();
  if (std::getenv("TICKWELL_BENCH_EXIT_ON_EXPOSE")) {
    static int qtArgc = argc;
    tw::ui::Application::ensure(qtArgc, argv);
    QCoreApplication::instance()->installEventFilter(new ExitOnFirstExpose);
  }
  return tw::ui::SharedApplication::shared().run(argc, argv, std::make_shared<AppDelegate>(), {});
}

#if defined(__SANITIZE_ADDRESS__)
// Under the leak checker: fontconfig keeps a cache for the life of the process that it never
// frees; Qt loads it with the first font. Not ours to fix.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
