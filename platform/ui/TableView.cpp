#include "platform/ui/TableView.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <algorithm>

#include "platform/ui/AccessibleParts.h"
#include "platform/ui/Animation.h"
#include "platform/ui/LayerStyle.h"

namespace tw::ui {

namespace {
constexpr const char* kPlainRowIdentifier = "TableRowView";
}

TableRowView::TableRowView(QWidget* parent) : TableReusableView(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
}

void TableRowView::setSelected(bool selected) {
  if (selected_ == selected) return;
  selected_ = selected;
  update();
}

void TableRowView::setShowsFocusRing(bool shows) {
  if (focusRing_ == shows) return;
  focusRing_ = shows;
  update();
}

void TableRowView::setCellView(TableCellView* cell) {
  if (cell_ == cell) return;
  if (cell_ && cell_->parent() == this) cell_->hide();
  cell_ = cell;
  if (cell_) {
    cell_->setParent(this);
    cell_->setGeometry(rect());
    cell_->show();
  }
}

void TableRowView::drawBackground(QPainter&, const QRect&) {}

void TableRowView::drawSelection(QPainter& painter, const QRect& dirty) {
  painter.fillRect(dirty, palette().highlight());
}

void TableRowView::drawSeparator(QPainter& painter, const QRect&) {
  painter.fillRect(QRect(0, height() - 1, width(), 1), palette().mid());
}

void TableRowView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  drawBackground(painter, event->rect());
  if (selected_) drawSelection(painter, event->rect());
  drawSeparator(painter, event->rect());
  if (focusRing_) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight).lighter(150), 2.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
  }
}

void TableRowView::resizeEvent(QResizeEvent*) {
  if (cell_) cell_->setGeometry(rect());
}

QPixmap TableViewSource::draggingImage(TableView& table, int row) {
  if (auto* view = table.rowViewAtRow(row)) return view->grab();
  return {};
}

namespace {

// Only what is shown is read out: a hidden child, an empty label or a scroll bar the table does
// not need is left out of the tree.
bool exposed(const QWidget* child) {
  if (child->isWindow() || !child->isVisible() || child->size().isEmpty()) return false;
  if (auto* label = qobject_cast<const QLabel*>(child))
    return !label->text().trimmed().isEmpty() || !label->pixmap().isNull();
  return true;
}

QWidgetList exposedChildren(const QWidget* parent) {
  QWidgetList children;
  for (QObject* object : parent->children())
    if (auto* child = qobject_cast<QWidget*>(object); child && exposed(child)) children << child;
  return children;
}

// A widget whose accessible children are the exposed ones of `childrenOf` (by default, its own).
class AccessibleShownParts : public AccessibleParts {
 public:
  AccessibleShownParts(QWidget* widget, QAccessible::Role role) : AccessibleParts(widget, role) {}
  QWidgetList parts() const override { return exposedChildren(widget()); }
};

// Assistive technologies see a table as a list whose items are its rows as shown (its viewport
// is no part of what a person sees), then whatever else it shows (a needed scroll bar).
class AccessibleTable : public AccessibleShownParts {
 public:
  explicit AccessibleTable(TableView* table) : AccessibleShownParts(table, QAccessible::List) {}
  QWidgetList parts() const override {
    auto* table = static_cast<TableView*>(widget());
    // Rows in their order on screen, whatever order the reuse of their views left them in.
    QWidgetList all = exposedChildren(table->viewport());
    std::stable_sort(all.begin(), all.end(),
                     [](const QWidget* a, const QWidget* b) { return a->y() < b->y(); });
    for (QWidget* child : exposedChildren(table))
      if (child != table->viewport()) all << child;
    return all;
  }
};

// A row, named by the texts its cell shows and selected with the table's selection; its parent
// is the table itself.
class AccessibleTableRow : public AccessibleShownParts {
 public:
  explicit AccessibleTableRow(TableRowView* row)
      : AccessibleShownParts(row, QAccessible::ListItem) {}
  QAccessibleInterface* parent() const override {
    for (QWidget* w = widget()->parentWidget(); w; w = w->parentWidget())
      if (auto* table = dynamic_cast<TableView*>(w))
        return QAccessible::queryAccessibleInterface(table);
    return QAccessibleWidget::parent();
  }
  QString text(QAccessible::Text t) const override {
    if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
      return QAccessibleWidget::text(t);
    QStringList parts;
    for (QWidget* w : widget()->findChildren<QWidget*>()) {
      if (!w->isVisibleTo(widget())) continue;
      QString part;
      if (auto* label = qobject_cast<QLabel*>(w)) part = label->text();
      if (auto* field = qobject_cast<QLineEdit*>(w)) part = field->text();
      if (!part.trimmed().isEmpty()) parts << part.trimmed();
    }
    return parts.join(QStringLiteral(", "));
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.selectable = true;
    s.selected = static_cast<TableRowView*>(widget())->isSelected();
    return s;
  }
};

QAccessibleInterface* accessibleTablePart(const QString& key, QObject* object) {
  if (key == QLatin1String("QAbstractScrollArea"))
    if (auto* table = dynamic_cast<TableView*>(object)) return new AccessibleTable(table);
  if (key == QLatin1String("QWidget")) {
    if (auto* row = dynamic_cast<TableRowView*>(object)) return new AccessibleTableRow(row);
    if (auto* cell = dynamic_cast<TableCellView*>(object))
      return new AccessibleShownParts(cell, QAccessible::Client);
  }
  return nullptr;
}

}  // namespace

