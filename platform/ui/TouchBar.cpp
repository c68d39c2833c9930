#include "platform/ui/TouchBar.h"

namespace tw::ui {

std::shared_ptr<TouchBarItem> TouchBar::itemForIdentifier(const std::string& identifier) {
  if (auto it = items_.find(identifier); it != items_.end()) return it->second;
  auto delegate = delegate_.lock();
  if (!delegate) return nullptr;
  auto item = delegate->makeItemForIdentifier(*this, identifier);
  if (item) items_[identifier] = item;
  return item;
}

void TouchBar::addItem(std::shared_ptr<TouchBarItem> item) {
  if (!item) return;
  items_[item->identifier()] = std::move(item);
}

}  // namespace tw::ui
