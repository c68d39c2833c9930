#include "kits/platform/TSYKitQueues.h"

std::shared_ptr<tw::DispatchQueue> TSYCreateSerialQueue(std::string label, tw::QoS qos) {
  auto queue = tw::DispatchQueue::createSerial(std::move(label), qos);
  queue->setContinuesAfterExceptions(true);
  return queue;
}

std::shared_ptr<tw::OperationQueue> TSYCreateOperationQueue(std::string name, int maxConcurrent) {
  auto queue = tw::OperationQueue::create(std::move(name));
  queue->setMaxConcurrentOperationCount(maxConcurrent);
  queue->setContinuesAfterExceptions(true);
  return queue;
}