TableView::TableView(QWidget* parent) : QAbstractScrollArea(parent) {
  static const bool accessible = [] {
    QAccessible::installFactory(accessibleTablePart);
    return true;
  }();
  (void)accessible;
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::NoFrame);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  verticalScrollBar()->setSingleStep(rowHeight_ / 2);
}

TableView::~TableView() {
  source_ = nullptr;
  if (rowAnimation_) rowAnimation_->stop();
}

void TableView::setRowHeight(int height) {
  rowHeight_ = std::max(1, height);
  verticalScrollBar()->setSingleStep(rowHeight_ / 2);
  updateScrollRange();
  layoutRows();
}

void TableView::setRefusesFirstResponder(bool refuses) {
  setFocusPolicy(refuses ? Qt::TabFocus : Qt::StrongFocus);
}

void TableView::updateFocusRing() {
  const bool focused = hasFocus();
  for (const auto& [r, view] : live_) view->setShowsFocusRing(focused && r == selected_);
}

void TableView::chainRowFocus() {
  std::vector<QWidget*> chain;
  for (const auto& [r, view] : live_) {
    QWidget* w = view;
    // A widget's own focus chain runs through its descendants first; stop at the next row.
    while ((w = w->nextInFocusChain()) != view && view->isAncestorOf(w))
      if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w);
  }
  QWidget* previous = (focusPolicy() & Qt::TabFocus) ? this : nullptr;
  for (QWidget* w : chain) {
    if (previous) QWidget::setTabOrder(previous, w);
    previous = w;
  }
}

int TableView::queuedViewCount() const {
  int count = 0;
  for (const auto& [id, queue] : queues_)
    for (const auto& view : queue) count += view ? 1 : 0;
  return count;
}

QRect TableView::rectOfRow(int row) const {
  return QRect(0, row * rowHeight_ - verticalScrollBar()->value(), viewport()->width(), rowHeight_);
}

int TableView::rowAt(const QPoint& p) const {
  if (p.y() < 0) return -1;
  const int row = (p.y() + verticalScrollBar()->value()) / rowHeight_;
  return row < rowCount_ ? row : -1;
}

TableRowView* TableView::rowViewAtRow(int row) const {
  auto it = live_.find(row);
  return it == live_.end() ? nullptr : it->second;
}

TableCellView* TableView::viewAtRow(int row) const {
  auto* rowView = rowViewAtRow(row);
  return rowView ? rowView->cellView() : nullptr;
}

TableReusableView* TableView::makeView(const std::string& identifier) {
  auto it = queues_.find(identifier);
  if (it == queues_.end()) return nullptr;
  auto& queue = it->second;
  while (!queue.empty()) {
    QPointer<TableReusableView> view = queue.back();
    queue.pop_back();
    if (!view) continue;
    view->prepareForReuse();
    return view;
  }
  return nullptr;
}

