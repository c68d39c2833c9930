#pragma once
// tw::ui::ApplicationDelegate: what the running application asks of its delegate at launch,
// quit and reopen. The delegate is the last responder of every nil-targeted action.
// Owned by the SharedApplication it is given to; main thread only.

#include "platform/ui/Responder.h"

namespace tw::ui {

// The answer to a request to quit: 0 cancel, 1 terminate now, 2 terminate later (the delegate
// then calls SharedApplication::replyToApplicationShouldTerminate once it has decided).
enum class TerminateReply { Cancel = 0, Now = 1, Later = 2 };

class ApplicationDelegate : public Responder {
 public:
  // After the application object is set up, before its event loop starts.
  virtual void applicationDidFinishLaunching() {}
  // A quit was asked for by the user (menu, shortcut, window manager close of the last window
  // does NOT quit). Not asked when the process is told to stop (signal, session end).
  virtual TerminateReply applicationShouldTerminate() { return TerminateReply::Now; }
  // The process is about to end, whatever asked for it; runs exactly once.
  virtual void applicationWillTerminate() {}
  // The user launched the application again (a second launch, or a desktop activation); the
  // return value is kept for symmetry and ignored.
  virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) {
    (void)hasVisibleWindows;
    return true;
  }
};

}  // namespace tw::ui
