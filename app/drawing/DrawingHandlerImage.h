#pragma once
// tw::DrawingHandlerImage: an image whose content comes from a drawing handler, run when the
// image is first rendered at a given pixel size. The last bitmap is kept and served again for
// the same pixel size; another size runs the handler anew. The handler draws into
// GraphicsContext::current() within the rectangle it is given (the image's own bounds), y up
// unless the image is flipped, and reports success; a failed drawing renders transparent.
//
// Shared (std::shared_ptr) by whoever holds it; rendering is serialised by a lock, so any thread
// may render, but the handler runs on the rendering thread.

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <cstddef>
#include <functional>
#include <mutex>

namespace tw {

class DrawingHandlerImage {
 public:
  using Handler = std::function<bool(const QRectF& destination)>;

  DrawingHandlerImage(QSizeF size, bool flipped, Handler handler);

  QSizeF size() const { return size_; }
  bool isFlipped() const { return flipped_; }

  // The image rendered into `pixelSize` pixels (the image's size scaled to fit them exactly).
  QImage bitmap(QSize pixelSize) const;
  // How many times the handler has run.
  std::size_t drawCount() const;

 private:
  QSizeF size_;
  bool flipped_;
  Handler handler_;
  mutable std::mutex mutex_;
  mutable QImage cached_;
  mutable std::size_t drawCount_ = 0;
};

}  // namespace tw
