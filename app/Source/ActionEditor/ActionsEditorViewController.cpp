#include "app/Source/ActionEditor/ActionsEditorViewController.h"

#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QVBoxLayout>
#include <map>

#include "app/Source/ActionEditor/ActionObjectEditorView.h"
#include "app/Source/ActionEditor/AppOperationActionEditorView.h"
#include "app/Source/ActionEditor/CustomMessageActionEditorView.h"
#include "app/Source/ActionEditor/DetailsMenuItem.h"
#include "app/Source/ActionEditor/DisplayAlertActionEditorView.h"
#include "app/Source/ActionEditor/FileOperationActionEditorView.h"
#include "app/Source/ActionEditor/FlashScreenActionEditorView.h"
#include "app/Source/ActionEditor/LinkTimeObjectActionEditorView.h"
#include "app/Source/ActionEditor/PopUpButton.h"
#include "app/Source/ActionEditor/StaticBlankActionEditorView.h"
#include "app/Source/ActionEditor/SystemEventActionEditorView.h"
#include "app/Source/Extensions/RACTextSignal.h"
#include "app/Source/Extensions/ViewExtensions.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/ViewModels/BTActionObjectEditorViewModel.h"
#include "core/Source/ViewModels/BTTimeObjectListItemEditingViewModel.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/ui/TouchBar.h"

