#include "app/Source/TimingDisplay/TimingDisplayView.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <map>

#include "app/Source/Controls/BTGradientView.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "platform/inject/Injection.h"
#include "platform/ui/NamedResources.h"

namespace tw::app {

namespace {
// Remembered per font (family, size, weight, style): every segment of every display asks about
// the same few, and measuring the digits loads a font engine each time. Main thread, as fonts.
bool hasTabularDigits(const QFont& font) {
  static std::map<QString, bool> known;
  const QString key = font.key();
  if (auto it = known.find(key); it != known.end()) return it->second;
  const QFontMetricsF metrics(font);
  const double zero = metrics.horizontalAdvance(QChar('0'));
  bool tabular = true;
  for (char c = '1'; c <= '9' && tabular; ++c)
    tabular = std::abs(metrics.horizontalAdvance(QChar(c)) - zero) <= 0.01;
  known.emplace(key, tabular);
  return tabular;
}
}  // namespace

QFont tabularDigitFont(double pointSize, QFont::Weight weight) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSizeF(pointSize);
  font.setWeight(weight);
  if (hasTabularDigits(font)) return font;
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPointSizeF(pointSize);
  fixed.setWeight(weight);
  return fixed;
}

}  // namespace tw::app

namespace {
QColor tertiaryLabelColor() {
  return tw::ui::colorNamed("TertiaryLabel").value_or(QColor(255, 255, 255, 66));
}
}  // namespace

// ----- TimingDisplaySegment

namespace {
bool g_wholeSegments = false;

// Glyph ink can reach a little past a figure's advance, and antialiasing a pixel further.
constexpr double kInkMargin = 2.0;

// The layout of one line of `text` in `font` on `device`, as QPainter::drawText makes it.
void layOut(QTextLayout& layout, const QString& text, const QFont& font, QPaintDevice* device) {
  layout.clearLayout();
  layout.setText(text);
  layout.setFont(QFont(font, device));
  QTextOption option;
  option.setWrapMode(QTextOption::ManualWrap);
  option.setFlags(QTextOption::IncludeTrailingSpaces);
  layout.setTextOption(option);
  layout.setCacheEnabled(true);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  if (line.isValid()) {
    line.setLineWidth(1e6);
    line.setPosition(QPointF(0, 0));
  }
  layout.endLayout();
}

// Draws the laid-out line right-aligned in `rect` (vertically centred when asked), clipped to
// `rect` as drawText clips, and only the glyphs whose ink meets `exposed`.
void drawRightAligned(QPainter& painter, const QTextLayout& layout, const QRectF& rect,
                      bool centred, const QRegion& exposed) {
  if (layout.lineCount() == 0) return;
  const QTextLine line = layout.lineAt(0);
  const double xoff = rect.width() - line.horizontalAdvance();
  const double yoff = centred ? (rect.height() - (line.ascent() + line.descent())) / 2 : 0;
  const QPointF origin(rect.x() + xoff, rect.y() + yoff);
  painter.save();
  painter.setClipRect(rect, Qt::IntersectClip);
  for (QGlyphRun run : layout.glyphRuns()) {
    const QRawFont font = run.rawFont();
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> positions = run.positions();
    QList<quint32> shownGlyphs;
    QList<QPointF> shownPositions;
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
      const QRectF ink = font.boundingRect(glyphs[i])
                             .translated(origin + positions[i])
                             .adjusted(-kInkMargin, -kInkMargin, kInkMargin, kInkMargin);
      if (!exposed.intersects(ink.toAlignedRect())) continue;
      shownGlyphs.push_back(glyphs[i]);
      shownPositions.push_back(positions[i]);
    }
    if (shownGlyphs.isEmpty()) continue;
    run.setGlyphIndexes(shownGlyphs);
    run.setPositions(shownPositions);
    painter.drawGlyphRun(origin, run);
  }
  painter.restore();
}
}  // namespace

void TimingDisplaySegment::setRepaintsWholeSegments(bool whole) { g_wholeSegments = whole; }

TimingDisplaySegment::TimingDisplaySegment(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  setScale(1.0);
}

bool TimingDisplaySegment::setTexts(const QString& value, const QString& unit) {
  if (value == value_ && unit == unit_) return false;
  if (!changedAll_) {
    if (value.size() != value_.size()) {
      changedAll_ = true;  // the figures move: a longer number starts further left
    } else {
      for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == value_[i]) continue;
        // Both figures' ink: the old one is painted over, the new one painted.
        changed_ += figureRect(value_, i).toAlignedRect();
        changed_ += figureRect(value, i).toAlignedRect();
      }
      if (unit != unit_) {
        const QFontMetricsF metrics(unitFont_);
        const double widest =
            std::max(metrics.horizontalAdvance(unit), metrics.horizontalAdvance(unit_));
        const QRectF row = unitRect();
        changed_ += QRectF(row.right() - widest, row.top(), widest, row.height())
                        .adjusted(-kInkMargin, -kInkMargin, kInkMargin, kInkMargin)
                        .toAlignedRect();
      }
    }
  }
  valuePrepared_ = valuePrepared_ && value == value_;
  unitPrepared_ = unitPrepared_ && unit == unit_;
  value_ = value;
  unit_ = unit;
  return true;
}

