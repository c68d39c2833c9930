#include "kits/crash/beta/MVXBetaUpdate.h"

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/net/TSYURLBuilder.h"
#include "kits/platform/net/URLRequest.h"
#include "platform/foundation/Format.h"

namespace {

constexpr long kCannotParseResponse = -1017;

std::string localized(const char* key, const char* fallback) {
  return tw::kitMainBundle()->localizedString(key, fallback, "Morvex");
}

// The string's URL when it parses as an absolute one; a relative or malformed text is no offer.
std::optional<std::string> URLFromString(const tw::Value& value) {
  const std::string* text = value.string();
  if (text == nullptr || text->empty()) return std::nullopt;
  return TSYURLBuilder::URLWithBase(*text)->URL();
}

}  // namespace

std::shared_ptr<MVXBetaUpdate> MVXBetaUpdate::betaUpdateWithDictionary(const tw::Value& value,
                                                                       tw::ErrorPtr* error) {
  auto update = initWithDictionary(value);
  if (!update && error != nullptr) {
    *error = tw::Error::make(tw::NSURLErrorDomain, kCannotParseResponse);
  }
  return update;
}

std::shared_ptr<MVXBetaUpdate> MVXBetaUpdate::initWithDictionary(const tw::Value& value) {
  if (value.dictionary() == nullptr) return nullptr;
  auto url = URLFromString(value["url"]);
  if (!url) return nullptr;
  auto update = std::make_shared<MVXBetaUpdate>();
  update->url_ = std::move(url);
  // A version that is not text is treated as absent.
  if (const std::string* version = value["version_string"].string()) update->version_ = *version;
  return update;
}

std::string MVXBetaUpdate::promptTitle() const {
  return localized("MorvexDistributionPromptTitle", "New Build Available");
}

std::string MVXBetaUpdate::promptMessage() const {
  return tw::format(
      localized("MorvexDistributionPromptMessage", "A new version of %@ is available for testing."),
      TSYGetApplicationDisplayName());
}

std::string MVXBetaUpdate::cancelLabel() const {
  return localized("MorvexDistributionPromptCancelTitle", "Cancel");
}

std::string MVXBetaUpdate::installLabel() const {
  return localized("MorvexDistributionPromptInstallTitle", "Install");
}
