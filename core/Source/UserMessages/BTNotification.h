#pragma once
// BTNotification: a user notification to deliver through the notification service: title and
// message (as the informative text), subtitle, identifier, delivery date, sound name and user
// info. Created empty and filled through its setters. Owned through std::shared_ptr; build and
// read on the main thread.

#include <optional>
#include <string>

#include "core/Source/UserMessages/BTUserMessage.h"
#include "platform/foundation/Value.h"

class BTNotification : public BTUserMessage {
 public:
  BTNotification() = default;

  // Every field is nil (nullopt) until set.
  const std::optional<std::string>& subtitle() const { return subtitle_; }
  void setSubtitle(std::optional<std::string> v) { subtitle_ = std::move(v); }
  const std::optional<std::string>& identifier() const { return identifier_; }
  void setIdentifier(std::optional<std::string> v) { identifier_ = std::move(v); }
  const std::optional<tw::Date>& deliveryDate() const { return deliveryDate_; }
  void setDeliveryDate(std::optional<tw::Date> v) { deliveryDate_ = v; }
  const std::optional<std::string>& soundName() const { return soundName_; }
  void setSoundName(std::optional<std::string> v) { soundName_ = std::move(v); }
  const std::optional<tw::Dictionary>& userInfo() const { return userInfo_; }
  void setUserInfo(std::optional<tw::Dictionary> v) { userInfo_ = std::move(v); }

 private:
  std::optional<std::string> subtitle_;
  std::optional<std::string> identifier_;
  std::optional<tw::Date> deliveryDate_;
  std::optional<std::string> soundName_;
  std::optional<tw::Dictionary> userInfo_;
};
