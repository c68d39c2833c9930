#pragma once
// BTActionsListViewModel: the actions of one time object as its detail pane lists them: loaded
// and ordered (sort order, then creation date), a status text ("3 actions"), the enablement of
// Delete, reordering (sort orders renumbered 0...n-1), deleting with a prompt when the
// actions-bundle setting asks for one, and opening the editor for a new or an existing action.
// It follows the editor's inserted/updated notifications (BTActionObjectInsertedNotification,
// BTActionObjectUpdatedNotification) for as long as it lives.
//
// The first load returns at once and runs on a later turn of the main queue, where the stored
// objects live. Made by the application's actions list with itself as the view (held weakly:
// the view owns this view model); services are injected (weak). Main thread only. Observable
// keys: "actionObjects", "selectionIndex", "deleteActionEnabled", "statusText".

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Source/Library/BTArrayOperations.h"
#include "core/Source/Timing/BTTimeObjectViewModel.h"
#include "core/Source/ViewModels/BTActionsListView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/inject/Injectable.h"
#include "platform/inject/TyphoonInjectedObject.h"

class BTActionObject;
class BTAlertPresenter;
class BTSettingsProvider;
class RACSignal;

class BTActionsListViewModel : public BTTimeObjectViewModel, public tw::Injectable {
  struct PrivateTag {};

 public:
  // initWithTimeObject:view: (a null view: initWithTimeObject:). Bound and listening; nothing
  // loaded yet.
  static std::shared_ptr<BTActionsListViewModel> create(
      std::shared_ptr<BTTimeObject> timeObject,
      const std::shared_ptr<BTActionsListView>& view = nullptr);
  BTActionsListViewModel(PrivateTag, std::shared_ptr<BTTimeObject> timeObject,
                         const std::shared_ptr<BTActionsListView>& view);
  ~BTActionsListViewModel() override;

  std::shared_ptr<RACSignal> deleteActionEnabledSignal();
  std::shared_ptr<RACSignal> statusTextSignal();

  void initialize();
  void reloadActionObjects();
  void notifyOnDataObjectListChange();
  void addNewObject();
  void editObjectAtIndex(std::int64_t index);
  void deleteObject();
  void deleteObjectAtIndex(std::int64_t index);
  void promptDeleteActionObject(const std::shared_ptr<BTActionObject>& action, std::int64_t index);
  void deleteActionObject(const std::shared_ptr<BTActionObject>& action, std::int64_t index);
  void moveObjectAtIndex(std::int64_t from, std::int64_t to);
  void actionObjectInserted(const tw::Notification& notification);
  void actionObjectUpdated(const tw::Notification& notification);

  bool isInitialized() const { return initialized_; }
  std::vector<std::shared_ptr<BTActionObject>> actionObjects() const { return actionObjects_; }
  std::int64_t selectionIndex() const { return selectionIndex_; }
  void setSelectionIndex(std::int64_t index);
  bool isDeleteActionEnabled() const { return deleteActionEnabled_; }
  const std::string& statusText() const { return statusText_; }

  // tw::Injectable: alertPresenter, settingsProvider.
  void injectProperties(tw::PropertyInjector& injector) override;

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;

 private:
  void listen();
  std::shared_ptr<BTActionsListView> view() const { return view_.lock(); }
  std::int64_t indexOfAction(const tw::Notification& notification) const;

  std::weak_ptr<BTActionsListView> view_;
  bool initialized_ = false;
  std::vector<std::shared_ptr<BTActionObject>> actionObjects_;
  std::int64_t selectionIndex_ = BTNotFound;
  bool deleteActionEnabled_ = false;
  std::string statusText_;
  TyphoonInjectedObject<BTAlertPresenter> alertPresenter_;
  TyphoonInjectedObject<BTSettingsProvider> settingsProvider_;
  tw::ScopedNotificationToken insertedToken_;
  tw::ScopedNotificationToken updatedToken_;
};
