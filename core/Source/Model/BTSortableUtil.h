#pragma once
// BTSortableUtil: gives every object of an ordered list its index as sort order, after the
// caller has moved an object within the list. The two indices of the move are taken for the
// record but not consulted: the whole list is renumbered from 0.
// No state; the thread the objects belong to (main, for stored objects).

#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "core/Source/Model/BTSortable.h"

class BTSortableUtil {
 public:
  BTSortableUtil() = delete;

  template <class T>
  static void reorderSortableObjects(const std::vector<std::shared_ptr<T>>& objects,
                                     [[maybe_unused]] long fromIndex,
                                     [[maybe_unused]] long toIndex) {
    static_assert(std::is_base_of_v<BTSortable, T>, "only sortable objects have a sort order");
    std::int64_t index = 0;
    for (const auto& object : objects) {
      if (object) object->setSortOrder(index);
      ++index;
    }
  }
};
