#pragma once
// BFCancellationTokenSource: whoever may call off an operation keeps the source; the operation
// keeps its token and polls it. Cancelling is one-way and idempotent. Safe on any thread.

#include <memory>

#include "platform/tasks/BFCancellationToken.h"

class BFCancellationTokenSource {
 public:
  BFCancellationTokenSource();
  static std::shared_ptr<BFCancellationTokenSource> cancellationTokenSource();

  const std::shared_ptr<BFCancellationToken>& token() const { return token_; }
  bool isCancellationRequested() const { return token_->isCancellationRequested(); }
  void cancel() { token_->request(); }

 private:
  std::shared_ptr<BFCancellationToken> token_;
};