namespace {

QString tr(const char* text) { return QString::fromStdString(tw::localized(text)); }
QString qs(const std::optional<std::string>& text) {
  return text ? QString::fromStdString(*text) : QString();
}

QLabel* fieldLabel(const char* text) {
  auto* label = new QLabel(tr(text));
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

}  // namespace

ActionsEditorViewController::ActionsEditorViewController(std::shared_ptr<BTTimeObject> timeObject)
    : timeObject_(std::move(timeObject)) {}

ActionsEditorViewController::ActionsEditorViewController(std::shared_ptr<BTActionObject> action)
    : timeObject_(action ? action->timeObject() : nullptr), actionObject_(std::move(action)) {}

ActionsEditorViewController::~ActionsEditorViewController() = default;

void ActionsEditorViewController::loadView() {
  auto* root = new QWidget;
  root->setObjectName("ActionsEditorView");
  // A click on the background makes the editor (not a field) the focus.
  root->setFocusPolicy(Qt::ClickFocus);
  root_ = root;
  auto* layout = new QVBoxLayout(root);
  layout->setContentsMargins(20, 16, 20, 16);
  layout->setSpacing(10);

  windowTitleLabel_ = new QLabel;
  windowTitleLabel_->setObjectName("windowTitle");
  windowTitleLabel_->setTextFormat(Qt::PlainText);
  windowTitleLabel_->setAlignment(Qt::AlignCenter);
  windowTitleLabel_->setStyleSheet("font-size: 14px; font-weight: 600;");
  layout->addWidget(windowTitleLabel_);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(6);
  const int labelWidth = ActionObjectEditorView::labelColumnWidth(root->font());
  grid->setColumnMinimumWidth(0, labelWidth);
  grid->setColumnStretch(1, 1);
  actionSelectButton_ = new tw::app::PopUpButton;
  actionSelectButton_->setObjectName("PopUpButton");
  actionSelectButton_->setAccessibleDescription(tr("Action"));
  grid->addWidget(fieldLabel("Action:"), 0, 0);
  grid->addWidget(actionSelectButton_, 0, 1);
  actionDescriptionLabel_ = new QLabel;
  actionDescriptionLabel_->setObjectName("actionDescription");
  actionDescriptionLabel_->setWordWrap(true);
  actionDescriptionLabel_->setTextFormat(Qt::PlainText);
  actionDescriptionLabel_->setStyleSheet("color: palette(dark); font-size: 11px;");
  // Two lines are kept for every kind's description, so the rows below do not move up and down
  // as the kind changes.
  actionDescriptionLabel_->ensurePolished();
  actionDescriptionLabel_->setMinimumHeight(2 *
                                            actionDescriptionLabel_->fontMetrics().lineSpacing());
  actionDescriptionLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  grid->addWidget(actionDescriptionLabel_, 1, 1);
  triggerSelectButton_ = new tw::app::PopUpButton;
  triggerSelectButton_->setAccessibleDescription(tr("Trigger"));
  grid->addWidget(fieldLabel("Trigger:"), 2, 0);
  grid->addWidget(triggerSelectButton_, 2, 1);
  layout->addLayout(grid);

  triggerTimeDurationContainerView_ = new QWidget;
  triggerTimeDurationContainerView_->setObjectName("triggerTimeDuration");
  auto* duration = new QHBoxLayout(triggerTimeDurationContainerView_);
  duration->setContentsMargins(0, 0, 0, 0);
  duration->setSpacing(10);
  auto* durationLabel = fieldLabel("Duration:");
  durationLabel->setFixedWidth(labelWidth);
  triggerTimeDurationField_ = new QLineEdit;
  triggerTimeDurationField_->setObjectName("triggerTimeDurationField");
  triggerTimeDurationField_->setAlignment(Qt::AlignRight);
  triggerTimeDurationField_->setMaximumWidth(90);
  triggerTimeDurationField_->setAccessibleName(tr("Duration in seconds"));
  durationLabel->setBuddy(triggerTimeDurationField_);
  duration->addWidget(durationLabel);
  duration->addWidget(triggerTimeDurationField_);
  duration->addWidget(new QLabel(tr("seconds")));
  duration->addStretch(1);
  layout->addWidget(triggerTimeDurationContainerView_);

  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setStyleSheet("color: rgba(0,0,0,0.12);");
  layout->addWidget(line);

  containerView_ = new QWidget;
  containerView_->setObjectName("containerView");
  auto* container = new QVBoxLayout(containerView_);
  container->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(containerView_);
  // Room the window has beyond what the rows need (while it fits itself to another kind) goes
  // here, so the rows stay where they are.
  layout->addStretch(1);

  auto* buttons = new QHBoxLayout;
  testActionButton_ = new QPushButton(tr("Test"));
  cancelActionButton_ = new QPushButton(tr("Cancel"));
  saveActionButton_ = new QPushButton(tr("Save"));
  for (QPushButton* b : {testActionButton_, cancelActionButton_}) b->setAutoDefault(false);
  actionSelectButton_->setAutoDefault(false);
  triggerSelectButton_->setAutoDefault(false);
  saveActionButton_->setDefault(true);
  buttons->addWidget(testActionButton_);
  buttons->addStretch(1);
  buttons->addWidget(cancelActionButton_);
  buttons->addWidget(saveActionButton_);
  layout->addLayout(buttons);
  // Wide enough for every kind's rows, so that changing the kind does not resize the window
  // sideways and move the controls with it.
  root->setMinimumWidth(440);
  setView(root);
}

void ActionsEditorViewController::viewDidLoad() {
  setupView();
  setupTouchBar();
  auto self = std::dynamic_pointer_cast<ActionsEditorViewController>(selfResponder());
  std::shared_ptr<BTActionObjectEditorView> view = self;
  viewModel_ = actionObject_
                   ? BTActionObjectEditorViewModel::createWithActionObject(actionObject_, view)
                   : BTActionObjectEditorViewModel::createWithTimeObject(timeObject_, view);
  viewModel_->initialize();
  bindViewModel();

  std::weak_ptr<ActionsEditorViewController> weak = self;
  const auto on = [weak](QPushButton* button, void (ActionsEditorViewController::*action)()) {
    QObject::connect(button, &QPushButton::clicked, button, [weak, action] {
      if (auto s = weak.lock()) ((*s).*action)();
    });
  };
  on(saveActionButton_, &ActionsEditorViewController::saveAction);
  on(cancelActionButton_, &ActionsEditorViewController::cancelAction);
  on(testActionButton_, &ActionsEditorViewController::testAction);
  actionSelectButton_->setSelectionHandler([weak](tw::app::PopUpButton*) {
    if (auto s = weak.lock()) s->onActionSelectionChange();
  });
  triggerSelectButton_->setSelectionHandler([weak](tw::app::PopUpButton*) {
    if (auto s = weak.lock()) s->onTriggerSelectionChange();
  });
}

void ActionsEditorViewController::bindViewModel() {
  setActionSelectMenu();
  setTriggerSelectionMenu();
  const auto values = [this](const char* key) {
    return rac_valuesForKeyPath(viewModel_, key, nullptr);
  };
  QPointer<QLabel> title(windowTitleLabel_);
  values("titleText")->subscribeNext([title](const tw::Value& v) {
    if (title && v.string()) title->setText(QString::fromStdString(*v.string()));
  });
  QPointer<QLabel> summary(actionDescriptionLabel_);
  values("selectionSummaryText")->subscribeNext([summary](const tw::Value& v) {
    if (summary) summary->setText(v.string() ? QString::fromStdString(*v.string()) : QString());
  });
  QPointer<QPushButton> test(testActionButton_);
  values("testActionEnabled")->subscribeNext([test](const tw::Value& v) {
    if (test) test->setEnabled(v.boolValue());
  });
  QPointer<QPushButton> save(saveActionButton_);
  values("saveActionEnabled")->subscribeNext([save](const tw::Value& v) {
    if (save) save->setEnabled(v.boolValue());
  });
  std::weak_ptr<ActionsEditorViewController> weak =
      std::dynamic_pointer_cast<ActionsEditorViewController>(selfResponder());
  values("triggerTimeDurationHidden")->subscribeNext([weak](const tw::Value& v) {
    auto s = weak.lock();
    if (!s || !s->triggerTimeDurationContainerView_) return;
    s->triggerTimeDurationContainerView_->setHidden(v.boolValue());
    s->resizeWindow(false);
  });
  QPointer<QLineEdit> field(triggerTimeDurationField_);
  values("triggerTimeDurationValue")->subscribeNext([field](const tw::Value& v) {
    if (!field) return;
    const long seconds = static_cast<long>(v.integerValue());
    // The user's own text for the same number ("05", "") stays as typed.
    bool ok = false;
    const long shown = field->text().toLong(&ok);
    if (!ok || shown != seconds) field->setText(QString::asprintf("%ld", seconds));
  });
  std::weak_ptr<BTActionObjectEditorViewModel> weakModel = viewModel_;
  rac_textSignal(triggerTimeDurationField_)
      ->distinctUntilChanged()
      ->takeUntil(rac_willDeallocSignal(viewModel_))
      ->subscribeNext([weakModel](const tw::Value& v) {
        auto model = weakModel.lock();
        if (!model || !v.string()) return;
        // The text's integer value, as the value fields read theirs: "7x" is 7; text that is no
        // number is 0, which the view model then refuses to save.
        model->setTriggerTimeDurationValue(
            BTTimeObjectListItemEditingViewModel::integerValueOfText(*v.string()));
      });
}

void ActionsEditorViewController::setActionSelectMenu() {
  actionSelectButton_->removeAllItems();
  const auto items =
      viewModel_->availableActionTypeMenuItemsUsingBuilder([](const std::string& type) {
        tw::MenuItem item;
        item.title = BTActionObjectUtil::actionObjectTypeTitle(type).value_or(type);
        return item;
      });
  for (const auto& item : items) {
    if (item.separator) {
      actionSelectButton_->addSeparator();
      continue;
    }
    const std::string type =
        item.representedObject.string() ? *item.representedObject.string() : "";
    auto* menuItem = DetailsMenuItem::menuItemWithTitle(
        QString::fromStdString(item.title), qs(BTActionObjectUtil::actionObjectTypeSummary(type)));
    menuItem->setData(QString::fromStdString(type));
    actionSelectButton_->addItem(menuItem);
  }
  const auto& selected = viewModel_->selectedActionType();
  if (!selected ||
      !actionSelectButton_->selectItemWithRepresentedObject(QString::fromStdString(*selected))) {
    const auto all = actionSelectButton_->items();
    actionSelectButton_->selectItem(all.empty() ? nullptr : all.front());
    onActionSelectionChange();
  }
}

void ActionsEditorViewController::onActionSelectionChange() {
  if (auto* item = actionSelectButton_->selectedItem())
    viewModel_->setSelectedActionType(item->data().toString().toStdString());
  // The trigger kinds on offer depend on the action kind.
  setTriggerSelectionMenu();
}

void ActionsEditorViewController::setTriggerSelectionMenu() {
  triggerSelectButton_->removeAllItems();
  for (const auto kind : viewModel_->availableActionTriggerKinds()) {
    auto* item = DetailsMenuItem::menuItemWithTitle(
        qs(BTActionTriggerUtil::actionTriggerTypeTitle(static_cast<long>(kind))),
        qs(BTActionTriggerUtil::actionTriggerTypeSummary(static_cast<long>(kind))));
    item->setData(static_cast<qlonglong>(kind));
    triggerSelectButton_->addItem(item);
  }
  if (!triggerSelectButton_->selectItemWithRepresentedObject(
          static_cast<qlonglong>(viewModel_->selectedTriggerKind()))) {
    const auto all = triggerSelectButton_->items();
    triggerSelectButton_->selectItem(all.empty() ? nullptr : all.front());
    onTriggerSelectionChange();
  }
}

void ActionsEditorViewController::onTriggerSelectionChange() {
  if (auto* item = triggerSelectButton_->selectedItem())
    viewModel_->setSelectedTriggerKind(item->data().toLongLong());
}

void ActionsEditorViewController::saveAction() { viewModel_->saveChanges(); }
void ActionsEditorViewController::cancelAction() { viewModel_->discardChanges(); }
void ActionsEditorViewController::testAction() { viewModel_->testAction(); }

std::shared_ptr<BTActionObjectEditorDetailView>
ActionsEditorViewController::detailViewForActionType(std::string_view type) {
  using Maker = std::shared_ptr<ActionObjectEditorView> (*)();
  static const std::map<std::string_view, Maker> makers = {
      {"BTDisplayAlertAction",
       []() -> std::shared_ptr<ActionObjectEditorView> {
         return std::make_shared<DisplayAlertActionEditorView>();
       }},
      {"BTCustomMessageAction",
       []() -> std::shared_ptr<ActionObjectEditorView> {
         return std::make_shared<CustomMessageActionEditorView>();
       }},
      {"BTFlashScreenAction",
       []() -> std::shared_ptr<ActionObjectEditorView> {
         return std::make_shared<FlashScreenActionEditorView>();
       }},
      {"BTLinkTimeObjectAction",
       []() -> std::shared_ptr<ActionObjectEditorView> {
         return std::make_shared<LinkTimeObjectActionEditorView>();
       }},
      {"BTSystemEventAction",
       []() -> std::shared_ptr<ActionObjectEditorView> {
         return std::make_shared<SystemEventActionEditorView>();
       }},
      {"BTFileOperationAction",
       []() -> std::shared_ptr<ActionObjectEditorView> {
         return std::make_shared<FileOperationActionEditorView>();
       }},
      {"BTAppOperationAction",
       []() -> std::shared_ptr<ActionObjectEditorView> {
         return std::make_shared<AppOperationActionEditorView>();
       }},
  };
  const auto it = makers.find(type);
  if (it == makers.end()) return nullptr;
  return it->second();
}

QWidget* ActionsEditorViewController::shownDetailWidget() const {
  if (!containerView_ || !containerView_->layout() || containerView_->layout()->count() == 0)
    return nullptr;
  return containerView_->layout()->itemAt(0)->widget();
}

void ActionsEditorViewController::setContainerContent(QWidget* content, bool animated) {
  auto* layout = containerView_->layout();
  while (layout->count() > 0) {
    QLayoutItem* item = layout->takeAt(0);
    if (QWidget* old = item->widget()) {
      old->hide();
      old->deleteLater();
    }
    delete item;
  }
  if (content) layout->addWidget(content);
  resizeWindow(animated);
}

void ActionsEditorViewController::presentDetailView(
    const std::shared_ptr<BTActionObjectEditorDetailView>& view) {
  auto* detail = dynamic_cast<ActionObjectEditorView*>(view.get());
  if (!detail || !detail->widget()) {
    presentBlankDetailView();
    return;
  }
  setContainerContent(detail->widget(), true);
}

void ActionsEditorViewController::presentBlankDetailView() {
  setContainerContent(new StaticBlankActionEditorView, true);
}

void ActionsEditorViewController::resizeWindow(bool animated) {
  if (!root_) return;
  QWidget* window = root_->window();
  if (window == root_.data()) {
    root_->adjustSize();
    return;
  }
  tw::app::sizeToFitContentView(window, animated && window->isVisible());
}

void ActionsEditorViewController::prepareWindow(QWidget* window) {
  TW_MAIN_THREAD_ONLY("ActionsEditorViewController::prepareWindow");
  window->setWindowTitle(QString());
  // A fixed-size dialog: closing it is a Cancel, so the close button is the one it offers.
  window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint);
  if (auto* dialog = qobject_cast<QDialog*>(window)) dialog->setSizeGripEnabled(false);
  resizeWindow(false);
}