void TableView::enqueue(TableReusableView* view) {
  if (!view) return;
  view->hide();
  if (view->identifier().empty()) {
    view->deleteLater();
    return;
  }
  queues_[view->identifier()].push_back(view);
}

void TableView::retireRow(int row) {
  auto it = live_.find(row);
  if (it == live_.end()) return;
  TableRowView* rowView = it->second;
  live_.erase(it);
  if (source_) source_->didRemoveRowView(*this, rowView, row);
  TableCellView* cell = rowView->cellView();
  rowView->setCellView(nullptr);
  rowView->setSelected(false);
  if (cell) {
    cell->setParent(viewport());
    enqueue(cell);
  }
  enqueue(rowView);
}

void TableView::updateScrollRange() {
  const int content = rowCount_ * rowHeight_;
  verticalScrollBar()->setPageStep(viewport()->height());
  verticalScrollBar()->setRange(0, std::max(0, content - viewport()->height()));
}

void TableView::layoutRows() {
  finishRowAnimation();
  const int offset = verticalScrollBar()->value();
  const int first = std::max(0, offset / rowHeight_ - margin_);
  const int last = std::min(rowCount_ - 1, (offset + viewport()->height()) / rowHeight_ + margin_);
  std::vector<int> gone;
  for (const auto& [row, view] : live_)
    if (row < first || row > last) gone.push_back(row);
  for (int row : gone) retireRow(row);
  for (int row = first; row <= last; ++row) {
    TableRowView* rowView = rowViewAtRow(row);
    if (!rowView) {
      if (source_) rowView = source_->rowViewForRow(*this, row);
      if (!rowView) {
        rowView = dynamic_cast<TableRowView*>(makeView(kPlainRowIdentifier));
        if (!rowView) {
          rowView = new TableRowView;
          rowView->setIdentifier(kPlainRowIdentifier);
        }
      }
      rowView->setParent(viewport());
      live_[row] = rowView;
      rowView->setGeometry(rectOfRow(row));
      if (source_) rowView->setCellView(source_->viewForRow(*this, row));
      rowView->show();
    }
    rowView->setGeometry(rectOfRow(row));
    rowView->setSelected(row == selected_);
  }
  updateFocusRing();
  chainRowFocus();
  viewport()->update();
}

void TableView::reloadData() {
  finishRowAnimation();
  std::vector<int> rows;
  for (const auto& [row, view] : live_) rows.push_back(row);
  for (int row : rows) retireRow(row);
  rowCount_ = source_ ? std::max(0, source_->numberOfRows(*this)) : 0;
  const bool lost = selected_ >= rowCount_;
  if (lost) selected_ = -1;
  updateScrollRange();
  layoutRows();
  if (lost && source_) source_->selectionDidChange(*this);
}

std::map<QWidget*, QRect> TableView::liveFrames() const {
  std::map<QWidget*, QRect> frames;
  for (const auto& [r, view] : live_) frames[view] = view->geometry();
  return frames;
}

void TableView::finishRowAnimation() {
  if (!rowAnimation_) return;
  auto* animation = rowAnimation_;
  rowAnimation_ = nullptr;
  animation->stop();
  animation->deleteLater();
  for (const RowMotion& motion : rowMotions_) {
    if (!motion.view) continue;
    motion.view->setGeometry(motion.to);
    if (motion.fades) setAlpha(motion.view, 1.0);
  }
  rowMotions_.clear();
  for (const auto& ghost : rowGhosts_)
    if (ghost) ghost->deleteLater();
  rowGhosts_.clear();
}

