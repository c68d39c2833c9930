#include "core/Source/ViewModels/BTActionObjectEditorViewModel.h"

#include <cmath>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/inject/Injection.h"
#include "platform/inject/PropertyInjector.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"

namespace {

constexpr std::int64_t kStarts = BTActionTriggerUtil::kKindStarts;
constexpr std::int64_t kFinishes = BTActionTriggerUtil::kKindFinishes;
constexpr std::int64_t kElapsed = BTActionTriggerUtil::kKindTimeElapsed;
constexpr std::int64_t kRemains = BTActionTriggerUtil::kKindTimeRemains;

constexpr const char* kActionTypes[] = {"BTDisplayAlertAction",  "BTCustomMessageAction",
                                        "BTFlashScreenAction",   "BTLinkTimeObjectAction",
                                        "BTRepeatAction",        "BTSystemEventAction",
                                        "BTFileOperationAction", "BTAppOperationAction"};

bool isTimeKind(std::int64_t kind) { return kind == kElapsed || kind == kRemains; }

}  // namespace

std::shared_ptr<BTActionObjectEditorViewModel> BTActionObjectEditorViewModel::createWithTimeObject(
    std::shared_ptr<BTTimeObject> timeObject,
    const std::shared_ptr<BTActionObjectEditorView>& view) {
  auto model = std::make_shared<BTActionObjectEditorViewModel>(PrivateTag{}, std::move(timeObject),
                                                               nullptr, view);
  model->createBindings();
  return model;
}

std::shared_ptr<BTActionObjectEditorViewModel>
BTActionObjectEditorViewModel::createWithActionObject(
    std::shared_ptr<BTActionObject> action, const std::shared_ptr<BTActionObjectEditorView>& view) {
  auto timeObject = action ? action->timeObject() : nullptr;
  auto model = std::make_shared<BTActionObjectEditorViewModel>(PrivateTag{}, std::move(timeObject),
                                                               std::move(action), view);
  model->createBindings();
  return model;
}

BTActionObjectEditorViewModel::BTActionObjectEditorViewModel(
    PrivateTag, std::shared_ptr<BTTimeObject> timeObject, std::shared_ptr<BTActionObject> action,
    const std::shared_ptr<BTActionObjectEditorView>& view)
    : view_(view),
      editing_(action != nullptr),
      actionObject_(std::move(action)),
      timeObject_(std::move(timeObject)) {
  tw::injectFromDefaultFactory(*this);
  actionBuilder_ = editing_ ? BTActionBuilder::builderWithActionObject(actionObject_)
                            : BTActionBuilder::builderWithTimeObject(timeObject_);
}

void BTActionObjectEditorViewModel::injectProperties(tw::PropertyInjector& injector) {
  injector.inject(actionExecutor_);
}

void BTActionObjectEditorViewModel::createBindings() {
  auto self = shared_from_this();
  RAC(self, "titleText") = titleTextSignal();
  RAC(self, "selectionSummaryText") = selectionSummaryTextSignal();
  RAC(self, "triggerTimeDurationHidden") = triggerTimeDurationHiddenSignal();
  RAC(self, "testActionEnabled") = testActionEnabledSignal();
  RAC(self, "saveActionEnabled") = saveActionEnabledSignal();
}

void BTActionObjectEditorViewModel::initialize() {
  std::optional<std::string> type;
  std::int64_t kind = kFinishes;
  if (editing_ && actionObject_) {
    type = actionObject_->className();
    kind = BTActionTriggerUtil::actionTriggerKindFromActionTrigger(actionObject_->trigger());
  } else {
    type = availableActionTypes().front();
  }
  setSelectedActionType(type);
  setSelectedTriggerKind(kind);
}

// ----- signals

std::shared_ptr<RACSignal> BTActionObjectEditorViewModel::titleTextSignal() {
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "timeObject.title", self)->map([](const tw::Value& title) {
    return tw::Value(tw::localizedFormat("Action Editor | %@", title));
  });
}

