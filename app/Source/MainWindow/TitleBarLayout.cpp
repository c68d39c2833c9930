#include "app/Source/MainWindow/TitleBarLayout.h"

namespace tw::app {

QRectF titleBarButtonFrame(int index, double w, double h, double titleBarHeight,
                           const TitleBarButtonMetrics& metrics) {
  const double x = metrics.leftMargin + index * (w + 6.0);
  // y-down: the top margin is measured from the top directly.
  const double y = metrics.centered ? (titleBarHeight - h) * 0.5 : metrics.topMargin;
  return {x, y, w, h};
}

double titleBarAccessoryHeight(double titleBarHeight, double defaultHeight, bool fullScreen) {
  if (fullScreen) return 0.0;
  return titleBarHeight - defaultHeight;
}

}  // namespace tw::app
