#pragma once
// BTTimeObjectDataService: the base of the per-kind data services. Keeps the ordered in-memory
// list of the stored time objects of one kind and performs every change to it as a task: the
// store work runs on the Core Data queue of its core data provider, then the list is updated and
// the task completes, both on the main thread. A subclass names its kind's entity class (passed
// to the base constructor) and gives new objects their defaults (initializeTimeObject).
//
// Before deleting an object the service tells its deletion observer, if one is set, so that a
// running object's control can be reset and dropped while the object is still whole.
//
// Shared components of the assembly, one per kind, alive for the whole process; create with
// std::make_shared (task continuations hold the service weakly). Main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "core/Source/Library/BTTypeChecks.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/DataServiceBundle/BTTimeObjectDataProvider.h"
#include "core/Source/Services/DataServiceBundle/BTTimeObjectDeletionObserver.h"
#include "platform/foundation/Object.h"
#include "platform/tasks/BFTask.h"

class BTTimeObjectDataService : public tw::Object, public virtual BTTimeObjectDataProvider {
 public:
  // The entity class a service manages, as a value: its C++ type (which the store model maps to
  // an entity) and whether it is a kind of BTTimeObject, which the constructor insists on.
  struct TimeObjectClass {
    const std::type_info* type = nullptr;
    std::string name;
    bool inheritsFromTimeObject = false;

    template <class T>
    static TimeObjectClass of() {
      return {&typeid(T), tw::demangledTypeName(typeid(T)), std::is_base_of_v<BTTimeObject, T>};
    }
  };

  // The base alone names no entity class: after the provider check this fails as an
  // unrecognized selector (timeObjectClass). A null provider fails the parameter assertion
  // (NSInternalInconsistencyException "Invalid parameter not satisfying: coreDataProvider").
  explicit BTTimeObjectDataService(std::shared_ptr<BTCoreDataProvider> coreDataProvider);
  ~BTTimeObjectDataService() override;

  // BTTimeObjectDataProvider
  BFTaskPtr loadTimeObjects() override;
  BFTaskPtr deleteTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) override;
  BFTaskPtr createTimeObject() override;
  BFTaskPtr moveTimeObjectAtIndex(std::int64_t fromIndex, std::int64_t toIndex) override;
  BFTaskPtr saveData() override;
  std::vector<std::shared_ptr<BTTimeObject>> timeObjects() const override { return timeObjects_; }
  bool isDataLoaded() const override { return dataLoaded_; }

  const std::shared_ptr<BTCoreDataProvider>& coreDataProvider() const { return coreDataProvider_; }
  const TimeObjectClass& timeObjectClass() const { return timeObjectClass_; }

  // Told before every deletion; null for none. Held strongly.
  void setDeletionObserver(std::shared_ptr<BTTimeObjectDeletionObserver> observer) {
    deletionObserver_ = std::move(observer);
  }
  const std::shared_ptr<BTTimeObjectDeletionObserver>& deletionObserver() const {
    return deletionObserver_;
  }

 protected:
  // For the kinds: `timeObjectClass` must be BTTimeObject or a subclass, else
  // NSInvalidArgumentException "<BTTimeObjectDataService> validateTimingObjectClass:
  // `timingObjectClass` does not inherit from BTTimingObject".
  BTTimeObjectDataService(std::shared_ptr<BTCoreDataProvider> coreDataProvider,
                          TimeObjectClass timeObjectClass);

  // Gives a freshly inserted object the kind's defaults (title, settings). Runs on the Core Data
  // queue. Each kind supplies it; the base fails as an unrecognized selector.
  virtual void initializeTimeObject(const std::shared_ptr<BTTimeObject>& timeObject);

  // Offers "timeObjects" (an array of the objects) and "isDataLoaded" to key-value coding.
  bool getValueForKey(std::string_view key, tw::Value& out) const override;

 private:
  static void validateTimeObjectClass(const TimeObjectClass& timeObjectClass);
  std::shared_ptr<BTTimeObjectDataService> strongSelf();
  std::weak_ptr<BTTimeObjectDataService> weakSelf();
  bool containsTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) const;
  void setDataLoaded(bool loaded);
  // Runs on the Core Data queue.
  void notifyWillDelete(const std::shared_ptr<BTTimeObject>& timeObject);

  std::shared_ptr<BTCoreDataProvider> coreDataProvider_;
  TimeObjectClass timeObjectClass_;
  std::vector<std::shared_ptr<BTTimeObject>> timeObjects_;
  bool dataLoaded_ = false;
  std::shared_ptr<BTTimeObjectDeletionObserver> deletionObserver_;
};
