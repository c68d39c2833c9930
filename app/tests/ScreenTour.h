#pragma once
// Takes a launched application through every screen a person meets, for the screen renderer and
// the layout check: the main window in each view mode (and, for timers, with the actions list
// folded) at its minimum size, its default size and maximised, with each mode's value popover
// open over it; the action editor for each action kind; each settings pane. Expects the sample
// objects of SampleData and a selection in each mode. Main thread only. Test-only.

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

class AppDelegate;

namespace tw::app::sample {

struct Screen {
  std::string
      name;         // e.g. "main-timers-default", "popover-alarm-max", "editor-BTFlashScreenAction"
  QWidget* window;  // the window shown
  QWidget* popup;   // a popover open over it, or null
};

// The three sizes of a resizable window, as they appear in screen names.
inline constexpr const char* kSizeNames[] = {"min", "default", "max"};

// Calls `visit` with each screen once it is shown and settled. The main window is left at its
// default size afterwards.
void tourScreens(const std::shared_ptr<AppDelegate>& delegate,
                 const std::function<void(const Screen&)>& visit);

// Lets layouts, animations and posted events finish.
void settleScreens(double seconds);

}  // namespace tw::app::sample
