#include "app/Source/ActionsList/ActionsListViewController.h"

#include <QDialog>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPropertyAnimation>
#include <QVBoxLayout>

#include "app/Source/ActionEditor/ActionsEditorViewController.h"
#include "app/Source/ActionsList/ActionListItemTableCellView.h"
#include "app/Source/ActionsList/ActionsListTableSource.h"
#include "app/Source/Controls/BTStaticPlaceholderView.h"
#include "app/Source/Controls/ModalWindow.h"
#include "app/Source/Controls/TextStyle.h"
#include "app/Source/Extensions/ViewExtensions.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/ViewModels/BTActionsListViewModel.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubject.h"
#include "platform/signals/RACUnit.h"
#include "platform/ui/NamedResources.h"

namespace {

constexpr int kAnimationMs = 300;

QString tr(const char* text) { return QString::fromStdString(tw::localized(text)); }

}  // namespace

ActionsListViewController::ActionsListViewController() = default;

ActionsListViewController::~ActionsListViewController() {
  if (rebuilt_) rebuilt_->sendCompleted();
  if (tableView_ && tableSource_ && tableView_->source() == tableSource_.get())
    tableView_->setSource(nullptr);
  if (editorWindow_) editorWindow_->deleteLater();
}

void ActionsListViewController::loadView() {
  auto* root = new QWidget;
  root->setObjectName("ActionsList");
  root_ = root;
  auto* layout = new QVBoxLayout(root);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  tableView_ = new tw::ui::TableView;
  tableView_->setObjectName("ActionsListTable");
  tableView_->setAccessibleName(tr("Actions"));
  tableView_->setRowHeight(44);
  // No style sheet here: it would reach every row of the list (see TextStyle.h).
  tableView_->setFrameShape(QFrame::NoFrame);
  tableView_->viewport()->setAutoFillBackground(false);
  ListFooterView::styleScrollBar(tableView_->verticalScrollBar());
  layout->addWidget(tableView_, 1);

  footerView_ = new ListFooterView("ActionsListFooter", QMargins(8, 4, 12, 4), 2);
  const auto makeFooterButton = [&](const char* text, const char* name, const char* tip) {
    QPushButton* button = footerView_->addButton(text, name);
    button->setToolTip(tr(tip));
    button->setAccessibleName(button->toolTip());
    return button;
  };
  addButton_ = makeFooterButton("+", "addActionButton", "Add Action");
  removeButton_ = makeFooterButton("\u2212", "removeActionButton", "Remove Action");
  removeButton_->setEnabled(false);
  footerView_->row()->addStretch(1);
  statusLabel_ = new QLabel;
  statusLabel_->setObjectName("statusLabel");
  tw::app::setTextStyle(statusLabel_, tw::app::rgba(255, 255, 255, 0.75), 11);
  footerView_->row()->addWidget(statusLabel_);
  layout->addWidget(footerView_);
  setView(root);
}

void ActionsListViewController::viewDidLoad() {
  footerView_->setTint(tw::ui::colorNamed("OverlayDark10").value_or(QColor(0, 0, 0, 26)));

  emptyContentView_ = new BTStaticPlaceholderView;
  emptyContentView_->imageView()->clear();
  emptyContentView_->titleLabel()->setText(tr("No Actions Created"));
  emptyContentView_->detailsLabel()->setText(
      tr("Start by creating one using the add (+) button below"));
  // The pane is dark: light text.
  tw::app::setTextStyle(emptyContentView_->titleLabel(), tw::app::rgba(255, 255, 255, 0.9));
  tw::app::setTextStyle(emptyContentView_->detailsLabel(), tw::app::rgba(255, 255, 255, 0.6));
  emptyContentView_->updateUi();
  tw::app::constrainToParent(emptyContentView_, tableView_);
  emptyContentView_->setAttribute(Qt::WA_TransparentForMouseEvents);
  setEmptyContentViewHidden(true, false);

  std::weak_ptr<ActionsListViewController> weak =
      std::dynamic_pointer_cast<ActionsListViewController>(selfResponder());
  QObject::connect(addButton_, &QPushButton::clicked, addButton_, [weak] {
    if (auto s = weak.lock()) s->addActionObject();
  });
  QObject::connect(removeButton_, &QPushButton::clicked, removeButton_, [weak] {
    if (auto s = weak.lock()) s->removeActionObject();
  });
  setAction("addActionObject", [weak](QObject*) {
    if (auto s = weak.lock()) s->addActionObject();
  });
  setAction(
      "removeActionObject",
      [weak](QObject*) {
        if (auto s = weak.lock()) s->removeActionObject();
      },
      [weak](QAction*) {
        auto s = weak.lock();
        return s && s->viewModel_ && s->viewModel_->isDeleteActionEnabled();
      });
  addButton_->setEnabled(timeObject_ != nullptr);
}