std::shared_ptr<RACSignal> BTActionObjectEditorViewModel::selectionSummaryTextSignal() {
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "selectedActionType", self)->map([](const tw::Value& type) {
    const auto* name = type.string();
    return tw::Value(name ? BTActionObjectUtil::actionObjectTypeSummary(*name).value_or("")
                          : std::string());
  });
}

std::shared_ptr<RACSignal> BTActionObjectEditorViewModel::triggerTimeDurationHiddenSignal() {
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "selectedTriggerKind", self)->map([](const tw::Value& kind) {
    return tw::Value(!isTimeKind(kind.integerValue()));
  });
}

std::shared_ptr<RACSignal> BTActionObjectEditorViewModel::saveActionEnabledSignal() {
  auto self = shared_from_this();
  std::weak_ptr<BTActionObjectEditorViewModel> weakSelf =
      std::static_pointer_cast<BTActionObjectEditorViewModel>(self);
  // The detail view's own answer is read each time: the observed value only says when to ask.
  return RACSignal::combineLatest(
      {rac_valuesForKeyPath(self, "selectedTriggerKind", self),
       rac_valuesForKeyPath(self, "triggerTimeDurationValue", self),
       rac_valuesForKeyPath(self, "detailView.shouldSave", self)},
      [weakSelf](const tw::Value& kind, const tw::Value& duration, const tw::Value&) {
        auto model = weakSelf.lock();
        if (model && model->detailView_ && !model->detailView_->shouldSave())
          return tw::Value(false);
        const std::int64_t k = kind.integerValue();
        if (isTimeKind(k)) return tw::Value(duration.integerValue() > 0);
        return tw::Value(k == kStarts || k == kFinishes);
      });
}

std::shared_ptr<RACSignal> BTActionObjectEditorViewModel::testActionEnabledSignal() {
  auto self = shared_from_this();
  return RACSignal::combineLatest(
      {rac_valuesForKeyPath(self, "selectedActionType", self),
       rac_valuesForKeyPath(self, "saveActionEnabled", self)},
      [](const tw::Value& type, const tw::Value& saveEnabled) {
        const auto* name = type.string();
        return tw::Value(name && isActionTypeTestable(*name) && saveEnabled.boolValue());
      });
}

// ----- selection

void BTActionObjectEditorViewModel::setSelectedActionType(const std::optional<std::string>& type) {
  TW_MAIN_THREAD_ONLY("BTActionObjectEditorViewModel::setSelectedActionType");
  if (!type || type == selectedActionType_) return;
  setAndNotify("selectedActionType", selectedActionType_, type);
  updateDetailView();
}

void BTActionObjectEditorViewModel::updateDetailView() {
  std::shared_ptr<BTActionObjectEditorDetailView> detail;
  auto view = this->view();
  if (view && selectedActionType_ && actionTypeHasDetailView(*selectedActionType_))
    detail = view->detailViewForActionType(*selectedActionType_);
  setAndNotify("detailView", detailView_, detail);
  if (!view) return;
  if (detail) {
    detail->loadViewWithBuilder(actionBuilder_);
    view->presentDetailView(detail);
  } else {
    view->presentBlankDetailView();
  }
}

