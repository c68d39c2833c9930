#pragma once
// Shared set-up of the model tests: a store service over a fresh store in private XDG folders,
// made the default provider so the managed-object factory works, and a way to save, close and
// open the store again. Test-only.

#include <gtest/gtest.h>

#include <memory>

#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Services/BTCoreDataService.h"
#include "platform/foundation/Dispatch.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {

class ModelStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunLoop::main().drain();
    service_ = std::make_shared<BTCoreDataService>();
    service_->setup();
    setDefaultCoreDataProvider(service_);
  }
  void TearDown() override {
    service_->cleanUp();
    setDefaultCoreDataProvider(nullptr);
    RunLoop::main().drain();
  }

  store::Context& context() { return *service_->objectContext(); }

  // Saves, closes and opens the store again: every object is read afresh from the file.
  void reopen() {
    service_->save();
    service_->cleanUp();
    service_->setup();
  }

  ScopedXdg xdg_;
  std::shared_ptr<BTCoreDataService> service_;
};

}  // namespace tw::test
