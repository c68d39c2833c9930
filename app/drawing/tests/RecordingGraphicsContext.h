#pragma once
// A GraphicsContext that draws nothing and records what drawing code asked of it, checking that
// every save has its restore and every transparency layer is closed in the nesting it opened.
// Test-only; one thread.

#include <QPainterPath>
#include <QTransform>
#include <string>
#include <vector>

#include "app/drawing/GraphicsContext.h"

namespace tw::test {

class RecordingGraphicsContext final : public GraphicsContext {
 public:
  struct Fill {
    LinearGradient gradient;
    QPointF start, end;
    unsigned options;
    double alpha;
    QTransform ctm;
    std::vector<QPainterPath> clips;  // user-space clips in force, as given
    int layerDepth;
  };

  void saveGState() override {
    ++saves;
    stack_.push_back({ctm_, alpha_, clips_, static_cast<int>(layers_.size())});
  }
  void restoreGState() override {
    ++restores;
    if (stack_.empty() || stack_.back().layers != static_cast<int>(layers_.size())) {
      errors.push_back("restore without a save in the same layer");
      return;
    }
    ctm_ = stack_.back().ctm;
    alpha_ = stack_.back().alpha;
    clips_ = stack_.back().clips;
    stack_.pop_back();
  }
  void translateCTM(double tx, double ty) override {
    ctm_ = QTransform::fromTranslate(tx, ty) * ctm_;
  }
  void scaleCTM(double sx, double sy) override { ctm_ = QTransform::fromScale(sx, sy) * ctm_; }
  void setAlpha(double alpha) override {
    alpha_ = alpha;
    alphasSet.push_back(alpha);
  }
  void clipToPath(const QPainterPath& path) override {
    ++clipCount;
    clips_.push_back(ctm_.map(path));
  }
  void drawLinearGradient(const LinearGradient& gradient, QPointF start, QPointF end,
                          unsigned options) override {
    fills.push_back(
        {gradient, start, end, options, alpha_, ctm_, clips_, static_cast<int>(layers_.size())});
  }
  void beginTransparencyLayer() override {
    ++layersBegun;
    layers_.push_back(static_cast<int>(stack_.size()));
    maxLayerDepth = std::max(maxLayerDepth, static_cast<int>(layers_.size()));
  }
  void endTransparencyLayer() override {
    ++layersEnded;
    if (layers_.empty() || layers_.back() != static_cast<int>(stack_.size())) {
      errors.push_back("layer ended at another save depth than it began, or never begun");
      return;
    }
    layers_.pop_back();
  }

  // True when everything opened was closed and nothing went wrong.
  bool balanced() const { return errors.empty() && stack_.empty() && layers_.empty(); }

  int saves = 0, restores = 0, layersBegun = 0, layersEnded = 0, clipCount = 0;
  int maxLayerDepth = 0;
  std::vector<double> alphasSet;
  std::vector<Fill> fills;
  std::vector<std::string> errors;

 private:
  struct Saved {
    QTransform ctm;
    double alpha;
    std::vector<QPainterPath> clips;
    int layers;
  };
  QTransform ctm_;
  double alpha_ = 1.0;
  std::vector<QPainterPath> clips_;
  std::vector<Saved> stack_;
  std::vector<int> layers_;
};

}  // namespace tw::test
