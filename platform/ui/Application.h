#pragma once
// tw::ui::Application: start-up of the user interface. Makes sure the process has its one
// QApplication and that the main queue runs under Qt's event loop (QtMainLoopDriver), and offers
// a bounded wait that keeps both Qt events and main-queue work flowing.
//
// Owned by platform/ui. Main thread only (the thread that runs main()); calls from any other
// thread raise NSInternalInconsistencyException.

#include <functional>

namespace tw::ui {

class Application {
 public:
  // Creates the QApplication when none exists (it then lives until the process ends) and installs
  // the Qt driver of the main queue. Idempotent. Raises NSInternalInconsistencyException when the
  // running Qt application has no widget support (a bare QCoreApplication).
  static void ensure();
  // The same, handing the program's arguments to a QApplication it creates; they must outlive it.
  static void ensure(int& argc, char** argv);

  // Runs Qt's event loop, and with it the main queue, until `done` returns true (checked every few
  // milliseconds) or `timeoutSeconds` of real time pass; returns whether `done` came true. Calls
  // ensure() first.
  static bool runEventsUntil(const std::function<bool()>& done, double timeoutSeconds);

  Application() = delete;
};

}  // namespace tw::ui
