#include "platform/signals/RACUnit.h"

const std::shared_ptr<RACUnit>& RACUnit::defaultUnit() {
  // Never destroyed: signals may still send it while static destructors run at exit.
  static const auto* const unit = new std::shared_ptr<RACUnit>(std::make_shared<RACUnit>());
  return *unit;
}
