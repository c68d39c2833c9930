#pragma once
// tw::store::FetchRequest: what a fetch asks for: the objects of one entity (and by default of
// its sub-entities), filtered by a predicate, sorted by keys, optionally limited. A plain value;
// any thread may build one, fetches run on the context's thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/Predicate.h"

namespace tw::store {

struct SortDescriptor {
  std::string key;
  bool ascending = true;

  // "sortOrder,creationDate" -> one descriptor per key, all in the same direction.
  static std::vector<SortDescriptor> fromKeyList(std::string_view commaSeparatedKeys,
                                                 bool ascending = true);
};

struct FetchRequest {
  FetchRequest() = default;
  explicit FetchRequest(std::string entity, Predicate filter = {})
      : entityName(std::move(entity)), predicate(std::move(filter)) {}

  std::string entityName;
  Predicate predicate;
  std::vector<SortDescriptor> sortDescriptors;
  bool includesSubentities = true;
  std::size_t fetchLimit = 0;  // 0: all
};

}  // namespace tw::store
