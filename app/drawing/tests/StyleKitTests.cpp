// StyleKit: resizing rule, the drawing's call structure, rendered pixels and the cached image.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstdlib>

#include "app/drawing/QPainterGraphicsContext.h"
#include "app/drawing/StyleKit.h"
#include "app/drawing/StyleKitBackgroundTable.h"
#include "app/drawing/tests/RecordingGraphicsContext.h"

namespace {

const QRectF kCanvas(0, 0, 288, 288);

// Renders into a transparent image of `size` pixels, y up, one pixel per point.
QImage render(QSize size, QRectF frame, StyleKitResizing mode) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  tw::QPainterGraphicsContext context(painter, tw::QPainterGraphicsContext::Orientation::YUp,
                                      size.height());
  tw::GraphicsContext::Scope scope(context);
  StyleKit::drawBackgroundAbstractWithFrame(frame, mode);
  return image;
}

// Column/row ranges (y down, image pixels) holding any visible pixel.
QRect paintedBox(const QImage& image) {
  int left = image.width(), right = -1, top = image.height(), bottom = -1;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) > 8) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
    }
  }
  return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace

TEST(StyleKitResizedRect, IdentityAndZeroTargetsKeepTheCanvas) {
  for (auto mode : {0, 1, 2, 3, 9}) {
    auto m = static_cast<StyleKitResizing>(mode);
    EXPECT_EQ(StyleKitResizedRect(kCanvas, m, kCanvas), kCanvas);
    EXPECT_EQ(StyleKitResizedRect(kCanvas, m, QRectF()), kCanvas);
  }
}

TEST(StyleKitResizedRect, EachModePlacesTheCanvasInAWideTarget) {
  const QRectF wide(0, 0, 576, 288);
  EXPECT_EQ(StyleKitResizedRect(kCanvas, StyleKitResizingFit, wide), QRectF(144, 0, 288, 288));
  EXPECT_EQ(StyleKitResizedRect(kCanvas, StyleKitResizingFill, wide), QRectF(0, -144, 576, 576));
  EXPECT_EQ(StyleKitResizedRect(kCanvas, StyleKitResizingStretch, wide), QRectF(0, 0, 576, 288));
  EXPECT_EQ(StyleKitResizedRect(kCanvas, StyleKitResizingCenter, wide), QRectF(144, 0, 288, 288));
  EXPECT_EQ(StyleKitResizedRect(kCanvas, static_cast<StyleKitResizing>(7), wide),
            QRectF(0, 0, 576, 288));
  EXPECT_EQ(StyleKitResizedRect(kCanvas, static_cast<StyleKitResizing>(-1), wide),
            QRectF(0, 0, 576, 288));
}

TEST(StyleKitResizedRect, NegativeTargetWidthGivesAPositiveSize) {
  QRectF r = StyleKitResizedRect(kCanvas, StyleKitResizingStretch, QRectF(100, 0, -576, 288));
  EXPECT_DOUBLE_EQ(r.width(), 576);
  EXPECT_DOUBLE_EQ(r.height(), 288);
  EXPECT_DOUBLE_EQ(r.x(), 100 + (-576 - 576) / 2.0);
}

TEST(StyleKitDrawing, PairsEverySaveAndClosesEveryLayer) {
  tw::test::RecordingGraphicsContext recorder;
  {
    tw::GraphicsContext::Scope scope(recorder);
    StyleKit::initialize();  // does nothing: no call reaches the context
    EXPECT_EQ(recorder.saves + recorder.clipCount, 0);
    StyleKit::drawBackgroundAbstract();
  }
  EXPECT_TRUE(recorder.balanced()) << (recorder.errors.empty() ? "" : recorder.errors.front());
  EXPECT_EQ(recorder.saves, 320);
  EXPECT_EQ(recorder.restores, 320);
  EXPECT_EQ(recorder.layersBegun, 160);
  EXPECT_EQ(recorder.layersEnded, 160);
  EXPECT_EQ(recorder.maxLayerDepth, 2);
  EXPECT_EQ(recorder.alphasSet, std::vector<double>{0.5});
  EXPECT_EQ(recorder.clipCount, 2 * 159);
  ASSERT_EQ(recorder.fills.size(), 159u);
  const auto& first = recorder.fills.front();
  EXPECT_EQ(first.options, 3u);
  EXPECT_EQ(first.layerDepth, 2);
  EXPECT_EQ(first.clips.size(), 2u);
  EXPECT_EQ(first.clips[0], first.clips[1]);
  EXPECT_EQ(first.gradient.startColor, QColor::fromRgbF(0.992, 0.992, 0.992));
  EXPECT_EQ(first.start, QPointF(-33.71, 299.5));
}

TEST(StyleKitDrawing, TransformFollowsTheResizedFrame) {
  tw::test::RecordingGraphicsContext recorder;
  tw::GraphicsContext::Scope scope(recorder);
  StyleKit::drawBackgroundAbstractWithFrame(QRectF(0, 0, 576, 288), StyleKitResizingFill);
  ASSERT_FALSE(recorder.fills.empty());
  QTransform ctm = recorder.fills.front().ctm;
  EXPECT_EQ(ctm.map(QPointF(0, 0)), QPointF(0, -144));
  EXPECT_EQ(ctm.map(QPointF(288, 288)), QPointF(576, 432));
}

TEST(StyleKitDrawing, WithoutACurrentContextDrawsNothing) {
  ASSERT_EQ(tw::GraphicsContext::current(), nullptr);
  StyleKit::drawBackgroundAbstract();  // must simply return
  tw::test::RecordingGraphicsContext recorder;
  {
    tw::GraphicsContext::Scope scope(recorder);
    EXPECT_EQ(tw::GraphicsContext::current(), &recorder);
  }
  EXPECT_EQ(tw::GraphicsContext::current(), nullptr);
}

