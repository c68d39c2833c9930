#include "app/Source/ActionEditor/PopUpButton.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace tw::app {

namespace {

// Assistive technologies read a pop-up button as the pop-up it looks like: named by what it
// chooses (its label, given as its accessible name or description), its value the choice shown.
class AccessiblePopUpButton : public QAccessibleWidget {
 public:
  explicit AccessiblePopUpButton(PopUpButton* button)
      : QAccessibleWidget(button, QAccessible::ComboBox) {}
  PopUpButton* button() const { return static_cast<PopUpButton*>(widget()); }
  QString text(QAccessible::Text t) const override {
    const QString label = !button()->accessibleName().isEmpty() ? button()->accessibleName()
                                                                : button()->accessibleDescription();
    switch (t) {
      case QAccessible::Name:
        return label.isEmpty() ? button()->text() : label;
      case QAccessible::Value:
        return button()->text();
      case QAccessible::Description:
        return {};
      default:
        return QAccessibleWidget::text(t);
    }
  }
  QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
  void doAction(const QString&) override {
    if (button()->isEnabled()) button()->click();
  }
};

QAccessibleInterface* accessiblePopUpButton(const QString& key, QObject* object) {
  if (key == QLatin1String("QPushButton"))
    if (auto* button = dynamic_cast<PopUpButton*>(object)) return new AccessiblePopUpButton(button);
  return nullptr;
}

}  // namespace

PopUpButton::PopUpButton(QWidget* parent) : QPushButton(parent), menu_(new QMenu(this)) {
  static const bool accessible = [] {
    QAccessible::installFactory(accessiblePopUpButton);
    return true;
  }();
  (void)accessible;
  setObjectName("PopUpButton");
  setStyleSheet(
      "QPushButton#PopUpButton { text-align: left; padding: 3px 22px 3px 8px; border-radius: 5px;"
      " border: 1px solid rgba(0,0,0,0.2); background: white; color: black; }"
      "QPushButton#PopUpButton:disabled { color: rgba(0,0,0,0.35); }");
  QObject::connect(this, &QPushButton::clicked, this, [this] { showMenu(); });
  QObject::connect(menu_, &QMenu::triggered, this, [this](QAction* item) { chooseItem(item); });
}

void PopUpButton::removeAllItems() {
  selected_ = nullptr;
  // Deleted later, not at once: the item being chosen may be the one whose handler rebuilds.
  for (QAction* action : menu_->actions()) {
    menu_->removeAction(action);
    if (action->parent() == menu_) action->deleteLater();
  }
  updateTitle();
}

void PopUpButton::addItem(QAction* item) {
  item->setParent(menu_);
  item->setCheckable(false);
  menu_->addAction(item);
}

void PopUpButton::addSeparator() { menu_->addSeparator(); }

QAction* PopUpButton::addItemWithTitle(const QString& title, int tag) {
  auto* item = new QAction(title, menu_);
  item->setProperty("tag", tag);
  menu_->addAction(item);
  return item;
}

std::vector<QAction*> PopUpButton::items() const {
  std::vector<QAction*> result;
  for (QAction* action : menu_->actions())
    if (!action->isSeparator()) result.push_back(action);
  return result;
}

int PopUpButton::indexOfSelectedItem() const {
  const auto all = items();
  for (std::size_t i = 0; i < all.size(); ++i)
    if (all[i] == selected_) return static_cast<int>(i);
  return -1;
}

void PopUpButton::selectItem(QAction* item) {
  const auto all = items();
  selected_ = std::find(all.begin(), all.end(), item) != all.end() ? item : nullptr;
  updateTitle();
}

int PopUpButton::tagOf(const QAction* item) { return item ? item->property("tag").toInt() : 0; }

bool PopUpButton::selectItemWithTag(int tag) {
  for (QAction* item : items())
    if (item->property("tag").isValid() && tagOf(item) == tag && item->isEnabled()) {
      selectItem(item);
      return true;
    }
  return false;
}

bool PopUpButton::selectItemWithRepresentedObject(const QVariant& object) {
  for (QAction* item : items())
    if (item->data().isValid() && item->data() == object) {
      selectItem(item);
      return true;
    }
  return false;
}

void PopUpButton::chooseItem(QAction* item) {
  if (!item || item->isSeparator() || !item->isEnabled()) return;
  selectItem(item);
  if (handler_) handler_(this);
}

void PopUpButton::showMenu() {
  if (items().empty()) return;
  menu_->setMinimumWidth(width());
  if (selected_) menu_->setActiveAction(selected_);
  menu_->popup(mapToGlobal(QPoint(0, height())));
}

void PopUpButton::updateTitle() {
  setText(selected_ ? selected_->text() : QString());
  updateGeometry();
}

QSize PopUpButton::sizeHint() const {
  QSize size = QPushButton::sizeHint();
  const QFontMetrics metrics(font());
  int widest = 0;
  for (QAction* item : items()) widest = std::max(widest, metrics.horizontalAdvance(item->text()));
  size.setWidth(std::max(size.width(), widest + 40));
  return size;
}

void PopUpButton::keyPressEvent(QKeyEvent* event) {
  const int step = event->key() == Qt::Key_Down ? 1 : event->key() == Qt::Key_Up ? -1 : 0;
  if (step == 0) return QPushButton::keyPressEvent(event);
  const auto all = items();
  for (int i = indexOfSelectedItem() + step; i >= 0 && i < static_cast<int>(all.size()); i += step)
    if (all[static_cast<std::size_t>(i)]->isEnabled()) {
      chooseItem(all[static_cast<std::size_t>(i)]);
      break;
    }
  event->accept();
}

void PopUpButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const double x = width() - 14.0;
  const double y = height() / 2.0;
  QPainterPath arrow;
  arrow.moveTo(x - 4, y - 2);
  arrow.lineTo(x, y + 2);
  arrow.lineTo(x + 4, y - 2);
  p.setPen(QPen(isEnabled() ? QColor(0, 0, 0, 150) : QColor(0, 0, 0, 60), 1.5, Qt::SolidLine,
                Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(arrow);
}

}  // namespace tw::app
