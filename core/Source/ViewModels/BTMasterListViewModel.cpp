#include "core/Source/ViewModels/BTMasterListViewModel.h"

#include "core/Source/Model/BTSettableTimeObject.h"
#include "core/Source/Model/BTTimeObjectUtil.h"
#include "core/Source/PlatformServices/BTAlertPresenter.h"
#include "core/Source/Settings/BTSettingKeys.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/UserMessages/BTAlert.h"
#include "core/Source/UserMessages/BTAlertAction.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/inject/Injection.h"
#include "platform/inject/PropertyInjector.h"
#include "platform/inject/TyphoonAssembly.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"

namespace {

constexpr std::int64_t kModeAlarms = 0;
constexpr std::int64_t kModeTimers = 1;
constexpr std::int64_t kModeStopwatches = 2;

tw::Array arrayOf(const std::vector<std::shared_ptr<BTTimeObject>>& objects) {
  tw::Array array;
  array.reserve(objects.size());
  for (const auto& object : objects) array.emplace_back(object);
  return array;
}

}  // namespace

std::shared_ptr<BTMasterListViewModel> BTMasterListViewModel::create(
    const std::shared_ptr<BTMasterListView>& view) {
  auto model = std::make_shared<BTMasterListViewModel>(PrivateTag{}, view);
  RAC(model, "deleteActionEnabled") = model->deleteActionEnabledSignal();
  return model;
}

BTMasterListViewModel::BTMasterListViewModel(PrivateTag,
                                             const std::shared_ptr<BTMasterListView>& view)
    : view_(view) {
  tw::injectFromDefaultFactory(*this);
}

void BTMasterListViewModel::injectProperties(tw::PropertyInjector& injector) {
  injector.inject(assembly_);
  injector.inject(alertPresenter_);
  injector.inject(settingsProvider_);
}

void BTMasterListViewModel::initialize() { loadDataProvider(); }

std::shared_ptr<RACSignal> BTMasterListViewModel::deleteActionEnabledSignal() {
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "selectionIndex", self)->map([](const tw::Value& v) {
    return tw::Value(!byt_isIndexNotFound(v.integerValue()));
  });
}

// ----- view mode

std::int64_t BTMasterListViewModel::viewMode() const {
  auto settings = settingsProvider_.get();
  auto bundle = settings ? settings->masterDetailBundle() : nullptr;
  return bundle ? bundle->viewMode() : -1;
}

void BTMasterListViewModel::setViewMode(std::int64_t mode) {
  TW_MAIN_THREAD_ONLY("BTMasterListViewModel::setViewMode");
  const std::int64_t current = viewMode();
  if (mode == current) return;
  auto settings = settingsProvider_.get();
  auto bundle = settings ? settings->masterDetailBundle() : nullptr;
  if (!bundle) return;
  putTransition(transitionForViewModeChange(current, mode));
  bundle->setViewMode(mode);
  resetSelectionIndex();
  loadDataProvider();
}

void BTMasterListViewModel::triggerViewModeChangeNotification() {
  tw::NotificationCenter::defaultCenter()->post(
      BTMasterListViewModeDidChangeNotification, shared_from_this(),
      tw::Dictionary{{BTMasterListViewModeValueUserInfoKey, tw::Value(viewMode())}});
}

