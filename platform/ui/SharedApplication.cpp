#include "platform/ui/SharedApplication.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"

namespace tw::ui {

namespace {

constexpr const char* kActionProperty = "twAction";
constexpr QByteArrayView kReopenMessage = "reopen\n";

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

// Keeps menu items' enabled state in step with validation while their menu is open, and
// enables them again afterwards so their shortcuts reach the validation at trigger time.
class MenuValidator : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    const bool show = event->type() == QEvent::Show;
    const bool hide = event->type() == QEvent::Hide;
    if (!show && !hide) return false;
    auto* menu = qobject_cast<QMenu*>(object);
    if (!menu) return false;
    auto& app = SharedApplication::shared();
    for (QAction* item : menu->actions()) {
      const QVariant name = item->property(kActionProperty);
      if (!name.isValid()) continue;
      item->setEnabled(hide ? true : app.validateAction(name.toString().toStdString(), item));
    }
    return false;
  }
};

}  // namespace

struct SharedApplication::Instance {
  std::unique_ptr<QLockFile> lock;
  std::unique_ptr<QLocalServer> server;
};

SharedApplication& SharedApplication::shared() {
  static SharedApplication* app = new SharedApplication;  // lives to the end of the process
  return *app;
}

int SharedApplication::run(int& argc, char** argv, std::shared_ptr<ApplicationDelegate> delegate,
                           const Options& options) {
  Application::ensure(argc, argv);
  if (options.singleInstance) {
    std::string name = options.instanceName;
    if (name.empty()) name = Bundle::main().bundleIdentifier();
    if (!claimInstance(name)) return 0;
  }
  launchWithoutLoop(std::move(delegate));
  if (state_ == State::Terminated) return exitStatus_;
  running_ = true;
  const int status = QApplication::exec();
  running_ = false;
  // The loop may also end without us (QApplication::quit from elsewhere): still end properly.
  terminateWithoutAsking(status);
  instance_.reset();  // closes the rendezvous and frees the lock for the next launch
  return exitStatus_;
}

void SharedApplication::launchWithoutLoop(std::shared_ptr<ApplicationDelegate> delegate) {
  Application::ensure();
  QApplication::setQuitOnLastWindowClosed(false);
  delegate_ = std::move(delegate);
  state_ = State::Running;
  installHooks();
  if (delegate_) delegate_->applicationDidFinishLaunching();
}

void SharedApplication::installHooks() {
  if (hooksInstalled_) return;
  hooksInstalled_ = true;
  auto* app = QCoreApplication::instance();
  app->installEventFilter(new MenuValidator(app));

  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [this] {
      char buffer[16];
      while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
      }
      log("Termination requested by signal");
      terminateWithoutAsking(0);
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
  } else {
    log(LogLevel::Error, "Cannot watch for termination signals: no pipe");
  }

  // The desktop session ending (or anything else quitting Qt) takes the same road.
  QObject::connect(app, &QCoreApplication::aboutToQuit, app, [this] {
    // The loop has ended already: asking it to end again would make every later loop return
    // at once.
    running_ = false;
    if (state_ != State::Terminated) terminateWithoutAsking(0);
  });
}

