#pragma once
// PopoverAccessible: where assistive technologies find a shown popover. A popover is a popup
// window, and popup windows are no children of the application's accessible tree; a menu is read
// under the item that opened it, and a popover likewise under the widget it was opened from (a
// master list row). While it is shown, that widget holds a small mark child (no pixels, no
// input) whose accessible element is the popover: a dialog named by the popover's window title,
// whose child is the popover window with its controls. The mark goes when the popover hides, and
// the popover with it from the tree. The mark's coming and going are announced (Qt announces its
// showing and hiding, and the focus of the popover's first field, as for any widget), so a
// screen reader says the dialog.
//
// The interfaces are made by Qt's accessibility factory and owned by Qt. Main thread only.

class QAccessibleEvent;
class QWidget;

namespace tw {

class Popover;

class PopoverAccessible {
 public:
  // Registers the factory (once; later calls do nothing).
  static void install();
  // Puts the popover's mark into `anchor` and announces it; returns the mark, which `anchor`
  // owns (nullptr without an anchor).
  static QWidget* attach(Popover* popover, QWidget* anchor);
  // Announces that the popover has gone and deletes its mark (nullptr: nothing).
  static void detach(QWidget* mark);
  // Tells readers that the popover's name (its window title) has changed.
  static void nameChanged(QWidget* mark);
  // Where these announcements go: QAccessible::updateAccessibility, which sends nothing while no
  // reader listens. Tests listen in here; returns the one replaced.
  using Announcer = void (*)(QAccessibleEvent* event);
  static Announcer setAnnouncer(Announcer announcer);
};

}  // namespace tw
