#pragma once
// BTAlertPresenter: puts a BTAlert in front of the user and runs the handler of the button the
// user chose, after the alert has closed. Implemented by BTAlertPresenterController_macOS, the
// assembly's shared component "alertPresenter"; used by the action executor, the delete prompts
// of the lists and the quit confirmation.
//
// Main thread only.

#include <memory>

#include "core/Source/UserMessages/BTAlert.h"
#include "platform/ui/WindowRef.h"

class BTAlertPresenter {
 public:
  virtual ~BTAlertPresenter() = default;

  // Shows the alert modally and returns once it has closed and the chosen action's handler ran.
  virtual void presentAlert(const std::shared_ptr<BTAlert>& alert) = 0;
  // Shows the alert attached to `window` (modal to that window only) and returns at once; the
  // chosen action's handler runs later, once the alert has closed.
  virtual void presentActionSheet(const std::shared_ptr<BTAlert>& alert,
                                  const tw::ui::WindowRef& window) = 0;
};
