#pragma once
// StyleKit: the drawing kit's one class. It paints a fixed abstract background of 288 x 288
// points (a mosaic of grey gradient polygons composited as one group at 50 % opacity) into the
// current graphics context, at its own size or resized into a frame, and keeps one cached image
// of it. Nothing in the application calls it yet.
//
// Static members only. Drawing runs on the thread that draws, into that thread's current
// tw::GraphicsContext (nothing is drawn when there is none). imageOfBackgroundAbstract may be
// called from any thread; the image it returns lives for the rest of the process.

#include <QRectF>
#include <cstdint>
#include <memory>

#include "app/drawing/DrawingHandlerImage.h"

enum StyleKitResizing : std::int64_t {
  StyleKitResizingFit = 0,
  StyleKitResizingFill = 1,
  StyleKitResizingStretch = 2,
  StyleKitResizingCenter = 3,
};

// The rectangle that `rect` occupies when resized into `target` by `mode` (y-up coordinates; any
// mode other than the four acts as Stretch).
QRectF StyleKitResizedRect(QRectF rect, StyleKitResizing mode, QRectF target);

class StyleKit {
 public:
  StyleKit() = delete;

  static void initialize();
  static void drawBackgroundAbstract();
  static void drawBackgroundAbstractWithFrame(QRectF targetFrame, StyleKitResizing resizing);
  static std::shared_ptr<tw::DrawingHandlerImage> imageOfBackgroundAbstract();
};
