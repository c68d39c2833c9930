#include "platform/desktop/DevMateKit.h"

#include "platform/desktop/DesktopURL.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"

std::string DevMateKit::infoAddress(const tw::Bundle& bundle, const char* key) {
  const tw::Value& value = bundle.objectForInfoDictionaryKey(key);
  return value.string() ? *value.string() : std::string();
}

bool DevMateKit::showFeedbackDialog(const std::shared_ptr<tw::Object>&, long, std::string* reason) {
  const std::string address = infoAddress(tw::Bundle::main(), kFeedbackURLKey);
  if (address.empty()) {
    tw::log("<DevMateKit> No feedback address configured");
    if (reason) *reason = "this build names no feedback address";
    return false;
  }
  return tw::openURLWithDefaultHandler(address, reason);
}

void DevMateKit::sendTrackingReport(const std::shared_ptr<tw::Object>&,
                                    const std::shared_ptr<tw::Object>&) {
  tw::log(tw::LogLevel::Debug, "<DevMateKit> No usage-tracking service configured");
}

void DevMateKit::setupIssuesController(const std::shared_ptr<tw::Object>&, bool) {
  tw::log(tw::LogLevel::Debug, "<DevMateKit> No issue-reporting service configured");
}
