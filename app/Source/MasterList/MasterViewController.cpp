#include "app/Source/MasterList/MasterViewController.h"

#include <QApplication>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/Source/Controls/BTGradientView.h"
#include "app/Source/Controls/BTStaticPlaceholderView.h"
#include "app/Source/Controls/IndicatorView.h"
#include "app/Source/Controls/TextStyle.h"
#include "app/Source/Extensions/ViewExtensions.h"
#include "app/Source/MasterList/MasterListTableSource.h"
#include "app/Source/MasterList/MasterListTableView.h"
#include "core/Source/Library/BTViewTransition.h"
#include "core/Source/Model/BTMasterListViewMode.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/ViewModels/BTMasterListViewModel.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/ui/NamedResources.h"

namespace {

QColor named(const char* name, QColor fallback) {
  return tw::ui::colorNamed(name).value_or(fallback);
}

constexpr int kAnimationMs = 300;

// Runs a block whenever the watched widget is resized or shown (its layout settled).
class LayoutWatcher : public QObject {
 public:
  LayoutWatcher(QWidget* watched, std::function<void()> block)
      : QObject(watched), block_(std::move(block)) {
    watched->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Show) block_();
    return false;
  }

 private:
  std::function<void()> block_;
};

}  // namespace

MasterViewController::MasterViewController() = default;

MasterViewController::~MasterViewController() {
  *alive_ = false;
  if (tableView_ && tableView_->source() == tableSource_.get()) tableView_->setSource(nullptr);
}

void MasterViewController::loadView() {
  auto* root = new BTGradientView;
  root->setObjectName("MasterView");
  root_ = root;
  auto* layout = new QVBoxLayout(root);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  // The window's title bar lies over the top of the header.
  menuView_ = new BTGradientView;
  menuView_->setObjectName("MasterMenuView");
  auto* header = new QHBoxLayout(menuView_);
  header->setContentsMargins(8, 44, 8, 10);
  header->setSpacing(4);
  // The tabs are one exclusive group: read out as radio buttons, reached with Tab, and moved
  // between with the arrow keys.
  const auto makeTab = [&](const char* title, const char* name, const char* description) {
    auto* button = new QPushButton(QString::fromStdString(tw::localized(title)));
    button->setObjectName(name);
    button->setCheckable(true);
    button->setAutoExclusive(true);
    button->setFocusPolicy(Qt::TabFocus);
    button->setAccessibleDescription(QString::fromStdString(tw::localized(description)));
    button->setStyleSheet(
        "QPushButton { color: rgba(255,255,255,0.7); background: transparent; border: none;"
        " border-radius: 4px; padding: 4px 8px; font-size: 13px; }"
        "QPushButton:checked { color: white; }"
        "QPushButton:focus { border: 1px solid rgba(255,255,255,0.85); }");
    header->addWidget(button);
    return button;
  };
  alarmTabButton_ = makeTab("Alarms", "alarmTab", "Show the alarms");
  timerTabButton_ = makeTab("Timers", "timerTab", "Show the timers");
  stopwatchTabButton_ = makeTab("Stopwatches", "stopwatchTab", "Show the stopwatches");
  auto* indicator = new IndicatorView(menuView_);
  indicator->setObjectName("tabIndicator");
  indicator->setFillColor(QColor(Qt::white));
  indicator->setBorderColor(named("OverlayDark20", QColor(0, 0, 0, 51)));
  tabIndicatorView_ = indicator;
  layout->addWidget(menuView_);

  tableView_ = new MasterListTableView;
  tableView_->setObjectName("MasterList");
  tableView_->setAccessibleDescription(QString::fromStdString(
      tw::localized("Up and Down select, Return edits the value, Delete deletes")));
  tableView_->setRowHeight(48);
  // Transparent without a style sheet: one here would reach every row and cell in the list and
  // have each of them polished by the style-sheet engine as it is made, a cost paid per row.
  tableView_->setAutoFillBackground(false);
  tableView_->viewport()->setAutoFillBackground(false);
  layout->addWidget(tableView_, 1);

  footerView_ = new ListFooterView("MasterFooter", QMargins(8, 4, 8, 4));
  addButton_ = footerView_->addButton("+", "addButton");
  removeButton_ = footerView_->addButton("\u2212", "removeButton");
  footerView_->row()->addStretch(1);
  layout->addWidget(footerView_);
  setView(root);
}

