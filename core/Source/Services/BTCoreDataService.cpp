#include "core/Source/Services/BTCoreDataService.h"

#include <string_view>

#include "core/Source/Model/BTCoreDataModel.h"
#include "platform/foundation/Log.h"
#include "platform/store/Context.h"
#include "platform/store/ManagedObject.h"
#include "platform/store/Stack.h"

namespace {

// The stored keys of a time object's running state (its state and the moments the controls keep
// with it) and of every ordered list: a crash must never lose a change to them.
constexpr std::string_view kSaveAtOnceKeys[] = {"timingState", "startDate", "pauseDate",
                                                "finishDate", "sortOrder"};

bool hasObjects(const tw::Dictionary& info, const char* key) {
  auto found = info.find(key);
  if (found == info.end()) return false;
  const tw::Array* objects = found->second.array();
  return objects && !objects->empty();
}

// A turn that inserted or deleted objects, or changed a key above, is saved at once.
bool mustSaveAtOnce(const tw::Notification& notification) {
  if (!notification.userInfo) return false;
  const tw::Dictionary& info = *notification.userInfo;
  if (hasObjects(info, tw::store::kInsertedObjectsKey) ||
      hasObjects(info, tw::store::kDeletedObjectsKey))
    return true;
  auto updated = info.find(tw::store::kUpdatedObjectsKey);
  if (updated == info.end() || !updated->second.array()) return false;
  for (const tw::Value& value : *updated->second.array()) {
    auto object = value.objectAs<tw::store::ManagedObject>();
    if (!object || !object->isUpdated()) continue;
    const tw::Dictionary changed = object->changedValues();
    for (std::string_view key : kSaveAtOnceKeys)
      if (changed.find(key) != changed.end()) return true;
  }
  return false;
}

}  // namespace

BTCoreDataService::BTCoreDataService() = default;

BTCoreDataService::~BTCoreDataService() {
  pendingAutoSave_.cancel();
  contextObservation_.remove();
}

void BTCoreDataService::setup() {
  // The store's model is the framework's entities merged with those the application added;
  // nothing is derived from the store file itself.
  tw::store::Stack::setDefaultModel(tw::buildMergedModel());
  auto context = tw::store::Stack::setupAutoMigratingSqliteStore(kStoreName);

  stopObservingContext();
  std::weak_ptr<BTCoreDataService> weakSelf =
      std::static_pointer_cast<BTCoreDataService>(shared_from_this());
  contextObservation_ = tw::NotificationCenter::defaultCenter()->addObserver(
      tw::store::kObjectsDidChangeNotification, context, nullptr,
      [weakSelf](const tw::Notification& notification) {
        if (auto self = weakSelf.lock()) self->managedObjectContextDidChange(notification);
      },
      weakSelf);

  if (isReadOnly()) {
    tw::DispatchQueue::main()->async([weakSelf] {
      if (auto self = weakSelf.lock())
        tw::NotificationCenter::defaultCenter()->post(BTCoreDataServiceStoreIsReadOnlyNotification,
                                                      self);
    });
  }
}

bool BTCoreDataService::isReadOnly() const {
  auto store = storeCoordinator();
  return store && store->isReadOnly();
}

void BTCoreDataService::save() {
  // A failed save keeps its changes pending and logs why; the next save tries again.
  if (auto context = objectContext()) context->save();
}

void BTCoreDataService::requestSave() {
  if (saveRequested_) return;
  saveRequested_ = true;
  std::weak_ptr<BTCoreDataService> weakSelf =
      std::static_pointer_cast<BTCoreDataService>(shared_from_this());
  runOnCoreDataQueueAsync([weakSelf] {
    if (auto self = weakSelf.lock()) self->performRequestedSave();
  });
}

void BTCoreDataService::performRequestedSave() {
  saveRequested_ = false;
  auto context = objectContext();
  // Nothing left to write (an earlier save took it, or it was undone), or a read-only store,
  // whose failure the user has been told of.
  if (!context || !context->hasChanges() || isReadOnly()) return;
  save();
  // Everything the pending auto-save was waiting for is on disk now.
  if (!context->hasChanges()) pendingAutoSave_.cancel();
}

void BTCoreDataService::cleanUp() {
  stopObservingContext();
  pendingAutoSave_.cancel();
  pendingAutoSave_ = {};
  tw::store::Stack::cleanUp();
}

void BTCoreDataService::runOnCoreDataQueueAsync(tw::Block block) {
  tw::DispatchQueue::main()->async(std::move(block));
}

void BTCoreDataService::runOnCoreDataQueueSync(const tw::Block& block) {
  if (tw::isMainThread()) {
    block();
    return;
  }
  tw::DispatchQueue::main()->sync(block);
}

std::shared_ptr<const tw::store::Model> BTCoreDataService::objectModel() const {
  return tw::store::Stack::defaultModel();
}

std::shared_ptr<tw::store::Context> BTCoreDataService::objectContext() const {
  return tw::store::Stack::defaultContext();
}

std::shared_ptr<tw::store::PersistentStore> BTCoreDataService::storeCoordinator() const {
  return tw::store::Stack::defaultStore();
}

bool BTCoreDataService::hasPendingAutoSave() const {
  return pendingAutoSave_ && !pendingAutoSave_.isCancelled();
}

void BTCoreDataService::managedObjectContextDidChange(const tw::Notification& notification) {
  // The notification comes once per turn of the main loop, after the turn's changes; a save
  // requested here runs before the next event, and a burst of the same kind in one turn (a
  // timer started and paused many times over) costs one save.
  if (mustSaveAtOnce(notification)) requestSave();
  // A trailing debounce: a burst of changes is saved once, kAutoSaveDelay after its last change.
  pendingAutoSave_.cancel();
  std::weak_ptr<BTCoreDataService> weakSelf =
      std::static_pointer_cast<BTCoreDataService>(shared_from_this());
  pendingAutoSave_ = tw::DispatchQueue::main()->after(kAutoSaveDelay, [weakSelf] {
    if (auto self = weakSelf.lock()) self->performAutoSave();
  });
}

void BTCoreDataService::performAutoSave() {
  pendingAutoSave_ = {};
  std::weak_ptr<BTCoreDataService> weakSelf =
      std::static_pointer_cast<BTCoreDataService>(shared_from_this());
  runOnCoreDataQueueAsync([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    auto context = self->objectContext();
    // Changes undone within the delay leave nothing to write; a read-only store would only
    // repeat the failure the user has been told of.
    if (!context || !context->hasChanges() || self->isReadOnly()) return;
    tw::log("<BTCoreDataService> Auto Saving Data");
    self->save();
  });
}

void BTCoreDataService::stopObservingContext() {
  contextObservation_.remove();
  contextObservation_ = {};
}