void TableView::animateRows(const std::map<QWidget*, QRect>& before, int inserted, QWidget* removed,
                            unsigned animation) {
  std::vector<RowMotion> motions;
  for (const auto& [r, view] : live_) {
    const QRect to = view->geometry();
    auto it = before.find(view);
    if (r == inserted) {
      RowMotion motion{view, to, to};
      if (animation & TableRowAnimationSlideDown) motion.from.translate(0, -rowHeight_);
      if (animation & TableRowAnimationSlideUp) motion.from.translate(0, rowHeight_);
      // A row view with an opacity of its own keeps it.
      motion.fades = (animation & TableRowAnimationFade) && !view->graphicsEffect();
      motion.fromAlpha = 0;
      motions.push_back(motion);
    } else if (it != before.end() && it->second != to) {
      motions.push_back(RowMotion{view, it->second, to});
    }
  }
  if (removed) {
    RowMotion motion{removed, removed->geometry(), removed->geometry()};
    if (animation & TableRowAnimationSlideUp) motion.to.translate(0, -rowHeight_);
    if (animation & TableRowAnimationSlideDown) motion.to.translate(0, rowHeight_);
    motion.fades = (animation & TableRowAnimationFade) != 0;
    motion.toAlpha = 0;
    motions.push_back(motion);
    rowGhosts_.push_back(removed);
  }
  if (motions.empty() && rowGhosts_.empty()) return;
  rowMotions_ = std::move(motions);
  auto apply = [this](double t) {
    for (const RowMotion& m : rowMotions_) {
      if (!m.view) continue;
      const QRect frame(m.from.x() + qRound((m.to.x() - m.from.x()) * t),
                        m.from.y() + qRound((m.to.y() - m.from.y()) * t), m.to.width(),
                        m.to.height());
      m.view->setGeometry(frame);
      if (m.fades) setAlpha(m.view, m.fromAlpha + (m.toAlpha - m.fromAlpha) * t);
    }
  };
  apply(0);
  rowAnimation_ = new QVariantAnimation(this);
  rowAnimation_->setDuration(static_cast<int>(rowAnimationDuration_ * 1000));
  rowAnimation_->setEasingCurve(TimingFunction::easeInEaseOut());
  rowAnimation_->setStartValue(0.0);
  rowAnimation_->setEndValue(1.0);
  connect(rowAnimation_, &QVariantAnimation::valueChanged, this,
          [apply](const QVariant& value) { apply(value.toDouble()); });
  connect(rowAnimation_, &QVariantAnimation::finished, this, [this] { finishRowAnimation(); });
  rowAnimation_->start();
}

void TableView::insertRow(int row, unsigned animation) {
  if (row < 0 || row > rowCount_) return;
  finishRowAnimation();
  const auto before = liveFrames();
  std::map<int, TableRowView*> moved;
  for (const auto& [r, view] : live_) moved[r >= row ? r + 1 : r] = view;
  live_ = std::move(moved);
  ++rowCount_;
  if (selected_ >= row) ++selected_;
  updateScrollRange();
  layoutRows();
  if (animation != TableRowAnimationNone && rowAnimationDuration_ > 0)
    animateRows(before, row, nullptr, animation);
}

void TableView::removeRow(int row, unsigned animation) {
  if (row < 0 || row >= rowCount_) return;
  finishRowAnimation();
  const bool animated = animation != TableRowAnimationNone && rowAnimationDuration_ > 0;
  const auto before = animated ? liveFrames() : std::map<QWidget*, QRect>{};
  QWidget* ghost = nullptr;
  if (animated) {
    if (auto* view = rowViewAtRow(row); view && view->isVisible()) {
      auto* picture = new QLabel(viewport());
      picture->setPixmap(view->grab());
      picture->setGeometry(view->geometry());
      picture->setAttribute(Qt::WA_TransparentForMouseEvents);
      picture->show();
      picture->lower();
      ghost = picture;
    }
  }
  retireRow(row);
  std::map<int, TableRowView*> moved;
  for (const auto& [r, view] : live_) moved[r > row ? r - 1 : r] = view;
  live_ = std::move(moved);
  --rowCount_;
  bool changed = false;
  if (selected_ == row) {
    selected_ = -1;
    changed = true;
  } else if (selected_ > row) {
    --selected_;
  }
  updateScrollRange();
  layoutRows();
  if (animated) animateRows(before, -1, ghost, animation);
  if (changed && source_) source_->selectionDidChange(*this);
}

void TableView::moveRow(int from, int to) {
  if (from < 0 || from >= rowCount_ || to < 0 || to >= rowCount_ || from == to) return;
  finishRowAnimation();
  auto remap = [&](int r) {
    if (r == from) return to;
    if (from < to && r > from && r <= to) return r - 1;
    if (from > to && r >= to && r < from) return r + 1;
    return r;
  };
  std::map<int, TableRowView*> moved;
  for (const auto& [r, view] : live_) moved[remap(r)] = view;
  live_ = std::move(moved);
  if (selected_ >= 0) selected_ = remap(selected_);
  layoutRows();
}

