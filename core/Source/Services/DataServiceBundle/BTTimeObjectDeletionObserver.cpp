#include "core/Source/Services/DataServiceBundle/BTTimeObjectDeletionObserver.h"

namespace {

class BlockDeletionObserver final : public BTTimeObjectDeletionObserver {
 public:
  explicit BlockDeletionObserver(Block block) : block_(std::move(block)) {}
  void willDeleteTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) override {
    if (block_) block_(timeObject);
  }

 private:
  Block block_;
};

}  // namespace

std::shared_ptr<BTTimeObjectDeletionObserver> BTTimeObjectDeletionObserver::withBlock(Block block) {
  return std::make_shared<BlockDeletionObserver>(std::move(block));
}
