#include "core/Source/Settings/BTUserDefaultsSettingsService.h"

#include "core/Source/Settings/BTSettingsNotification.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"

namespace {

// Reads one bundle: absent leaves `bundle` as it is; present but not a dictionary gives null.
template <class T>
void loadBundle(tw::UserDefaults& defaults, std::shared_ptr<T>& bundle) {
  const tw::Value stored = defaults.objectForKey(T::kContainerKey);
  if (stored.isNull()) return;
  if (const tw::Dictionary* dictionary = stored.dictionary()) {
    bundle = BTBaseSettingsContainer::modelWithDictionary<T>(*dictionary);
    // The next save writes only what could be read: the user's file is kept beside it first.
    if (!bundle || bundle->storedKeys().size() < dictionary->size())
      defaults.keepOriginalBeforeNextWrite();
    return;
  }
  defaults.keepOriginalBeforeNextWrite();
  tw::logf(
      "<BTUserDefaultsSettingsService> Ignoring stored settings under \"%@\": not a "
      "dictionary but %@",
      T::kContainerKey, stored.description());
  bundle = nullptr;
}

}  // namespace

BTUserDefaultsSettingsService::BTUserDefaultsSettingsService()
    : BTUserDefaultsSettingsService(tw::UserDefaults::standard()) {}

BTUserDefaultsSettingsService::BTUserDefaultsSettingsService(tw::UserDefaults& defaults)
    : defaults_(defaults) {
  // Delivered on the main queue, as is every destruction of the service: removing the token in
  // the destructor keeps a queued delivery from reaching a destroyed service.
  changeObserver_ = tw::NotificationCenter::defaultCenter()->addObserver(
      BTSettingsChangedNotification, nullptr, tw::DispatchQueue::main(),
      [this](const tw::Notification&) { save(); });
}

BTUserDefaultsSettingsService::~BTUserDefaultsSettingsService() = default;

std::vector<BTBaseSettingsContainer*> BTUserDefaultsSettingsService::bundles() const {
  return {general_.get(), masterDetail_.get(), timeObjects_.get(), actionObjects_.get()};
}

void BTUserDefaultsSettingsService::createMissingBundles() {
  if (!general_) general_ = std::make_shared<BTGeneralBundleSettingsImpl>();
  if (!masterDetail_) masterDetail_ = std::make_shared<BTMasterDetailsBundleSettingsImpl>();
  if (!timeObjects_) timeObjects_ = std::make_shared<BTTimeObjectsBundleSettingsImpl>();
  if (!actionObjects_) actionObjects_ = std::make_shared<BTActionObjectsBundleSettingsImpl>();
}

void BTUserDefaultsSettingsService::load() {
  loadBundle(defaults_, general_);
  loadBundle(defaults_, masterDetail_);
  loadBundle(defaults_, timeObjects_);
  loadBundle(defaults_, actionObjects_);
}

void BTUserDefaultsSettingsService::registerDefaults() {
  createMissingBundles();
  for (auto* bundle : bundles()) bundle->registerDefaults();
}

void BTUserDefaultsSettingsService::restoreDefaults() {
  createMissingBundles();
  for (auto* bundle : bundles()) bundle->restoreDefaults();
}

void BTUserDefaultsSettingsService::save() {
  for (auto* bundle : bundles()) {
    if (!bundle) continue;
    defaults_.setObject(tw::Value(bundle->dictionaryValue()), bundle->containerKey());
  }
  // Straight to disk: the write replaces the file in one step, so a crash right after a change
  // leaves either the old preferences or the new ones, never half of a file.
  defaults_.synchronize();
}
