#include "core/Source/UserMessages/BTAlertAction.h"

std::shared_ptr<BTAlertAction> BTAlertAction::actionWithTitle(std::optional<std::string> title,
                                                              Handler handler) {
  return actionWithTitle(std::move(title), kStyleDefault, std::move(handler));
}

std::shared_ptr<BTAlertAction> BTAlertAction::actionWithTitle(std::optional<std::string> title,
                                                              std::int64_t style, Handler handler) {
  auto action = std::make_shared<BTAlertAction>();
  action->setTitle(std::move(title));
  action->setStyle(style);
  action->setHandlerBlock(std::move(handler));
  return action;
}
