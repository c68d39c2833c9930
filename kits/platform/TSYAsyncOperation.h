#pragma once
// TSYAsyncOperation: the base of the kit platform's operations whose work ends after main()
// returns (a request, a file move). It ends through finishWithError(), which calls the
// asynchronous completion with the error (nullptr for success) and then marks the operation
// finished, "isExecuting" turning false before "isFinished" turns true for state observers.
// Owned by whoever queues it; any thread may finish or cancel it.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/OperationQueue.h"

class TSYAsyncOperation : public tw::Operation {
 public:
  using AsyncCompletion = std::function<void(const tw::ErrorPtr&)>;
  // Told around each state change: (key, true) before, (key, false) after.
  using StateObserver = std::function<void(const std::string& key, bool willChange)>;

  TSYAsyncOperation();

  bool isConcurrent() const { return true; }
  bool isAsynchronous() const override { return true; }
  // Calls asyncCompletion (when set) with the error, then marks the operation done. Exactly
  // once counts: later calls do nothing.
  void finishWithError(const tw::ErrorPtr& error);
  bool checkForCancellation();

  AsyncCompletion asyncCompletion() const;
  void setAsyncCompletion(AsyncCompletion completion);
  void setStateObserver(StateObserver observer);
  // "com.pelworth.<class>-lock"
  std::string lockName() const { return "com.pelworth." + className() + "-lock"; }
  virtual std::string className() const { return "TSYAsyncOperation"; }

 protected:
  void changeValueForKey(const std::string& key, const std::function<void()>& block);
  void lock(const std::function<void()>& block);
  void markDone();

 private:
  // Guards the completion, the observer and done_.
  mutable std::recursive_mutex lock_;
  AsyncCompletion asyncCompletion_;
  StateObserver stateObserver_;
  bool done_ = false;
};
