#include "core/Source/Services/DataServiceBundle/BTTimeObjectDataService.h"

#include <algorithm>
#include <exception>

#include "core/Source/Library/BTArrayOperations.h"
#include "core/Source/Model/BTSortableUtil.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/store/Context.h"
#include "platform/store/FetchRequest.h"
#include "platform/tasks/BFExecutor.h"
#include "platform/tasks/BFTaskCompletionSource.h"

namespace {

constexpr const char* kTimeObjectsKey = "timeObjects";
constexpr const char* kDataLoadedKey = "isDataLoaded";

tw::ErrorPtr dataServiceError(std::int64_t code) {
  return tw::Error::make(BFTimeObjectDataServiceErrorDomain, code);
}

}  // namespace

BTTimeObjectDataService::BTTimeObjectDataService(
    std::shared_ptr<BTCoreDataProvider> coreDataProvider)
    : coreDataProvider_(std::move(coreDataProvider)) {
  if (!coreDataProvider_) tw::raiseInvalidParameter("coreDataProvider");
  tw::raiseUnrecognizedSelector("BTTimeObjectDataService", "timeObjectClass");
}

BTTimeObjectDataService::BTTimeObjectDataService(
    std::shared_ptr<BTCoreDataProvider> coreDataProvider, TimeObjectClass timeObjectClass)
    : coreDataProvider_(std::move(coreDataProvider)), timeObjectClass_(std::move(timeObjectClass)) {
  if (!coreDataProvider_) tw::raiseInvalidParameter("coreDataProvider");
  validateTimeObjectClass(timeObjectClass_);
}

BTTimeObjectDataService::~BTTimeObjectDataService() = default;

void BTTimeObjectDataService::validateTimeObjectClass(const TimeObjectClass& timeObjectClass) {
  if (timeObjectClass.type && timeObjectClass.inheritsFromTimeObject) return;
  tw::raise(tw::NSInvalidArgumentException,
            "<BTTimeObjectDataService> validateTimingObjectClass: `timingObjectClass` does not "
            "inherit from BTTimingObject");
}

void BTTimeObjectDataService::initializeTimeObject(const std::shared_ptr<BTTimeObject>&) {
  tw::raiseUnrecognizedSelector(className(), "initializeTimeObject:");
}

std::shared_ptr<BTTimeObjectDataService> BTTimeObjectDataService::strongSelf() {
  return std::static_pointer_cast<BTTimeObjectDataService>(shared_from_this());
}

std::weak_ptr<BTTimeObjectDataService> BTTimeObjectDataService::weakSelf() {
  return std::static_pointer_cast<BTTimeObjectDataService>(weak_from_this().lock());
}

bool BTTimeObjectDataService::containsTimeObject(
    const std::shared_ptr<BTTimeObject>& timeObject) const {
  return !byt_isIndexNotFound(byt_indexOfObject(timeObjects_, timeObject));
}

void BTTimeObjectDataService::setDataLoaded(bool loaded) {
  if (dataLoaded_ == loaded) return;
  setAndNotify(kDataLoadedKey, dataLoaded_, loaded);
}

bool BTTimeObjectDataService::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == kTimeObjectsKey) {
    tw::Array objects;
    objects.reserve(timeObjects_.size());
    for (const auto& object : timeObjects_) objects.emplace_back(object);
    out = std::move(objects);
    return true;
  }
  if (key == kDataLoadedKey) {
    out = dataLoaded_;
    return true;
  }
  return tw::Object::getValueForKey(key, out);
}

// ----- loading

BFTaskPtr BTTimeObjectDataService::loadTimeObjects() {
  auto source = BFTaskCompletionSource::taskCompletionSource();
  coreDataProvider_->runOnCoreDataQueueAsync(
      [provider = coreDataProvider_, cls = timeObjectClass_, source] {
        auto context = provider->objectContext();
        if (!context) {
          // No store: a missing fetch result, which the null-result check turns into a failure.
          source->trySetResult(tw::Value());
          return;
        }
        const auto& entity = context->model().entityForType(*cls.type);
        tw::store::FetchRequest request(entity.name());
        request.sortDescriptors = tw::store::SortDescriptor::fromKeyList(
            tw::format("%@,%@", "sortOrder", "creationDate"), true);
        tw::Array fetched;
        for (auto& object : context->fetch(request)) fetched.emplace_back(std::move(object));
        source->trySetResult(std::move(fetched));
      });

  return source->task()->faultForNullResult()->continueWithExecutorWithSuccessBlock(
      BFExecutor::mainThreadExecutor(), [weak = weakSelf()](const BFTaskPtr& task) -> tw::Value {
        tw::Value result = task->result();
        auto self = weak.lock();
        if (!self) return result;
        {
          tw::ChangeScope change(*self, kTimeObjectsKey);
          self->timeObjects_.clear();
          if (const tw::Array* objects = result.array()) {
            for (const tw::Value& value : *objects) {
              if (auto timeObject = value.objectAs<BTTimeObject>())
                self->timeObjects_.push_back(std::move(timeObject));
            }
          }
        }
        self->setDataLoaded(true);
        return result;
      });
}

// ----- creating

