#pragma once
// The kits' queues. A fault in a kit (a throwing parse, a file it could not read) must never end
// the application that carries it: every queue a kit runs its own work on is made here, and goes
// on after an exception escapes one of its blocks or operations, logging it with the queue's name.
// An exception escaping the application's own code still terminates (and the crash kit records
// it). Any thread.

#include <memory>
#include <string>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"

std::shared_ptr<tw::DispatchQueue> TSYCreateSerialQueue(std::string label,
                                                        tw::QoS qos = tw::QoS::Default);
// A serial operation queue unless `maxConcurrent` says otherwise.
std::shared_ptr<tw::OperationQueue> TSYCreateOperationQueue(std::string name,
                                                            int maxConcurrent = 1);
