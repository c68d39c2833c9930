#pragma once
// Shared set-up of the store tests: a context over a fresh store file, and builders for the
// usual object shapes. Test-only.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/store/Context.h"
#include "platform/store/tests/StoreTestModel.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::store::test {

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunLoop::main().drain();
    path_ = dir_.path() / "store.sqlite";
    context_ = Context::open(model_, path_);
  }
  void TearDown() override {
    if (context_) context_->close();
    context_.reset();
    RunLoop::main().drain();
  }

  // Saves, closes and opens the store again; returns the new context.
  std::shared_ptr<Context>& reopen(const std::shared_ptr<const Model>& model = nullptr) {
    if (context_) {
      EXPECT_EQ(context_->save(), nullptr);
      context_->close();
    }
    context_ = Context::open(model ? model : model_, path_);
    return context_;
  }

  std::shared_ptr<TMTimer> makeTimer(const std::string& title = "t") {
    auto timer = context_->insertNew<TMTimer>();
    timer->setValueForKey(title, "title");
    timer->setValueForKey(context_->insertNew<TMTimeSetting>(), "time");
    return timer;
  }

  // An action with a state trigger, owned by `owner`.
  std::shared_ptr<TMAction> addAction(const std::shared_ptr<TMTimeObject>& owner,
                                      std::int64_t sortOrder = 0) {
    auto action = context_->insertNew<TMMessageAction>();
    action->setValueForKey(Value(static_cast<long long>(sortOrder)), "sortOrder");
    action->setValueForKey(true, "enabled");
    action->setValueForKey(context_->insertNew<TMStateTrigger>(), "trigger");
    if (owner) action->setValueForKey(owner, "timeObject");
    return action;
  }

  std::shared_ptr<const Model> model_ = testModel();
  tw::test::TempDir dir_;
  std::filesystem::path path_;
  std::shared_ptr<Context> context_;
};

}  // namespace tw::store::test