void BTMasterListViewModel::loadDataProvider() {
  auto assembly = assembly_.get();
  auto settings = settingsProvider_.get();
  auto bundle = settings ? settings->masterDetailBundle() : nullptr;
  if (!assembly || !bundle) return;
  // The core assembly's definitions, by name: the assembly itself sits above the view models.
  const char* key = nullptr;
  std::int64_t savedIndex = BTNotFound;
  switch (bundle->viewMode()) {
    case kModeAlarms:
      key = "alarmsDataProvider";
      savedIndex = bundle->alarmSelectionIndex();
      break;
    case kModeTimers:
      key = "timersDataProvider";
      savedIndex = bundle->timerSelectionIndex();
      break;
    case kModeStopwatches:
      key = "stopwatchesDataProvider";
      savedIndex = bundle->stopwatchSelectionIndex();
      break;
    default:
      return;
  }
  auto definition = assembly->definitionForKey(key);
  auto provider =
      definition ? assembly->componentFor<BTTimeObjectDataProvider>(definition) : nullptr;
  if (!provider || provider == dataProvider_) return;
  dataProvider_ = provider;
  const std::uint64_t generation = ++loadGeneration_;
  std::weak_ptr<BTMasterListViewModel> weakSelf =
      std::static_pointer_cast<BTMasterListViewModel>(shared_from_this());
  loadTimeObjectsIfNeeded()->continueWithExecutorWithSuccessBlock(
      BFExecutor::mainThreadExecutor(),
      [weakSelf, provider, generation, savedIndex](const BFTaskPtr&) {
        auto self = weakSelf.lock();
        // A later switch (even back to this mode) made this load stale.
        if (!self || generation != self->loadGeneration_ || !self->isCurrent(provider)) return;
        self->triggerViewModeChangeNotification();
        if (auto view = self->view()) view->dataObjectsLoaded(arrayOf(provider->timeObjects()));
        self->restoreSelectionIndex(savedIndex);
      });
}

BFTaskPtr BTMasterListViewModel::loadTimeObjectsIfNeeded() {
  if (!dataProvider_) return BFTask::voidTask();
  if (dataProvider_->isDataLoaded()) return BFTask::taskWithResult(nullptr);
  return dataProvider_->loadTimeObjects();
}

// ----- indexes

bool BTMasterListViewModel::isObjectIndexValid(std::int64_t index) const {
  if (!dataProvider_) return false;
  return index >= 0 && static_cast<std::uint64_t>(index) < dataProvider_->timeObjects().size();
}

std::int64_t BTMasterListViewModel::indexOfObject(
    const std::shared_ptr<BTTimeObject>& object) const {
  if (!dataProvider_) return BTNotFound;
  return byt_indexOfObject(dataProvider_->timeObjects(), object);
}

std::shared_ptr<BTTimeObject> BTMasterListViewModel::objectAtIndex(std::int64_t index) const {
  if (!dataProvider_) return nullptr;
  return byt_objectAtIndex(dataProvider_->timeObjects(), index);
}

bool BTMasterListViewModel::constrainSelectionIndexToValid(std::int64_t index,
                                                           std::int64_t* correctedIndex) const {
  const std::int64_t count =
      dataProvider_ ? static_cast<std::int64_t>(dataProvider_->timeObjects().size()) : 0;
  std::int64_t corrected = index;
  if (count >= 1) {
    if (byt_isIndexNotFound(index))
      corrected = 0;
    else if (index >= count)
      corrected = count - 1;
  } else {
    corrected = BTNotFound;
  }
  if (correctedIndex) *correctedIndex = corrected;
  return corrected != index;
}

// ----- selection

void BTMasterListViewModel::setSelectionIndex(std::int64_t index) {
  TW_MAIN_THREAD_ONLY("BTMasterListViewModel::setSelectionIndex");
  const std::int64_t old = selectionIndex_;
  setAndNotify("selectionIndex", selectionIndex_, index);
  auto transition = takeTransition();
  if (!transition) transition = transitionForSelectionChange(old, index);
  if (auto view = this->view()) {
    if (auto object = objectAtIndex(index))
      view->dataObjectSelectionChanged(object, transition);
    else
      view->dataObjectListEmpty();
  }
  saveSelectionIndex();
}

void BTMasterListViewModel::selectObjectAtIndex(std::int64_t index) {
  if (index == selectionIndex_) return;
  if (!isObjectIndexValid(index)) {
    // The user cleared the table's selection: the list always shows one.
    if (isObjectIndexValid(selectionIndex_))
      if (auto view = this->view()) view->restoreDataObjectSelection(selectionIndex_);
    return;
  }
  setSelectionIndex(index);
}

void BTMasterListViewModel::restoreSelectionIndex(std::int64_t index) {
  std::int64_t corrected = index;
  constrainSelectionIndexToValid(index, &corrected);
  setSelectionIndex(corrected);
  if (corrected != BTNotFound)
    if (auto view = this->view()) view->restoreDataObjectSelection(corrected);
}

