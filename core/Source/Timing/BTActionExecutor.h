#pragma once
// BTActionExecutor: what carries out an action whose trigger fired. The controls of the time
// objects hand every fired action to one; the executor service implements it, and the editor's
// Test button uses it too.
//
// The process-wide default executor is the one the assembly registers at start-up; a control
// made without an executor of its own uses whatever default is registered when an action
// fires (none registered: the action is logged and skipped).
//
// executeAction may be called from any thread and returns at once; the action itself runs later
// on the main thread. The returned task completes when the action has been queued, never with an
// error, and callers do not wait for it. The default's accessors are thread-safe.

#include <memory>

#include "core/Source/Model/BTActionObjectProtocol.h"
#include "platform/tasks/BFTask.h"

class BTActionExecutor {
 public:
  virtual ~BTActionExecutor() = default;

  virtual BFTaskPtr executeAction(const std::shared_ptr<BTActionObjectProtocol>& action) = 0;

  // nullptr when none is registered.
  static std::shared_ptr<BTActionExecutor> defaultExecutor();
  // nullptr unregisters.
  static void setDefaultExecutor(std::shared_ptr<BTActionExecutor> executor);
};
