#include "app/Source/Controls/BTGradientView.h"

#include <QLinearGradient>
#include <QPainter>

#include "app/Source/Controls/ControlAnimation.h"

namespace {

// Start and end points of directions 0..7 in the unit square, y pointing down: 0 runs from the
// bottom edge to the top, 2 from left to right, 4 from the bottom left to the top right, ...
constexpr QPointF kDirections[8][2] = {
    {{0.5, 1.0}, {0.5, 0.0}}, {{0.5, 0.0}, {0.5, 1.0}}, {{0.0, 0.5}, {1.0, 0.5}},
    {{1.0, 0.5}, {0.0, 0.5}}, {{0.0, 1.0}, {1.0, 0.0}}, {{1.0, 1.0}, {0.0, 0.0}},
    {{0.0, 0.0}, {1.0, 1.0}}, {{1.0, 0.0}, {0.0, 1.0}},
};

template <class T>
std::optional<std::vector<T>> mixList(const std::optional<std::vector<T>>& from,
                                      const std::optional<std::vector<T>>& to, double t) {
  // Lists of different lengths cannot blend; they switch at the end.
  if (!from || !to || from->size() != to->size()) return t >= 1.0 ? to : from;
  std::vector<T> out;
  for (std::size_t i = 0; i < to->size(); ++i) {
    if constexpr (std::is_same_v<T, QColor>) {
      out.push_back(tw::controls::mix((*from)[i], (*to)[i], t));
    } else {
      out.push_back((*from)[i] + ((*to)[i] - (*from)[i]) * t);
    }
  }
  return out;
}

}  // namespace

BTGradientView::BTGradientView(QWidget* parent) : QWidget(parent) { initializeGradientView(); }

BTGradientView::~BTGradientView() {
  if (animation_) animation_->stop();
}

void BTGradientView::initializeGradientView() {
  setAttribute(Qt::WA_TranslucentBackground, false);
  setAutoFillBackground(false);
  setColors(std::nullopt);
  setLocations(std::nullopt);
  setDirection(0);
}

bool BTGradientView::isAnimating() const {
  return animation_ && animation_->state() == QAbstractAnimation::Running;
}

void BTGradientView::setColors(Colors colors, bool animated) {
  colors_ = std::move(colors);
  QPointer<BTGradientView> self(this);
  setGradientLayerValue(
      [self] {
        if (self) self->layer_.colors = self->colors_;
      },
      animated);
}

void BTGradientView::setLocations(Locations locations, bool animated) {
  locations_ = std::move(locations);
  QPointer<BTGradientView> self(this);
  setGradientLayerValue(
      [self] {
        if (self) self->layer_.locations = self->locations_;
      },
      animated);
}

void BTGradientView::setDirection(std::int64_t direction, bool animated) {
  direction_ = direction;
  // Out of range the points stay as they are (they are never left undefined).
  QPointF start = layer_.startPoint, end = layer_.endPoint;
  getGradientStart(start, end);
  QPointer<BTGradientView> self(this);
  setGradientLayerValue(
      [self, start, end] {
        if (!self) return;
        self->layer_.startPoint = start;
        self->layer_.endPoint = end;
      },
      animated);
}

bool BTGradientView::getGradientStart(QPointF& start, QPointF& end) const {
  if (direction_ < 0 || direction_ > 7) return false;
  start = kDirections[direction_][0];
  end = kDirections[direction_][1];
  return true;
}

void BTGradientView::setGradientLayerValue(const std::function<void()>& block, bool animated) {
  GradientLayer from = presented_;
  if (block) block();
  if (animation_) animation_->stop();
  if (!animated) {
    presented_ = layer_;
    update();
    return;
  }
  QPointer<BTGradientView> self(this);
  GradientLayer to = layer_;
  animation_ = tw::controls::animate(this, kAnimationDuration, [self, from, to](double t) {
    if (!self) return;
    GradientLayer& p = self->presented_;
    p.colors = mixList(from.colors, to.colors, t);
    p.locations = mixList(from.locations, to.locations, t);
    p.startPoint = tw::controls::mix(from.startPoint, to.startPoint, t);
    p.endPoint = tw::controls::mix(from.endPoint, to.endPoint, t);
    self->update();
  });
}

void BTGradientView::paintEvent(QPaintEvent*) {
  const auto& colors = presented_.colors;
  if (!colors || colors->empty()) return;
  QPainter painter(this);
  if (colors->size() == 1) {
    painter.fillRect(rect(), colors->front());
    return;
  }
  QPointF scale(width(), height());
  QLinearGradient gradient(
      QPointF(presented_.startPoint.x() * scale.x(), presented_.startPoint.y() * scale.y()),
      QPointF(presented_.endPoint.x() * scale.x(), presented_.endPoint.y() * scale.y()));
  const auto& locations = presented_.locations;
  bool useLocations = locations && locations->size() == colors->size();
  for (std::size_t i = 0; i < colors->size(); ++i) {
    double at = useLocations ? std::clamp((*locations)[i], 0.0, 1.0)
                             : static_cast<double>(i) / static_cast<double>(colors->size() - 1);
    gradient.setColorAt(at, (*colors)[i]);
  }
  painter.fillRect(rect(), gradient);
}
