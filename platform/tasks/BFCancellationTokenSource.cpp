#include "platform/tasks/BFCancellationTokenSource.h"

BFCancellationTokenSource::BFCancellationTokenSource()
    : token_(std::shared_ptr<BFCancellationToken>(new BFCancellationToken())) {}

std::shared_ptr<BFCancellationTokenSource> BFCancellationTokenSource::cancellationTokenSource() {
  return std::make_shared<BFCancellationTokenSource>();
}