void TableView::selectRow(int row) {
  if (row < -1 || row >= rowCount_) return;
  if (row == -1 && !allowsEmptySelection_) return;
  if (row == selected_) return;
  selected_ = row;
  for (const auto& [r, view] : live_) view->setSelected(r == selected_);
  updateFocusRing();
  if (source_) source_->selectionDidChange(*this);
}

void TableView::scrollRowToVisible(int row) {
  if (row < 0 || row >= rowCount_) return;
  const int top = row * rowHeight_;
  auto* bar = verticalScrollBar();
  if (top < bar->value())
    bar->setValue(top);
  else if (top + rowHeight_ > bar->value() + viewport()->height())
    bar->setValue(top + rowHeight_ - viewport()->height());
}

void TableView::setMenu(QMenu* menu, std::function<void(QMenu&)> willOpen) {
  menu_ = menu;
  menuWillOpen_ = std::move(willOpen);
}

QMenu* TableView::prepareContextMenu(const QPoint& point) {
  clicked_ = rowAt(point);
  if (!menu_) return nullptr;
  contextRow_ = clicked_;
  viewport()->update();
  if (menuWillOpen_) menuWillOpen_(*menu_);
  return menu_;
}

bool TableView::performRowAction(int row, TableRowActionEdge edge) {
  if (!source_ || row < 0 || row >= rowCount_) return false;
  auto actions = source_->rowActions(*this, row, edge);
  if (actions.empty() || !actions.front().handler) return false;
  actions.front().handler(row);
  return true;
}

void TableView::drawContextMenuHighlightForRow(QPainter& painter, int row) {
  if (!rowViewAtRow(row)) return;
  painter.setPen(QPen(palette().highlight(), 2));
  painter.drawRect(rectOfRow(row).adjusted(1, 1, -1, -1));
}

void TableView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  if (contextRow_ >= 0) drawContextMenuHighlightForRow(painter, contextRow_);
  if (dropIndicator_ >= 0) {
    const int y = dropIndicator_ * rowHeight_ - verticalScrollBar()->value();
    painter.fillRect(QRect(4, std::max(0, y - 1), viewport()->width() - 8, 2),
                     palette().highlight());
  }
}

void TableView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  updateScrollRange();
  layoutRows();
}

void TableView::scrollContentsBy(int, int) { layoutRows(); }

void TableView::mousePressEvent(QMouseEvent* event) {
  const int row = rowAt(event->position().toPoint());
  clicked_ = row;
  if (event->button() == Qt::LeftButton) {
    pressPoint_ = event->position().toPoint();
    pressRow_ = row;
    selectRow(row);
  }
}

void TableView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || pressRow_ < 0) return;
  if ((event->position().toPoint() - pressPoint_).manhattanLength() <
      QApplication::startDragDistance())
    return;
  const int row = pressRow_;
  pressRow_ = -1;
  startDrag(row);
}

void TableView::startDrag(int row) {
  if (!source_) return;
  auto data = std::make_unique<QMimeData>();
  if (!source_->writeRows(*this, {row}, *data)) return;
  auto* drag = new QDrag(this);
  drag->setMimeData(data.release());
  const QPixmap image = source_->draggingImage(*this, row);
  if (!image.isNull()) {
    drag->setPixmap(image);
    drag->setHotSpot(pressPoint_ - rectOfRow(row).topLeft());
  }
  drag->exec(Qt::MoveAction);
}

void TableView::mouseDoubleClickEvent(QMouseEvent* event) {
  clicked_ = rowAt(event->position().toPoint());
  // A quick second right click is another context menu, never an edit.
  if (event->button() != Qt::LeftButton) return;
  if (doubleAction_) doubleAction_(*this);
}

void TableView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = prepareContextMenu(event->pos());
  if (!menu) return;
  menu->exec(event->globalPos());
  contextRow_ = -1;
  viewport()->update();
}

