#include "core/Source/Model/BTManagedObject.h"

#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"
#include "platform/foundation/UUID.h"

void BTManagedObject::setUuid(const std::optional<std::string>& uuid) {
  setValueForKey(tw::modelValue(uuid), BTModelKey::kUuid);
}

void BTManagedObject::setCreationDate(const std::optional<tw::Date>& creationDate) {
  setValueForKey(tw::modelValue(creationDate), BTModelKey::kCreationDate);
}

void BTManagedObject::awakeFromInsert() {
  tw::store::ManagedObject::awakeFromInsert();
  // Nobody can observe an object that is only now being made, so the quiet setters suffice.
  setPrimitiveValueForKey(tw::makeUUIDString(), BTModelKey::kUuid);
  setPrimitiveValueForKey(tw::Date{BTGetSecondsSince1970()}, BTModelKey::kCreationDate);
}
