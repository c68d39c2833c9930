#pragma once
// BTActionObjectEditorViewModel: the logic of the action editor window. The user picks what the
// action does (its kind, an entity name such as "BTDisplayAlertAction"), when it fires (trigger
// kind 1 starts, 2 finishes, 3 after a set time has elapsed, 4 after a set time remains) and, for
// kinds 3 and 4, a duration in whole seconds; a per-kind detail view edits the rest. Everything
// is collected in an action builder and only turned into a stored action on save (the edited
// action is then replaced by a new one of the same uuid and creation date, and
// BTActionObjectInsertedNotification / BTActionObjectUpdatedNotification is posted); Test runs an
// unstored copy at once.
//
// Save is refused, not only disabled, while saveActionEnabled is off, so no path stores an
// invalid action.
//
// Observable keys: "detailView", "selectedActionType", "selectedTriggerKind",
// "triggerTimeDurationValue", "titleText", "selectionSummaryText", "triggerTimeDurationHidden",
// "testActionEnabled", "saveActionEnabled".
//
// Made by the editor window with itself as the view (held weakly: the window owns this view
// model); the action executor is injected (weak). Then the window binds and sends initialize().
// Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Source/Model/BTActionBuilder.h"
#include "core/Source/Timing/BTTimeObjectViewModel.h"
#include "core/Source/ViewModels/BTActionObjectEditorNotifications.h"
#include "core/Source/ViewModels/BTActionObjectEditorView.h"
#include "core/Source/ViewModels/BTMenuItem.h"
#include "platform/foundation/Object.h"
#include "platform/inject/Injectable.h"
#include "platform/inject/TyphoonInjectedObject.h"

class BTActionExecutor;
class BTActionObject;
class RACSignal;

class BTActionObjectEditorViewModel : public tw::Object,
                                      public BTBindableViewModel,
                                      public tw::Injectable {
  struct PrivateTag {};

 public:
  using MenuItemBuilder = std::function<tw::MenuItem(const std::string& type)>;

  // The kinds' menu: one item per available kind (the kind as represented object), separators
  // before the link and the system-event kinds, none at either end.
  std::vector<tw::MenuItem> availableActionTypeMenuItemsUsingBuilder(
      const MenuItemBuilder& builder) const;
  // Always empty: the window builds the trigger menu from availableActionTriggerKinds.
  std::vector<tw::MenuItem> availableActionTriggerTypeMenuItemsUsingBuilder(
      const MenuItemBuilder& builder) const;

  // initWithTimeObject:view: a new action for the time object (null for init).
  static std::shared_ptr<BTActionObjectEditorViewModel> createWithTimeObject(
      std::shared_ptr<BTTimeObject> timeObject,
      const std::shared_ptr<BTActionObjectEditorView>& view);
  // initWithActionObject:view: editing a stored action.
  static std::shared_ptr<BTActionObjectEditorViewModel> createWithActionObject(
      std::shared_ptr<BTActionObject> action,
      const std::shared_ptr<BTActionObjectEditorView>& view);
  BTActionObjectEditorViewModel(PrivateTag, std::shared_ptr<BTTimeObject> timeObject,
                                std::shared_ptr<BTActionObject> action,
                                const std::shared_ptr<BTActionObjectEditorView>& view);

  void createBindings();
  void initialize();

  std::shared_ptr<RACSignal> titleTextSignal();
  std::shared_ptr<RACSignal> selectionSummaryTextSignal();
  std::shared_ptr<RACSignal> triggerTimeDurationHiddenSignal();
  std::shared_ptr<RACSignal> testActionEnabledSignal();
  std::shared_ptr<RACSignal> saveActionEnabledSignal();

  bool isEditingExistingActionObject() const { return editing_; }
  const std::optional<std::string>& selectedActionType() const { return selectedActionType_; }
  void setSelectedActionType(const std::optional<std::string>& type);
  std::int64_t selectedTriggerKind() const { return selectedTriggerKind_; }
  void setSelectedTriggerKind(std::int64_t kind);
  std::int64_t triggerTimeDurationValue() const;
  void setTriggerTimeDurationValue(std::int64_t seconds);
  std::vector<std::string> availableActionTypes() const;
  std::vector<std::int64_t> availableActionTriggerKinds() const;

  // Stores the action when saveActionEnabled; otherwise does nothing.
  void saveChanges();
  void discardChanges();
  void testAction();
  void updateDetailView();
  static bool actionTypeHasDetailView(std::string_view type);
  static bool isActionTypeTestable(std::string_view type);

  const std::shared_ptr<BTActionObjectEditorDetailView>& detailView() const { return detailView_; }
  const std::shared_ptr<BTActionBuilder>& actionBuilder() const { return actionBuilder_; }
  const std::shared_ptr<BTTimeObject>& timeObject() const { return timeObject_; }
  const std::shared_ptr<BTActionObject>& actionObject() const { return actionObject_; }
  const std::string& titleText() const { return titleText_; }
  const std::string& selectionSummaryText() const { return selectionSummaryText_; }
  bool isTriggerTimeDurationHidden() const { return triggerTimeDurationHidden_; }
  bool isTestActionEnabled() const { return testActionEnabled_; }
  bool isSaveActionEnabled() const { return saveActionEnabled_; }

  // tw::Injectable: actionExecutor.
  void injectProperties(tw::PropertyInjector& injector) override;

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override;

 private:
  std::shared_ptr<BTActionObjectEditorView> view() const { return view_.lock(); }

  std::weak_ptr<BTActionObjectEditorView> view_;
  std::shared_ptr<BTActionObjectEditorDetailView> detailView_;
  bool editing_ = false;
  std::shared_ptr<BTActionBuilder> actionBuilder_;
  std::shared_ptr<BTActionObject> actionObject_;
  std::shared_ptr<BTTimeObject> timeObject_;
  std::optional<std::string> selectedActionType_;
  std::int64_t selectedTriggerKind_ = 0;
  std::string titleText_;
  std::string selectionSummaryText_;
  bool triggerTimeDurationHidden_ = true;
  bool testActionEnabled_ = false;
  bool saveActionEnabled_ = false;
  TyphoonInjectedObject<BTActionExecutor> actionExecutor_;
};
