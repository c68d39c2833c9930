#pragma once
// The process's default core data provider: the store service the component assembly hands out,
// set here by whoever owns it (the assembly at launch, tests, benchmarks). Setting it also points
// the model's managed-object factory at the provider's main context, so the model itself never
// depends on the store service. Any thread.

#include <memory>

#include "core/Source/Services/BTCoreDataProvider.h"

namespace tw {

// Raises NSInternalInconsistencyException when none is set.
std::shared_ptr<BTCoreDataProvider> defaultCoreDataProvider();
// nullptr clears it (and the factory's way into the store).
void setDefaultCoreDataProvider(std::shared_ptr<BTCoreDataProvider> provider);

}  // namespace tw