void ActionsEditorViewController::actionObjectChangesSaved(const std::shared_ptr<BTActionObject>&) {
  dismiss();
}

void ActionsEditorViewController::actionObjectChangesDiscarded() { dismiss(); }

void ActionsEditorViewController::dismiss() {
  if (dismissed_) return;
  dismissed_ = true;
  if (dismissHandler_) {
    dismissHandler_(this);
    return;
  }
  if (root_ && root_->window() != root_.data()) root_->window()->close();
}

// ----- ActionsEditorViewControllerWithTouchBar

std::shared_ptr<tw::ui::TouchBar> ActionsEditorViewControllerWithTouchBar::makeTouchBar() {
  auto bar = std::make_shared<tw::ui::TouchBar>();
  bar->customizationIdentifier = "com.velmora.Tickwell.touchbar.actionEditor";
  bar->defaultItemIdentifiers = {tw::ui::TouchBarItemIdentifierFlexibleSpace, kTestItem, kSaveItem};
  for (const char* identifier : {kSaveItem, kTestItem}) {
    auto item = std::make_shared<tw::ui::TouchBarItem>(identifier);
    item->title = tw::localized(identifier == kSaveItem ? "Save" : "Test");
    bar->addItem(item);
  }
  return bar;
}

void ActionsEditorViewControllerWithTouchBar::setupTouchBar() {
  // The bar is the view's own; the controller's is that one.
  if (auto bar = touchBar()) {
    saveItem_ = bar->itemForIdentifier(kSaveItem);
    testItem_ = bar->itemForIdentifier(kTestItem);
  }
}

void ActionsEditorViewControllerWithTouchBar::bindViewModel() {
  ActionsEditorViewController::bindViewModel();
  std::weak_ptr<tw::ui::TouchBarItem> save = saveItem_, test = testItem_;
  rac_valuesForKeyPath(viewModel(), "saveActionEnabled", nullptr)
      ->subscribeNext([save](const tw::Value& v) {
        if (auto item = save.lock()) item->enabled = v.boolValue();
      });
  rac_valuesForKeyPath(viewModel(), "testActionEnabled", nullptr)
      ->subscribeNext([test](const tw::Value& v) {
        if (auto item = test.lock()) item->enabled = v.boolValue();
      });
}
