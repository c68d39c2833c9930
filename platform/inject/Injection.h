#pragma once
// Reaching the default component factory from objects that may exist before (or without) one:
// with no default factory these do nothing and yield null, as a message to a missing factory
// would have. Any thread.

#include <memory>

#include "platform/inject/Injectable.h"
#include "platform/inject/PropertyInjector.h"
#include "platform/inject/TyphoonComponentFactory.h"

namespace tw {

// inject on the default factory.
inline void injectFromDefaultFactory(Injectable& object) {
  if (auto factory = TyphoonComponentFactory::defaultFactory()) factory->inject(object);
}

// componentForType on the default factory; null without one.
template <class T>
std::shared_ptr<T> defaultComponentForType() {
  auto factory = TyphoonComponentFactory::defaultFactory();
  return factory ? factory->componentForType<T>() : nullptr;
}

}  // namespace tw
