#pragma once
// BTManagedObject: the abstract base entity of time objects and actions. Gives every new object
// a fresh identity: a random upper-case UUID and its creation moment. The builders that replace
// an edited action carry both over to the new entity, hence the setters.
// Owned by its store context; main thread only.

#include <optional>
#include <string>

#include "core/Source/Model/BTModelKeys.h"
#include "platform/foundation/Value.h"
#include "platform/store/ManagedObject.h"

class BTManagedObject : public tw::store::ManagedObject {
 public:
  std::optional<std::string> uuid() const { return stringForKey(BTModelKey::kUuid); }
  void setUuid(const std::optional<std::string>& uuid);
  std::optional<tw::Date> creationDate() const { return dateForKey(BTModelKey::kCreationDate); }
  void setCreationDate(const std::optional<tw::Date>& creationDate);

 protected:
  void awakeFromInsert() override;
};
