#pragma once
// tw::QPainterGraphicsContext: a GraphicsContext that draws through a QPainter (onto an image, a
// widget, any paint device). The context keeps its own state stack (transformation, clip as a
// device-space path, alpha) and sets the painter up for each fill, so drawing code works in
// y-up coordinates as written. A transparency layer is an offscreen image the size of the
// clipped area, composited with the layer's alpha when it ends; a layer that would composite at
// full alpha is drawn straight through, which gives the same pixels without the copy.
//
// Owned by the code that paints (on the stack of a paint handler). The painter must stay active
// for the context's life; the painter's own state is saved on construction and restored on
// destruction, and layers left open are closed then. One thread.

#include <QImage>
#include <QPainter>
#include <QTransform>
#include <memory>
#include <optional>
#include <vector>

#include "app/drawing/GraphicsContext.h"

namespace tw {

class QPainterGraphicsContext final : public GraphicsContext {
 public:
  enum class Orientation { YUp, YDown };

  // `height` is the height of the painted area in the painter's user units: with YUp, user y = 0
  // is its bottom edge and y = height its top edge.
  QPainterGraphicsContext(QPainter& painter, Orientation orientation, double height);
  ~QPainterGraphicsContext() override;
  QPainterGraphicsContext(const QPainterGraphicsContext&) = delete;
  QPainterGraphicsContext& operator=(const QPainterGraphicsContext&) = delete;

  void saveGState() override;
  void restoreGState() override;
  void translateCTM(double tx, double ty) override;
  void scaleCTM(double sx, double sy) override;
  void setAlpha(double alpha) override;
  void clipToPath(const QPainterPath& path) override;
  void drawLinearGradient(const LinearGradient& gradient, QPointF start, QPointF end,
                          unsigned options) override;
  void beginTransparencyLayer() override;
  void endTransparencyLayer() override;

  // User space to the painter's device space.
  QTransform ctm() const { return states_.back().ctm; }

 private:
  struct State {
    QTransform ctm;
    double alpha = 1.0;
    std::optional<QPainterPath> clip;  // device space; none: unclipped
  };
  struct Layer {
    std::size_t stateDepth = 0;  // states_ size right after the layer's own save
    bool drawnThrough = false;
    QPointF origin;  // the layer image's top left, device space
    std::unique_ptr<QImage> image;
    std::unique_ptr<QPainter> painter;
  };

  QPainter& target();
  QPointF targetOrigin() const;
  QRectF targetBounds() const;

  QPainter& painter_;
  std::vector<State> states_;
  std::vector<Layer> layers_;
};

}  // namespace tw
