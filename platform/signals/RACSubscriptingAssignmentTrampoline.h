#pragma once
// RACSubscriptingAssignmentTrampoline: binds a signal to a key path of a target object. Every
// value the signal sends is written with the target's setValueForKeyPath, so the target's own
// key-value observers hear of it as of any other change; a null value writes `nilValue` instead.
// The binding holds the target weakly and ends when the target is destroyed or the signal
// completes, whichever comes first. Values are written on the thread the signal sends on.
//
//   RACSubscriptingAssignmentTrampoline(viewModel, nullptr)["startText"] = startTextSignal();
//   RAC(viewModel, "startText") = startTextSignal();   // the same

#include <memory>
#include <string>

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"
#include "platform/signals/RACSignal.h"

class RACSubscriptingAssignmentTrampoline {
 public:
  // The left-hand side of `trampoline[keyPath] = signal`.
  class Slot {
   public:
    Slot& operator=(const std::shared_ptr<RACSignal>& signal);

   private:
    friend class RACSubscriptingAssignmentTrampoline;
    Slot(std::weak_ptr<tw::Object> target, tw::Value nilValue, std::string keyPath)
        : target_(std::move(target)),
          nilValue_(std::move(nilValue)),
          keyPath_(std::move(keyPath)) {}
    std::weak_ptr<tw::Object> target_;
    tw::Value nilValue_;
    std::string keyPath_;
  };

  RACSubscriptingAssignmentTrampoline(const std::shared_ptr<tw::Object>& target,
                                      tw::Value nilValue);

  // setObject:forKeyedSubscript:
  void set(const std::shared_ptr<RACSignal>& signal, std::string keyPath) const;
  Slot operator[](std::string keyPath) const {
    return Slot(target_, nilValue_, std::move(keyPath));
  }

 private:
  static void bind(const std::weak_ptr<tw::Object>& target, const tw::Value& nilValue,
                   const std::shared_ptr<RACSignal>& signal, std::string keyPath);

  std::weak_ptr<tw::Object> target_;
  tw::Value nilValue_;
};

// Binds in one expression: RAC(target, "keyPath") = signal (nil written as `nilValue`).
inline RACSubscriptingAssignmentTrampoline::Slot RAC(const std::shared_ptr<tw::Object>& target,
                                                     std::string keyPath, tw::Value nilValue = {}) {
  return RACSubscriptingAssignmentTrampoline(target, std::move(nilValue))[std::move(keyPath)];
}
