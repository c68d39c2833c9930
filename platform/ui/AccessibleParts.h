#pragma once
// tw::ui::AccessibleParts: a widget's accessible element whose children are the widgets its
// parts() names, in that order, instead of Qt's own list of every child widget. For widgets that
// show their children in another order than they were made or raised in, or that hold children
// a person cannot see. Made by Qt's accessibility factories and owned by Qt; main thread only.

#include <QAccessibleWidget>
#include <QWidget>

namespace tw::ui {

class AccessibleParts : public QAccessibleWidget {
 public:
  using QAccessibleWidget::QAccessibleWidget;
  // The widgets read as children, in reading order; asked anew each time, as they can change.
  virtual QWidgetList parts() const = 0;
  int childCount() const override { return static_cast<int>(parts().size()); }
  QAccessibleInterface* child(int index) const override {
    const QWidgetList all = parts();
    return index >= 0 && index < all.size() ? QAccessible::queryAccessibleInterface(all[index])
                                            : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child ? static_cast<int>(parts().indexOf(qobject_cast<QWidget*>(child->object()))) : -1;
  }
};

}  // namespace tw::ui
