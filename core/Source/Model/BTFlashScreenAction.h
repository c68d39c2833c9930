#pragma once
// BTFlashScreenAction: the stored action of its kind; what it does and its value codes are told
// in BTFlashScreenActionProtocol.h. Owned by its store context; main thread only.

#include <cstdint>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTFlashScreenActionProtocol.h"
#include "core/Source/Model/BTModelKeys.h"

class BTFlashScreenAction : public BTActionObject, public virtual BTFlashScreenActionProtocol {
 public:
  std::int64_t screenColorArgbValue() const override {
    return int64ForKey(BTModelKey::kScreenColorArgbValue);
  }
  void setScreenColorArgbValue(std::int64_t screenColorArgbValue) override;
};
