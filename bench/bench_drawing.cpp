// Background drawing: StyleKit at 1600 x 1000 through the graphics context (transparency group
// and per-shape layers) beside QPainter filling the same shapes as plain paths with no group;
// and the cached image served again without drawing.
// Target: StyleKit <= 2x the plain fills; a served cached image costs no drawing. States met or
// not for each after the table; exits non-zero when one is not.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

#include "app/drawing/QPainterGraphicsContext.h"
#include "app/drawing/StyleKit.h"
#include "app/drawing/StyleKitBackgroundTable.h"
#include "bench/BenchReporter.h"

namespace {

const QSize kSize(1600, 1000);

QImage blank() {
  QImage image(kSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

void BM_StyleKitBackground(benchmark::State& state) {
  QImage image = blank();
  for (auto _ : state) {
    QPainter painter(&image);
    tw::QPainterGraphicsContext context(painter, tw::QPainterGraphicsContext::Orientation::YUp,
                                        kSize.height());
    tw::GraphicsContext::Scope scope(context);
    StyleKit::drawBackgroundAbstractWithFrame(QRectF(QPointF(0, 0), kSize.toSizeF()),
                                              StyleKitResizingStretch);
  }
  benchmark::DoNotOptimize(image.constBits());
}

// Baseline: the same polygons and gradients, straight onto the image, no transparency group.
void BM_PlainPathFills(benchmark::State& state) {
  QImage image = blank();
  auto levels = tw::background::paletteLevels();
  for (auto _ : state) {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setTransform(QTransform(1, 0, 0, -1, 0, 288) *
                   QTransform::fromScale(kSize.width() / 288.0, kSize.height() / 288.0));
    for (const auto& s : tw::background::shapes()) {
      const auto& g = tw::background::gradients()[s.gradient];
      QLinearGradient lg(QPointF(s.from.x, s.from.y), QPointF(s.to.x, s.to.y));
      const auto a = static_cast<float>(levels[g.startLevel]);
      const auto b = static_cast<float>(levels[g.endLevel]);
      lg.setColorAt(0, QColor::fromRgbF(a, a, a));
      lg.setColorAt(1, QColor::fromRgbF(b, b, b));
      QPainterPath path;
      auto v = tw::background::vertices().subspan(s.firstVertex, s.vertexCount);
      path.moveTo(v[0].x, v[0].y);
      for (std::size_t i = 1; i < v.size(); ++i) path.lineTo(v[i].x, v[i].y);
      path.closeSubpath();
      p.fillPath(path, lg);
    }
  }
  benchmark::DoNotOptimize(image.constBits());
}

void BM_CachedImageServed(benchmark::State& state) {
  auto image = StyleKit::imageOfBackgroundAbstract();
  image->bitmap(QSize(288, 288));
  std::size_t draws = image->drawCount();
  for (auto _ : state) {
    QImage bitmap = StyleKit::imageOfBackgroundAbstract()->bitmap(QSize(288, 288));
    benchmark::DoNotOptimize(bitmap.constBits());
  }
  state.counters["redraws"] = static_cast<double>(image->drawCount() - draws);
}

// For scale: what serving the image would cost if every request drew it anew.
void BM_ImageDrawnEachTime(benchmark::State& state) {
  for (auto _ : state) {
    tw::DrawingHandlerImage image(QSizeF(288, 288), false, [](const QRectF& r) {
      StyleKit::drawBackgroundAbstractWithFrame(r, StyleKitResizingFill);
      return true;
    });
    QImage bitmap = image.bitmap(QSize(288, 288));
    benchmark::DoNotOptimize(bitmap.constBits());
  }
}

}  // namespace

BENCHMARK(BM_PlainPathFills)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StyleKitBackground)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CachedImageServed)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_ImageDrawnEachTime)->Unit(benchmark::kMillisecond);

namespace {

class Reporter : public tw::bench::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n");
    checkRatio("StyleKit background:", "BM_StyleKitBackground", "BM_PlainPathFills", 2,
               "the plain fills");
    const auto served = counters_.find("BM_CachedImageServed");
    if (served != counters_.end() && served->second.count("redraws")) {
      verdicts.check(served->second.at("redraws") == 0,
                     "a served cached image drew %.0f times (target 0)",
                     served->second.at("redraws"));
    } else {
      verdicts.unmeasured("the cached image served without drawing");
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  Reporter reporter;
  return tw::bench::runBenchmarks(argc, argv, reporter);
}
