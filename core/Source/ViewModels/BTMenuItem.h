#pragma once
// tw::MenuItem: a menu as the view models describe it, free of any toolkit: title, the object
// the item stands for, whether it is enabled, separators, and submenus. The application maps it
// onto its own menus and reads representedObject back when an item is chosen. A plain value;
// any thread.

#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace tw {

struct MenuItem {
  std::string title;
  Value representedObject;
  bool enabled = true;
  bool separator = false;
  std::vector<MenuItem> children;

  static MenuItem separatorItem() {
    MenuItem item;
    item.separator = true;
    return item;
  }
};

}  // namespace tw
