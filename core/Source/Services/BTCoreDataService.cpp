#include "core/Source/Services/BTCoreDataService.h"

#include "core/Source/Model/BTCoreDataModel.h"
#include "platform/foundation/Log.h"
#include "platform/store/Stack.h"

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

void BTCoreDataService::managedObjectContextDidChange(const tw::Notification&) {
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