void BTActionObjectEditorViewModel::setSelectedTriggerKind(std::int64_t kind) {
  TW_MAIN_THREAD_ONLY("BTActionObjectEditorViewModel::setSelectedTriggerKind");
  if (kind == BTActionTriggerUtil::kKindGeneric || kind == BTActionTriggerUtil::kKindNone ||
      kind == selectedTriggerKind_)
    return;
  willChangeValueForKey("selectedTriggerKind");
  selectedTriggerKind_ = kind;
  actionBuilder_->setTriggerKind(kind);
  didChangeValueForKey("selectedTriggerKind");
  auto trigger = actionBuilder_->triggerBuilder();
  if (!trigger) return;
  const double duration = static_cast<double>(triggerTimeDurationValue());
  switch (kind) {
    case kStarts:
      trigger->setStateFrom(tw::kTimingStateReset);
      trigger->setStateTo(tw::kTimingStateRunning);
      break;
    case kFinishes:
      trigger->setStateFrom(tw::kTimingStateRunning);
      trigger->setStateTo(tw::kTimingStateFinished);
      break;
    case kElapsed:
      trigger->setTimeCondition(BTTimeTriggerProtocol::kTimeConditionElapsed);
      trigger->setTimeInterval(duration);
      break;
    case kRemains:
      trigger->setTimeCondition(BTTimeTriggerProtocol::kTimeConditionRemains);
      trigger->setTimeInterval(duration);
      break;
    default:
      break;
  }
}

std::int64_t BTActionObjectEditorViewModel::triggerTimeDurationValue() const {
  auto trigger = actionBuilder_ ? actionBuilder_->triggerBuilder() : nullptr;
  if (!trigger) return 0;
  const double interval = trigger->timeInterval();
  if (!std::isfinite(interval)) return 0;
  return static_cast<std::int64_t>(std::trunc(interval));
}

void BTActionObjectEditorViewModel::setTriggerTimeDurationValue(std::int64_t seconds) {
  TW_MAIN_THREAD_ONLY("BTActionObjectEditorViewModel::setTriggerTimeDurationValue");
  if (auto trigger = actionBuilder_->triggerBuilder())
    trigger->setTimeInterval(static_cast<double>(seconds));
}

// ----- kinds

std::vector<std::string> BTActionObjectEditorViewModel::availableActionTypes() const {
  const bool stopwatch = timeObject_ && timeObject_->isStopwatchType();
  std::vector<std::string> types;
  for (const char* type : kActionTypes)
    if (!(stopwatch && std::string_view(type) == "BTRepeatAction")) types.emplace_back(type);
  return types;
}

std::vector<std::int64_t> BTActionObjectEditorViewModel::availableActionTriggerKinds() const {
  if (selectedActionType_ == "BTRepeatAction") return {kFinishes};
  const bool countsDown = timeObject_ && (timeObject_->isAlarmType() || timeObject_->isTimerType());
  const bool stopwatch = timeObject_ && timeObject_->isStopwatchType();
  std::vector<std::int64_t> kinds{kStarts};
  if (countsDown) kinds.push_back(kFinishes);
  if (stopwatch) kinds.push_back(kElapsed);
  if (countsDown) kinds.push_back(kRemains);
  return kinds;
}

bool BTActionObjectEditorViewModel::actionTypeHasDetailView(std::string_view type) {
  return type != "BTRepeatAction";
}

bool BTActionObjectEditorViewModel::isActionTypeTestable(std::string_view type) {
  return type != "BTLinkTimeObjectAction" && type != "BTRepeatAction" &&
         type != "BTSystemEventAction";
}

std::vector<tw::MenuItem> BTActionObjectEditorViewModel::availableActionTypeMenuItemsUsingBuilder(
    const MenuItemBuilder& builder) const {
  std::vector<tw::MenuItem> items;
  for (const auto& type : availableActionTypes()) {
    if (type == "BTLinkTimeObjectAction" || type == "BTSystemEventAction")
      items.push_back(tw::MenuItem::separatorItem());
    tw::MenuItem item = builder ? builder(type) : tw::MenuItem{};
    item.representedObject = type;
    items.push_back(std::move(item));
  }
  if (!items.empty() && items.front().separator) items.erase(items.begin());
  if (!items.empty() && items.back().separator) items.pop_back();
  return items;
}

std::vector<tw::MenuItem>
BTActionObjectEditorViewModel::availableActionTriggerTypeMenuItemsUsingBuilder(
    const MenuItemBuilder&) const {
  return {};
}

