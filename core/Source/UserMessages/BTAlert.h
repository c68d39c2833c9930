#pragma once
// BTAlert: a message with buttons (BTAlertAction), shown by the alert presenter. The index of an
// action in actions() is its button's position, first button 0. Owned through std::shared_ptr;
// build and read on the main thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Source/UserMessages/BTAlertAction.h"
#include "core/Source/UserMessages/BTUserMessage.h"

class BTAlert : public BTUserMessage {
 public:
  // Alert styles; the presenter shows any other value in its default (warning) style.
  static constexpr std::int64_t kStyleInformational = 0;
  static constexpr std::int64_t kStyleCritical = 1;

  BTAlert() = default;

  // Message nil, style informational.
  static std::shared_ptr<BTAlert> alertWithTitle(std::optional<std::string> title);
  static std::shared_ptr<BTAlert> alertWithTitle(std::optional<std::string> title,
                                                 std::optional<std::string> message);
  static std::shared_ptr<BTAlert> alertWithTitle(std::optional<std::string> title,
                                                 std::optional<std::string> message,
                                                 std::int64_t style);

  std::int64_t style() const { return style_; }
  void setStyle(std::int64_t style) { style_ = style; }

  // Appends the action; a null one is ignored.
  void addAction(std::shared_ptr<BTAlertAction> action);
  // A copy: changing it leaves the alert as it is.
  std::vector<std::shared_ptr<BTAlertAction>> actions() const { return actions_; }
  void setActions(std::vector<std::shared_ptr<BTAlertAction>> actions);

 private:
  std::int64_t style_ = 0;
  std::vector<std::shared_ptr<BTAlertAction>> actions_;
};
