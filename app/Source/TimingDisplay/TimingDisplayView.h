#pragma once
// TimingDisplayView: the large time readout of the detail pane: one segment per unit from seconds
// up to the largest non-zero unit (a big number over a unit word), with thin gradient separators
// between them. Segments are made and laid out only when the largest unit changes; every other
// update rewrites texts. The texts change at once, but the segments repaint at most once per
// screen frame whatever the tick rate (a millisecond stopwatch ticks up to 1000 times a second),
// and then only the figures that moved (and the unit word when it changed): the pane's gradient
// and the glyphs, drawn as outlines at this size, are costly to paint. Digits use tabular
// figures, so a running value does not jitter and each figure keeps its place.
//
// A QWidget owned by its parent widget; driven by its controller through setTimingValue. Main
// thread only.

#include <QElapsedTimer>
#include <QFont>
#include <QPointer>
#include <QRegion>
#include <QSizeF>
#include <QString>
#include <QTextLayout>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/Source/Library/BTTime.h"

class BTGradientView;
class BTSettingsProvider;
class TimingDisplayView;

namespace tw::app {
// The system font at `pointSize` and `weight` when its digits '0'-'9' share one advance, else
// the system's fixed-pitch font at that size and weight.
QFont tabularDigitFont(double pointSize, QFont::Weight weight);
}  // namespace tw::app

// One segment: a number over a unit word. Painted by itself from its two texts.
class TimingDisplaySegment : public QWidget {
 public:
  explicit TimingDisplaySegment(QWidget* parent = nullptr);

  const QString& valueText() const { return value_; }
  const QString& unitText() const { return unit_; }
  // Stores the texts; true when either changed (the owner then schedules a repaint). What they
  // cover that changed is kept until the owner's next frame.
  bool setTexts(const QString& value, const QString& unit);
  // The part to repaint for the changes since the last call (all of it after setScale or a
  // resize, or with whole repaints on); empty when nothing changed.
  QRegion takeChangedRegion();
  // The segment's own scale (1 = the 100-point number); the owner shrinks all segments alike to
  // fit its width.
  void setScale(double scale);
  // Width the texts need at the current scale.
  double naturalWidth() const;
  // Room the number over its unit word needs at the current scale.
  QSizeF naturalSize() const;
  // Width `value` over `unit` needs at `scale`.
  static double naturalWidthOf(const QString& value, const QString& unit, double scale);
  // Height the number over its unit word needs at scale 1.
  static double naturalBlockHeight();
  int paintCount() const { return paints_; }
  // The region the last paint covered.
  const QRegion& lastPaintedRegion() const { return lastPainted_; }

  // Every change repaints the whole segment, its texts laid out at each paint: the benchmark's
  // baseline of how the display painted before it repainted only what changed. Off by default.
  static void setRepaintsWholeSegments(bool whole);

  static constexpr double kValuePointSize = 100.0;
  static constexpr double kUnitPointSize = 22.0;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QRectF valueRect() const;
  QRectF unitRect() const;
  // Where figure `index` of `text`, right-aligned in the number's row, puts ink.
  QRectF figureRect(const QString& text, qsizetype index) const;
  void prepareTexts();

  QString value_;
  QString unit_;
  QRegion changed_;
  bool changedAll_ = true;
  QRegion lastPainted_;
  // The texts laid out once per change; drawn glyph by glyph where the paint reaches.
  QTextLayout valueLayout_;
  QTextLayout unitLayout_;
  bool valuePrepared_ = false;
  bool unitPrepared_ = false;
  QFont valueFont_;
  QFont unitFont_;
  double scale_ = 1.0;
  int paints_ = 0;
};

class TimingDisplayView : public QWidget {
 public:
  explicit TimingDisplayView(QWidget* parent = nullptr);
  ~TimingDisplayView() override;

  double timingValue() const { return BTTimeToSeconds(&timeValue_); }
  void setTimingValue(double seconds);
  bool displayMilliseconds() const { return displayMilliseconds_; }
  // Takes effect at the next setTimingValue.
  void setDisplayMilliseconds(bool value) { displayMilliseconds_ = value; }

  const BTTime& timeValue() const { return timeValue_; }
  std::uint8_t leadingDisplaySegment() const { return leading_; }
  // Slot n (2 to 5); null when not shown or out of range.
  TimingDisplaySegment* displaySegment(int n) const;
  const std::vector<QPointer<BTGradientView>>& displaySegmentSeparators() const {
    return separators_;
  }

  long integerValueForDisplaySegment(int n) const;
  QString numericValueForDisplaySegment(int n) const;
  // Empty for a slot outside 2 to 5.
  QString unitValueForDisplaySegment(int n) const;

  // Frames painted since creation (a frame repaints every segment whose text changed).
  int frameCount() const { return frames_; }
  // Segment views made since creation.
  int segmentsCreated() const { return created_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  static constexpr double kPadding = 20.0;
  static constexpr double kSpacing = 24.0;
  static constexpr double kVerticalPadding = 10.0;
  static constexpr double kSeparatorPadding = 10.75;
  static constexpr double kSeparatorWidth = 2.5;
  static constexpr int kFrameInterval = 16;  // ms: 60 frames a second

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void updateDisplaySegments();
  void createDisplaySegmentsIfNeeded();
  void recreateTimeDisplaySegmentSeparators();
  void layoutDisplaySegments();
  void scheduleFrame();
  void paintFrame();

  BTTime timeValue_{};
  std::uint8_t leading_ = 0;
  std::array<QPointer<TimingDisplaySegment>, 6> segments_{};
  std::vector<QPointer<BTGradientView>> separators_;
  bool displayMilliseconds_ = false;
  std::weak_ptr<BTSettingsProvider> settingsProvider_;
  std::array<bool, 6> dirty_{};
  QTimer frameTimer_;
  QElapsedTimer lastFrame_;
  int frames_ = 0;
  int created_ = 0;
  int hintWidth_ = 0;
};
