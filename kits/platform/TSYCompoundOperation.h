#pragma once
// TSYCompoundOperation: runs a list of TSYAsyncOperation children as one operation. It finishes
// once every child has finished (nullptr, or one error carrying all the children's errors), or
// at once when cancelled. Its counting and its completion decision run on its own serial counting
// queue. Owned by whoever queues it; cancel from any thread.

#include <cstdint>
#include <memory>
#include <vector>

#include "kits/platform/TSYAsyncOperation.h"
#include "platform/foundation/Dispatch.h"

inline constexpr const char* TSYCompoundOperationErrorDomain =
    "com.pelworth.TSYCompoundOperation.error";
inline constexpr const char* TSYCompoundOperationUnderlyingErrorsKey =
    "com.pelworth.TSYCompoundOperation.error.user-info-key.underlying-errors";
inline constexpr std::int64_t TSYCompoundOperationErrorCodeCancelled = 4294967294;
inline constexpr std::int64_t TSYCompoundOperationErrorCodeFailed = 4294967293;

class TSYCompoundOperation : public TSYAsyncOperation {
 public:
  TSYCompoundOperation();

  void cancel() override;
  std::string className() const override { return "TSYCompoundOperation"; }

  std::vector<std::shared_ptr<TSYAsyncOperation>> operations() const;
  // Set by the creator before the compound starts.
  void setOperations(std::vector<std::shared_ptr<TSYAsyncOperation>> operations);
  const std::shared_ptr<tw::OperationQueue>& compoundQueue() const { return compoundQueue_; }
  std::uint64_t completedOperations() const;
  std::vector<tw::ErrorPtr> errors() const;
  const std::shared_ptr<tw::DispatchQueue>& countingQueue() const { return countingQueue_; }

 protected:
  void main() override;

 private:
  void injectCompoundAsyncCompletionInOperation(const std::shared_ptr<TSYAsyncOperation>& op);
  void injectCompoundSyncCompletionInOperation(const std::shared_ptr<TSYAsyncOperation>& op);
  void updateCompletionCountsWithError(const tw::ErrorPtr& error);
  // On the counting queue only.
  void attemptCompoundCompletion();
  std::shared_ptr<TSYCompoundOperation> self();

  std::vector<std::shared_ptr<TSYAsyncOperation>> operations_;
  std::shared_ptr<tw::OperationQueue> compoundQueue_;
  std::shared_ptr<tw::DispatchQueue> countingQueue_;
  // Touched on the counting queue only.
  std::uint64_t completedOperations_ = 0;
  std::vector<tw::ErrorPtr> errors_;
  bool started_ = false;
  bool finishedOnce_ = false;
};
