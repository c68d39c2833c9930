#pragma once
// BTMasterListViewModel: drives the master list of the main window: one list of time objects at
// a time (the view mode: 0 alarms, 1 timers, 2 stopwatches), the selected row, adding, deleting
// with an optional prompt, reordering, opening the title and value editors, and announcing view
// mode changes (BTMasterListViewModeDidChangeNotification). The list belongs to the mode's data
// provider; the selection is remembered per mode in the master-detail settings.
//
// Rules beyond the plain ones:
// - A provider task that finishes after the mode changed again is ignored (its list is no longer
//   shown).
// - Deleting a row above the selection keeps the same object selected (the index moves up).
// - A new object's value editor opens 0.25 s after its row appears, for that object wherever it
//   then is, and not at all once another mode is shown or the object is gone.
//
// Made by the master view controller with itself as the view (held weakly: the controller owns
// this view model), then sent initialize(). Services are injected from the default component
// factory (weak); the assembly is the activated one, whose data-provider definitions it names. Main
// thread only. Observable keys: "selectionIndex", "deleteActionEnabled".

#include <cstdint>
#include <memory>

#include "core/Source/Library/BTArrayOperations.h"
#include "core/Source/Library/BTViewTransition.h"
#include "core/Source/Model/BTMasterListViewMode.h"
#include "core/Source/Services/DataServiceBundle/BTTimeObjectDataProvider.h"
#include "core/Source/ViewModels/BTMasterListView.h"
#include "platform/foundation/Object.h"
#include "platform/inject/Injectable.h"
#include "platform/inject/TyphoonInjectedObject.h"
#include "platform/tasks/BFTask.h"

class BTAlertPresenter;
class TyphoonAssembly;
class BTSettingsProvider;
class RACSignal;

class BTMasterListViewModel : public tw::Object, public tw::Injectable {
  struct PrivateTag {};

 public:
  static constexpr double kValueEditorDelay = 0.25;

  // initWithView: injected, bound, nothing selected; initialize() loads the current mode.
  static std::shared_ptr<BTMasterListViewModel> create(
      const std::shared_ptr<BTMasterListView>& view);
  BTMasterListViewModel(PrivateTag, const std::shared_ptr<BTMasterListView>& view);

  void initialize();

  std::shared_ptr<RACSignal> deleteActionEnabledSignal();
  const std::shared_ptr<BTTimeObjectDataProvider>& dataProvider() const { return dataProvider_; }
  // The setting; -1 while no settings are available.
  std::int64_t viewMode() const;
  void setViewMode(std::int64_t mode);
  std::int64_t selectionIndex() const { return selectionIndex_; }
  bool isDeleteActionEnabled() const { return deleteActionEnabled_; }
  // From the table's selection.
  void selectObjectAtIndex(std::int64_t index);
  bool isSelectionIndexValid() const { return isObjectIndexValid(selectionIndex_); }

  void addNewObject();
  void editObjectTitleAtIndex(std::int64_t index);
  void editObjectValueAtIndex(std::int64_t index);
  void deleteObject();
  void deleteObjectAtIndex(std::int64_t index);
  void moveObjectAtIndex(std::int64_t from, std::int64_t to);

  void triggerViewModeChangeNotification();
  void loadDataProvider();
  BFTaskPtr loadTimeObjectsIfNeeded();
  bool isObjectIndexValid(std::int64_t index) const;
  static bool isObjectIndexNotFound(std::int64_t index) { return byt_isIndexNotFound(index); }
  std::int64_t indexOfObject(const std::shared_ptr<BTTimeObject>& object) const;
  std::shared_ptr<BTTimeObject> objectAtIndex(std::int64_t index) const;
  // Whether the corrected index differs from `index`.
  bool constrainSelectionIndexToValid(std::int64_t index, std::int64_t* correctedIndex) const;
  void setNeedsSelectionIndexUpdate() { needsSelectionIndexUpdate_ = true; }
  void updateSelectionIndexIfNeeded();
  void restoreSelectionIndex(std::int64_t index);
  void resetSelectionIndex() { selectionIndex_ = BTNotFound; }
  void saveSelectionIndex();
  void putTransition(std::shared_ptr<BTViewTransition> transition) {
    pendingTransition_ = std::move(transition);
  }
  std::shared_ptr<BTViewTransition> takeTransition() { return std::move(pendingTransition_); }
  std::shared_ptr<BTViewTransition> transitionForSelectionChange(std::int64_t from,
                                                                 std::int64_t to) const;
  std::shared_ptr<BTViewTransition> transitionForViewModeChange(std::int64_t from,
                                                                std::int64_t to) const;
  void deleteTimeObject(const std::shared_ptr<BTTimeObject>& object, std::int64_t index);
  void promptDeleteTimeObject(const std::shared_ptr<BTTimeObject>& object, std::int64_t index);

  // tw::Injectable: assembly, alertPresenter, settingsProvider.
  void injectProperties(tw::PropertyInjector& injector) override;

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;

 private:
  void setSelectionIndex(std::int64_t index);
  std::shared_ptr<BTMasterListView> view() const { return view_.lock(); }
  bool isCurrent(const std::shared_ptr<BTTimeObjectDataProvider>& provider) const {
    return provider && provider == dataProvider_;
  }

  std::weak_ptr<BTMasterListView> view_;
  std::shared_ptr<BTTimeObjectDataProvider> dataProvider_;
  std::int64_t selectionIndex_ = BTNotFound;
  bool deleteActionEnabled_ = false;
  std::shared_ptr<BTViewTransition> pendingTransition_;
  bool needsSelectionIndexUpdate_ = false;
  // Counts loads, so a late load of an earlier one is told apart.
  std::uint64_t loadGeneration_ = 0;

  TyphoonInjectedProtocol<TyphoonAssembly> assembly_;
  TyphoonInjectedObject<BTAlertPresenter> alertPresenter_;
  TyphoonInjectedObject<BTSettingsProvider> settingsProvider_;
};
