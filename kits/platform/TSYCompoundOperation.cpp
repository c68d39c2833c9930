#include "kits/platform/TSYCompoundOperation.h"

#include "kits/platform/TSYKitQueues.h"

TSYCompoundOperation::TSYCompoundOperation()
    : compoundQueue_(
          TSYCreateOperationQueue("com.pelworth.TSYCompoundOperation.operation-queue",
                                  tw::OperationQueue::DefaultMaxConcurrentOperationCount)),
      countingQueue_(
          TSYCreateSerialQueue("com.pelworth.TSYCompoundOperation.dispatch-queue.counting-queue")) {
}

std::shared_ptr<TSYCompoundOperation> TSYCompoundOperation::self() {
  return std::static_pointer_cast<TSYCompoundOperation>(shared_from_this());
}

std::vector<std::shared_ptr<TSYAsyncOperation>> TSYCompoundOperation::operations() const {
  return operations_;
}

void TSYCompoundOperation::setOperations(std::vector<std::shared_ptr<TSYAsyncOperation>> ops) {
  operations_ = std::move(ops);
}

std::uint64_t TSYCompoundOperation::completedOperations() const {
  std::uint64_t count = 0;
  countingQueue_->sync([&] { count = completedOperations_; });
  return count;
}

std::vector<tw::ErrorPtr> TSYCompoundOperation::errors() const {
  std::vector<tw::ErrorPtr> copy;
  countingQueue_->sync([&] { copy = errors_; });
  return copy;
}

void TSYCompoundOperation::main() {
  auto me = self();
  if (operations_.empty()) {
    // Nothing would ever trigger a completion attempt: an empty compound is done now.
    countingQueue_->sync([me] { me->attemptCompoundCompletion(); });
    return;
  }
  countingQueue_->sync([me] { me->started_ = true; });
  for (const auto& child : operations_) {
    injectCompoundAsyncCompletionInOperation(child);
    injectCompoundSyncCompletionInOperation(child);
    compoundQueue_->addOperation(child);
  }
}

void TSYCompoundOperation::cancel() {
  // The cancelled state comes first, so every attempt from now on sees it.
  tw::Operation::cancel();
  if (isFinished()) return;
  auto me = self();
  countingQueue_->sync([me] {
    if (me->finishedOnce_) return;
    if (me->started_) {
      me->compoundQueue_->cancelAllOperations();
      me->attemptCompoundCompletion();
    } else {
      // Not started: it finishes as cancelled when its queue starts it; the children never run.
      for (const auto& child : me->operations_) child->cancel();
    }
  });
}

void TSYCompoundOperation::injectCompoundAsyncCompletionInOperation(
    const std::shared_ptr<TSYAsyncOperation>& op) {
  auto own = op->asyncCompletion();
  std::weak_ptr<TSYCompoundOperation> weak = self();
  auto counting = countingQueue_;
  op->setAsyncCompletion([own, weak, counting](const tw::ErrorPtr& error) {
    if (own) counting->sync([&] { own(error); });
    if (auto compound = weak.lock()) compound->updateCompletionCountsWithError(error);
  });
}

void TSYCompoundOperation::injectCompoundSyncCompletionInOperation(
    const std::shared_ptr<TSYAsyncOperation>& op) {
  auto own = op->completionBlock();
  std::weak_ptr<TSYCompoundOperation> weak = self();
  auto counting = countingQueue_;
  op->setCompletionBlock([own, weak, counting] {
    if (own) counting->sync(own);
    if (auto compound = weak.lock()) {
      counting->sync([&] { compound->attemptCompoundCompletion(); });
    }
  });
}

void TSYCompoundOperation::updateCompletionCountsWithError(const tw::ErrorPtr& error) {
  countingQueue_->sync([&] {
    if (error) {
      errors_.push_back(error);
    } else {
      ++completedOperations_;
    }
  });
}

void TSYCompoundOperation::attemptCompoundCompletion() {
  if (finishedOnce_) return;
  if (isCancelled()) {
    finishedOnce_ = true;
    tw::Dictionary info;
    info[tw::kLocalizedDescriptionKey] = name() + " cancelled";
    finishWithError(tw::Error::make(TSYCompoundOperationErrorDomain,
                                    TSYCompoundOperationErrorCodeCancelled, std::move(info)));
    setAsyncCompletion(nullptr);
    return;
  }
  if (completedOperations_ + errors_.size() != operations_.size()) return;
  finishedOnce_ = true;
  if (errors_.empty()) {
    finishWithError(nullptr);
    return;
  }
  tw::Array underlying;
  for (const auto& error : errors_) {
    tw::Dictionary e;
    e["domain"] = error->domain();
    e["code"] = error->code();
    e["userInfo"] = error->userInfo();
    underlying.push_back(std::move(e));
  }
  tw::Dictionary info;
  info[TSYCompoundOperationUnderlyingErrorsKey] = std::move(underlying);
  finishWithError(tw::Error::make(TSYCompoundOperationErrorDomain,
                                  TSYCompoundOperationErrorCodeFailed, std::move(info)));
}
