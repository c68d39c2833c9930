#include "app/Source/TimingDisplay/TimingDisplayAccessible.h"

#include <QAccessible>
#include <QStringList>
#include <utility>

#include "app/Source/TimingDisplay/TimingDisplayView.h"
#include "core/Source/Model/BTTiming.h"
#include "platform/foundation/Localization.h"

namespace {

constexpr const char* kStateName = "tw_timingDisplayAccessibleState";

// Kept on the display as a child object, so it lives and goes with the view whichever
// accessibility interfaces Qt makes and drops meanwhile.
class SpokenState : public QObject {
 public:
  explicit SpokenState(QObject* view) : QObject(view) { setObjectName(kStateName); }
  std::int64_t state = tw::kTimingStateReset;
  std::function<QString()> lead;
};

SpokenState* spokenState(const QObject* view, bool make) {
  for (QObject* child : view->children())
    if (child->objectName() == QLatin1String(kStateName)) return static_cast<SpokenState*>(child);
  return make ? new SpokenState(const_cast<QObject*>(view)) : nullptr;
}

TimingDisplayAccessible::Announcer announcer = &QAccessible::updateAccessibility;

QString localizedText(const char* key) { return QString::fromStdString(tw::localized(key)); }

// "05" reads "5", "07.25" reads "7.25"; "00" and "0.0" are zero.
QString spokenNumber(const QString& shown, bool* zero) {
  const auto point = shown.indexOf('.');
  const QString whole = point < 0 ? shown : shown.left(point);
  QString number = QString::number(whole.toLongLong());
  if (point >= 0) number += shown.mid(point);
  *zero = true;
  for (const QChar c : shown)
    if (c.isDigit() && c != QChar('0')) *zero = false;
  return number;
}

QAccessibleInterface* makeInterface(const QString& key, QObject* object) {
  if (key == QLatin1String("QWidget"))
    if (auto* view = dynamic_cast<TimingDisplayView*>(object))
      return new TimingDisplayAccessible(view);
  return nullptr;
}

}  // namespace

TimingDisplayAccessible::TimingDisplayAccessible(TimingDisplayView* view)
    : QAccessibleWidget(view, QAccessible::StaticText) {}

void TimingDisplayAccessible::install() {
  static const bool installed = [] {
    QAccessible::installFactory(makeInterface);
    return true;
  }();
  (void)installed;
}

void TimingDisplayAccessible::setTimingState(TimingDisplayView* view, std::int64_t state,
                                             bool announce) {
  if (!view) return;
  install();
  SpokenState* spoken = spokenState(view, true);
  const bool changed = spoken->state != state;
  spoken->state = state;
  if (!announce || !changed) return;
  QAccessibleEvent name(view, QAccessible::NameChanged);
  announcer(&name);
  QAccessibleEvent description(view, QAccessible::DescriptionChanged);
  announcer(&description);
}

TimingDisplayAccessible::Announcer TimingDisplayAccessible::setAnnouncer(Announcer replacement) {
  return std::exchange(announcer, replacement);
}

void TimingDisplayAccessible::setLeadText(TimingDisplayView* view, std::function<QString()> lead) {
  if (!view) return;
  install();
  spokenState(view, true)->lead = std::move(lead);
}

QString TimingDisplayAccessible::spokenValue(const TimingDisplayView& view) {
  QStringList parts;
  for (int n = view.leadingDisplaySegment(); n >= 2; --n) {
    bool zero = false;
    const QString number = spokenNumber(view.numericValueForDisplaySegment(n), &zero);
    const QString part = number + ' ' + view.unitValueForDisplaySegment(n).toLower();
    if (!zero) parts << part;
  }
  // Nothing but zeros (also "0.0") reads as zero seconds.
  if (parts.isEmpty()) parts << QStringLiteral("0 ") + view.unitValueForDisplaySegment(2).toLower();
  return parts.join(' ');
}

QString TimingDisplayAccessible::text(QAccessible::Text t) const {
  const auto* view = static_cast<const TimingDisplayView*>(widget());
  const SpokenState* spoken = spokenState(view, false);
  const std::int64_t state = spoken ? spoken->state : tw::kTimingStateReset;
  if (t == QAccessible::Description) {
    switch (state) {
      case tw::kTimingStateRunning:
        return localizedText("Running");
      case tw::kTimingStatePaused:
        return localizedText("Paused");
      case tw::kTimingStateFinished:
        return localizedText("Finished");
      default:
        return {};
    }
  }
  if (t != QAccessible::Name) return QAccessibleWidget::text(t);
  QString lead = spoken && spoken->lead ? spoken->lead() : QString();
  QString value = spokenValue(*view);
  if (lead.isEmpty()) return value;
  // An alarm at rest counts nothing down: its time of day alone.
  if (state == tw::kTimingStateReset) return lead;
  return QString::fromStdString(
      tw::localizedFormat("%@ in %@", lead.toStdString(), value.toStdString()));
}
