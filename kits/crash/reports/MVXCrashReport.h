#pragma once
// MVXCrashReport: what the crash kit's delegate sees of a report of an earlier run: its facts,
// its custom keys, and setters that record further keys into the report's own key-value files
// (ignored by a read-only report). Implemented by MVXReport; held by shared_ptr; any thread.

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class MVXCrashReport {
 public:
  virtual ~MVXCrashReport() = default;
  virtual std::string identifier() = 0;
  virtual tw::Dictionary customKeys() = 0;
  virtual std::optional<std::string> bundleVersion() = 0;
  virtual std::optional<std::string> bundleShortVersionString() = 0;
  virtual std::optional<tw::Date> dateCreated() = 0;
  virtual std::optional<tw::Date> crashedOnDate() = 0;
  virtual std::optional<std::string> OSVersion() = 0;
  virtual std::optional<std::string> OSBuildVersion() = 0;
  virtual bool isCrash() = 0;
  virtual void setObjectValue(const std::optional<std::string>& value, const std::string& key) = 0;
  virtual std::optional<std::string> userIdentifier() { return std::nullopt; }
  virtual std::optional<std::string> userName() { return std::nullopt; }
  virtual std::optional<std::string> userEmail() { return std::nullopt; }
  virtual void setUserIdentifier(const std::optional<std::string>& value) = 0;
  virtual void setUserName(const std::optional<std::string>& value) = 0;
  virtual void setUserEmail(const std::optional<std::string>& value) = 0;
};
