#include "platform/ui/SharedApplication.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"

namespace tw::ui {

namespace {

constexpr const char* kActionProperty = "twAction";
constexpr std::string_view kReopenMessage = "reopen\n";

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

// A unix socket at `path`, or false (errno set) when the path does not fit or the call fails.
bool socketAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Asks the launch listening at `path` to show its window; false when nobody answers there.
bool sendReopen(const std::string& path) {
  sockaddr_un address;
  if (!socketAddress(path, address)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool sent = false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    const ssize_t n = ::send(fd, kReopenMessage.data(), kReopenMessage.size(), MSG_NOSIGNAL);
    sent = n == static_cast<ssize_t>(kReopenMessage.size());
  }
  ::close(fd);
  return sent;
}

// One further launch talking to the first: what it sends, until it hangs up.
class RendezvousConnection : public QObject {
 public:
  RendezvousConnection(int fd, std::function<void()> onReopen, QObject* parent)
      : QObject(parent), fd_(fd), onReopen_(std::move(onReopen)) {
    auto* notifier = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    QObject::connect(notifier, &QSocketNotifier::activated, this, [this] { readAvailable(); });
  }
  ~RendezvousConnection() override { ::close(fd_); }

 private:
  void readAvailable() {
    char buffer[64];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        // A launch only ever says one short line; more is not ours to keep.
        if (received_.size() < 256) received_.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      done_ = true;  // hung up, or failed
      break;
    }
    if (!acted_ && received_.find("reopen") != std::string::npos) {
      acted_ = true;
      onReopen_();
    }
    if (done_) deleteLater();
  }

  int fd_;
  std::function<void()> onReopen_;
  std::string received_;
  bool acted_ = false;
  bool done_ = false;
};

}  // namespace

// The first launch holds a lock file and listens on a unix socket beside it, readable and
// writable by the user alone; further launches write "reopen" there and leave.
struct SharedApplication::Instance {
  std::unique_ptr<QLockFile> lock;
  int listener = -1;
  std::string socketPath;
  std::unique_ptr<QSocketNotifier> notifier;

  ~Instance() {
    notifier.reset();
    if (listener >= 0) {
      ::close(listener);
      ::unlink(socketPath.c_str());
    }
  }

  // Listens at `path`, replacing what a launch that died left there (we hold the lock).
  bool listen(const std::string& path) {
    socketPath = path;
    sockaddr_un address;
    if (!socketAddress(path, address)) return false;
    ::unlink(path.c_str());
    listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0) return false;
    // Created with no access for others, so nobody else can ever connect, even briefly.
    const mode_t previous = ::umask(0077);
    const bool bound =
        ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(previous);
    if (!bound || ::listen(listener, 8) != 0) {
      const int saved = errno;
      ::close(listener);
      listener = -1;
      errno = saved;
      return false;
    }
    return true;
  }
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
    if (!instance->listen(socketPath.toStdString())) {
      logf("Cannot listen for further launches at %@: %@", socketPath.toStdString(),
           std::string(std::strerror(errno)));
    } else {
      instance->notifier =
          std::make_unique<QSocketNotifier>(instance->listener, QSocketNotifier::Read);
      const int listener = instance->listener;
      QObject::connect(instance->notifier.get(), &QSocketNotifier::activated, [this, listener] {
        int fd;
        while ((fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
          new RendezvousConnection(
              fd,
              [this] {
                activate();
                reopen();
              },
              QCoreApplication::instance());
        }
      });
    }
    instance_ = instance;
    return true;
  }

  // Another launch holds the lock: hand over to it. It may still be starting, so retry a while.
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (sendReopen(socketPath.toStdString())) {
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