void TableView::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) &&
      performRowAction(selected_, TableRowActionEdge::Trailing))
    return;
  if (event->modifiers() & ~Qt::KeypadModifier) return QAbstractScrollArea::keyPressEvent(event);
  int row = -2;
  if (key == Qt::Key_Down) row = selected_ < 0 ? 0 : std::min(selected_ + 1, rowCount_ - 1);
  if (key == Qt::Key_Up) row = selected_ < 0 ? rowCount_ - 1 : std::max(selected_ - 1, 0);
  if (key == Qt::Key_Home) row = 0;
  if (key == Qt::Key_End) row = rowCount_ - 1;
  if (row != -2) {
    if (row >= 0) {
      selectRow(row);
      scrollRowToVisible(row);
    }
    return event->accept();
  }
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && selected_ >= 0 && doubleAction_) {
    clicked_ = selected_;
    doubleAction_(*this);
    return event->accept();
  }
  QAbstractScrollArea::keyPressEvent(event);
}

bool TableView::event(QEvent* event) {
  // The list's own keys win over window shortcuts of the same keys while it has the focus.
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) && selected_ >= 0 &&
        key->modifiers() == Qt::NoModifier) {
      event->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(event);
}

void TableView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  updateFocusRing();
}

void TableView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  updateFocusRing();
}

void TableView::dropPoint(const QPoint& point, int* row, TableDropOperation* operation) const {
  // The outer quarters of a row drop between rows; the middle drops onto the row.
  const int y = point.y() + verticalScrollBar()->value();
  const int r = y / rowHeight_;
  const int within = y - r * rowHeight_;
  if (r >= rowCount_) {
    *row = rowCount_;
    *operation = TableDropOperation::Above;
  } else if (within < rowHeight_ / 4) {
    *row = r;
    *operation = TableDropOperation::Above;
  } else if (within >= rowHeight_ - rowHeight_ / 4) {
    *row = r + 1;
    *operation = TableDropOperation::Above;
  } else {
    *row = r;
    *operation = TableDropOperation::On;
  }
}

Qt::DropAction TableView::validateDropAt(const QObject* source, const QMimeData& data,
                                         const QPoint& point, int* row,
                                         TableDropOperation* operation) {
  dropPoint(point, row, operation);
  if (!source_) return Qt::IgnoreAction;
  return source_->validateDrop(*this, source, data, *row, *operation);
}

bool TableView::performDropAt(const QObject* source, const QMimeData& data, const QPoint& point) {
  int row = -1;
  TableDropOperation operation = TableDropOperation::On;
  if (validateDropAt(source, data, point, &row, &operation) == Qt::IgnoreAction) return false;
  return source_->acceptDrop(*this, data, row, operation);
}

void TableView::dragEnterEvent(QDragEnterEvent* event) {
  dragMoveEvent(event);
  if (event->isAccepted() || !source_) return;
  // Moves keep coming only after an accepted enter, and a drag begins over its own row, where
  // it may not drop: take the drag in when it may drop between the rows around the pointer, and
  // let each move decide.
  const int row = std::max(0, rowAt(event->position().toPoint()));
  for (int candidate : {row, row + 1})
    if (source_->validateDrop(*this, event->source(), *event->mimeData(), candidate,
                              TableDropOperation::Above) != Qt::IgnoreAction) {
      event->accept();
      return;
    }
}

void TableView::dragMoveEvent(QDragMoveEvent* event) {
  int row = -1;
  TableDropOperation operation = TableDropOperation::On;
  const Qt::DropAction action = validateDropAt(event->source(), *event->mimeData(),
                                               event->position().toPoint(), &row, &operation);
  const int indicator = action == Qt::IgnoreAction ? -1 : row;
  if (indicator != dropIndicator_) {
    dropIndicator_ = indicator;
    viewport()->update();
  }
  if (action == Qt::IgnoreAction) {
    event->ignore();
    return;
  }
  event->setDropAction(action);
  event->accept();
}

void TableView::dragLeaveEvent(QDragLeaveEvent*) {
  dropIndicator_ = -1;
  viewport()->update();
}

void TableView::dropEvent(QDropEvent* event) {
  dropIndicator_ = -1;
  viewport()->update();
  if (performDropAt(event->source(), *event->mimeData(), event->position().toPoint())) {
    event->setDropAction(Qt::MoveAction);
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace tw::ui
