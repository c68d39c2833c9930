#include "app/Source/MainWindow/SplitView.h"

#include <QAccessibleWidget>
#include <QPainter>
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

// The divider is one flat line. Drawn here rather than through a style sheet on the split view,
// which would put both panes and every list row in them under Qt's style-sheet engine.
class Divider : public QSplitterHandle {
 public:
  using QSplitterHandle::QSplitterHandle;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).fillRect(rect(), SplitView::dividerColor());
  }
};

}  // namespace

QSplitterHandle* SplitView::createHandle() { return new Divider(orientation(), this); }

SplitView::SplitView(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
  static const bool accessible = [] {
    QAccessible::installFactory(accessibleSplitPart);
    return true;
  }();
  (void)accessible;
  setObjectName("SplitView");
  setHandleWidth(1);
  setChildrenCollapsible(false);
}