void MasterViewController::viewDidLoad() {
  auto self = std::dynamic_pointer_cast<MasterViewController>(selfResponder());
  std::weak_ptr<MasterViewController> weak = self;
  // Ended with the controller, so a late announcement never reaches a destroyed one.
  modeObserver_ = tw::NotificationCenter::defaultCenter()->addObserver(
      BTMasterListViewModeDidChangeNotification, nullptr, nullptr,
      [weak](const tw::Notification& n) {
        if (auto s = weak.lock()) s->masterListViewModeDidChange(n);
      });
  viewModel_ = BTMasterListViewModel::create(self);

  // setupView
  footerView_->setTint(named("OverlayDark20", QColor(0, 0, 0, 51)));
  // setupMenuView
  menuView_->setDirection(0);
  menuView_->setColors(
      std::vector<QColor>{named("OverlayDark20", QColor(0, 0, 0, 51)), QColor(0, 0, 0, 0)});
  restoreTabSelection();
  new LayoutWatcher(menuView_, [weak] {
    auto s = weak.lock();
    if (!s) return;
    for (auto* b : {s->alarmTabButton_, s->timerTabButton_, s->stopwatchTabButton_})
      if (b->isChecked()) s->positionTabIndicatorNextToView(b, false);
  });

  // setupTableView
  tableSource_ = std::make_unique<MasterListTableSource>(viewModel_, tableView_);
  tableSource_->makeTableViewRegistrations();
  // A click on a row gives the list the keyboard too: the keys that follow act on that row.
  tableView_->setRefusesFirstResponder(false);
  tableView_->setAllowsEmptySelection(true);
  tableView_->setSource(tableSource_.get());

  // setupEmptyContentView
  emptyContentView_ = new BTStaticPlaceholderView;
  // Light text on the tinted pane; the hint a little softer than the title but still legible.
  tw::app::setTextStyle(emptyContentView_->titleLabel(), tw::app::rgba(255, 255, 255, 0.95));
  tw::app::setTextStyle(emptyContentView_->detailsLabel(), tw::app::rgba(255, 255, 255, 0.85));
  tw::app::constrainToParent(emptyContentView_, tableView_);
  emptyContentView_->setAttribute(Qt::WA_TransparentForMouseEvents);
  setEmptyContentViewHidden(true, false);

  for (auto* button : {alarmTabButton_, timerTabButton_, stopwatchTabButton_})
    QObject::connect(button, &QPushButton::clicked, button, [weak, button] {
      if (auto s = weak.lock()) s->selectTab(button);
    });
  QObject::connect(addButton_, &QPushButton::clicked, addButton_, [weak] {
    if (auto s = weak.lock()) s->addTimeObject();
  });
  QObject::connect(removeButton_, &QPushButton::clicked, removeButton_, [weak] {
    if (auto s = weak.lock()) s->removeTimeObject();
  });
  // Delete removes the selected time object (asking first when the settings say so) from
  // anywhere in the window, as the menu command would: the detail pane passes what it does not
  // handle on to the list. Text fields and the actions list take the key for themselves first.
  auto* deleteKey = new QShortcut(QKeySequence::Delete, root_);
  deleteKey->setContext(Qt::WindowShortcut);
  QObject::connect(deleteKey, &QShortcut::activated, root_, [weak] {
    auto s = weak.lock();
    if (s && !qobject_cast<QLineEdit*>(QApplication::focusWidget()) &&
        s->validateAction("removeTimeObject"))
      s->removeTimeObject();
  });

  const auto when = [weak](const char* action) {
    return [weak, action](QAction*) {
      auto s = weak.lock();
      return s && s->validateAction(action);
    };
  };
  setAction("addTimeObject", [weak](QObject*) {
    if (auto s = weak.lock()) s->addTimeObject();
  });
  setAction(
      "removeTimeObject",
      [weak](QObject*) {
        if (auto s = weak.lock()) s->removeTimeObject();
      },
      when("removeTimeObject"));
  setAction(
      "editTimeObjectTitle",
      [weak](QObject*) {
        if (auto s = weak.lock()) s->editTimeObjectTitle();
      },
      when("editTimeObjectTitle"));
  setAction(
      "editTimeObjectValue",
      [weak](QObject*) {
        if (auto s = weak.lock()) s->editTimeObjectValue();
      },
      when("editTimeObjectValue"));
  setAction("selectNextTab", [weak](QObject*) {
    if (auto s = weak.lock()) s->selectNextTab();
  });
  setAction("selectPreviousTab", [weak](QObject*) {
    if (auto s = weak.lock()) s->selectPreviousTab();
  });

  viewModel_->initialize();

  // bindViewModel
  QPointer<QPushButton> remove(removeButton_);
  rac_valuesForKeyPath(viewModel_, "deleteActionEnabled", nullptr)
      ->subscribeNext([remove](const tw::Value& v) {
        if (remove) remove->setEnabled(v.boolValue());
      });
}