void ActionsListViewController::setTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) {
  if (timeObject == timeObject_) return;
  setAndNotify("timeObject", timeObject_, timeObject);
  rebuildList();
}

bool ActionsListViewController::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "timeObject") return out = tw::Value(timeObject_), true;
  return tw::ui::ViewController::getValueForKey(key, out);
}

void ActionsListViewController::rebuildList() {
  view();
  // The bindings of the previous list end here; its view model and source go with them.
  if (rebuilt_) rebuilt_->sendNext(RACUnit::defaultUnit());
  rebuilt_ = RACSubject::subject();
  if (tableView_->source() == tableSource_.get()) tableView_->setSource(nullptr);
  tableSource_.reset();
  viewModel_.reset();
  addButton_->setEnabled(timeObject_ != nullptr);
  if (!timeObject_) {
    tableView_->reloadData();
    removeButton_->setEnabled(false);
    statusLabel_->clear();
    setEmptyContentViewHidden(true, false);
    return;
  }

  auto self = std::dynamic_pointer_cast<ActionsListViewController>(selfResponder());
  viewModel_ = BTActionsListViewModel::create(timeObject_, self);
  tableSource_ = std::make_unique<ActionsListTableSource>(viewModel_, tableView_);
  tableSource_->makeTableViewRegistrations();
  tableView_->setRefusesFirstResponder(true);
  tableView_->setAllowsEmptySelection(true);
  tableView_->setSource(tableSource_.get());
  // Nothing of the previous object's rows may stay until the new list has loaded.
  tableView_->reloadData();
  viewModel_->initialize();

  QPointer<QPushButton> remove(removeButton_);
  rac_valuesForKeyPath(viewModel_, "deleteActionEnabled", nullptr)
      ->takeUntil(rebuilt_)
      ->subscribeNext([remove](const tw::Value& v) {
        if (remove) remove->setEnabled(v.boolValue());
      });
  QPointer<QLabel> status(statusLabel_);
  rac_valuesForKeyPath(viewModel_, "statusText", nullptr)
      ->takeUntil(rebuilt_)
      ->subscribeNext([status](const tw::Value& v) {
        if (status) status->setText(v.string() ? QString::fromStdString(*v.string()) : QString());
      });
}

void ActionsListViewController::addActionObject() {
  TW_MAIN_THREAD_ONLY("ActionsListViewController::addActionObject");
  if (viewModel_) viewModel_->addNewObject();
}

void ActionsListViewController::removeActionObject() {
  TW_MAIN_THREAD_ONLY("ActionsListViewController::removeActionObject");
  if (viewModel_) viewModel_->deleteObject();
}

void ActionsListViewController::setEmptyContentViewHidden(bool hidden, bool animated) {
  TW_MAIN_THREAD_ONLY("ActionsListViewController::setEmptyContentViewHidden");
  if (!emptyContentView_) return;
  emptyAlpha_ = hidden ? 0.0 : 1.0;
  tw::app::setViewAlpha(emptyContentView_, emptyAlpha_, animated, kAnimationMs);
}

void ActionsListViewController::syncSelection() {
  if (viewModel_ && viewModel_->selectionIndex() != tableView_->selectedRow())
    viewModel_->setSelectionIndex(tableView_->selectedRow());
}

