#include "core/Source/PlatformServices/UI/BTAlertPresenterController_macOS.h"

#include <vector>

#include "platform/ui/Alert.h"

namespace {

using Actions = std::vector<std::shared_ptr<BTAlertAction>>;

tw::ui::Alert platformAlert(const BTAlert& alert, const Actions& actions) {
  tw::ui::Alert shown;
  shown.setMessageText(alert.title().value_or(""));
  shown.setInformativeText(alert.message().value_or(""));
  switch (alert.style()) {
    case BTAlert::kStyleInformational:
      shown.setStyle(tw::ui::AlertStyle::Informational);
      break;
    case BTAlert::kStyleCritical:
      shown.setStyle(tw::ui::AlertStyle::Critical);
      break;
    default:
      shown.setStyle(tw::ui::AlertStyle::Warning);
      break;
  }
  for (const auto& action : actions) {
    const std::size_t index = shown.addButton(action->title().value_or(""));
    // Only one button can own the Escape key; the first cancel button keeps it.
    if (action->style() == BTAlertAction::kStyleCancel && !shown.cancelButton())
      shown.setCancelButton(index);
  }
  return shown;
}

void runChosen(const Actions& actions, tw::ui::Alert::Result chosen) {
  if (!chosen || *chosen >= actions.size()) return;
  // The alert's own copy of the action list keeps the action alive through its handler.
  const std::shared_ptr<BTAlertAction>& action = actions[*chosen];
  if (const auto& handler = action->handlerBlock()) handler();
}

}  // namespace

void BTAlertPresenterController_macOS::presentAlert(const std::shared_ptr<BTAlert>& alert) {
  if (!alert) return;
  const Actions actions = alert->actions();
  const tw::ui::Alert::Result chosen = platformAlert(*alert, actions).runModal();
  runChosen(actions, chosen);
}

void BTAlertPresenterController_macOS::presentActionSheet(const std::shared_ptr<BTAlert>& alert,
                                                          const tw::ui::WindowRef& window) {
  if (!alert) return;
  Actions actions = alert->actions();
  platformAlert(*alert, actions)
      .beginSheetModalForWindow(
          window, [actions](tw::ui::Alert::Result chosen) { runChosen(actions, chosen); });
}
