#pragma once
// MVXBetaUpdate: one offer of a newer test build, parsed from a beta check's reply. Carries the
// build's URL and version and, computed on every read from the main bundle's "Morvex" string
// table, the texts of a tester prompt for whoever presents the offer.
//
// Immutable once made; shared between the beta queue and the main queue; any thread.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class MVXBetaUpdate {
 public:
  // The offer, or nullptr (and, when `error` is given, NSURLErrorDomain -1017) when `value` is no
  // dictionary or its "url" makes no URL.
  static std::shared_ptr<MVXBetaUpdate> betaUpdateWithDictionary(const tw::Value& value,
                                                                 tw::ErrorPtr* error = nullptr);
  // nullptr unless `value` is a dictionary whose "url" makes a URL.
  static std::shared_ptr<MVXBetaUpdate> initWithDictionary(const tw::Value& value);

  std::string promptTitle() const;
  // The localised message with the application's display name in place of its %@.
  std::string promptMessage() const;
  std::string cancelLabel() const;
  std::string installLabel() const;
  const std::optional<std::string>& url() const { return url_; }
  const std::optional<std::string>& version() const { return version_; }

 private:
  std::optional<std::string> url_;
  std::optional<std::string> version_;
};
