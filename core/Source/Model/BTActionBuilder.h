#pragma once
// BTActionBuilder: the unstored, editable action of the action editor. Holds the attributes of
// every action kind at once and adopts every kind's protocol (and the test marker), so editor
// views bind to it whatever kind is chosen and switching kinds starts the new kind from its
// defaults. Actions are never edited in place: on save it builds a new stored action of the
// chosen kind (keeping an edited action's uuid and creation date), on Test an unstored proxy
// exposing only the chosen kind. Key-value coding and observation cover every field.
//
// Owned by the editor's view model; main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTTestActionObject.h"
#include "core/Source/Model/BTTriggerBuilder.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

class BTActionObject;

class BTActionBuilder : public tw::Object,
                        public virtual BTDisplayAlertActionProtocol,
                        public virtual BTCustomMessageActionProtocol,
                        public virtual BTFlashScreenActionProtocol,
                        public virtual BTLinkTimeObjectActionProtocol,
                        public virtual BTRepeatActionProtocol,
                        public virtual BTSystemEventActionProtocol,
                        public virtual BTFileOperationActionProtocol,
                        public virtual BTAppOperationActionProtocol,
                        public virtual BTTestActionObject {
 public:
  // Every kind's defaults, the time object, a default trigger builder; no identity, kind 0.
  static std::shared_ptr<BTActionBuilder> builderWithTimeObject(
      const std::shared_ptr<BTTimeObject>& timeObject);
  // Every kind's defaults, then the action's attributes and a trigger builder read from its
  // trigger (defaults when it has none).
  static std::shared_ptr<BTActionBuilder> builderWithActionObject(
      const std::shared_ptr<BTActionObjectProtocol>& action);

  // Identity when the object has one, the common attributes, then those of the kinds it has (a
  // proxy answers by the kind it exposes). Other kinds keep their values.
  void assignFromActionObject(const BTActionObjectProtocol& action);
  // Every field but the trigger builder (null) and the trigger kind (0).
  std::shared_ptr<BTActionBuilder> copy() const;

  // The trigger entity of triggerKind ("BTActionTrigger", "BTStateTrigger", "BTTimeTrigger");
  // nullopt for a kind without one.
  std::optional<std::string> triggerType() const;

  // A new stored action of the entity `type` (one of the eight kinds) with this builder's
  // attributes of that kind, its identity when it has one, and a new stored trigger of
  // triggerKind (none for kinds 0 and -1). Not yet among its time object's actions. nullptr for
  // any other type.
  std::shared_ptr<BTActionObject> buildActionObjectOfType(std::string_view type) const;
  // An unstored copy behind a proxy exposing only the kind protocol of `type`, carrying an
  // unstored trigger of triggerKind whose action is the proxy. Still marked as a test action
  // behind the proxy. nullptr for a type that is no action kind.
  std::shared_ptr<BTActionObjectProtocol> buildGenericActionObjectOfType(
      std::string_view type) const;

  // ----- fields
  const std::shared_ptr<BTTriggerBuilder>& triggerBuilder() const { return triggerBuilder_; }
  void setTriggerBuilder(std::shared_ptr<BTTriggerBuilder> triggerBuilder);
  std::int64_t triggerKind() const { return triggerKind_; }
  void setTriggerKind(std::int64_t triggerKind);
  const std::optional<std::string>& uuid() const { return uuid_; }
  void setUuid(std::optional<std::string> uuid);
  const std::optional<tw::Date>& creationDate() const { return creationDate_; }
  void setCreationDate(std::optional<tw::Date> creationDate);

  // BTSortable, BTActionObjectProtocol
  std::int64_t sortOrder() const override { return sortOrder_; }
  void setSortOrder(std::int64_t v) override;
  bool enabled() const override { return enabled_; }
  void setEnabled(bool v) override;
  std::shared_ptr<BTTimeObject> timeObject() const override { return timeObject_; }
  void setTimeObject(const std::shared_ptr<BTTimeObject>& v) override;
  std::shared_ptr<BTActionTriggerProtocol> trigger() const override { return trigger_; }
  void setTrigger(const std::shared_ptr<BTActionTriggerProtocol>& v) override;

  // The kinds
  std::int64_t alertSoundType() const override { return alertSoundType_; }
  void setAlertSoundType(std::int64_t v) override;
  std::optional<std::string> alertCustomMessage() const override { return alertCustomMessage_; }
  void setAlertCustomMessage(const std::optional<std::string>& v) override;
  std::int64_t customMessageMode() const override { return customMessageMode_; }
  void setCustomMessageMode(std::int64_t v) override;
  std::optional<std::string> customMessageValue() const override { return customMessageValue_; }
  void setCustomMessageValue(const std::optional<std::string>& v) override;
  std::int64_t screenColorArgbValue() const override { return screenColorArgbValue_; }
  void setScreenColorArgbValue(std::int64_t v) override;
  std::shared_ptr<BTTimeObject> targetTimeObject() const override { return targetTimeObject_; }
  void setTargetTimeObject(const std::shared_ptr<BTTimeObject>& v) override;
  std::int64_t targetAction() const override { return targetAction_; }
  void setTargetAction(std::int64_t v) override;
  std::int64_t systemEventType() const override { return systemEventType_; }
  void setSystemEventType(std::int64_t v) override;
  std::optional<std::string> fileFilepathValue() const override { return fileFilepathValue_; }
  void setFileFilepathValue(const std::optional<std::string>& v) override;
  std::int64_t appOperationType() const override { return appOperationType_; }
  void setAppOperationType(std::int64_t v) override;
  std::optional<std::string> appFilepathValue() const override { return appFilepathValue_; }
  void setAppFilepathValue(const std::optional<std::string>& v) override;

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;

 private:
  bool enabled_ = true;
  std::shared_ptr<BTTimeObject> timeObject_;
  std::shared_ptr<BTActionTriggerProtocol> trigger_;
  std::int64_t sortOrder_ = 0;
  std::int64_t alertSoundType_ = 0, customMessageMode_ = 0, screenColorArgbValue_ = 0,
               targetAction_ = 0, systemEventType_ = 0, appOperationType_ = 0;
  std::optional<std::string> alertCustomMessage_, customMessageValue_, fileFilepathValue_,
      appFilepathValue_;
  std::shared_ptr<BTTimeObject> targetTimeObject_;
  std::shared_ptr<BTTriggerBuilder> triggerBuilder_;
  std::int64_t triggerKind_ = 0;
  std::optional<std::string> uuid_;
  std::optional<tw::Date> creationDate_;
};
