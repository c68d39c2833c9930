#include "core/Source/Model/BTTimeObjectUtil.h"

#include "platform/foundation/Localization.h"

std::optional<std::string> BTTimeObjectUtil::typeName(bool alarm, bool timer, bool stopwatch) {
  if (alarm) return tw::localized("alarm");
  if (timer) return tw::localized("timer");
  if (stopwatch) return tw::localized("stopwatch");
  return std::nullopt;
}
