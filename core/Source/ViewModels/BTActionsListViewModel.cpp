#include "core/Source/ViewModels/BTActionsListViewModel.h"

#include <algorithm>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/PlatformServices/BTAlertPresenter.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/UserMessages/BTAlert.h"
#include "core/Source/UserMessages/BTAlertAction.h"
#include "core/Source/ViewModels/BTActionObjectEditorNotifications.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Localization.h"
#include "platform/inject/Injection.h"
#include "platform/inject/PropertyInjector.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"

namespace {

tw::Array arrayOf(const std::vector<std::shared_ptr<BTActionObject>>& actions) {
  tw::Array array;
  array.reserve(actions.size());
  for (const auto& action : actions) array.emplace_back(action);
  return array;
}

}  // namespace

std::shared_ptr<BTActionsListViewModel> BTActionsListViewModel::create(
    std::shared_ptr<BTTimeObject> timeObject, const std::shared_ptr<BTActionsListView>& view) {
  auto model = std::make_shared<BTActionsListViewModel>(PrivateTag{}, std::move(timeObject), view);
  RAC(model, "deleteActionEnabled") = model->deleteActionEnabledSignal();
  RAC(model, "statusText") = model->statusTextSignal();
  model->listen();
  return model;
}

BTActionsListViewModel::BTActionsListViewModel(PrivateTag, std::shared_ptr<BTTimeObject> timeObject,
                                               const std::shared_ptr<BTActionsListView>& view)
    : BTTimeObjectViewModel(std::move(timeObject)), view_(view) {
  tw::injectFromDefaultFactory(*this);
}

BTActionsListViewModel::~BTActionsListViewModel() = default;

void BTActionsListViewModel::injectProperties(tw::PropertyInjector& injector) {
  injector.inject(alertPresenter_);
  injector.inject(settingsProvider_);
}

void BTActionsListViewModel::listen() {
  std::weak_ptr<BTActionsListViewModel> weakSelf =
      std::static_pointer_cast<BTActionsListViewModel>(shared_from_this());
  auto center = tw::NotificationCenter::defaultCenter();
  insertedToken_ = center->addObserver(
      BTActionObjectInsertedNotification, nullptr, tw::DispatchQueue::main(),
      [weakSelf](const tw::Notification& n) {
        if (auto self = weakSelf.lock()) self->actionObjectInserted(n);
      },
      weakSelf);
  updatedToken_ = center->addObserver(
      BTActionObjectUpdatedNotification, nullptr, tw::DispatchQueue::main(),
      [weakSelf](const tw::Notification& n) {
        if (auto self = weakSelf.lock()) self->actionObjectUpdated(n);
      },
      weakSelf);
}

std::shared_ptr<RACSignal> BTActionsListViewModel::deleteActionEnabledSignal() {
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "selectionIndex", self)->map([](const tw::Value& v) {
    return tw::Value(!byt_isIndexNotFound(v.integerValue()));
  });
}

std::shared_ptr<RACSignal> BTActionsListViewModel::statusTextSignal() {
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "actionObjects", self)->map([](const tw::Value& v) {
    const long count = v.array() ? static_cast<long>(v.array()->size()) : 0;
    return tw::Value(tw::format("%ld %@", count, tw::localized(count == 1 ? "action" : "actions")));
  });
}

void BTActionsListViewModel::initialize() {
  if (initialized_) return;
  // Stored objects live on the main queue: read them there, on a later turn, so this returns at
  // once.
  std::weak_ptr<BTActionsListViewModel> weakSelf =
      std::static_pointer_cast<BTActionsListViewModel>(shared_from_this());
  tw::onMain([weakSelf] {
    auto self = weakSelf.lock();
    if (!self || self->initialized_) return;
    self->reloadActionObjects();
    self->initialized_ = true;
    if (auto view = self->view()) view->dataObjectsLoaded(arrayOf(self->actionObjects_));
    self->notifyOnDataObjectListChange();
  });
}

void BTActionsListViewModel::reloadActionObjects() {
  TW_MAIN_THREAD_ONLY("BTActionsListViewModel::reloadActionObjects");
  auto actions = timeObject()->actions();
  std::stable_sort(actions.begin(), actions.end(), [](const auto& a, const auto& b) {
    if (a->sortOrder() != b->sortOrder()) return a->sortOrder() < b->sortOrder();
    const double da = a->creationDate() ? a->creationDate()->secondsSince1970 : 0.0;
    const double db = b->creationDate() ? b->creationDate()->secondsSince1970 : 0.0;
    return da < db;
  });
  setAndNotify("actionObjects", actionObjects_, std::move(actions));
}

void BTActionsListViewModel::notifyOnDataObjectListChange() {
  auto view = this->view();
  if (!view) return;
  if (actionObjects_.empty())
    view->dataObjectListEmpty();
  else
    view->dataObjectListNotEmpty();
}

void BTActionsListViewModel::addNewObject() {
  TW_MAIN_THREAD_ONLY("BTActionsListViewModel::addNewObject");
  if (auto view = this->view()) view->showObjectEditorWithTimeObject(timeObject());
}

