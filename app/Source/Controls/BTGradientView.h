#pragma once
// BTGradientView: a view painted with a linear gradient whose colours, stops and direction can
// change, animated over half a second on the ease-in-ease-out curve or at once. The gradient
// layer's values (colours, locations, start and end points in the view's unit square, y down as
// Qt draws) are the target values; what a paint shows mid-animation is the presented layer.
//
// Directions 0 to 7 pick the start and end points from a fixed table; any other direction is
// stored but leaves the points as they are.
//
// A QWidget owned by its parent widget. Main thread only.

#include <QColor>
#include <QPointF>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class BTGradientView : public QWidget {
  Q_OBJECT

 public:
  using Colors = std::optional<std::vector<QColor>>;
  using Locations = std::optional<std::vector<double>>;

  struct GradientLayer {
    Colors colors;
    Locations locations;
    QPointF startPoint{0.5, 0.0};
    QPointF endPoint{0.5, 1.0};
  };

  explicit BTGradientView(QWidget* parent = nullptr);
  ~BTGradientView() override;

  const Colors& colors() const { return colors_; }
  void setColors(Colors colors) { setColors(std::move(colors), false); }
  void setColors(Colors colors, bool animated);
  const Locations& locations() const { return locations_; }
  void setLocations(Locations locations) { setLocations(std::move(locations), false); }
  void setLocations(Locations locations, bool animated);
  std::int64_t direction() const { return direction_; }
  void setDirection(std::int64_t direction) { setDirection(direction, false); }
  void setDirection(std::int64_t direction, bool animated);

  const GradientLayer& gradientLayer() const { return layer_; }
  const GradientLayer& presentedLayer() const { return presented_; }
  bool isAnimating() const;

  // Fills the points for the current direction; for a direction outside 0..7 leaves them as
  // they were passed in and returns false.
  bool getGradientStart(QPointF& start, QPointF& end) const;

  // Runs `block` (which changes the gradient layer's values), animated or at once.
  void setGradientLayerValue(const std::function<void()>& block, bool animated);

  static constexpr double kAnimationDuration = 0.5;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void initializeGradientView();

  Colors colors_;
  Locations locations_;
  std::int64_t direction_ = 0;
  GradientLayer layer_;
  GradientLayer presented_;
  QPointer<QVariantAnimation> animation_;
};