void BTMasterListViewModel::updateSelectionIndexIfNeeded() {
  std::int64_t corrected = selectionIndex_;
  const bool changed = constrainSelectionIndexToValid(selectionIndex_, &corrected);
  if (!changed && !needsSelectionIndexUpdate_) return;
  setSelectionIndex(corrected);
  if (corrected != BTNotFound)
    if (auto view = this->view()) view->restoreDataObjectSelection(corrected);
  needsSelectionIndexUpdate_ = false;
}

void BTMasterListViewModel::saveSelectionIndex() {
  auto settings = settingsProvider_.get();
  auto bundle = settings ? settings->masterDetailBundle() : nullptr;
  if (!bundle) return;
  switch (bundle->viewMode()) {
    case kModeAlarms:
      bundle->setAlarmSelectionIndex(selectionIndex_);
      break;
    case kModeTimers:
      bundle->setTimerSelectionIndex(selectionIndex_);
      break;
    case kModeStopwatches:
      bundle->setStopwatchSelectionIndex(selectionIndex_);
      break;
    default:
      break;
  }
}

// ----- transitions

std::shared_ptr<BTViewTransition> BTMasterListViewModel::transitionForSelectionChange(
    std::int64_t from, std::int64_t to) const {
  auto settings = settingsProvider_.get();
  auto general = settings ? settings->generalBundle() : nullptr;
  if (general && general->animationsDisabled()) return nullptr;
  if (from == BTNotFound || to == BTNotFound)
    return BTViewTransition::transitionWithAnimation(1, 0);
  return BTViewTransition::transitionWithAnimation(3, from > to ? 3 : 1);
}

std::shared_ptr<BTViewTransition> BTMasterListViewModel::transitionForViewModeChange(
    std::int64_t from, std::int64_t to) const {
  auto settings = settingsProvider_.get();
  auto general = settings ? settings->generalBundle() : nullptr;
  if (general && general->animationsDisabled()) return nullptr;
  if (from == to) return nullptr;
  return BTViewTransition::transitionWithAnimation(3, to > from ? 4 : 2);
}

// ----- editing the list

void BTMasterListViewModel::addNewObject() {
  TW_MAIN_THREAD_ONLY("BTMasterListViewModel::addNewObject");
  auto provider = dataProvider_;
  if (!provider) return;
  std::weak_ptr<BTMasterListViewModel> weakSelf =
      std::static_pointer_cast<BTMasterListViewModel>(shared_from_this());
  provider->createTimeObject()->continueWithExecutorWithSuccessBlock(
      BFExecutor::mainThreadExecutor(), [weakSelf, provider](const BFTaskPtr& task) {
        auto self = weakSelf.lock();
        if (!self || !self->isCurrent(provider)) return;
        auto object = task->result().objectAs<BTTimeObject>();
        const std::int64_t index = self->indexOfObject(object);
        if (auto view = self->view()) view->dataObjectInserted(index);
        self->updateSelectionIndexIfNeeded();
        // The editor is for this object wherever it is by then, and only while it is shown.
        BFTask::taskForDelay(kValueEditorDelay)
            ->continueWithExecutorWithSuccessBlock(
                BFExecutor::mainThreadExecutor(), [weakSelf, provider, object](const BFTaskPtr&) {
                  auto self = weakSelf.lock();
                  if (!self || !self->isCurrent(provider)) return;
                  const std::int64_t index = self->indexOfObject(object);
                  if (!byt_isIndexNotFound(index)) self->editObjectValueAtIndex(index);
                });
      });
}

void BTMasterListViewModel::editObjectTitleAtIndex(std::int64_t index) {
  if (auto object = objectAtIndex(index))
    if (auto view = this->view()) view->showObjectTitleEditor(object);
}

void BTMasterListViewModel::editObjectValueAtIndex(std::int64_t index) {
  TW_MAIN_THREAD_ONLY("BTMasterListViewModel::editObjectValueAtIndex");
  auto object = objectAtIndex(index);
  if (!std::dynamic_pointer_cast<BTSettableTimeObject>(object)) return;
  if (auto view = this->view()) view->showObjectValueEditor(object);
}

void BTMasterListViewModel::deleteObject() { deleteObjectAtIndex(selectionIndex_); }

