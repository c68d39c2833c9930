#include "app/Source/MainWindow/MasterPlaceholderViewController.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/Source/Library/BTViewTransition.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTMasterListViewMode.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "platform/foundation/Localization.h"
#include "platform/inject/Injection.h"
#include "platform/ui/NamedResources.h"

void MasterPlaceholderViewController::loadView() {
  auto* root = new QWidget;
  root->setObjectName("MasterView");
  root->setAutoFillBackground(true);
  const QColor background = tw::ui::colorNamed("MasterBackground").value_or(QColor(0x1d1d22));
  root->setStyleSheet(
      QString("#MasterView { background-color: %1; }").arg(background.name()) +
      "QPushButton { color: #ddd; background: transparent; border: none; padding: 4px 8px; }"
      "QPushButton:checked { color: white; background: rgba(255,255,255,0.15);"
      " border-radius: 4px; }"
      "QListWidget { background: transparent; border: none; color: #eee; font-size: 14px;"
      " outline: 0; }"
      "QListWidget::item { padding: 8px; border: none; }"
      "QListWidget::item:selected { padding: 8px; border: none; color: white;"
      " background: rgba(255,255,255,0.18); }");
  auto* layout = new QVBoxLayout(root);
  // The window's title bar lies over the top of the content.
  layout->setContentsMargins(8, 44, 8, 8);
  auto* bar = new QHBoxLayout;
  modes_ = new QButtonGroup(root);
  const char* titles[] = {"Alarms", "Timers", "Stopwatches"};
  for (int i = 0; i < 3; ++i) {
    auto* button = new QPushButton(QString::fromStdString(tw::localized(titles[i])));
    button->setCheckable(true);
    button->setFocusPolicy(Qt::NoFocus);
    modes_->addButton(button, i);
    bar->addWidget(button);
  }
  layout->addLayout(bar);
  list_ = new QListWidget;
  list_->setObjectName("MasterList");
  layout->addWidget(list_, 1);
  setView(root);
}

void MasterPlaceholderViewController::viewDidLoad() {
  std::weak_ptr<tw::ui::Responder> weak = selfResponder();
  auto self = [weak] {
    return std::static_pointer_cast<MasterPlaceholderViewController>(weak.lock());
  };
  QObject::connect(modes_, &QButtonGroup::idClicked, modes_, [self](int id) {
    if (auto s = self()) s->setViewMode(id);
  });
  QObject::connect(list_, &QListWidget::currentRowChanged, list_, [self](int row) {
    auto s = self();
    if (!s) return;
    auto delegate = s->delegate_.lock();
    if (!delegate) return;
    std::shared_ptr<BTTimeObject> object;
    if (row >= 0 && row < static_cast<int>(s->objects_.size())) object = s->objects_[row];
    delegate->masterViewControllerDidSelectTimeObject(
        *s, object, BTViewTransition::transitionWithAnimation(1, 0));
  });
  if (auto settings = tw::defaultComponentForType<BTSettingsProvider>())
    if (auto bundle = settings->masterDetailBundle()) mode_ = bundle->viewMode();
  if (mode_ < 0 || mode_ > 2) mode_ = 1;
  if (auto* button = modes_->button(static_cast<int>(mode_))) button->setChecked(true);
  reload();
}

void MasterPlaceholderViewController::setViewMode(long mode) {
  if (mode < 0 || mode > 2) return;
  view();
  mode_ = mode;
  if (auto* button = modes_->button(static_cast<int>(mode))) button->setChecked(true);
  if (auto settings = tw::defaultComponentForType<BTSettingsProvider>())
    if (auto bundle = settings->masterDetailBundle()) bundle->setViewMode(mode);
  tw::NotificationCenter::defaultCenter()->post(
      BTMasterListViewModeDidChangeNotification, nullptr,
      tw::Dictionary{
          {BTMasterListViewModeValueUserInfoKey, tw::Value(static_cast<std::int64_t>(mode))}});
  reload();
}

void MasterPlaceholderViewController::reload() {
  view();
  objects_.clear();
  auto provider = tw::defaultCoreDataProvider();
  if (provider) {
    provider->runOnCoreDataQueueSync([&] {
      auto context = provider->objectContext();
      if (!context) return;
      auto add = [&](auto list) {
        for (auto& o : list) objects_.push_back(o);
      };
      constexpr const char* order = "sortOrder,creationDate";
      if (mode_ == 0) add(context->findAll<BTAlarm>(order));
      if (mode_ == 1) add(context->findAll<BTTimer>(order));
      if (mode_ == 2) add(context->findAll<BTStopwatch>(order));
    });
  }
  {
    const QSignalBlocker block(list_);
    list_->clear();
    for (const auto& object : objects_) {
      const std::string title = object->title();
      list_->addItem(QString::fromStdString(title.empty() ? tw::localized("Untitled") : title));
    }
    list_->setCurrentRow(-1);
  }
  selectRow(objects_.empty() ? -1 : 0);
}

void MasterPlaceholderViewController::selectRow(int row) {
  view();
  if (list_->currentRow() == row && row >= 0) return;
  if (row < 0) {
    // An empty list: the detail shows nothing.
    if (auto delegate = delegate_.lock())
      delegate->masterViewControllerDidSelectTimeObject(*this, nullptr, nullptr);
    return;
  }
  list_->setCurrentRow(row);
}