QRegion TimingDisplaySegment::takeChangedRegion() {
  QRegion region = changedAll_ || g_wholeSegments ? QRegion(rect()) : changed_ & rect();
  changed_ = QRegion();
  changedAll_ = false;
  return region;
}

void TimingDisplaySegment::setScale(double scale) {
  scale_ = scale;
  valueFont_ = tw::app::tabularDigitFont(kValuePointSize * scale, QFont::Thin);
  unitFont_ = tw::app::tabularDigitFont(kUnitPointSize * scale, QFont::Thin);
  changedAll_ = true;
  valuePrepared_ = unitPrepared_ = false;
}

double TimingDisplaySegment::naturalWidth() const {
  return std::max(QFontMetricsF(valueFont_).horizontalAdvance(value_),
                  QFontMetricsF(unitFont_).horizontalAdvance(unit_));
}

QSizeF TimingDisplaySegment::naturalSize() const {
  return QSizeF(naturalWidth(),
                QFontMetricsF(valueFont_).height() + QFontMetricsF(unitFont_).height());
}

double TimingDisplaySegment::naturalWidthOf(const QString& value, const QString& unit,
                                            double scale) {
  static const QFont valueFont = tw::app::tabularDigitFont(kValuePointSize, QFont::Thin);
  static const QFont unitFont = tw::app::tabularDigitFont(kUnitPointSize, QFont::Thin);
  return scale * std::max(QFontMetricsF(valueFont).horizontalAdvance(value),
                          QFontMetricsF(unitFont).horizontalAdvance(unit));
}

// Number and unit word stand together, centred in the height; the number's full ascent is kept
// so tall numerals are never clipped.
QRectF TimingDisplaySegment::valueRect() const {
  const QFontMetricsF valueMetrics(valueFont_);
  const double block = valueMetrics.height() + QFontMetricsF(unitFont_).height();
  const double top = std::max(0.0, (height() - block) / 2);
  return QRectF(0, top, width(), valueMetrics.height());
}

QRectF TimingDisplaySegment::unitRect() const {
  const QRectF value = valueRect();
  return QRectF(0, value.bottom(), width(), QFontMetricsF(unitFont_).height());
}

QRectF TimingDisplaySegment::figureRect(const QString& text, qsizetype index) const {
  const QFontMetricsF metrics(valueFont_);
  const QRectF row = valueRect();
  const double start = row.right() - metrics.horizontalAdvance(text);
  const double left = start + metrics.horizontalAdvance(text.left(index));
  const double right = start + metrics.horizontalAdvance(text.left(index + 1));
  const QRectF ink = metrics.boundingRect(text[index]);
  const double inkLeft = std::min(left, left + ink.left());
  const double inkRight = std::max(right, left + ink.right());
  return QRectF(inkLeft, row.top(), inkRight - inkLeft, row.height())
      .adjusted(-kInkMargin, -kInkMargin, kInkMargin, kInkMargin);
}

void TimingDisplaySegment::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  changedAll_ = true;
}

void TimingDisplaySegment::prepareTexts() {
  if (!valuePrepared_) layOut(valueLayout_, value_, valueFont_, this);
  if (!unitPrepared_) layOut(unitLayout_, unit_, unitFont_, this);
  valuePrepared_ = unitPrepared_ = true;
}

void TimingDisplaySegment::paintEvent(QPaintEvent* event) {
  ++paints_;
  lastPainted_ = event->region();
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  if (g_wholeSegments) {
    painter.setFont(valueFont_);
    painter.setPen(QColor(255, 255, 255));
    painter.drawText(valueRect(), Qt::AlignRight | Qt::AlignVCenter, value_);
    painter.setFont(unitFont_);
    painter.setPen(QColor(255, 255, 255, 170));
    painter.drawText(unitRect(), Qt::AlignRight | Qt::AlignTop, unit_);
    return;
  }
  prepareTexts();
  painter.setPen(QColor(255, 255, 255));
  drawRightAligned(painter, valueLayout_, valueRect(), true, event->region());
  painter.setPen(QColor(255, 255, 255, 170));
  drawRightAligned(painter, unitLayout_, unitRect(), false, event->region());
}

