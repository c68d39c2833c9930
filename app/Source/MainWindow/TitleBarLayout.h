#pragma once
// Where the main window's title-bar buttons (close, minimise, maximise) sit, in the title bar's
// own y-down coordinates: side by side from the left margin, 6 points apart, either centred
// vertically or `topMargin` below the title bar's top edge. Pure functions; any thread.

#include <QRect>

namespace tw::app {

struct TitleBarButtonMetrics {
  double leftMargin = 0;
  double topMargin = 0;
  bool centered = true;
};

// The frame of button `index` (0 close, 1 minimise, 2 maximise) of size w x h in a title bar
// `titleBarHeight` high.
QRectF titleBarButtonFrame(int index, double w, double h, double titleBarHeight,
                           const TitleBarButtonMetrics& metrics);

// The extra height the tall title bar adds to the window system's usual one; none in full
// screen, where the usual title bar is used.
double titleBarAccessoryHeight(double titleBarHeight, double defaultHeight, bool fullScreen);

}  // namespace tw::app
