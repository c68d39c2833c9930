#include "app/drawing/QPainterGraphicsContext.h"

#include <QLinearGradient>
#include <QPaintDevice>
#include <cmath>

namespace tw {
namespace {

// Far enough that a half-plane built from it covers any paint device.
constexpr double kFar = 1.0e6;

// The half-plane (as a device-space polygon) on the side of `at` towards which `direction`
// points, bounded by the line through `at` perpendicular to `direction`; user space mapped by
// `ctm`.
QPainterPath halfPlane(QPointF at, QPointF direction, const QTransform& ctm) {
  double length = std::hypot(direction.x(), direction.y());
  QPointF d = direction / length;
  QPointF n(-d.y(), d.x());
  QPolygonF polygon{at + n * kFar, at + n * kFar + d * kFar, at - n * kFar + d * kFar,
                    at - n * kFar};
  QPainterPath path;
  path.addPolygon(ctm.map(polygon));
  path.closeSubpath();
  return path;
}

}  // namespace

QPainterGraphicsContext::QPainterGraphicsContext(QPainter& painter, Orientation orientation,
                                                 double height)
    : painter_(painter) {
  painter_.save();
  State base;
  QTransform flip;
  if (orientation == Orientation::YUp) flip = QTransform(1, 0, 0, -1, 0, height);
  base.ctm = flip * painter_.worldTransform();
  base.alpha = painter_.opacity();
  states_.push_back(std::move(base));
}

QPainterGraphicsContext::~QPainterGraphicsContext() {
  while (!layers_.empty()) endTransparencyLayer();
  painter_.restore();
}

QPainter& QPainterGraphicsContext::target() {
  for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) {
    if (!it->drawnThrough) return *it->painter;
  }
  return painter_;
}

QPointF QPainterGraphicsContext::targetOrigin() const {
  for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) {
    if (!it->drawnThrough) return it->origin;
  }
  return {};
}

QRectF QPainterGraphicsContext::targetBounds() const {
  for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) {
    if (!it->drawnThrough) {
      return QRectF(it->origin, it->image->deviceIndependentSize());
    }
  }
  QPaintDevice* device = painter_.device();
  return QRectF(0, 0, device->width(), device->height());
}

void QPainterGraphicsContext::saveGState() { states_.push_back(states_.back()); }

void QPainterGraphicsContext::restoreGState() {
  // A restore may not reach below the save that the innermost open layer made (nor below the
  // first state): such an unmatched restore is ignored.
  std::size_t floor = layers_.empty() ? 1 : layers_.back().stateDepth;
  if (states_.size() > floor) states_.pop_back();
}

void QPainterGraphicsContext::translateCTM(double tx, double ty) {
  State& state = states_.back();
  state.ctm = QTransform::fromTranslate(tx, ty) * state.ctm;
}

void QPainterGraphicsContext::scaleCTM(double sx, double sy) {
  State& state = states_.back();
  state.ctm = QTransform::fromScale(sx, sy) * state.ctm;
}

void QPainterGraphicsContext::setAlpha(double alpha) {
  states_.back().alpha = std::clamp(alpha, 0.0, 1.0);
}

void QPainterGraphicsContext::clipToPath(const QPainterPath& path) {
  State& state = states_.back();
  QPainterPath device = state.ctm.map(path);
  // Drawing code often clips twice to the same path; that needs no path intersection.
  if (!state.clip) {
    state.clip = std::move(device);
  } else if (!(*state.clip == device)) {
    state.clip = state.clip->intersected(device);
  }
}

void QPainterGraphicsContext::drawLinearGradient(const LinearGradient& gradient, QPointF start,
                                                 QPointF end, unsigned options) {
  const State& state = states_.back();
  if (state.alpha <= 0.0) return;
  QLinearGradient linear(start, end);
  linear.setColorAt(0.0, gradient.startColor);
  linear.setColorAt(1.0, gradient.endColor);
  linear.setSpread(QGradient::PadSpread);
  QBrush brush(linear);
  brush.setTransform(state.ctm);

  QPainterPath region;
  if (state.clip) {
    region = *state.clip;
  } else {
    region.addRect(targetBounds());
  }
  QPointF direction = end - start;
  bool degenerate = direction.x() == 0.0 && direction.y() == 0.0;
  if (!(options & kGradientDrawsBeforeStartLocation)) {
    if (degenerate) return;
    region = region.intersected(halfPlane(start, direction, state.ctm));
  }
  if (!(options & kGradientDrawsAfterEndLocation)) {
    if (degenerate) return;
    region = region.intersected(halfPlane(end, -direction, state.ctm));
  }

  QPainter& painter = target();
  QPointF origin = targetOrigin();
  painter.setTransform(QTransform::fromTranslate(-origin.x(), -origin.y()));
  painter.setOpacity(state.alpha);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(Qt::NoPen);
  painter.fillPath(region, brush);
}

void QPainterGraphicsContext::beginTransparencyLayer() {
  double alpha = states_.back().alpha;
  QRectF bounds = targetBounds();
  if (const auto& clip = states_.back().clip) bounds &= clip->boundingRect();
  saveGState();
  states_.back().alpha = 1.0;

  Layer layer;
  layer.stateDepth = states_.size();
  // Source-over compositing is associative: a layer composited at full alpha gives the same
  // pixels as drawing its content straight onto what lies below.
  layer.drawnThrough = alpha >= 1.0;
  if (!layer.drawnThrough) {
    QRect pixels = bounds.toAlignedRect();
    double ratio = painter_.device()->devicePixelRatioF();
    layer.origin = pixels.topLeft();
    layer.image =
        std::make_unique<QImage>((pixels.size().toSizeF() * ratio).toSize().expandedTo(QSize(1, 1)),
                                 QImage::Format_ARGB32_Premultiplied);
    layer.image->setDevicePixelRatio(ratio);
    layer.image->fill(Qt::transparent);
    layer.painter = std::make_unique<QPainter>(layer.image.get());
  }
  layers_.push_back(std::move(layer));
}

void QPainterGraphicsContext::endTransparencyLayer() {
  if (layers_.empty()) return;
  Layer layer = std::move(layers_.back());
  layers_.pop_back();
  // Unbalanced saves inside the layer end with it, along with the layer's own save.
  states_.resize(layer.stateDepth - 1);
  if (layer.drawnThrough) return;
  layer.painter->end();
  QPainter& painter = target();
  QPointF origin = targetOrigin();
  painter.setTransform(QTransform::fromTranslate(-origin.x(), -origin.y()));
  painter.setOpacity(states_.back().alpha);
  painter.drawImage(layer.origin, *layer.image);
}

}  // namespace tw
