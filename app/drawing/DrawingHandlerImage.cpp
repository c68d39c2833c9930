#include "app/drawing/DrawingHandlerImage.h"

#include <QPainter>

#include "app/drawing/QPainterGraphicsContext.h"

namespace tw {

DrawingHandlerImage::DrawingHandlerImage(QSizeF size, bool flipped, Handler handler)
    : size_(size), flipped_(flipped), handler_(std::move(handler)) {}

QImage DrawingHandlerImage::bitmap(QSize pixelSize) const {
  std::lock_guard lock(mutex_);
  if (!cached_.isNull() && cached_.size() == pixelSize) return cached_;
  QImage image(pixelSize.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  if (handler_ && !size_.isEmpty()) {
    QImage drawn = image;
    bool ok = false;
    {
      QPainter painter(&drawn);
      painter.scale(pixelSize.width() / size_.width(), pixelSize.height() / size_.height());
      QPainterGraphicsContext context(painter,
                                      flipped_ ? QPainterGraphicsContext::Orientation::YDown
                                               : QPainterGraphicsContext::Orientation::YUp,
                                      size_.height());
      GraphicsContext::Scope scope(context);
      ok = handler_(QRectF(QPointF(0, 0), size_));
    }
    ++drawCount_;
    if (ok) image = drawn;
  }
  cached_ = image;
  return image;
}

std::size_t DrawingHandlerImage::drawCount() const {
  std::lock_guard lock(mutex_);
  return drawCount_;
}

}  // namespace tw
