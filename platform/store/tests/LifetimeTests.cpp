// Objects that outlive their context: a caller may keep a stored object after the store was
// cleaned up (a window still showing it, a queued block holding it), and the set-up that follows
// may bring a new model. Such an object must stay readable and safe to drop.

#include <gtest/gtest.h>

#include "platform/store/Stack.h"
#include "platform/store/tests/StoreTestSupport.h"

namespace tw::store::test {
namespace {

TEST(StoreLifetime, AnObjectKeptPastCleanUpStillReadsAfterTheModelIsReplaced) {
  tw::test::ScopedXdg xdg;
  std::shared_ptr<TMTimer> kept;
  std::weak_ptr<const Model> firstModel;
  {
    auto model = testModel();
    firstModel = model;
    Stack::setDefaultModel(model);
    auto context = Stack::setupAutoMigratingSqliteStore("lifetime");
    kept = context->insertNew<TMTimer>();
    kept->setValueForKey("Bread", "title");
    ASSERT_EQ(context->save(), nullptr);
  }
  Stack::cleanUp();
  ASSERT_TRUE(kept->isFault());

  // A new set-up with a model of its own lets go of the first one.
  Stack::setDefaultModel(testModel());
  auto context = Stack::setupAutoMigratingSqliteStore("lifetime");
  ASSERT_EQ(context->countOf<TMTimer>(), 1u);

  EXPECT_FALSE(firstModel.expired()) << "the kept object still needs its entity";
  EXPECT_EQ(kept->stringForKey("title"), "Bread");
  EXPECT_EQ(kept->entity().name(), "TMTimer");
  EXPECT_NE(kept->description().find("fault"), std::string::npos);
  kept.reset();
  EXPECT_TRUE(firstModel.expired()) << "and nothing else does";
  Stack::cleanUp();
}

}  // namespace
}  // namespace tw::store::test
