#pragma once
// TimingDisplayAccessible: what assistive technologies read of the big time display. The display
// is one element (a text a reader reads, not a control), without parts (its numbers, unit words and
// separators are pictures of one value), whose name is the value as it would be said: "3 minutes 53
// seconds", "14.7 seconds", and for an alarm "7:00 AM in 2 hours". The name is made from the shown
// value each time a reader asks for it, so a tick costs nothing; only a change of the running state
// (started, paused, finished, reset) is announced, with the state as the description.
//
// The display's controller tells the state and the lead text (an alarm's time of day) through
// the two static functions; the interface itself is made by Qt's accessibility factory for every
// TimingDisplayView and owned by Qt. Main thread only.

#include <QAccessibleWidget>
#include <QString>
#include <cstdint>
#include <functional>

class TimingDisplayView;

class TimingDisplayAccessible : public QAccessibleWidget {
 public:
  explicit TimingDisplayAccessible(TimingDisplayView* view);

  // Registers the factory (once; later calls do nothing).
  static void install();
  // A tw::TimingState value. With `announce`, a change of state is announced; a repeat of the
  // same state never is (a new object shown is no change of state: told without `announce`).
  static void setTimingState(TimingDisplayView* view, std::int64_t state, bool announce);
  // Said before the value ("7:00 AM" reads "7:00 AM in 2 hours" while it runs); asked for
  // whenever the name is. None: the value alone.
  static void setLeadText(TimingDisplayView* view, std::function<QString()> lead);
  // Where announcements go: QAccessible::updateAccessibility, which sends nothing while no
  // reader listens. Tests listen in here; returns the one replaced.
  using Announcer = void (*)(QAccessibleEvent* event);
  static Announcer setAnnouncer(Announcer announcer);
  // The value as speech, as the name reads it.
  static QString spokenValue(const TimingDisplayView& view);

  QString text(QAccessible::Text t) const override;
  int childCount() const override { return 0; }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
};
