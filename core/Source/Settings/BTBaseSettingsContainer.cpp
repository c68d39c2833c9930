#include "core/Source/Settings/BTBaseSettingsContainer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/Source/Settings/BTSettingsNotification.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

constexpr const char* kModelErrorDomain = "TickwellModelErrorDomain";
constexpr std::int64_t kModelErrorExceptionThrown = 1;
constexpr const char* kValidationErrorDomain = "NSCocoaErrorDomain";
constexpr std::int64_t kValidationErrorCode = 1024;

tw::ErrorPtr modelErrorWithException(const std::exception& e) {
  tw::Dictionary info{{tw::kLocalizedDescriptionKey, tw::Value(e.what())}};
  if (auto* ex = dynamic_cast<const tw::Exception*>(&e)) {
    info[tw::kLocalizedDescriptionKey] = tw::Value(ex->reason());
    info["NSLocalizedFailureReason"] = tw::Value(ex->reason());
    info["TickwellModelThrownExceptionName"] = tw::Value(ex->name());
  }
  return tw::Error::make(kModelErrorDomain, kModelErrorExceptionThrown, std::move(info));
}

// The value as the setting's type, or null when it cannot be one. Numbers and booleans convert
// into each other (a stored 1 reads as on, a switch as 1), since settings files written by hand
// or by older builds mix them; text, dates, data and collections do not.
tw::Value coerce(const tw::Value& value, BTBaseSettingsContainer::SettingType type) {
  using Type = tw::Value::Type;
  if (type == BTBaseSettingsContainer::SettingType::Bool) {
    switch (value.type()) {
      case Type::Bool:
        return value;
      case Type::Int:
      case Type::UInt:
        return tw::Value(value.boolValue());
      case Type::Double:
        if (std::isnan(*value.doubleIfDouble())) return {};
        return tw::Value(*value.doubleIfDouble() != 0);
      default:
        return {};
    }
  }
  switch (value.type()) {
    case Type::Int:
      return value;
    case Type::Bool:
      return tw::Value(std::int64_t{*value.boolIfBool() ? 1 : 0});
    case Type::UInt:
      if (*value.uintIfUInt() >
          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return {};
      return tw::Value(static_cast<std::int64_t>(*value.uintIfUInt()));
    case Type::Double: {
      const double d = std::trunc(*value.doubleIfDouble());
      if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)) return {};
      return tw::Value(static_cast<std::int64_t>(d));
    }
    default:
      return {};
  }
}