bool SharedApplication::claimInstance(const std::string& name) {
  QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (dir.isEmpty() || !QDir(dir).exists())
    dir = QDir::tempPath() + QStringLiteral("/tickwell-") + QString::number(::getuid());
  QDir().mkpath(dir);
  const QString socketPath = dir + '/' + QString::fromStdString(name) + QStringLiteral(".instance");

  auto instance = std::make_shared<Instance>();
  instance->lock = std::make_unique<QLockFile>(socketPath + QStringLiteral(".lock"));
  instance->lock->setStaleLockTime(0);  // stale only when its process is gone
  if (instance->lock->tryLock(0)) {
    QLocalServer::removeServer(socketPath);
    instance->server = std::make_unique<QLocalServer>();
    instance->server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!instance->server->listen(socketPath)) {
      logf("Cannot listen for further launches at %@: %@", socketPath.toStdString(),
           instance->server->errorString().toStdString());
    }
    QObject::connect(instance->server.get(), &QLocalServer::newConnection, [this, instance] {
      while (QLocalSocket* socket = instance->server->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
          if (!socket->readAll().contains("reopen")) return;
          activate();
          reopen();
        });
      }
    });
    instance_ = instance;
    return true;
  }

  // Another launch holds the lock: hand over to it. It may still be starting, so retry a while.
  for (int attempt = 0; attempt < 20; ++attempt) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (socket.waitForConnected(250)) {
      socket.write(kReopenMessage.data(), kReopenMessage.size());
      socket.waitForBytesWritten(1000);
      socket.disconnectFromServer();
      log("Tickwell is already running; asked it to show its window");
      return false;
    }
    QThread::msleep(100);
  }
  log(LogLevel::Error, "Tickwell is already running but does not answer; giving up");
  return false;
}

void SharedApplication::terminate() {
  if (state_ != State::Running) return;
  const TerminateReply reply =
      delegate_ ? delegate_->applicationShouldTerminate() : TerminateReply::Now;
  switch (reply) {
    case TerminateReply::Now:
      terminateWithoutAsking(0);
      break;
    case TerminateReply::Later:
      state_ = State::Waiting;
      break;
    case TerminateReply::Cancel:
      break;
  }
}

void SharedApplication::replyToApplicationShouldTerminate(bool shouldTerminate) {
  if (state_ != State::Waiting) return;
  state_ = State::Running;
  if (shouldTerminate) terminateWithoutAsking(0);
}

void SharedApplication::terminateWithoutAsking(int status) {
  if (state_ == State::Terminated) return;
  state_ = State::Terminated;
  exitStatus_ = status;
  if (delegate_) delegate_->applicationWillTerminate();
  // Ends every running loop, the modal ones included. Without run() there is no loop of ours to
  // end (and Qt would make every later loop return at once).
  if (running_) QCoreApplication::exit(status);
}

std::vector<QWidget*> SharedApplication::windows() const {
  std::vector<QWidget*> result;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isWindow() && !qobject_cast<QMenu*>(w)) result.push_back(w);
  return result;
}

bool SharedApplication::hasVisibleWindows() const {
  for (QWidget* w : windows())
    if (w->isVisible() && !w->isMinimized()) return true;
  return false;
}

void SharedApplication::activate() {
  QWidget* front = QApplication::activeWindow();
  for (QWidget* w : windows()) {
    if (!w->isVisible() || w->isMinimized()) continue;
    w->raise();
    if (!front) front = w;
  }
  if (front) front->activateWindow();
}

void SharedApplication::reopen() {
  if (delegate_) delegate_->applicationShouldHandleReopen(hasVisibleWindows());
}

std::shared_ptr<Responder> SharedApplication::targetForAction(std::string_view action) const {
  QWidget* start = QApplication::focusWidget();
  if (!start) start = QApplication::activeWindow();
  if (auto first = Responder::forWidget(start))
    if (auto target = first->targetForAction(action)) return target;
  if (delegate_ && delegate_->respondsToAction(action)) return delegate_;
  return nullptr;
}

bool SharedApplication::validateAction(std::string_view action, QAction* item) const {
  auto target = targetForAction(action);
  return target && target->validateAction(action, item);
}

bool SharedApplication::sendAction(std::string_view action,
                                   const std::shared_ptr<Responder>& target, QObject* sender) {
  auto responder = target ? target : targetForAction(action);
  return responder && responder->performAction(action, sender);
}

void SharedApplication::bindAction(QAction* item, const std::string& action) {
  item->setProperty(kActionProperty, QString::fromStdString(action));
  QObject::connect(item, &QAction::triggered, item, [this, item, action] {
    if (!sendAction(action, nullptr, item)) QApplication::beep();
  });
}

void SharedApplication::resetForTesting() {
  delegate_.reset();
  state_ = State::Running;
  exitStatus_ = 0;
}

}  // namespace tw::ui
