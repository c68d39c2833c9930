#include "platform/desktop/SleepInhibition.h"

#include "platform/desktop/ProcessActivities.h"

namespace tw {

SleepInhibitionCalls sleepInhibitionCalls(std::uint64_t options, bool portalPresent) {
  const bool system = (options & kActivityIdleSystemSleepDisabled) != 0;
  const bool display = (options & kActivityIdleDisplaySleepDisabled) != 0;
  SleepInhibitionCalls calls;
  if (portalPresent) {
    calls.portalFlags = (system ? kPortalInhibitSuspend : 0u) | (display ? kPortalInhibitIdle : 0u);
  } else {
    calls.login1Idle = system;
    calls.screenSaver = display;
  }
  return calls;
}

}  // namespace tw
