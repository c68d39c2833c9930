#include "platform/ui/Application.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <string>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/ui/QtMainLoopDriver.h"

namespace tw::ui {

namespace {

void requireMain(const char* what) {
  if (!isMainThread())
    raise(NSInternalInconsistencyException,
          std::string(what) + " must be called on the main thread");
}

}  // namespace

void Application::ensure() {
  static int argc = 1;
  static char name[] = "Tickwell";
  static char* argv[] = {name, nullptr};
  ensure(argc, argv);
}

void Application::ensure(int& argc, char** argv) {
  requireMain("tw::ui::Application::ensure");
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) {
    // Never destroyed: windows, timers and queued work may refer to it until exit.
    app = new QApplication(argc, argv);
  } else if (!qobject_cast<QApplication*>(app)) {
    raise(NSInternalInconsistencyException,
          "tw::ui::Application needs a QApplication, found a Qt application without widgets");
  }
  QtMainLoopDriver::install();
}

bool Application::runEventsUntil(const std::function<bool()>& done, double timeoutSeconds) {
  requireMain("tw::ui::Application::runEventsUntil");
  ensure();
  if (done()) return true;
  const auto ms = static_cast<qint64>(timeoutSeconds * 1000.0);
  QDeadlineTimer deadline(ms < 0 ? 0 : ms);
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(2);
  bool reached = false;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    reached = done();
    if (reached || deadline.hasExpired()) loop.quit();
  });
  poll.start();
  loop.exec();
  return reached || done();
}

}  // namespace tw::ui
