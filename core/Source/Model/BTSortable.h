#pragma once
// BTSortable: anything with a position in an ordered list (time objects in their kind's list,
// actions in their time object's list, and the builders that stand in for actions).
// An interface only; the implementing object's threading rule applies (stored objects: main
// thread).
//
// Protocols are abstract classes without a tw::Object base, adopted through virtual inheritance,
// so one object can adopt several of them (a builder adopts every action kind) and a stored
// entity can adopt them beside its tw::store::ManagedObject base. Conformance is tested with
// dynamic_cast.

#include <cstdint>

class BTSortable {
 public:
  virtual ~BTSortable() = default;

  virtual std::int64_t sortOrder() const = 0;
  virtual void setSortOrder(std::int64_t sortOrder) = 0;
};
