#include "app/Source/Settings/SettingsTabViewController.h"

#include <QButtonGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/Source/Extensions/ViewExtensions.h"

namespace {

constexpr int kToolbarIconSize = 32;

}  // namespace

SettingsTabViewController::SettingsTabViewController() = default;

void SettingsTabViewController::loadView() {
  auto* view = new QWidget;
  auto* layout = new QVBoxLayout(view);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* toolbar = new QWidget(view);
  toolbar->setObjectName("SettingsToolbar");
  toolbar->setAutoFillBackground(true);
  QPalette palette = toolbar->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Window).darker(106));
  toolbar->setPalette(palette);
  auto* row = new QHBoxLayout(toolbar);
  row->setContentsMargins(8, 4, 8, 4);
  row->setSpacing(2);
  row->addStretch(1);
  layout->addWidget(toolbar);
  toolbar_ = toolbar;

  auto* line = new QFrame(view);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);

  auto* host = new QWidget(view);
  auto* hostLayout = new QVBoxLayout(host);
  hostLayout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(host, 1);
  paneHost_ = host;

  buttons_ = new QButtonGroup(view);
  buttons_->setExclusive(true);
  QObject::connect(buttons_, &QButtonGroup::idClicked, view, [this](int index) {
    if (index != selected_) setSelectedTabViewItemIndex(index);
  });
  // The keys of any tab view: Ctrl+Tab and Ctrl+Shift+Tab step through the tabs, round.
  for (const auto& [keys, step] : {std::pair{QKeySequence(QKeySequence::NextChild), 1},
                                   std::pair{QKeySequence(QKeySequence::PreviousChild), -1}}) {
    auto* shortcut = new QShortcut(keys, view);
    shortcut->setContext(Qt::WindowShortcut);
    const int by = step;
    QObject::connect(shortcut, &QShortcut::activated, view, [this, by] {
      const int count = static_cast<int>(items_.size());
      if (count > 0) setSelectedTabViewItemIndex(((selected_ + by) % count + count) % count);
    });
  }
  setView(view);
}

void SettingsTabViewController::viewDidLoad() {
  ViewController::viewDidLoad();
  setTabStyle(kToolbarTabStyle);
  setTransitionOptions(kNoTransition);
}

void SettingsTabViewController::setTabViewItems(
    std::vector<std::shared_ptr<SettingsTabViewItem>> items) {
  view();
  if (shownPane_) {
    shownPane_->hide();
    shownPane_->setParent(nullptr);
  }
  shownPane_ = nullptr;
  for (const auto& child : std::vector(childViewControllers()))
    child->removeFromParentViewController();
  items_ = std::move(items);
  selected_ = -1;
  for (const auto& item : items_)
    if (item->viewController) addChildViewController(item->viewController);
  rebuildToolbar();
  if (!items_.empty()) setSelectedTabViewItemIndex(0);
}

void SettingsTabViewController::rebuildToolbar() {
  auto* row = static_cast<QHBoxLayout*>(toolbar_->layout());
  for (QAbstractButton* button : buttons_->buttons()) {
    buttons_->removeButton(button);
    delete button;
  }
  for (std::size_t n = 0; n < items_.size(); ++n) {
    auto* button = new QToolButton(toolbar_);
    button->setText(QString::fromStdString(items_[n]->label));
    button->setIcon(items_[n]->image);
    button->setIconSize(QSize(kToolbarIconSize, kToolbarIconSize));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setCheckable(true);
    // One pane at a time: read out as radio buttons.
    button->setAutoExclusive(true);
    button->setAutoRaise(true);
    button->setMinimumWidth(72);
    buttons_->addButton(button, static_cast<int>(n));
    row->insertWidget(static_cast<int>(n), button);
  }
}

QToolButton* SettingsTabViewController::toolbarButton(int index) const {
  return buttons_ ? qobject_cast<QToolButton*>(buttons_->button(index)) : nullptr;
}

void SettingsTabViewController::setSelectedTabViewItemIndex(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) return;
  const auto item = items_[index];
  tabViewWillSelectTabViewItem(item);
  if (shownPane_) {
    shownPane_->hide();
    paneHost_->layout()->removeWidget(shownPane_);
  }
  QWidget* pane = item->viewController ? item->viewController->view() : nullptr;
  if (pane) {
    paneHost_->layout()->addWidget(pane);
    pane->show();
  }
  shownPane_ = pane;
  focusFirstControl();
  selected_ = index;
  if (QAbstractButton* button = toolbarButton(index)) button->setChecked(true);
  tabViewDidSelectTabViewItem(item);
}

void SettingsTabViewController::viewDidAppear() {
  ViewController::viewDidAppear();
  focusFirstControl();
}

void SettingsTabViewController::focusFirstControl() {
  QWidget* pane = shownPane_;
  if (!pane) return;
  for (QWidget* w = pane->nextInFocusChain(); w && pane->isAncestorOf(w);
       w = w->nextInFocusChain()) {
    if (w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
      w->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}

void SettingsTabViewController::tabViewWillSelectTabViewItem(
    const std::shared_ptr<SettingsTabViewItem>& item) {
  if (!item || tabViewSizes_.count(item->label)) return;
  QWidget* pane = item->viewController ? item->viewController->view() : nullptr;
  if (!pane) return;
  tabViewSizes_.emplace(item->label, fittingSize(pane));
}

QSize SettingsTabViewController::fittingSize(QWidget* view) {
  if (!view) return {};
  return view->sizeHint().expandedTo(view->minimumSizeHint()).expandedTo(view->minimumSize());
}

void SettingsTabViewController::tabViewDidSelectTabViewItem(
    const std::shared_ptr<SettingsTabViewItem>& item) {
  if (!item) return;
  if (QWidget* window = hostWindow()) window->setWindowTitle(QString::fromStdString(item->label));
  resizeWindowToFit(item);
}

QWidget* SettingsTabViewController::hostWindow() {
  QWidget* own = isViewLoaded() ? view() : nullptr;
  // A view that is not yet inside a window has no window to retitle or resize.
  if (!own || !own->parentWidget()) return nullptr;
  return own->window();
}

QSize SettingsTabViewController::frameSizeForContentSize(QSize contentSize) {
  view();
  const int chrome = view()->sizeHint().height() - paneHost_->sizeHint().height();
  return QSize(contentSize.width(), contentSize.height() + std::max(chrome, 0));
}

void SettingsTabViewController::resizeWindowToFit(
    const std::shared_ptr<SettingsTabViewItem>& item) {
  if (!item) return;
  const auto size = tabViewSizes_.find(item->label);
  if (size == tabViewSizes_.end()) return;
  QWidget* window = hostWindow();
  if (!window) return;
  const QSize frame = frameSizeForContentSize(size->second);
  // Screen coordinates point down here: keeping x and y keeps the left and top edges, so the
  // window grows or shrinks at its bottom and right.
  // Fixed there: the window is a fixed-size dialog whose panes alone size it.
  tw::app::setFixedFrame(window, QRect(window->geometry().topLeft(), frame), kResizeDuration);
}
