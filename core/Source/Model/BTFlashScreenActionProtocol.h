#pragma once
// BTFlashScreenActionProtocol: flashes the screen in one colour.
//   screenColorArgbValue: 0xAARRGGBB in the low 32 bits (opaque white by default).
// Adopted by the stored BTFlashScreenAction and by the action builders; main thread only. See
// BTActionObjectProtocol.h for the naming and the rule on telling kinds apart.

#include <cstdint>

#include "core/Source/Model/BTActionObjectProtocol.h"

class BTFlashScreenActionProtocol : public virtual BTActionObjectProtocol {
 public:
  virtual std::int64_t screenColorArgbValue() const = 0;
  virtual void setScreenColorArgbValue(std::int64_t screenColorArgbValue) = 0;
};
