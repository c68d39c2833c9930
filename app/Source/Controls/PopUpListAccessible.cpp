#include "app/Source/Controls/PopUpListAccessible.h"

#include <QAccessibleWidget>
#include <QItemSelectionModel>
#include <QListView>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QWindow>
#include <map>

namespace {

// One choice of the list, for as long as its row is in the model.
class AccessiblePopUpItem : public QAccessibleInterface {
 public:
  AccessiblePopUpItem(QListView* view, const QModelIndex& index) : view_(view), index_(index) {}
  bool isValid() const override { return view_ && index_.isValid(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override {
    return view_ && view_->window() ? view_->window()->windowHandle() : nullptr;
  }
  QAccessibleInterface* parent() const override {
    return view_ ? QAccessible::queryAccessibleInterface(view_.data()) : nullptr;
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text t) const override {
    if (!isValid() || t != QAccessible::Name) return {};
    const QString spoken = index_.data(Qt::AccessibleTextRole).toString();
    return spoken.isEmpty() ? index_.data(Qt::DisplayRole).toString() : spoken;
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!isValid() || !view_->isVisible()) return {};
    return view_->visualRect(index_).translated(view_->viewport()->mapToGlobal(QPoint(0, 0)));
  }
  QAccessible::Role role() const override { return QAccessible::ListItem; }
  QAccessible::State state() const override {
    QAccessible::State s;
    if (!isValid() || !view_->isVisible()) {
      s.invisible = true;
      return s;
    }
    s.selectable = true;
    s.focusable = true;
    s.selected = view_->selectionModel() && view_->selectionModel()->isSelected(index_);
    s.focused = view_->hasFocus() && view_->currentIndex() == QModelIndex(index_);
    if (!(index_.flags() & Qt::ItemIsEnabled)) s.disabled = true;
    return s;
  }
  int row() const { return index_.row(); }
  bool isFor(const QListView* view) const {
    return view_ == view && index_.isValid() && index_.model() == view->model();
  }

 private:
  QPointer<QListView> view_;
  QPersistentModelIndex index_;
};

// The list: its items while it is shown, none while it is hidden.
class AccessiblePopUpList : public QAccessibleWidget {
 public:
  explicit AccessiblePopUpList(QListView* view) : QAccessibleWidget(view, QAccessible::List) {}
  ~AccessiblePopUpList() override {
    for (const auto& [row, id] : items_) QAccessible::deleteAccessibleInterface(id);
  }
  QListView* view() const { return static_cast<QListView*>(widget()); }
  bool shown() const { return view()->isVisible() && view()->model(); }

  int childCount() const override {
    return shown() ? view()->model()->rowCount(view()->rootIndex()) : 0;
  }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= childCount()) return nullptr;
    if (auto found = items_.find(index); found != items_.end()) {
      auto* item =
          static_cast<AccessiblePopUpItem*>(QAccessible::accessibleInterface(found->second));
      // A row moved or removed since: its element goes, a new one stands for the row.
      if (item && item->isFor(view()) && item->row() == index) return item;
      QAccessible::deleteAccessibleInterface(found->second);
      items_.erase(found);
    }
    auto* item = new AccessiblePopUpItem(
        view(), view()->model()->index(index, view()->modelColumn(), view()->rootIndex()));
    items_[index] = QAccessible::registerAccessibleInterface(item);
    return item;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    for (const auto& [row, id] : items_)
      if (QAccessible::accessibleInterface(id) == child) return row < childCount() ? row : -1;
    return -1;
  }

 private:
  mutable std::map<int, QAccessible::Id> items_;
};

QAccessibleInterface* makeInterface(const QString& key, QObject* object) {
  // A combo box's own list (a private class of Qt's, known by its class name).
  if (key == QLatin1String("QComboBoxListView"))
    if (auto* view = qobject_cast<QListView*>(object)) return new AccessiblePopUpList(view);
  return nullptr;
}

}  // namespace

void PopUpListAccessible::install() {
  static const bool installed = [] {
    QAccessible::installFactory(makeInterface);
    return true;
  }();
  (void)installed;
}
