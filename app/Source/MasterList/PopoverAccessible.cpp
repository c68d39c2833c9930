#include "app/Source/MasterList/PopoverAccessible.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <utility>

#include "app/Source/MasterList/Popover.h"

namespace tw {

namespace {

// Stands in the widget that opened a popover for as long as the popover is shown. It is shown
// (a hidden or empty child is left out of its parent's accessible children) but draws nothing,
// takes no input and is in no layout.
class PopoverMark : public QWidget {
 public:
  PopoverMark(Popover* popover, QWidget* anchor) : QWidget(anchor), popover_(popover) {
    setObjectName("PopoverAccessibleMark");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setStyleSheet("background: transparent; border: none;");
    setGeometry(0, 0, 1, 1);
  }
  Popover* popover() const { return popover_; }

 protected:
  void paintEvent(QPaintEvent*) override {}

 private:
  QPointer<Popover> popover_;
};

// The popover as its opener's child: a dialog named by the popover's window title, where the
// popover is on the screen, holding the popover window.
class AccessibleMark : public QAccessibleWidget {
 public:
  explicit AccessibleMark(PopoverMark* mark) : QAccessibleWidget(mark, QAccessible::Dialog) {}
  Popover* popover() const { return static_cast<PopoverMark*>(widget())->popover(); }

  QString text(QAccessible::Text t) const override {
    Popover* shown = popover();
    if (!shown) return {};
    switch (t) {
      case QAccessible::Name:
        return shown->accessibleName().isEmpty() ? shown->windowTitle() : shown->accessibleName();
      case QAccessible::Description:
        return shown->accessibleDescription();
      default:
        return {};
    }
  }
  QRect rect() const override {
    Popover* shown = popover();
    if (!shown || !shown->isVisible()) return {};
    return {shown->mapToGlobal(QPoint(0, 0)), shown->size()};
  }
  QAccessible::State state() const override {
    QAccessible::State s;
    Popover* shown = popover();
    if (!shown || !shown->isVisible() || !widget()->isVisible()) {
      s.invisible = true;
      return s;
    }
    s.active = QApplication::activePopupWidget() == shown;
    return s;
  }
  QWindow* window() const override {
    Popover* shown = popover();
    return shown && shown->windowHandle() ? shown->windowHandle() : QAccessibleWidget::window();
  }
  QStringList actionNames() const override { return {}; }
  int childCount() const override { return popover() ? 1 : 0; }
  QAccessibleInterface* child(int index) const override {
    Popover* shown = popover();
    return index == 0 && shown ? QAccessible::queryAccessibleInterface(shown) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child && popover() && child->object() == popover() ? 0 : -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    return rect().contains(x, y) ? child(0) : nullptr;
  }
};

// The popover window itself: an unnamed frame round its controls (the dialog above it carries the
// name), whose parent is its mark while it is shown.
class AccessiblePopoverWindow : public QAccessibleWidget {
 public:
  explicit AccessiblePopoverWindow(Popover* popover)
      : QAccessibleWidget(popover, QAccessible::Client) {}
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) return {};
    return QAccessibleWidget::text(t);
  }
  QAccessibleInterface* parent() const override {
    if (QWidget* mark = static_cast<Popover*>(widget())->accessibleMark())
      return QAccessible::queryAccessibleInterface(mark);
    return QAccessibleWidget::parent();
  }
};

QAccessibleInterface* makeInterface(const QString& key, QObject* object) {
  if (key == QLatin1String("QWidget"))
    if (auto* mark = dynamic_cast<PopoverMark*>(object)) return new AccessibleMark(mark);
  if (key == QLatin1String("QFrame"))
    if (auto* popover = dynamic_cast<Popover*>(object)) return new AccessiblePopoverWindow(popover);
  return nullptr;
}

PopoverAccessible::Announcer announcer = &QAccessible::updateAccessibility;

void announce(QObject* object, QAccessible::Event what) {
  QAccessibleEvent event(object, what);
  announcer(&event);
}

}  // namespace

void PopoverAccessible::install() {
  static const bool installed = [] {
    QAccessible::installFactory(makeInterface);
    return true;
  }();
  (void)installed;
}

QWidget* PopoverAccessible::attach(Popover* popover, QWidget* anchor) {
  if (!popover || !anchor) return nullptr;
  install();
  auto* mark = new PopoverMark(popover, anchor);
  // Shown (Qt announces that), it is among the anchor's children, where it is told to be new.
  mark->show();
  announce(mark, QAccessible::ObjectCreated);
  return mark;
}

void PopoverAccessible::detach(QWidget* mark) {
  if (!mark) return;
  // Told while it can still be asked what it was; hidden (Qt announces that) and deleted, it
  // leaves the tree.
  announce(mark, QAccessible::ObjectDestroyed);
  mark->hide();
  delete mark;
}

PopoverAccessible::Announcer PopoverAccessible::setAnnouncer(Announcer replacement) {
  return std::exchange(announcer, replacement);
}

void PopoverAccessible::nameChanged(QWidget* mark) {
  if (mark) announce(mark, QAccessible::NameChanged);
}

}  // namespace tw
