#include "core/Source/Model/BTSystemEventAction.h"

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"

void BTSystemEventAction::setSystemEventType(std::int64_t systemEventType) {
  setValueForKey(tw::modelInt(systemEventType), BTModelKey::kSystemEventType);
}
