#pragma once
// tw::GraphicsContext: the drawing state machine that StyleKit paints through (a y-up
// transformation, clipping by paths, a global alpha, transparency layers and linear gradients),
// with a per-thread "current context" that drawing code reaches without being handed one.
//
// Implementations: QPainterGraphicsContext (the real one) and the tests' recording context.
// A context is used on one thread; the current-context stack is per thread. Scope objects are
// owned by the code that makes a context current (a view's paint handler, an image's renderer).

#include <QColor>
#include <QPainterPath>
#include <QPointF>

namespace tw {

// A two-stop linear gradient: the start colour at location 0, the end colour at location 1.
struct LinearGradient {
  QColor startColor;
  QColor endColor;
};

// Bits of drawLinearGradient's options: extend the gradient's end colours beyond its end points.
enum GradientDrawingOption : unsigned {
  kGradientDrawsBeforeStartLocation = 1u << 0,
  kGradientDrawsAfterEndLocation = 1u << 1,
};

class GraphicsContext {
 public:
  virtual ~GraphicsContext() = default;

  // The state (transformation, clip, alpha) is saved and restored as a stack.
  virtual void saveGState() = 0;
  virtual void restoreGState() = 0;

  virtual void translateCTM(double tx, double ty) = 0;
  virtual void scaleCTM(double sx, double sy) = 0;
  virtual void setAlpha(double alpha) = 0;

  // Intersects the clip with the path (given in the current user space).
  virtual void clipToPath(const QPainterPath& path) = 0;

  // Paints the whole clip area with the gradient running from `start` to `end` (user space);
  // `options` says whether the end colours extend past the end points.
  virtual void drawLinearGradient(const LinearGradient& gradient, QPointF start, QPointF end,
                                  unsigned options) = 0;

  // Everything drawn until the matching end goes into a fresh transparent layer (alpha reset to
  // 1 inside), which is then composited as one with the alpha in force at the begin.
  virtual void beginTransparencyLayer() = 0;
  virtual void endTransparencyLayer() = 0;

  // The innermost context made current on this thread, or null.
  static GraphicsContext* current();

  // Makes a context current on this thread for its lifetime; scopes nest.
  class Scope {
   public:
    explicit Scope(GraphicsContext& context);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    GraphicsContext* previous_;
  };
};

}  // namespace tw
