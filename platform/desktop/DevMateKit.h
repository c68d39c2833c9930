#pragma once
// DevMateKit: the feedback and reporting services the application calls at launch and from its
// menus. Feedback opens the project's feedback address (Info.plist key "TickwellFeedbackURL")
// with the desktop's default handler; the issue reporter and the usage-tracking report have no
// service behind them in this build and only log that. Failures are logged, never raised.
// Static functions; main thread.

#include <memory>
#include <string>

namespace tw {
class Bundle;
class Object;
}  // namespace tw

class DevMateKit {
 public:
  static constexpr const char* kFeedbackURLKey = "TickwellFeedbackURL";

  // Opens the feedback address of the main bundle; `mode` chooses nothing here. False when no
  // address is configured or it could not be opened, with the reason in `*reason` if asked.
  static bool showFeedbackDialog(const std::shared_ptr<tw::Object>& delegate, long mode,
                                 std::string* reason = nullptr);
  static void sendTrackingReport(const std::shared_ptr<tw::Object>& reporter,
                                 const std::shared_ptr<tw::Object>& delegate);
  static void setupIssuesController(const std::shared_ptr<tw::Object>& delegate,
                                    bool reportingUnhandledIssues);

  // The address under `key` of `bundle`'s Info.plist, empty when absent.
  static std::string infoAddress(const tw::Bundle& bundle, const char* key);

  DevMateKit() = delete;
};
