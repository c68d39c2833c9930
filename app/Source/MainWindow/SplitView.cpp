#include "app/Source/MainWindow/SplitView.h"

#include <QAccessibleWidget>
#include <QSplitterHandle>

namespace {

// Assistive technologies read the panes as the screen shows them, left to right, with the
// divider between them, whatever order the panes were made or raised in.
class AccessibleSplitView : public QAccessibleWidget {
 public:
  explicit AccessibleSplitView(SplitView* split)
      : QAccessibleWidget(split, QAccessible::Splitter) {}
  QWidgetList parts() const {
    auto* split = static_cast<SplitView*>(widget());
    QWidgetList all;
    for (int i = 0; i < split->count(); ++i) {
      for (QWidget* part : {static_cast<QWidget*>(split->handle(i)), split->widget(i)})
        if (part && part->isVisible() && !part->size().isEmpty()) all << part;
    }
    return all;
  }
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

QAccessibleInterface* accessibleSplitPart(const QString& key, QObject* object) {
  if (key == QLatin1String("QSplitter"))
    if (auto* split = dynamic_cast<SplitView*>(object)) return new AccessibleSplitView(split);
  if (key == QLatin1String("QSplitterHandle"))
    if (auto* handle = qobject_cast<QSplitterHandle*>(object);
        handle && dynamic_cast<SplitView*>(handle->splitter()))
      return new QAccessibleWidget(handle, QAccessible::Separator);
  return nullptr;
}

}  // namespace

SplitView::SplitView(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
  static const bool accessible = [] {
    QAccessible::installFactory(accessibleSplitPart);
    return true;
  }();
  (void)accessible;
  setObjectName("SplitView");
  setHandleWidth(1);
  setChildrenCollapsible(false);
  const QColor c = dividerColor();
  setStyleSheet(QString("QSplitter::handle { background-color: rgba(%1,%2,%3,%4); }")
                    .arg(c.red())
                    .arg(c.green())
                    .arg(c.blue())
                    .arg(c.alphaF()));
}