double TimingDisplaySegment::naturalBlockHeight() {
  static const double block =
      QFontMetricsF(tw::app::tabularDigitFont(kValuePointSize, QFont::Thin)).height() +
      QFontMetricsF(tw::app::tabularDigitFont(kUnitPointSize, QFont::Thin)).height();
  return block;
}

// ----- TimingDisplayView

TimingDisplayView::TimingDisplayView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  settingsProvider_ = tw::defaultComponentForType<BTSettingsProvider>();
  frameTimer_.setSingleShot(true);
  frameTimer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&frameTimer_, &QTimer::timeout, this, [this] { paintFrame(); });
}

TimingDisplayView::~TimingDisplayView() = default;

TimingDisplaySegment* TimingDisplayView::displaySegment(int n) const {
  if (n < 2 || n > 5) return nullptr;
  return segments_[n];
}

void TimingDisplayView::setTimingValue(double seconds) {
  BTTimeUpdateWithSeconds(&timeValue_, seconds);
  updateDisplaySegments();
}

long TimingDisplayView::integerValueForDisplaySegment(int n) const {
  switch (n) {
    case 1:
      return timeValue_.millisecond;
    case 2:
      return timeValue_.second;
    case 3:
      return timeValue_.minute;
    case 4:
      return timeValue_.hour;
    case 5:
      return timeValue_.day;
    default:
      return 0;
  }
}

QString TimingDisplayView::numericValueForDisplaySegment(int n) const {
  const long v = integerValueForDisplaySegment(n);
  QString text = n == leading_ ? QString::number(v) : QString::asprintf("%02ld", v);
  if (n == 2 && displayMilliseconds_) {
    const long m = timeValue_.millisecond;
    std::int64_t accuracy = 0;
    if (auto settings = settingsProvider_.lock())
      if (auto bundle = settings->timeObjectsBundle()) accuracy = bundle->stopwatchAccuracy();
    if (accuracy == 1)
      text += QString::asprintf(".%02ld", m / 10);
    else if (accuracy == 2)
      text += QString::asprintf(".%03ld", m);
    else
      text += QString::asprintf(".%01ld", m / 100);
  }
  return text;
}

QString TimingDisplayView::unitValueForDisplaySegment(int n) const {
  static const char* const units[] = {"SECOND", "MINUTE", "HOUR", "DAY"};
  if (n < 2 || n > 5) return {};
  QString unit = units[n - 2];
  // Singular only when the number shown is exactly one: "1.59" seconds are plural, "1.0" is one.
  bool one = integerValueForDisplaySegment(n) == 1;
  if (one && n == 2 && displayMilliseconds_) {
    const QString shown = numericValueForDisplaySegment(n);
    const auto point = shown.indexOf('.');
    one = point < 0 || shown.mid(point + 1).count('0') == shown.size() - point - 1;
  }
  if (!one) unit += 'S';
  return unit;
}

void TimingDisplayView::updateDisplaySegments() {
  createDisplaySegmentsIfNeeded();
  bool changed = false;
  bool resized = hintWidth_ < 0;
  for (int n = 2; n <= leading_; ++n) {
    TimingDisplaySegment* segment = segments_[n];
    const qsizetype figures = segment->valueText().size();
    const QString unit = segment->unitText();
    if (segment->setTexts(numericValueForDisplaySegment(n), unitValueForDisplaySegment(n))) {
      dirty_[n] = true;
      changed = true;
      resized = resized || segment->valueText().size() != figures || segment->unitText() != unit;
    }
  }
  if (!changed) return;
  // A change of the number of figures (9 to 10 hours) changes the widths: lay out again. The
  // ordinary tick keeps every width, as the figures are tabular: it is not even measured.
  if (!resized) return scheduleFrame();
  double natural = 0;
  for (int n = 2; n <= leading_; ++n)
    natural += TimingDisplaySegment::naturalWidthOf(segments_[n]->valueText(),
                                                    segments_[n]->unitText(), 1.0);
  if (std::lround(natural) != hintWidth_) {
    hintWidth_ = static_cast<int>(std::lround(natural));
    layoutDisplaySegments();
    updateGeometry();
  }
  scheduleFrame();
}

void TimingDisplayView::createDisplaySegmentsIfNeeded() {
  const std::uint8_t leading = timeValue_.day != 0      ? 5
                               : timeValue_.hour != 0   ? 4
                               : timeValue_.minute != 0 ? 3
                                                        : 2;
  if (leading == leading_) return;
  leading_ = leading;
  for (int n = 2; n <= 5; ++n) {
    if (n > leading) {
      if (segments_[n]) delete segments_[n].data();
      segments_[n] = nullptr;
    } else if (!segments_[n]) {
      segments_[n] = new TimingDisplaySegment(this);
      segments_[n]->show();
      ++created_;
    }
  }
  recreateTimeDisplaySegmentSeparators();
  hintWidth_ = -1;  // forces the layout once the texts are in
}

