#pragma once
// tw::InitializerParameters: the argument list of a definition's initializer, collected by the
// parameters block of TyphoonDefinition::useInitializer. Each injectParameterWith call adds the
// next argument, in the order the initializer takes them.
//
// Used only while a definition is configured, on that thread.

#include <vector>

#include "platform/inject/InjectedValue.h"

namespace tw {

class InitializerParameters {
 public:
  void injectParameterWith(InjectedValue value) { values_.push_back(std::move(value)); }
  const std::vector<InjectedValue>& values() const { return values_; }

 private:
  std::vector<InjectedValue> values_;
};

}  // namespace tw