tw::Value zeroOf(BTBaseSettingsContainer::SettingType type) {
  return type == BTBaseSettingsContainer::SettingType::Bool ? tw::Value(false)
                                                            : tw::Value(std::int64_t{0});
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

BTBaseSettingsContainer::BTBaseSettingsContainer(std::vector<Setting> settings)
    : settings_(std::move(settings)) {
  for (const Setting& s : settings_) values_.emplace(s.name, zeroOf(s.type));
}

std::string BTBaseSettingsContainer::containerKey() const {
  tw::raiseUnrecognizedSelector(className(), "containerKey");
}

tw::Dictionary BTBaseSettingsContainer::defaultValues() const {
  tw::raiseUnrecognizedSelector(className(), "defaultValues");
}

const BTBaseSettingsContainer::Setting* BTBaseSettingsContainer::findSetting(
    std::string_view name) const {
  auto it = std::find_if(settings_.begin(), settings_.end(),
                         [&](const Setting& s) { return s.name == name; });
  return it == settings_.end() ? nullptr : &*it;
}

void BTBaseSettingsContainer::setValuesFromDictionary(const tw::Dictionary& dictionary) {
  std::vector<std::string> readable, unreadable;
  for (const auto& [key, value] : dictionary) {
    tw::ErrorPtr error;
    if (BTValidateAndSetValue(*this, key, value, &error)) {
      readable.push_back(key);
    } else {
      unreadable.push_back(key);
      if (error && error->domain() == kValidationErrorDomain)
        tw::logf("<%@> Stored setting \"%@\" is unreadable: %@", className(), key,
                 error->localizedDescription());
    }
  }
  if (!unreadable.empty())
    tw::logf(
        "<%@> Rebuilt settings from a stored dictionary with unreadable entries (%@); kept "
        "the readable keys (%@), the others take their defaults",
        className(), joined(unreadable), joined(readable));
  storedKeys_ = std::move(readable);
}

void BTBaseSettingsContainer::logBuildFailure(const tw::Dictionary& dictionary) {
  tw::logf("*** Caught exception initialing model with dictionary: %@", tw::Value(dictionary));
}

bool BTBaseSettingsContainer::validateValueForKey(tw::Value& value, std::string_view key,
                                                  tw::ErrorPtr* error) const {
  const Setting* setting = findSetting(key);
  if (!setting) return true;
  tw::Value coerced = coerce(value, setting->type);
  if (coerced.isNull()) {
    if (error) {
      *error = tw::Error::make(
          kValidationErrorDomain, kValidationErrorCode,
          {{tw::kLocalizedDescriptionKey,
            tw::Value(tw::format("The value %@ is not a valid %@ for \"%@\".", value.description(),
                                 setting->type == SettingType::Bool ? "boolean" : "integer",
                                 std::string(key)))}});
    }
    return false;
  }
  value = std::move(coerced);
  return true;
}

bool BTBaseSettingsContainer::getValueForKey(std::string_view key, tw::Value& out) const {
  auto it = values_.find(key);
  if (it == values_.end()) return tw::Object::getValueForKey(key, out);
  out = it->second;
  return true;
}

bool BTBaseSettingsContainer::setValueForKeyImpl(std::string_view key, const tw::Value& value) {
  const Setting* setting = findSetting(key);
  if (!setting) return tw::Object::setValueForKeyImpl(key, value);
  tw::Value coerced = coerce(value, setting->type);
  if (coerced.isNull())
    tw::raise(tw::NSInvalidArgumentException,
              tw::format("[%@ setValue:forKey:]: value %@ of the wrong type for key %@",
                         description(), value.description(), std::string(key)));
  values_.find(key)->second = std::move(coerced);
  return true;
}

bool BTBaseSettingsContainer::boolSetting(std::string_view name) const {
  auto it = values_.find(name);
  return it != values_.end() && it->second.boolValue();
}

std::int64_t BTBaseSettingsContainer::integerSetting(std::string_view name) const {
  auto it = values_.find(name);
  return it == values_.end() ? 0 : it->second.integerValue();
}

void BTBaseSettingsContainer::setBoolSetting(std::string_view name, bool value) {
  auto it = values_.find(name);
  if (it == values_.end()) return;
  tw::ChangeScope change(*this, name);
  it->second = tw::Value(value);
}

void BTBaseSettingsContainer::setIntegerSetting(std::string_view name, std::int64_t value) {
  auto it = values_.find(name);
  if (it == values_.end()) return;
  tw::ChangeScope change(*this, name);
  it->second = tw::Value(value);
}

void BTBaseSettingsContainer::applyDefaults(bool onlyUnstored) {
  for (const auto& [key, value] : defaultValues()) {
    if (onlyUnstored && std::find(storedKeys_.begin(), storedKeys_.end(), key) != storedKeys_.end())
      continue;
    if (!BTValidateAndSetValue(*this, key, value, nullptr)) break;
  }
}

void BTBaseSettingsContainer::registerDefaults() { applyDefaults(true); }

void BTBaseSettingsContainer::restoreDefaults() { applyDefaults(false); }

void BTBaseSettingsContainer::notifySettingsChanged() {
  tw::NotificationCenter::defaultCenter()->post(BTSettingsChangedNotification,
                                                weak_from_this().lock());
}

void BTBaseSettingsContainer::notifySettingsChangedWithKeys(const std::vector<std::string>& keys) {
  for (const std::string& key : keys) {
    if (!hasSetting(key))
      tw::raise(tw::NSInvalidArgumentException,
                tw::format("[%@] Unrecognized setting key `%@`", description(), key));
  }
  tw::Array names(keys.begin(), keys.end());
  tw::NotificationCenter::defaultCenter()->post(
      BTSettingsChangedNotification, weak_from_this().lock(),
      tw::Dictionary{{BTSettingKeysUserInfoKey, tw::Value(std::move(names))}});
}

tw::Dictionary BTBaseSettingsContainer::dictionaryValue() const {
  tw::Dictionary out;
  for (const auto& [name, value] : values_) out.emplace(name, value);
  return out;
}

bool BTValidateAndSetValue(BTBaseSettingsContainer& container, std::string_view name,
                           const tw::Value& value, tw::ErrorPtr* error) {
  try {
    tw::Value validated = value;
    if (!container.validateValueForKey(validated, name, error)) return false;
    container.setValueForKey(validated, name);
    return true;
  } catch (const std::exception& e) {
    tw::logf("*** Caught exception setting key \"%@\" : %@", std::string(name),
             dynamic_cast<const tw::Exception*>(&e) ? static_cast<const tw::Exception&>(e).reason()
                                                    : std::string(e.what()));
    if (error) *error = modelErrorWithException(e);
    return false;
  }
}
