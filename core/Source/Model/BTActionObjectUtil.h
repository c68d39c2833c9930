#pragma once
// BTActionObjectUtil: the defaults of a new action, applied to anything that adopts
// BTActionObjectProtocol: stored actions and the editor's builders. Each kind's group applies
// only when the object adopts that kind's protocol, so a builder adopting every kind receives
// every group. Titles and descriptions of actions live elsewhere.
// No state; main thread (the objects it touches are main-thread objects).

#include <cstdint>
#include <memory>

class BTActionObjectProtocol;

class BTActionObjectUtil {
 public:
  BTActionObjectUtil() = delete;

  static constexpr std::int64_t kDefaultScreenColorArgbValue = 0xFFFFFFFF;  // opaque white

  static void setDefaultValues(BTActionObjectProtocol& object);
  // Does nothing for nullptr.
  static void setDefaultValues(const std::shared_ptr<BTActionObjectProtocol>& object);
};