void ActionsListViewController::dataObjectsLoaded(const tw::Array&) {
  setEmptyContentViewHidden(true, false);
  tableView_->reloadData();
  syncSelection();
}

void ActionsListViewController::dataObjectListEmpty() { setEmptyContentViewHidden(false, true); }

void ActionsListViewController::dataObjectListNotEmpty() { setEmptyContentViewHidden(true, true); }

void ActionsListViewController::dataObjectInserted(std::int64_t index) {
  tableView_->insertRow(static_cast<int>(index),
                        tw::ui::TableRowAnimationFade | tw::ui::TableRowAnimationSlideDown);
  syncSelection();
}

void ActionsListViewController::dataObjectDeleted(std::int64_t index) {
  tableView_->removeRow(static_cast<int>(index),
                        tw::ui::TableRowAnimationFade | tw::ui::TableRowAnimationSlideUp);
  syncSelection();
}

void ActionsListViewController::dataObjectUpdated(std::int64_t index) {
  // The row's cell shows the action that replaced the edited one.
  const int row = static_cast<int>(index);
  if (!tableSource_ || row < 0 || row >= tableView_->numberOfRows()) return;
  auto* cell = dynamic_cast<ActionListItemTableCellView*>(tableView_->viewAtRow(row));
  // A row off screen gets its cell when it comes into view.
  if (!cell) return;
  cell->unbindViewModel();
  cell->prepareForReuse();
  tableSource_->configureCell(cell, *tableView_, row);
}

void ActionsListViewController::dataObjectMovedFromIndex(std::int64_t from, std::int64_t to) {
  tableView_->moveRow(static_cast<int>(from), static_cast<int>(to));
  syncSelection();
}

void ActionsListViewController::showObjectEditorWithTimeObject(
    const std::shared_ptr<BTTimeObject>& timeObject) {
  if (!timeObject) return;
  presentEditor(std::make_shared<ActionsEditorViewControllerWithTouchBar>(timeObject));
}

void ActionsListViewController::showObjectEditorWithAction(
    const std::shared_ptr<BTActionObject>& action) {
  if (!action) return;
  presentEditor(std::make_shared<ActionsEditorViewControllerWithTouchBar>(action));
}

void ActionsListViewController::presentEditor(
    const std::shared_ptr<ActionsEditorViewController>& editor) {
  // One editor at a time (a second double-click while one opens is ignored).
  if (editor_) return;
  editor_ = editor;
  std::weak_ptr<ActionsListViewController> weak =
      std::dynamic_pointer_cast<ActionsListViewController>(selfResponder());
  editor->setDismissHandler([weak](const ActionsEditorViewController* e) {
    if (auto s = weak.lock()) s->dismissEditor(e);
  });
  QWidget* parent = root_ ? root_->window() : nullptr;
  auto* window = new ModalWindow(parent);
  editorWindow_ = window;
  window->setObjectName("ActionsEditorWindow");
  window->setContentViewController(editor->view());
  editor->prepareWindow(window);
  // Escape (or any other close) is a Cancel.
  QObject::connect(window, &QDialog::finished, window, [weak, e = editor.get()] {
    auto s = weak.lock();
    if (s && s->editor_.get() == e && s->editor_->viewModel()) s->editor_->cancelAction();
  });
  // Over the main window: the fitted size moved the dialog, so the platform would leave it where
  // the move put it.
  tw::app::centerOverWindow(window, parent);
  window->show();
  window->raise();
  window->activateWindow();
  if (auto* view = editor->view()) view->setFocus(Qt::OtherFocusReason);
}

void ActionsListViewController::dismissEditor(const ActionsEditorViewController* editor) {
  TW_MAIN_THREAD_ONLY("ActionsListViewController::dismissEditor");
  if (!editor_ || editor_.get() != editor) return;
  // The editor is still inside its own save or cancel: it and its view model go a turn later.
  auto done = std::move(editor_);
  QPointer<ModalWindow> window = editorWindow_;
  editorWindow_ = nullptr;
  if (window) {
    QObject::disconnect(window, &QDialog::finished, nullptr, nullptr);
    window->hide();
    window->deleteLater();
  }
  tw::onMain([done] {});
}
