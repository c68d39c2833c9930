#include "core/Source/UserMessages/BTAlert.h"

#include <algorithm>

std::shared_ptr<BTAlert> BTAlert::alertWithTitle(std::optional<std::string> title) {
  return alertWithTitle(std::move(title), std::nullopt);
}

std::shared_ptr<BTAlert> BTAlert::alertWithTitle(std::optional<std::string> title,
                                                 std::optional<std::string> message) {
  return alertWithTitle(std::move(title), std::move(message), kStyleInformational);
}

std::shared_ptr<BTAlert> BTAlert::alertWithTitle(std::optional<std::string> title,
                                                 std::optional<std::string> message,
                                                 std::int64_t style) {
  auto alert = std::make_shared<BTAlert>();
  alert->setTitle(std::move(title));
  alert->setMessage(std::move(message));
  alert->setStyle(style);
  return alert;
}

void BTAlert::addAction(std::shared_ptr<BTAlertAction> action) {
  if (action) actions_.push_back(std::move(action));
}

void BTAlert::setActions(std::vector<std::shared_ptr<BTAlertAction>> actions) {
  // The list never holds a null action, whichever way it was filled.
  std::erase(actions, nullptr);
  actions_ = std::move(actions);
}