void BTActionsListViewModel::editObjectAtIndex(std::int64_t index) {
  TW_MAIN_THREAD_ONLY("BTActionsListViewModel::editObjectAtIndex");
  if (auto action = byt_objectAtIndex(actionObjects_, index))
    if (auto view = this->view()) view->showObjectEditorWithAction(action);
}

void BTActionsListViewModel::deleteObject() { deleteObjectAtIndex(selectionIndex_); }

void BTActionsListViewModel::deleteObjectAtIndex(std::int64_t index) {
  TW_MAIN_THREAD_ONLY("BTActionsListViewModel::deleteObjectAtIndex");
  auto action = byt_objectAtIndex(actionObjects_, index);
  if (!action) return;
  auto settings = settingsProvider_.get();
  auto bundle = settings ? settings->actionObjectsBundle() : nullptr;
  // The setting's default is on: without settings, ask.
  if (!bundle || bundle->promptBeforeDelete())
    promptDeleteActionObject(action, index);
  else
    deleteActionObject(action, index);
}

void BTActionsListViewModel::promptDeleteActionObject(const std::shared_ptr<BTActionObject>& action,
                                                      std::int64_t index) {
  auto alert = BTAlert::alertWithTitle(
      tw::localized("Are you sure you want to delete this action?"),
      tw::localizedFormat("This action will be removed from `%@`.", timeObject()->title()), 0);
  std::weak_ptr<BTActionsListViewModel> weakSelf =
      std::static_pointer_cast<BTActionsListViewModel>(shared_from_this());
  alert->addAction(BTAlertAction::actionWithTitle(
      tw::localized("Delete"), BTAlertAction::kStyleDestructive, [weakSelf, action, index] {
        if (auto self = weakSelf.lock()) self->deleteActionObject(action, index);
      }));
  alert->addAction(
      BTAlertAction::actionWithTitle(tw::localized("Cancel"), BTAlertAction::kStyleCancel, [] {}));
  if (auto presenter = alertPresenter_.get()) presenter->presentAlert(alert);
}

void BTActionsListViewModel::deleteActionObject(const std::shared_ptr<BTActionObject>& action,
                                                std::int64_t index) {
  timeObject()->removeActionObject(action);
  ::deleteObject(std::static_pointer_cast<tw::store::ManagedObject>(action));
  auto remaining = actionObjects_;
  remaining.erase(std::remove(remaining.begin(), remaining.end(), action), remaining.end());
  setAndNotify("actionObjects", actionObjects_, std::move(remaining));
  if (auto view = this->view()) view->dataObjectDeleted(index);
  notifyOnDataObjectListChange();
}

void BTActionsListViewModel::moveObjectAtIndex(std::int64_t from, std::int64_t to) {
  TW_MAIN_THREAD_ONLY("BTActionsListViewModel::moveObjectAtIndex");
  if (!byt_isIndexValid(actionObjects_, from) || !byt_isIndexValid(actionObjects_, to) ||
      from == to)
    return;
  byt_translateObjectFromIndex(actionObjects_, from, to);
  for (std::size_t i = 0; i < actionObjects_.size(); ++i)
    actionObjects_[i]->setSortOrder(static_cast<std::int64_t>(i));
  if (auto view = this->view()) view->dataObjectMovedFromIndex(from, to);
}

std::int64_t BTActionsListViewModel::indexOfAction(const tw::Notification& notification) const {
  if (!notification.userInfo) return BTNotFound;
  auto it = notification.userInfo->find(BTActionObjectUserInfoKey);
  if (it == notification.userInfo->end()) return BTNotFound;
  return byt_indexOfObject(actionObjects_, it->second.objectAs<BTActionObject>());
}

void BTActionsListViewModel::actionObjectInserted(const tw::Notification& notification) {
  reloadActionObjects();
  const std::int64_t index = indexOfAction(notification);
  if (byt_isIndexNotFound(index)) return;
  if (auto view = this->view()) view->dataObjectInserted(index);
  notifyOnDataObjectListChange();
}

void BTActionsListViewModel::actionObjectUpdated(const tw::Notification& notification) {
  reloadActionObjects();
  const std::int64_t index = indexOfAction(notification);
  if (byt_isIndexNotFound(index)) return;
  if (auto view = this->view()) view->dataObjectUpdated(index);
}

void BTActionsListViewModel::setSelectionIndex(std::int64_t index) {
  TW_MAIN_THREAD_ONLY("BTActionsListViewModel::setSelectionIndex");
  setAndNotify("selectionIndex", selectionIndex_, index);
}

bool BTActionsListViewModel::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "actionObjects") return out = arrayOf(actionObjects_), true;
  if (key == "selectionIndex") return out = selectionIndex_, true;
  if (key == "deleteActionEnabled") return out = deleteActionEnabled_, true;
  if (key == "statusText") return out = statusText_, true;
  return BTTimeObjectViewModel::getValueForKey(key, out);
}

bool BTActionsListViewModel::setValueForKeyImpl(std::string_view key, const tw::Value& value) {
  if (key == "deleteActionEnabled") return deleteActionEnabled_ = value.boolValue(), true;
  if (key == "statusText") return statusText_ = value.string() ? *value.string() : "", true;
  if (key == "selectionIndex") return selectionIndex_ = value.integerValue(), true;
  return BTTimeObjectViewModel::setValueForKeyImpl(key, value);
}
