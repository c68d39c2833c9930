#pragma once
// RACUnit: the value a signal sends when only the fact of an event matters ("the method ran").
// One shared, immutable instance; compare by identity. Any thread.

#include <memory>

#include "platform/foundation/Object.h"

class RACUnit : public tw::Object {
 public:
  static const std::shared_ptr<RACUnit>& defaultUnit();
  std::string className() const override { return "RACUnit"; }
};
