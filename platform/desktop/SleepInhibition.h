#pragma once
// tw::sleepInhibitionCalls: which desktop services an activity's options call on.
//   - idle system sleep disabled: the desktop portal's Inhibit with the suspend flag when a
//     portal is present, else login1's Inhibit("idle", ..., "block");
//   - idle display sleep disabled: the portal's idle flag when a portal is present, else the
//     screen saver service's Inhibit.
// Other bits call on nothing. Plain function: any thread.

#include <cstdint>

namespace tw {

// org.freedesktop.portal.Inhibit flags.
inline constexpr std::uint32_t kPortalInhibitSuspend = 4;
inline constexpr std::uint32_t kPortalInhibitIdle = 8;

struct SleepInhibitionCalls {
  std::uint32_t portalFlags = 0;  // 0: no portal call
  bool login1Idle = false;
  bool screenSaver = false;

  bool any() const { return portalFlags != 0 || login1Idle || screenSaver; }
  bool operator==(const SleepInhibitionCalls&) const = default;
};

SleepInhibitionCalls sleepInhibitionCalls(std::uint64_t options, bool portalPresent);

}  // namespace tw
