#include "app/drawing/StyleKit.h"

#include <QColor>
#include <QPainterPath>
#include <cmath>
#include <vector>

#include "app/drawing/GraphicsContext.h"
#include "app/drawing/StyleKitBackgroundTable.h"

namespace {

constexpr double kCanvas = tw::background::kCanvasSize;

QPainterPath polygonPath(const tw::background::ShapeEntry& shape) {
  auto vertices = tw::background::vertices().subspan(shape.firstVertex, shape.vertexCount);
  QPainterPath path;
  path.moveTo(vertices[0].x, vertices[0].y);
  for (std::size_t i = 1; i < vertices.size(); ++i) path.lineTo(vertices[i].x, vertices[i].y);
  path.lineTo(vertices[0].x, vertices[0].y);
  path.closeSubpath();
  return path;
}

}  // namespace

QRectF StyleKitResizedRect(QRectF rect, StyleKitResizing mode, QRectF target) {
  if (rect == target || target == QRectF()) return rect;
  // A canvas without area has nothing to scale; dividing by it would give no rectangle at all.
  if (rect.width() == 0 || rect.height() == 0) return rect;
  double scaleX = std::abs(target.width() / rect.width());
  double scaleY = std::abs(target.height() / rect.height());
  switch (mode) {
    case StyleKitResizingFit:
      scaleX = scaleY = std::min(scaleX, scaleY);
      break;
    case StyleKitResizingFill:
      scaleX = scaleY = std::max(scaleX, scaleY);
      break;
    case StyleKitResizingCenter:
      scaleX = scaleY = 1.0;
      break;
    case StyleKitResizingStretch:
    default:
      break;
  }
  QRectF result = rect.normalized();
  result.setWidth(result.width() * scaleX);
  result.setHeight(result.height() * scaleY);
  result.moveTo(target.x() + (target.width() - result.width()) / 2,
                target.y() + (target.height() - result.height()) / 2);
  return result;
}

void StyleKit::initialize() {}

void StyleKit::drawBackgroundAbstract() {
  drawBackgroundAbstractWithFrame(QRectF(0, 0, kCanvas, kCanvas), StyleKitResizingFit);
}

void StyleKit::drawBackgroundAbstractWithFrame(QRectF targetFrame, StyleKitResizing resizing) {
  tw::GraphicsContext* context = tw::GraphicsContext::current();
  if (context == nullptr) return;
  context->saveGState();
  QRectF resized = StyleKitResizedRect(QRectF(0, 0, kCanvas, kCanvas), resizing, targetFrame);
  context->translateCTM(resized.x(), resized.y());
  context->scaleCTM(resized.width() / kCanvas, resized.height() / kCanvas);

  std::vector<QColor> colors;
  colors.reserve(tw::background::paletteLevels().size());
  for (double level : tw::background::paletteLevels()) {
    const auto grey = static_cast<float>(level);
    colors.push_back(QColor::fromRgbF(grey, grey, grey, 1.0f));
  }
  std::vector<tw::LinearGradient> gradients;
  gradients.reserve(tw::background::gradients().size());
  for (const auto& entry : tw::background::gradients()) {
    gradients.push_back({colors[entry.startLevel], colors[entry.endLevel]});
  }

  context->saveGState();
  context->setAlpha(0.5);
  context->beginTransparencyLayer();
  for (const auto& shape : tw::background::shapes()) {
    context->saveGState();
    context->beginTransparencyLayer();
    context->clipToPath(polygonPath(shape));
    QPainterPath path = polygonPath(shape);
    context->saveGState();
    context->clipToPath(path);
    context->drawLinearGradient(
        gradients[shape.gradient], QPointF(shape.from.x, shape.from.y),
        QPointF(shape.to.x, shape.to.y),
        tw::kGradientDrawsBeforeStartLocation | tw::kGradientDrawsAfterEndLocation);
    context->restoreGState();
    context->endTransparencyLayer();
    context->restoreGState();
  }
  context->endTransparencyLayer();
  context->restoreGState();
  context->restoreGState();
}

std::shared_ptr<tw::DrawingHandlerImage> StyleKit::imageOfBackgroundAbstract() {
  static const std::shared_ptr<tw::DrawingHandlerImage> image =
      std::make_shared<tw::DrawingHandlerImage>(QSizeF(kCanvas, kCanvas), false, [](const QRectF&) {
        drawBackgroundAbstractWithFrame(QRectF(0, 0, kCanvas, kCanvas), StyleKitResizingFill);
        return true;
      });
  return image;
}
