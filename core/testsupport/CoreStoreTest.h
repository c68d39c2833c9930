#pragma once
// The one store fixture of the core's tests: a store service over a fresh store in private XDG
// folders, made the default provider (so the model's factory works) from SetUp to TearDown, with
// a way to save, close and open the store again. Fixtures that need more derive from it and call
// its SetUp/TearDown from their own. Test-only; main thread.

#include <gtest/gtest.h>

#include <memory>

#include "core/Source/Services/BTCoreDataService.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "platform/foundation/Dispatch.h"
#include "platform/store/Context.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {

class CoreStoreTest : public ::testing::Test {
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
    service_.reset();
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