bool MasterViewController::validateAction(const std::string& action) const {
  if (!viewModel_) return false;
  if (action == "editTimeObjectTitle" || action == "removeTimeObject")
    return viewModel_->isSelectionIndexValid();
  if (action == "editTimeObjectValue")
    return viewModel_->isSelectionIndexValid() && viewModel_->viewMode() != 2;
  return respondsToAction(action);
}

void MasterViewController::addTimeObject() { viewModel_->addNewObject(); }
void MasterViewController::removeTimeObject() { viewModel_->deleteObject(); }
void MasterViewController::editTimeObjectTitle() {
  TW_MAIN_THREAD_ONLY("MasterViewController::editTimeObjectTitle");
  viewModel_->editObjectTitleAtIndex(viewModel_->selectionIndex());
}
void MasterViewController::editTimeObjectValue() {
  TW_MAIN_THREAD_ONLY("MasterViewController::editTimeObjectValue");
  viewModel_->editObjectValueAtIndex(viewModel_->selectionIndex());
}

QPushButton* MasterViewController::tabButton(std::int64_t mode) const {
  switch (mode) {
    case 0:
      return alarmTabButton_;
    case 1:
      return timerTabButton_;
    case 2:
      return stopwatchTabButton_;
    default:
      return nullptr;
  }
}

void MasterViewController::selectTab(QObject* sender) {
  view();
  std::int64_t mode = -1;
  for (std::int64_t m = 0; m < 3; ++m)
    if (sender && sender == tabButton(m)) mode = m;
  // A sender that is none of the tabs would otherwise check it and move the indicator away from
  // the mode that stays shown.
  if (mode < 0) return;
  viewModel_->setViewMode(mode);
  selectTabButton(tabButton(mode));
  positionTabIndicatorNextToView(tabButton(mode), true);
  updateAccessibleNames();
}

void MasterViewController::selectNextTab() {
  const auto mode = viewModel_ ? viewModel_->viewMode() : -1;
  if (mode < 0 || mode > 2) return;
  selectTab(tabButton((mode + 1) % 3));
}

void MasterViewController::selectPreviousTab() {
  const auto mode = viewModel_ ? viewModel_->viewMode() : -1;
  if (mode < 0 || mode > 2) return;
  selectTab(tabButton((mode + 2) % 3));
}

void MasterViewController::selectTabButton(QPushButton* button) {
  // The group's exclusivity would keep the checked tab checked; here every tab may go off.
  for (auto* b : {stopwatchTabButton_, timerTabButton_, alarmTabButton_}) {
    b->setAutoExclusive(false);
    b->setChecked(false);
  }
  if (button) button->setChecked(true);
  for (auto* b : {stopwatchTabButton_, timerTabButton_, alarmTabButton_}) b->setAutoExclusive(true);
}

void MasterViewController::positionTabIndicatorNextToView(QWidget* button, bool animated) {
  QRect frame;
  if (button && button->parentWidget()) {
    menuView_->layout()->activate();
    frame = QRect(button->mapTo(menuView_, QPoint(0, 0)), button->size());
  }
  const int width = std::max(0, frame.width() - 16);
  const QRect target(frame.center().x() - width / 2, menuView_->height() - 6, width, 3);
  tabIndicatorView_->raise();
  tabIndicatorView_->show();
  if (!animated || !menuView_->isVisible()) {
    tabIndicatorView_->setGeometry(target);
    return;
  }
  auto* animation = new QPropertyAnimation(tabIndicatorView_, "geometry", tabIndicatorView_);
  animation->setDuration(kAnimationMs);
  animation->setEndValue(target);
  animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void MasterViewController::restoreTabSelection() {
  auto* button = tabButton(viewModel_->viewMode());
  selectTabButton(button);
  positionTabIndicatorNextToView(button, false);
  updateAccessibleNames();
}

void MasterViewController::updateAccessibleNames() {
  static const char* const lists[] = {"Alarms", "Timers", "Stopwatches"};
  static const char* const adds[] = {"Add alarm", "Add timer", "Add stopwatch"};
  static const char* const removes[] = {"Remove alarm", "Remove timer", "Remove stopwatch"};
  const auto mode = viewModel_ ? viewModel_->viewMode() : -1;
  if (mode < 0 || mode > 2) return;
  const auto text = [](const char* s) { return QString::fromStdString(tw::localized(s)); };
  tableView_->setAccessibleName(text(lists[mode]));
  addButton_->setAccessibleName(text(adds[mode]));
  addButton_->setToolTip(addButton_->accessibleName());
  removeButton_->setAccessibleName(text(removes[mode]));
  removeButton_->setToolTip(removeButton_->accessibleName());
}

void MasterViewController::masterListViewModeDidChange(const tw::Notification& notification) {
  const long mode = BTMasterListViewGetValueFromNotification(notification);
  const auto colors = BTMasterListViewModeGetGradientColors(mode, 1.0);
  if (!colors || !root_) return;
  std::vector<QColor> qt;
  for (const auto& c : *colors)
    qt.push_back(QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                                  static_cast<float>(c.blue), static_cast<float>(c.alpha)));
  root_->setColors(std::move(qt), true);
}

