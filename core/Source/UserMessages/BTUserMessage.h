#pragma once
// BTUserMessage: what the system puts in front of the user, independent of how it is shown: a
// title and a message. Base of BTAlert (shown by the alert presenter) and BTNotification
// (delivered by the notification service). Plain values built by view models and the action
// executor; owned through std::shared_ptr. Not synchronised: build and read on one thread (the
// main thread in this system).

#include <optional>
#include <string>

#include "platform/foundation/Object.h"

class BTUserMessage : public tw::Object {
 public:
  BTUserMessage() = default;

  // "<BTAlert: 0x...> title: ..., message: ..." for logs.
  std::string description() const override;

  // Both nil (nullopt) until set.
  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> message) { message_ = std::move(message); }

 private:
  std::optional<std::string> title_;
  std::optional<std::string> message_;
};
