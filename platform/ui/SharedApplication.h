#pragma once
// tw::ui::SharedApplication: the running windowed application. Owns the delegate, runs Qt's event
// loop (with the main queue under it), and carries the rules of quitting:
//   - terminate() asks the delegate (applicationShouldTerminate): now ends the process, later
//     waits for replyToApplicationShouldTerminate, cancel does nothing;
//   - SIGTERM, SIGINT, SIGHUP and the end of the desktop session end the process without asking,
//     through the same ending: applicationWillTerminate runs once, then the loop exits with 0;
//   - closing the last window never quits;
//   - one instance per user and bundle: a second launch asks the first one to reopen (the
//     delegate's applicationShouldHandleReopen, after raising its visible windows) and exits
//     with 0. The rendezvous is a local
//     socket in $XDG_RUNTIME_DIR (else the temporary folder), guarded by a lock file.
// Actions: sendAction walks the responder chain (Responder.h); bindAction ties a QAction to an
// action name, validates it before each run (menu, shortcut) and before its menu opens.
//
// One per process (shared()); main thread only, except that the signal handler only writes a
// byte to a pipe.

#include <QAction>
#include <QMenu>
#include <QWidget>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/ApplicationDelegate.h"

namespace tw::ui {

class SharedApplication {
 public:
  static SharedApplication& shared();

  struct Options {
    // Names the single-instance rendezvous; empty: the main bundle's identifier. Empty string
    // with singleInstance false: no rendezvous at all.
    std::string instanceName;
    bool singleInstance = true;
  };

  // Sets up Qt (Application::ensure), claims the single instance (or hands over to the running
  // one and returns 0), installs the signal and session hooks, calls the delegate's
  // applicationDidFinishLaunching and runs the event loop; returns the exit status.
  int run(int& argc, char** argv, std::shared_ptr<ApplicationDelegate> delegate,
          const Options& options);

  // Sets up a delegate and the hooks without running the loop or claiming an instance (tests,
  // and programs that render windows off screen). Calls applicationDidFinishLaunching.
  void launchWithoutLoop(std::shared_ptr<ApplicationDelegate> delegate);

  std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_; }

  // ----- quitting
  void terminate();
  void replyToApplicationShouldTerminate(bool shouldTerminate);
  // Ends without asking (signals, session end): applicationWillTerminate once, then, under
  // run(), the event loops end with `status`.
  void terminateWithoutAsking(int status = 0);
  bool isWaitingForTerminateReply() const { return state_ == State::Waiting; }
  bool hasTerminated() const { return state_ == State::Terminated; }

  // ----- windows and reopen
  std::vector<QWidget*> windows() const;
  bool hasVisibleWindows() const;
  // What a second launch causes: activate(), then reopen().
  // Brings the visible windows to the front and makes the front one active.
  void activate();
  // The delegate's applicationShouldHandleReopen, told whether a window is visible.
  void reopen();

  // ----- actions
  // Sends `action` to `target` when given, else along the responder chain from the focused
  // widget of the active window to the delegate; true when a responder ran it.
  bool sendAction(std::string_view action, const std::shared_ptr<Responder>& target,
                  QObject* sender);
  std::shared_ptr<Responder> targetForAction(std::string_view action) const;
  bool validateAction(std::string_view action, QAction* item) const;
  // Ties `item` to `action` (nil-targeted). Its enabled state follows validation whenever one of
  // its menus opens; triggering it (also by shortcut) validates first and does nothing when the
  // action is not valid now.
  void bindAction(QAction* item, const std::string& action);

  // Whether the "Customize Touch Bar…" command would be offered; kept for callers, shown nowhere
  // (there is no touch bar on Linux).
  bool isAutomaticCustomizeTouchBarMenuItemEnabled() const { return customizeTouchBar_; }
  void setAutomaticCustomizeTouchBarMenuItemEnabled(bool enabled) { customizeTouchBar_ = enabled; }

  // Restores the first-launch state (tests).
  void resetForTesting();

  SharedApplication(const SharedApplication&) = delete;
  SharedApplication& operator=(const SharedApplication&) = delete;

 private:
  SharedApplication() = default;
  enum class State { Running, Waiting, Terminated };
  void installHooks();
  bool claimInstance(const std::string& name);

  std::shared_ptr<ApplicationDelegate> delegate_;
  State state_ = State::Running;
  bool hooksInstalled_ = false;
  bool running_ = false;
  bool customizeTouchBar_ = false;
  int exitStatus_ = 0;
  struct Instance;
  std::shared_ptr<Instance> instance_;
};

}  // namespace tw::ui
