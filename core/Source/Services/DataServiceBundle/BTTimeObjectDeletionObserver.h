#pragma once
// BTTimeObjectDeletionObserver: told by a data service just before it deletes a time object
// from the store, while the object is still whole. The timing controller is the one that cares:
// a running object must have its control reset and taken off the tick scheduler before the
// object goes, or the control would tick, and fire actions, for an object that no longer
// exists. The assembly connects the data services to it.
//
// Called on the main thread (the Core Data queue), inside the service's deletion work.

#include <functional>
#include <memory>

class BTTimeObject;

class BTTimeObjectDeletionObserver {
 public:
  using Block = std::function<void(const std::shared_ptr<BTTimeObject>&)>;

  virtual ~BTTimeObjectDeletionObserver() = default;

  virtual void willDeleteTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) = 0;

  // An observer that runs `block`; handy for connecting a component that cannot adopt this
  // class itself (the block should hold that component weakly).
  static std::shared_ptr<BTTimeObjectDeletionObserver> withBlock(Block block);
};