void TimingDisplayView::recreateTimeDisplaySegmentSeparators() {
  for (auto& separator : separators_)
    if (separator) delete separator.data();
  separators_.clear();
  if (leading_ < 3) return;
  for (int n = 2; n < leading_; ++n) {
    auto* separator = new BTGradientView(this);
    separator->setColors(
        std::vector<QColor>{Qt::transparent, tertiaryLabelColor(), Qt::transparent});
    separator->setDirection(0);
    separator->show();
    separators_.emplace_back(separator);
  }
}

void TimingDisplayView::layoutDisplaySegments() {
  if (leading_ < 2) return;
  // Shrink every segment alike when the natural widths do not fit.
  for (int n = 2; n <= leading_; ++n) segments_[n]->setScale(1.0);
  double natural = 0;
  for (int n = 2; n <= leading_; ++n) natural += segments_[n]->naturalWidth();
  const double gaps = 2 * kPadding + kSpacing * (leading_ - 2);
  const double available = width() - gaps;
  double scale = 1.0;
  if (natural > 0 && available < natural) scale = available / natural;
  // The number over its unit word must fit the height as well.
  const double block = TimingDisplaySegment::naturalBlockHeight();
  const double availableHeight = height() - 2 * kVerticalPadding;
  if (block > 0 && availableHeight < block * scale) scale = availableHeight / block;
  scale = std::max(0.05, scale);
  if (scale < 1.0)
    for (int n = 2; n <= leading_; ++n) segments_[n]->setScale(scale);
  // Seconds pinned to the trailing edge, each larger unit kSpacing to its left, the largest one
  // pinned to the leading edge (taking what width is left).
  const int top = static_cast<int>(kVerticalPadding);
  const int h = std::max(0, height() - 2 * top);
  double right = width() - kPadding;
  for (int n = 2; n <= leading_; ++n) {
    double w = std::ceil(segments_[n]->naturalWidth());
    if (n == leading_) w = std::max(w, right - kPadding);
    const double left = right - w;
    segments_[n]->setGeometry(
        QRect(static_cast<int>(std::lround(left)), top, static_cast<int>(std::lround(w)), h));
    if (n < leading_) {
      auto* separator = separators_[n - 2].data();
      const double x = left - kSeparatorPadding - kSeparatorWidth;
      separator->setGeometry(QRect(static_cast<int>(std::lround(x)), 0,
                                   static_cast<int>(std::ceil(kSeparatorWidth)), height()));
    }
    right = left - kSpacing;
  }
  for (int n = 2; n <= leading_; ++n) dirty_[n] = true;
  scheduleFrame();
}

QSize TimingDisplayView::sizeHint() const {
  double natural = 0;
  double h = 0;
  for (int n = 2; n <= leading_; ++n) {
    if (segments_[n])
      natural += TimingDisplaySegment::naturalWidthOf(segments_[n]->valueText(),
                                                      segments_[n]->unitText(), 1.0);
  }
  h = TimingDisplaySegment::naturalBlockHeight() + 2 * kVerticalPadding;
  const double gaps = 2 * kPadding + kSpacing * std::max(0, leading_ - 2);
  return QSize(static_cast<int>(std::ceil(natural + gaps)), static_cast<int>(std::ceil(h)));
}

// The display shrinks to whatever height the pane has left (the window at its minimum size with
// the actions list open leaves little); the segments scale down to fit it.
QSize TimingDisplayView::minimumSizeHint() const {
  return QSize(0, static_cast<int>(2 * kVerticalPadding) + 28);
}

void TimingDisplayView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutDisplaySegments();
}

void TimingDisplayView::scheduleFrame() {
  if (frameTimer_.isActive()) return;
  const qint64 since = lastFrame_.isValid() ? lastFrame_.elapsed() : kFrameInterval;
  // A frame that is already due joins the repaint of whatever else changed on this tick (the
  // list's row), so the window is painted and sent to the display once, not twice.
  if (since >= kFrameInterval) {
    paintFrame();
    return;
  }
  frameTimer_.start(static_cast<int>(kFrameInterval - since));
}

void TimingDisplayView::paintFrame() {
  lastFrame_.start();
  ++frames_;
  for (int n = 2; n <= 5; ++n) {
    if (dirty_[n] && segments_[n]) {
      const QRegion changed = segments_[n]->takeChangedRegion();
      if (!changed.isEmpty()) segments_[n]->update(changed);
    }
    dirty_[n] = false;
  }
}
