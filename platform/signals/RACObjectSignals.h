#pragma once
// Signals any tw::Object offers: the values of one of its key paths, its going away, and "this
// method ran". The object side is held weakly throughout; a signal whose object has gone completes
// as soon as it is subscribed. Values are sent on the thread that makes the change.

#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"
#include "platform/signals/RACSignal.h"

// The value of `keyPath` from `object` now, then again after every change of any step of the path
// (an intermediate object replaced re-binds the rest of the path; a missing step reads null).
// Completes when `object` or `observer` (when given) is destroyed, and stops observing then.
// The observer is normally the object that keeps the subscription's blocks (the view model itself)
// and may be `object`.
std::shared_ptr<RACSignal> rac_valuesForKeyPath(const std::shared_ptr<tw::Object>& object,
                                                std::string keyPath,
                                                const std::shared_ptr<tw::Object>& observer);

// Completes, without a value, when `object` is destroyed (on the destroying thread).
std::shared_ptr<RACSignal> rac_willDeallocSignal(const std::shared_ptr<tw::Object>& object);

// A signal that sends each time the method named `selector` runs on `object`: the same signal for
// every request on the same object and selector; completes when the object is destroyed. There is
// no method interception here: the method announces itself by calling rac_selectorDidRun at its
// start, e.g.
//   void BindableTableCellView::prepareForReuse() { rac_selectorDidRun(*this, "prepareForReuse");
//   ... }
// Each run sends the method's arguments as an array (empty by default); callers map it to
// RACUnit::defaultUnit() when only the event matters.
std::shared_ptr<RACSignal> rac_signalForSelector(const std::shared_ptr<tw::Object>& object,
                                                 std::string_view selector);
// Announces a run of `selector` on `object`; nothing happens unless somebody asked for its signal.
void rac_selectorDidRun(const tw::Object& object, std::string_view selector,
                        const tw::Value& arguments = tw::Array{});
