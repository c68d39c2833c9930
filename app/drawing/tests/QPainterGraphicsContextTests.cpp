// The QPainter graphics context: group compositing, gradient extension, state discipline.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "app/drawing/QPainterGraphicsContext.h"

namespace {

using Orientation = tw::QPainterGraphicsContext::Orientation;

QImage blank(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

QPainterPath rect(double x, double y, double w, double h) {
  QPainterPath p;
  p.addRect(x, y, w, h);
  return p;
}

const tw::LinearGradient kBlack{Qt::black, Qt::black};
constexpr unsigned kExtendBoth = 3;

}  // namespace

TEST(QPainterGraphicsContext, HalfAlphaGroupCompositesOverlapsOnce) {
  QImage image = blank(100, 100);
  {
    QPainter painter(&image);
    tw::QPainterGraphicsContext context(painter, Orientation::YUp, 100);
    context.setAlpha(0.5);
    context.beginTransparencyLayer();
    for (double x : {0.0, 30.0}) {  // two overlapping opaque squares
      context.saveGState();
      context.clipToPath(rect(x, 0, 60, 50));
      context.drawLinearGradient(kBlack, {0, 0}, {1, 1}, kExtendBoth);
      context.restoreGState();
    }
    context.endTransparencyLayer();
  }
  // y up: the squares cover rows 50..99 (y down). Overlap and single cover read the same alpha.
  EXPECT_NEAR(qAlpha(image.pixel(10, 75)), 128, 1);
  EXPECT_NEAR(qAlpha(image.pixel(45, 75)), 128, 1);
  EXPECT_EQ(qAlpha(image.pixel(45, 25)), 0);
  EXPECT_EQ(qAlpha(image.pixel(95, 75)), 0);
}

TEST(QPainterGraphicsContext, GradientExtendsOnlyWhereAskedTo) {
  tw::LinearGradient whiteToBlack{Qt::white, Qt::black};
  for (unsigned options : {0u, 1u, 2u, 3u}) {
    QImage image = blank(100, 10);
    {
      QPainter painter(&image);
      tw::QPainterGraphicsContext context(painter, Orientation::YDown, 10);
      context.drawLinearGradient(whiteToBlack, {25, 0}, {75, 0}, options);
    }
    bool before = qAlpha(image.pixel(5, 5)) == 255, after = qAlpha(image.pixel(95, 5)) == 255;
    EXPECT_EQ(before, (options & 1) != 0) << options;
    EXPECT_EQ(after, (options & 2) != 0) << options;
    EXPECT_EQ(qAlpha(image.pixel(50, 5)), 255);
    if (before) {
      EXPECT_EQ(qRed(image.pixel(5, 5)), 255);
    }
    if (after) {
      EXPECT_EQ(qRed(image.pixel(95, 5)), 0);
    }
  }
}

TEST(QPainterGraphicsContext, RestoreUndoesClipTransformAndAlphaButNotPastALayer) {
  QImage image = blank(100, 100);
  {
    QPainter painter(&image);
    tw::QPainterGraphicsContext context(painter, Orientation::YDown, 100);
    context.saveGState();
    context.translateCTM(50, 0);
    context.setAlpha(0.2);
    context.clipToPath(rect(0, 0, 10, 10));
    context.restoreGState();
    context.beginTransparencyLayer();
    context.restoreGState();  // unmatched inside the layer: ignored
    context.restoreGState();
    context.clipToPath(rect(0, 0, 20, 20));
    context.drawLinearGradient(kBlack, {0, 0}, {1, 0}, kExtendBoth);
    // the layer is left open; the context closes it when it goes
  }
  EXPECT_EQ(qAlpha(image.pixel(10, 10)), 255);  // alpha and transform were restored
  EXPECT_EQ(qAlpha(image.pixel(55, 5)), 0);
  EXPECT_EQ(qAlpha(image.pixel(30, 30)), 0);  // the clip made after the layer still holds
}

TEST(QPainterGraphicsContext, NestedLayersMultiplyTheirAlphas) {
  QImage image = blank(20, 20);
  {
    QPainter painter(&image);
    tw::QPainterGraphicsContext context(painter, Orientation::YUp, 20);
    context.setAlpha(0.5);
    context.beginTransparencyLayer();
    context.setAlpha(0.5);
    context.beginTransparencyLayer();
    context.drawLinearGradient(kBlack, {0, 0}, {1, 0}, kExtendBoth);
    context.endTransparencyLayer();
    context.endTransparencyLayer();
  }
  EXPECT_NEAR(qAlpha(image.pixel(10, 10)), 64, 1);
}
