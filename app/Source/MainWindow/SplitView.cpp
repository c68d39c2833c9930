#include "app/Source/MainWindow/SplitView.h"

#include <QAccessibleWidget>
#include <QSplitterHandle>

#include "platform/ui/AccessibleParts.h"

namespace {

// Assistive technologies read the panes as the screen shows them, left to right, with the
// divider between them, whatever order the panes were made or raised in.
class AccessibleSplitView : public tw::ui::AccessibleParts {
 public:
  explicit AccessibleSplitView(SplitView* split) : AccessibleParts(split, QAccessible::Splitter) {}
  QWidgetList parts() const override {
    auto* split = static_cast<SplitView*>(widget());
    QWidgetList all;
    for (int i = 0; i < split->count(); ++i) {
      for (QWidget* part : {static_cast<QWidget*>(split->handle(i)), split->widget(i)})
        if (part && part->isVisible() && !part->size().isEmpty()) all << part;
    }
    return all;
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
