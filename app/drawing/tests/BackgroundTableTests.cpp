// The shape table has the composition the background is made of.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "app/drawing/StyleKitBackgroundTable.h"

namespace bg = tw::background;

namespace {

bool twoDecimals(double v) { return std::abs(v * 100 - std::round(v * 100)) < 1e-6; }

double lightness(const bg::GradientEntry& g, bool end) {
  return bg::paletteLevels()[end ? g.endLevel : g.startLevel];
}

}  // namespace

TEST(BackgroundTable, PolygonsHaveTheirKindsCountsAndBounds) {
  ASSERT_EQ(bg::shapes().size(), 159u);
  std::map<int, int> kinds;
  std::size_t segments = 0, next = 0;
  for (const auto& shape : bg::shapes()) {
    ++kinds[shape.vertexCount];
    segments += shape.vertexCount;  // the closing line counts as one
    EXPECT_EQ(shape.firstVertex, next) << "shapes own consecutive vertices";
    next = shape.firstVertex + shape.vertexCount;
  }
  EXPECT_EQ(next, bg::vertices().size());
  EXPECT_EQ(kinds, (std::map<int, int>{{3, 124}, {4, 34}, {5, 1}}));
  EXPECT_EQ(segments, 513u);
  for (const auto& v : bg::vertices()) {
    EXPECT_TRUE(v.x >= 0 && v.x <= 288 && v.y >= 0 && v.y <= 288) << v.x << "," << v.y;
    EXPECT_TRUE(twoDecimals(v.x) && twoDecimals(v.y));
  }
}

TEST(BackgroundTable, PaletteIsNinetyOneDistinctGreysInOrderOfFirstUse) {
  auto levels = bg::paletteLevels();
  ASSERT_EQ(levels.size(), 91u);
  EXPECT_EQ(std::set<double>(levels.begin(), levels.end()).size(), 91u);
  double darkest = 1;
  for (double l : levels) {
    EXPECT_TRUE(l >= 0.216 && l <= 0.996) << l;
    EXPECT_LT(std::abs(l * 1000 - std::round(l * 1000)), 1e-6);
    darkest = std::min(darkest, l);
  }
  EXPECT_DOUBLE_EQ(darkest, 0.216);
  const double first[] = {0.992, 0.98, 0.976, 0.965, 0.973, 0.996, 0.702, 0.49};
  for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(levels[i], first[i]);
  // Colours are made in the order in which the gradients first use them, and all are used.
  std::size_t introduced = 0;
  for (const auto& g : bg::gradients()) {
    for (auto idx : {g.startLevel, g.endLevel}) {
      ASSERT_LE(idx, introduced) << "a colour used before those made earlier";
      if (idx == introduced) ++introduced;
    }
  }
  EXPECT_EQ(introduced, 91u);
}

TEST(BackgroundTable, GradientsServeShapesInOrderOfFirstUseWithTheirDirections) {
  ASSERT_EQ(bg::gradients().size(), 116u);
  int flatGradients = 0;
  for (const auto& g : bg::gradients()) flatGradients += g.startLevel == g.endLevel;
  EXPECT_EQ(flatGradients, 7);

  std::map<int, int> uses;
  std::size_t introduced = 0;
  int lighterToDarker = 0, darkerToLighter = 0, flat = 0;
  for (const auto& shape : bg::shapes()) {
    ASSERT_LE(shape.gradient, introduced);
    if (shape.gradient == introduced) ++introduced;
    ++uses[shape.gradient];
    const auto& g = bg::gradients()[shape.gradient];
    double from = lightness(g, false), to = lightness(g, true);
    (from > to ? lighterToDarker : from < to ? darkerToLighter : flat)++;
    double angle = std::atan2(shape.to.y - shape.from.y, shape.to.x - shape.from.x) * 180 / M_PI;
    EXPECT_TRUE(angle >= -87.27 && angle <= -8.70) << angle;
  }
  EXPECT_EQ(introduced, 116u);
  for (auto [g, n] : uses) EXPECT_LE(n, 7) << "gradient " << g;
  EXPECT_EQ(lighterToDarker, 78);
  EXPECT_EQ(darkerToLighter, 67);
  EXPECT_EQ(flat, 14);
}

TEST(BackgroundTable, GradientEndPointsSpanTheirStatedRange) {
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
  for (const auto& s : bg::shapes()) {
    for (auto p : {s.from, s.to}) {
      EXPECT_TRUE(twoDecimals(p.x) && twoDecimals(p.y));
      minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
      minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
  }
  EXPECT_DOUBLE_EQ(minX, -73.04);
  EXPECT_DOUBLE_EQ(maxX, 348.69);
  EXPECT_DOUBLE_EQ(minY, -41.27);
  EXPECT_DOUBLE_EQ(maxY, 307.03);
}

TEST(BackgroundTable, FirstThreeShapesAreTheKnownOnes) {
  auto s = bg::shapes();
  auto v = bg::vertices();
  EXPECT_EQ(s[0].vertexCount, 4);
  EXPECT_DOUBLE_EQ(v[0].x, 11.71);
  EXPECT_DOUBLE_EQ(v[3].x, 13.16);
  EXPECT_DOUBLE_EQ(s[0].from.x, -33.71);
  EXPECT_DOUBLE_EQ(s[0].to.y, 286.15);
  EXPECT_DOUBLE_EQ(lightness(bg::gradients()[s[0].gradient], false), 0.992);
  EXPECT_DOUBLE_EQ(lightness(bg::gradients()[s[1].gradient], false), 0.976);
  EXPECT_DOUBLE_EQ(v[s[1].firstVertex + 2].y, 214.05);
  EXPECT_DOUBLE_EQ(lightness(bg::gradients()[s[2].gradient], true), 0.973);
  EXPECT_DOUBLE_EQ(s[2].to.x, 178.43);
}