BFTaskPtr BTTimeObjectDataService::createTimeObject() {
  auto source = BFTaskCompletionSource::taskCompletionSource();
  coreDataProvider_->runOnCoreDataQueueAsync([self = strongSelf(), source] {
    auto context = self->coreDataProvider_->objectContext();
    if (!context) {
      source->trySetResult(tw::Value());
      return;
    }
    const auto& entity = context->model().entityForType(*self->timeObjectClass_.type);
    auto timeObject = std::dynamic_pointer_cast<BTTimeObject>(context->insertObject(entity));
    if (timeObject) self->initializeTimeObject(timeObject);
    source->trySetResult(tw::Value(timeObject));
  });

  return source->task()->faultForNullResult()->continueWithExecutorWithSuccessBlock(
      BFExecutor::mainThreadExecutor(), [weak = weakSelf()](const BFTaskPtr& task) -> tw::Value {
        tw::Value result = task->result();
        auto self = weak.lock();
        auto timeObject = result.objectAs<BTTimeObject>();
        if (!self || !timeObject) return result;
        // The new object keeps the entity's not-found sort order, so after a reload it still
        // sorts after every ordered object, in creation order: the end of the list, as here.
        tw::ChangeScope change(*self, kTimeObjectsKey);
        self->timeObjects_.push_back(timeObject);
        return result;
      });
}

// ----- deleting

void BTTimeObjectDataService::notifyWillDelete(const std::shared_ptr<BTTimeObject>& timeObject) {
  if (!deletionObserver_) return;
  try {
    deletionObserver_->willDeleteTimeObject(timeObject);
  } catch (...) {
    // Inside queued work nothing may escape; the object goes all the same, and whoever
    // watches the store's deletions still hears of it.
    tw::logf("<BTTimeObjectDataService> Deletion observer failed for %@: %@",
             timeObject->uuid().value_or("(null)"), tw::describeCurrentException());
  }
}

BFTaskPtr BTTimeObjectDataService::deleteTimeObject(
    const std::shared_ptr<BTTimeObject>& timeObject) {
  if (!containsTimeObject(timeObject))
    return BFTask::taskWithError(dataServiceError(tw::kTimeObjectNotInListError));

  auto source = BFTaskCompletionSource::taskCompletionSource();
  coreDataProvider_->runOnCoreDataQueueAsync([self = strongSelf(), timeObject, source] {
    // A reload or an earlier deletion may have taken it out of the list since the call.
    if (!self->containsTimeObject(timeObject)) {
      source->trySetError(dataServiceError(tw::kTimeObjectNotInListError));
      return;
    }
    self->notifyWillDelete(timeObject);
    if (auto context = self->coreDataProvider_->objectContext()) context->deleteObject(timeObject);
    source->trySetResult(tw::Value());
  });

  return source->task()->continueWithExecutorWithSuccessBlock(
      BFExecutor::mainThreadExecutor(),
      [weak = weakSelf(), timeObject](const BFTaskPtr& task) -> tw::Value {
        auto self = weak.lock();
        if (!self) return task->result();
        auto& list = self->timeObjects_;
        {
          tw::ChangeScope change(*self, kTimeObjectsKey);
          list.erase(std::remove(list.begin(), list.end(), timeObject), list.end());
        }
        return task->result();
      });
}

// ----- moving

BFTaskPtr BTTimeObjectDataService::moveTimeObjectAtIndex(std::int64_t fromIndex,
                                                         std::int64_t toIndex) {
  if (!byt_isIndexValid(timeObjects_, fromIndex) || !byt_isIndexValid(timeObjects_, toIndex))
    return BFTask::taskWithError(dataServiceError(tw::kTimeObjectInvalidIndexError));

  auto source = BFTaskCompletionSource::taskCompletionSource();
  coreDataProvider_->runOnCoreDataQueueAsync([self = strongSelf(), fromIndex, toIndex, source] {
    auto& list = self->timeObjects_;
    // The list may have shrunk (a deletion, a reload) between the call and now.
    if (!byt_isIndexValid(list, fromIndex) || !byt_isIndexValid(list, toIndex)) {
      source->trySetError(dataServiceError(tw::kTimeObjectInvalidIndexError));
      return;
    }
    if (!byt_translateObjectFromIndex(list, fromIndex, toIndex)) {
      source->trySetCancelled();
      return;
    }
    BTSortableUtil::reorderSortableObjects(list, static_cast<long>(fromIndex),
                                           static_cast<long>(toIndex));
    source->trySetResult(tw::Value());
  });

  return source->task()->continueWithExecutorWithSuccessBlock(
      BFExecutor::mainThreadExecutor(), [weak = weakSelf()](const BFTaskPtr& task) -> tw::Value {
        // The list already has its new order; observers hear of it now.
        if (auto self = weak.lock()) tw::ChangeScope change(*self, kTimeObjectsKey);
        return task->result();
      });
}

// ----- saving

BFTaskPtr BTTimeObjectDataService::saveData() {
  auto source = BFTaskCompletionSource::taskCompletionSource();
  coreDataProvider_->runOnCoreDataQueueAsync([provider = coreDataProvider_, source] {
    provider->save();
    source->trySetResult(tw::Value());
  });
  return source->task();
}