void BTMasterListViewModel::deleteObjectAtIndex(std::int64_t index) {
  TW_MAIN_THREAD_ONLY("BTMasterListViewModel::deleteObjectAtIndex");
  auto object = objectAtIndex(index);
  if (!object) return;
  auto settings = settingsProvider_.get();
  auto bundle = settings ? settings->timeObjectsBundle() : nullptr;
  if (bundle && bundle->promptBeforeDelete())
    promptDeleteTimeObject(object, index);
  else
    deleteTimeObject(object, index);
}

void BTMasterListViewModel::promptDeleteTimeObject(const std::shared_ptr<BTTimeObject>& object,
                                                   std::int64_t index) {
  const std::string kind = BTTimeObjectUtil::timeObjectTypeName(*object).value_or("");
  auto alert = BTAlert::alertWithTitle(
      tw::localizedFormat("Are you sure you want to delete this %@?", kind),
      tw::localizedFormat("`%@` and all its actions will be deleted.", object->title()), 0);
  std::weak_ptr<BTMasterListViewModel> weakSelf =
      std::static_pointer_cast<BTMasterListViewModel>(shared_from_this());
  alert->addAction(BTAlertAction::actionWithTitle(
      tw::localized("Delete"), BTAlertAction::kStyleDestructive, [weakSelf, object, index] {
        if (auto self = weakSelf.lock()) self->deleteTimeObject(object, index);
      }));
  alert->addAction(
      BTAlertAction::actionWithTitle(tw::localized("Cancel"), BTAlertAction::kStyleCancel, [] {}));
  if (auto presenter = alertPresenter_.get()) presenter->presentAlert(alert);
}

void BTMasterListViewModel::deleteTimeObject(const std::shared_ptr<BTTimeObject>& object,
                                             std::int64_t index) {
  auto provider = dataProvider_;
  if (!provider) return;
  std::weak_ptr<BTMasterListViewModel> weakSelf =
      std::static_pointer_cast<BTMasterListViewModel>(shared_from_this());
  provider->deleteTimeObject(object)->continueWithExecutorWithSuccessBlock(
      BFExecutor::mainThreadExecutor(), [weakSelf, provider, index](const BFTaskPtr&) {
        auto self = weakSelf.lock();
        if (!self || !self->isCurrent(provider)) return;
        if (auto view = self->view()) view->dataObjectDeleted(index);
        if (index == self->selectionIndex_) {
          self->setNeedsSelectionIndexUpdate();
        } else if (!byt_isIndexNotFound(self->selectionIndex_) && index < self->selectionIndex_) {
          // The selected object moved up one row: it stays selected, quietly, as after a move.
          self->selectionIndex_ -= 1;
          self->saveSelectionIndex();
        }
        self->updateSelectionIndexIfNeeded();
      });
}

void BTMasterListViewModel::moveObjectAtIndex(std::int64_t from, std::int64_t to) {
  TW_MAIN_THREAD_ONLY("BTMasterListViewModel::moveObjectAtIndex");
  auto provider = dataProvider_;
  if (!provider) return;
  auto selected = objectAtIndex(selectionIndex_);
  std::weak_ptr<BTMasterListViewModel> weakSelf =
      std::static_pointer_cast<BTMasterListViewModel>(shared_from_this());
  provider->moveTimeObjectAtIndex(from, to)->continueWithExecutorWithSuccessBlock(
      BFExecutor::mainThreadExecutor(), [weakSelf, provider, selected, from, to](const BFTaskPtr&) {
        auto self = weakSelf.lock();
        if (!self || !self->isCurrent(provider)) return;
        self->selectionIndex_ = from == self->selectionIndex_ ? to : self->indexOfObject(selected);
        self->saveSelectionIndex();
        if (auto view = self->view()) view->dataObjectMovedFromIndex(from, to);
      });
}

// ----- key-value coding

bool BTMasterListViewModel::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "selectionIndex") return out = selectionIndex_, true;
  if (key == "deleteActionEnabled") return out = deleteActionEnabled_, true;
  if (key == tw::settingkeys::kViewMode) return out = viewMode(), true;
  return tw::Object::getValueForKey(key, out);
}

bool BTMasterListViewModel::setValueForKeyImpl(std::string_view key, const tw::Value& value) {
  if (key == "deleteActionEnabled") return deleteActionEnabled_ = value.boolValue(), true;
  return tw::Object::setValueForKeyImpl(key, value);
}