void MasterViewController::updateEmptyContentView() {
  static const char* const images[] = {"IconAlarm", "IconTimer", "IconStopwatch"};
  static const char* const titles[] = {"No Alarms Created", "No Timers Created",
                                       "No Stopwatches Created"};
  const auto mode = viewModel_->viewMode();
  if (mode >= 0 && mode <= 2) {
    const QIcon icon = tw::ui::imageNamed(images[mode]);
    if (icon.isNull())
      emptyContentView_->imageView()->clear();
    else
      emptyContentView_->imageView()->setPixmap(icon.pixmap(64, 64));
    emptyContentView_->titleLabel()->setText(QString::fromStdString(tw::localized(titles[mode])));
  }
  emptyContentView_->detailsLabel()->setText(QString::fromStdString(
      tw::localized("Start by creating one using the add (+) button below")));
}

void MasterViewController::setEmptyContentViewHidden(bool hidden, bool animated) {
  TW_MAIN_THREAD_ONLY("MasterViewController::setEmptyContentViewHidden");
  emptyAlpha_ = hidden ? 0.0 : 1.0;
  tw::app::setViewAlpha(emptyContentView_, emptyAlpha_, animated, kAnimationMs);
}

void MasterViewController::dataObjectsLoaded(const tw::Array&) {
  updateEmptyContentView();
  setEmptyContentViewHidden(true, false);
  tableView_->reloadData();
}

void MasterViewController::dataObjectListEmpty() {
  setEmptyContentViewHidden(false, true);
  if (auto delegate = delegate_.lock())
    delegate->masterViewControllerDidSelectTimeObject(
        *this, nullptr, BTViewTransition::transitionWithAnimation(1, 0));
}

void MasterViewController::dataObjectInserted(std::int64_t index) {
  tableView_->insertRow(static_cast<int>(index),
                        tw::ui::TableRowAnimationFade | tw::ui::TableRowAnimationSlideDown);
}

void MasterViewController::dataObjectDeleted(std::int64_t index) {
  tableView_->removeRow(static_cast<int>(index),
                        tw::ui::TableRowAnimationFade | tw::ui::TableRowAnimationSlideUp);
}

void MasterViewController::dataObjectMovedFromIndex(std::int64_t from, std::int64_t to) {
  tableView_->moveRow(static_cast<int>(from), static_cast<int>(to));
}

void MasterViewController::dataObjectSelectionChanged(
    const std::shared_ptr<BTTimeObject>& object,
    const std::shared_ptr<BTViewTransition>& transition) {
  TW_MAIN_THREAD_ONLY("MasterViewController::dataObjectSelectionChanged");
  onTimeObjectSelected(object);
  setEmptyContentViewHidden(true, true);
  if (auto delegate = delegate_.lock())
    delegate->masterViewControllerDidSelectTimeObject(*this, object, transition);
}

void MasterViewController::restoreDataObjectSelection(std::int64_t index) {
  tableView_->selectRow(static_cast<int>(index));
  tableView_->scrollRowToVisible(static_cast<int>(index));
}

void MasterViewController::showObjectTitleEditor(const std::shared_ptr<BTTimeObject>& object) {
  tableSource_->editTimeObjectTitle(object);
}

void MasterViewController::showObjectValueEditor(const std::shared_ptr<BTTimeObject>& object) {
  tableSource_->editTimeObjectValue(object);
}