TEST(StyleKitPixels, GreyMosaicAtHalfOpacityCoversTheCanvas) {
  QImage image = render(QSize(288, 288), kCanvas, StyleKitResizingFit);
  if (const char* dir = std::getenv("TW_DRAWING_PNG_DIR")) {
    image.save(QString("%1/background.png").arg(dir));
    render(QSize(800, 500), QRectF(0, 0, 800, 500), StyleKitResizingFill)
        .save(QString("%1/background_fill_800x500.png").arg(dir));
  }
  int maxAlpha = 0, holes = 0;
  double alphaSum = 0;
  for (int y = 0; y < 288; ++y) {
    for (int x = 0; x < 288; ++x) {
      QRgb p = image.pixel(x, y);
      ASSERT_LE(std::abs(qRed(p) - qGreen(p)) + std::abs(qGreen(p) - qBlue(p)), 2)
          << "not grey at " << x << "," << y;
      maxAlpha = std::max(maxAlpha, qAlpha(p));
      holes += qAlpha(p) < 64;
      alphaSum += qAlpha(p);
    }
  }
  EXPECT_LE(maxAlpha, 128);  // the group is composited at 0.5
  EXPECT_EQ(holes, 0);       // the mosaic covers the canvas
  // Only the antialiased seams between polygons let a little through.
  EXPECT_GE(alphaSum / (288 * 288), 122);
}

TEST(StyleKitPixels, YUpPlacementAndModeBoxes) {
  // The canvas frame is at the bottom of a taller y-up area.
  EXPECT_EQ(paintedBox(render(QSize(288, 576), kCanvas, StyleKitResizingFit)),
            QRect(0, 288, 288, 288));
  const QRectF wide(0, 0, 576, 288);
  EXPECT_EQ(paintedBox(render(QSize(576, 288), wide, StyleKitResizingFit)),
            QRect(144, 0, 288, 288));
  EXPECT_EQ(paintedBox(render(QSize(576, 288), wide, StyleKitResizingFill)), QRect(0, 0, 576, 288));
  EXPECT_EQ(paintedBox(render(QSize(576, 288), wide, StyleKitResizingStretch)),
            QRect(0, 0, 576, 288));
  EXPECT_EQ(paintedBox(render(QSize(576, 288), wide, StyleKitResizingCenter)),
            QRect(144, 0, 288, 288));
  // A frame in the top-right quarter of a y-up area lands in the image's top-right quarter.
  EXPECT_EQ(paintedBox(render(QSize(576, 576), QRectF(288, 288, 288, 288), StyleKitResizingFit)),
            QRect(288, 0, 288, 288));
}

TEST(StyleKitPixels, MatchesPlainPathFillsCompositedOnce) {
  // The reference: each polygon filled with its padded gradient into one layer, which is then
  // drawn at half opacity; what the transparency layers must amount to.
  QImage layer(288, 288, QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  {
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setTransform(QTransform(1, 0, 0, -1, 0, 288));
    auto levels = tw::background::paletteLevels();
    for (const auto& s : tw::background::shapes()) {
      const auto& g = tw::background::gradients()[s.gradient];
      QLinearGradient lg(QPointF(s.from.x, s.from.y), QPointF(s.to.x, s.to.y));
      const auto a = static_cast<float>(levels[g.startLevel]);
      const auto b = static_cast<float>(levels[g.endLevel]);
      lg.setColorAt(0, QColor::fromRgbF(a, a, a));
      lg.setColorAt(1, QColor::fromRgbF(b, b, b));
      QPolygonF poly;
      for (const auto& v : tw::background::vertices().subspan(s.firstVertex, s.vertexCount)) {
        poly << QPointF(v.x, v.y);
      }
      QPainterPath path;
      path.addPolygon(poly);
      path.closeSubpath();
      p.fillPath(path, lg);
    }
  }
  QImage expected(288, 288, QImage::Format_ARGB32_Premultiplied);
  expected.fill(Qt::transparent);
  {
    QPainter p(&expected);
    p.setOpacity(0.5);
    p.drawImage(0, 0, layer);
  }
  QImage actual = render(QSize(288, 288), kCanvas, StyleKitResizingFit);
  int worst = 0;
  for (int y = 0; y < 288; ++y) {
    for (int x = 0; x < 288; ++x) {
      QRgb e = expected.pixel(x, y), a = actual.pixel(x, y);
      worst = std::max({worst, std::abs(qRed(e) - qRed(a)), std::abs(qAlpha(e) - qAlpha(a))});
    }
  }
  EXPECT_LE(worst, 2);
}

TEST(StyleKitImage, CachedImageIsOneObjectRedrawnOnlyForANewSize) {
  auto image = StyleKit::imageOfBackgroundAbstract();
  EXPECT_EQ(StyleKit::imageOfBackgroundAbstract(), image);
  EXPECT_EQ(image->size(), QSizeF(288, 288));
  EXPECT_FALSE(image->isFlipped());
  std::size_t before = image->drawCount();
  QImage a = image->bitmap(QSize(288, 288));
  QImage b = image->bitmap(QSize(288, 288));
  EXPECT_EQ(image->drawCount(), before + (before == 0 ? 1 : 0));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.cacheKey(), b.cacheKey());
  QImage big = image->bitmap(QSize(576, 576));
  EXPECT_EQ(image->drawCount(), before + (before == 0 ? 2 : 1));
  EXPECT_EQ(big.size(), QSize(576, 576));
  // The image draws in fill mode over its own bounds: fully covered, at half opacity.
  EXPECT_EQ(paintedBox(big), QRect(0, 0, 576, 576));
  EXPECT_LE(qAlpha(big.pixel(300, 300)), 128);
}
