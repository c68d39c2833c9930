#pragma once
// BTBaseSettingsContainer: the common base of the settings bundles, and the small model layer
// they stand on: a bundle declares its settings by name and type (boolean or signed 64-bit);
// the base keeps their values, exposes them to key-value coding and observation, validates every
// value set by name, builds a bundle from its stored dictionary and gives it back as one
// (dictionaryValue). It remembers which keys the stored dictionary had, so registerDefaults only
// fills in what was never stored.
//
// Stored data is never trusted: an entry of the wrong type or an unknown name is skipped with a
// log line, the bundle keeps the readable entries and the skipped settings fall back to their
// defaults at registerDefaults.
//
// Subclasses supply containerKey() and defaultValues(); the base versions fail as unrecognised
// selectors. Owned through std::shared_ptr (create with std::make_shared: announcing a change
// names the bundle as sender). Main thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Source/Settings/BTSettingsContainer.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

class BTBaseSettingsContainer : public tw::Object, public BTSettingsContainer {
 public:
  enum class SettingType { Bool, Int64 };
  struct Setting {
    std::string name;
    SettingType type;
  };

  // A bundle of type T built from its stored dictionary. Unreadable entries are skipped (and
  // logged); the keys of the readable ones are remembered. Null only when building fails as a
  // whole (logged as "*** Caught exception initialing model with dictionary: ...").
  template <class T>
  static std::shared_ptr<T> modelWithDictionary(const tw::Dictionary& dictionary) {
    try {
      auto model = std::make_shared<T>();
      model->setValuesFromDictionary(dictionary);
      return model;
    } catch (const std::exception&) {
      logBuildFailure(dictionary);
      return nullptr;
    }
  }

  // ----- BTSettingsContainer
  std::string containerKey() const override;
  tw::Dictionary defaultValues() const override;
  void registerDefaults() override;
  void restoreDefaults() override;
  void notifySettingsChanged() override;
  void notifySettingsChangedWithKeys(const std::vector<std::string>& keys) override;
  // The variadic form: names up to the first null, as in
  // notifySettingsChangedWithKeys("preventSystemSleep", "preventDisplaySleep", nullptr);
  // a null first name announces an empty list.
  template <class... More>
  void notifySettingsChangedWithKeys(const char* first, More... more) {
    std::vector<std::string> keys;
    bool ended = false;
    for (const char* name : {first, static_cast<const char*>(more)...}) {
      if (!name) ended = true;
      if (!ended) keys.emplace_back(name);
    }
    notifySettingsChangedWithKeys(keys);
  }
  tw::Dictionary dictionaryValue() const override;

  // ----- the model layer
  const std::vector<Setting>& settings() const { return settings_; }
  bool hasSetting(std::string_view name) const { return findSetting(name) != nullptr; }
  // The keys of the dictionary the bundle was built from (readable ones only); empty for a
  // bundle created empty.
  const std::vector<std::string>& storedKeys() const { return storedKeys_; }
  // Key-value validation: may replace `value` with its normalised form (a number for a boolean
  // setting becomes a boolean). A value of the wrong type is refused with an error in
  // "NSCocoaErrorDomain" (code 1024). An unknown key passes, and then fails at setting.
  virtual bool validateValueForKey(tw::Value& value, std::string_view key,
                                   tw::ErrorPtr* error) const;

 protected:
  explicit BTBaseSettingsContainer(std::vector<Setting> settings);

  bool boolSetting(std::string_view name) const;
  std::int64_t integerSetting(std::string_view name) const;
  // Assign and tell observers of the key.
  void setBoolSetting(std::string_view name, bool value);
  void setIntegerSetting(std::string_view name, std::int64_t value);

  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  // Raises NSInvalidArgumentException for a value of the wrong type (validate first to avoid it).
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;

 private:
  const Setting* findSetting(std::string_view name) const;
  void setValuesFromDictionary(const tw::Dictionary& dictionary);
  void applyDefaults(bool onlyUnstored);
  static void logBuildFailure(const tw::Dictionary& dictionary);

  std::vector<Setting> settings_;
  std::map<std::string, tw::Value, std::less<>> values_;
  std::vector<std::string> storedKeys_;
};

// Validates `value` for `name` (which may replace it), then sets it. False when validation
// refuses it or either step raises; an exception is logged as "*** Caught exception setting key
// \"<name>\" : <exception>" and, when `error` is given, turned into a model error there.
bool BTValidateAndSetValue(BTBaseSettingsContainer& container, std::string_view name,
                           const tw::Value& value, tw::ErrorPtr* error);
