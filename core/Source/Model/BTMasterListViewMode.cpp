#include "core/Source/Model/BTMasterListViewMode.h"

#include <string>

long BTMasterListViewGetValueFromNotification(const tw::Notification& notification) {
  if (!notification.userInfo) return 0;
  auto it = notification.userInfo->find(BTMasterListViewModeValueUserInfoKey);
  if (it == notification.userInfo->end()) return 0;
  return static_cast<long>(it->second.integerValue());
}

std::optional<std::vector<BTColor>> BTMasterListViewModeGetGradientColors(long mode, double alpha) {
  const char* family = nullptr;
  switch (mode) {
    case 0:
      family = "GradientPurple";
      break;
    case 1:
      family = "GradientBlue";
      break;
    case 2:
      family = "GradientGreen";
      break;
    default:
      return std::nullopt;
  }
  std::vector<BTColor> colors;
  for (const char* part : {"Start", "Middle", "End"}) {
    auto color = BTColorNamedWithAlpha(std::string(family) + part, alpha);
    if (!color) return std::nullopt;
    colors.push_back(*color);
  }
  return colors;
}