// ----- outcome

void BTActionObjectEditorViewModel::saveChanges() {
  TW_MAIN_THREAD_ONLY("BTActionObjectEditorViewModel::saveChanges");
  if (!saveActionEnabled_ || !selectedActionType_ || !timeObject_) return;
  auto action = actionBuilder_->buildActionObjectOfType(*selectedActionType_);
  if (!action) return;
  if (editing_ && actionObject_) {
    timeObject_->removeActionObject(actionObject_);
    ::deleteObject(std::static_pointer_cast<tw::store::ManagedObject>(actionObject_));
    actionObject_.reset();
  }
  timeObject_->addActionObject(action);
  if (auto view = this->view()) view->actionObjectChangesSaved(action);
  tw::NotificationCenter::defaultCenter()->post(
      editing_ ? BTActionObjectUpdatedNotification : BTActionObjectInsertedNotification,
      shared_from_this(), tw::Dictionary{{BTActionObjectUserInfoKey, tw::Value(action)}});
  actionObject_ = action;
}

void BTActionObjectEditorViewModel::discardChanges() {
  TW_MAIN_THREAD_ONLY("BTActionObjectEditorViewModel::discardChanges");
  if (auto view = this->view()) view->actionObjectChangesDiscarded();
}

void BTActionObjectEditorViewModel::testAction() {
  TW_MAIN_THREAD_ONLY("BTActionObjectEditorViewModel::testAction");
  if (!testActionEnabled_ || !selectedActionType_) return;
  auto action = actionBuilder_->buildGenericActionObjectOfType(*selectedActionType_);
  if (!action) return;
  if (auto executor = actionExecutor_.get()) executor->executeAction(action);
}

// ----- key-value coding

bool BTActionObjectEditorViewModel::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "timeObject") return out = tw::Value(timeObject_), true;
  if (key == "actionBuilder") return out = tw::Value(actionBuilder_), true;
  if (key == "detailView")
    return out = tw::Value(std::dynamic_pointer_cast<tw::Object>(detailView_)), true;
  if (key == "selectedActionType")
    return out = selectedActionType_ ? tw::Value(*selectedActionType_) : tw::Value(), true;
  if (key == "selectedTriggerKind") return out = selectedTriggerKind_, true;
  if (key == "triggerTimeDurationValue") return out = triggerTimeDurationValue(), true;
  if (key == "titleText") return out = titleText_, true;
  if (key == "selectionSummaryText") return out = selectionSummaryText_, true;
  if (key == "triggerTimeDurationHidden") return out = triggerTimeDurationHidden_, true;
  if (key == "testActionEnabled") return out = testActionEnabled_, true;
  if (key == "saveActionEnabled") return out = saveActionEnabled_, true;
  if (key == "editingExistingActionObject") return out = editing_, true;
  return tw::Object::getValueForKey(key, out);
}

bool BTActionObjectEditorViewModel::setValueForKeyImpl(std::string_view key,
                                                       const tw::Value& value) {
  auto text = [&] { return value.string() ? *value.string() : std::string(); };
  if (key == "titleText") return titleText_ = text(), true;
  if (key == "selectionSummaryText") return selectionSummaryText_ = text(), true;
  if (key == "triggerTimeDurationHidden")
    return triggerTimeDurationHidden_ = value.boolValue(), true;
  if (key == "testActionEnabled") return testActionEnabled_ = value.boolValue(), true;
  if (key == "saveActionEnabled") return saveActionEnabled_ = value.boolValue(), true;
  return tw::Object::setValueForKeyImpl(key, value);
}

std::vector<std::string> BTActionObjectEditorViewModel::keyPathsForValuesAffectingKey(
    std::string_view key) const {
  if (key == "triggerTimeDurationValue") return {"actionBuilder.triggerBuilder.timeInterval"};
  return tw::Object::keyPathsForValuesAffectingKey(key);
}
