#pragma once
// BTAlertPresenterController_macOS: the alert presenter over the platform's alerts. The alert's
// title becomes the message text and its message the informative text; style 0 shows as
// informational, 1 as critical, anything else as a warning; one button per action, in order,
// the first cancel-styled one answering Escape. The chosen button's index picks the action whose
// handler runs. Holds no state. One shared component for the life of the process.
//
// Main thread only.

#include <memory>

#include "core/Source/PlatformServices/BTAlertPresenter.h"
#include "platform/foundation/Object.h"

class BTAlertPresenterController_macOS : public tw::Object, public BTAlertPresenter {
 public:
  BTAlertPresenterController_macOS() = default;

  // A null alert shows nothing.
  void presentAlert(const std::shared_ptr<BTAlert>& alert) override;
  // Without a live window the alert is shown application-modal, still without blocking.
  void presentActionSheet(const std::shared_ptr<BTAlert>& alert,
                          const tw::ui::WindowRef& window) override;
};
