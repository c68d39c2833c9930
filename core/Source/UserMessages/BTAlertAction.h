#pragma once
// BTAlertAction: one button of a BTAlert: its title, its style, and what to do when the user
// chooses it. The presenter adds buttons in the order of the alert's actions and runs the
// handler of the chosen one after the alert has closed. Owned through std::shared_ptr; build on
// the main thread, where the presenter also runs the handler.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Object.h"

class BTAlertAction : public tw::Object {
 public:
  using Handler = std::function<void()>;

  // Button styles. Destructive buttons ("Delete") look like ordinary ones; the cancel button
  // answers the Escape key.
  static constexpr std::int64_t kStyleDefault = 0;
  static constexpr std::int64_t kStyleCancel = 1;
  static constexpr std::int64_t kStyleDestructive = 2;

  BTAlertAction() = default;

  static std::shared_ptr<BTAlertAction> actionWithTitle(std::optional<std::string> title,
                                                        Handler handler);
  static std::shared_ptr<BTAlertAction> actionWithTitle(std::optional<std::string> title,
                                                        std::int64_t style, Handler handler);

  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  std::int64_t style() const { return style_; }
  void setStyle(std::int64_t style) { style_ = style; }
  // May be empty: choosing the button then only closes the alert.
  const Handler& handlerBlock() const { return handler_; }
  void setHandlerBlock(Handler handler) { handler_ = std::move(handler); }

 private:
  std::optional<std::string> title_;
  std::int64_t style_ = 0;
  Handler handler_;
};
