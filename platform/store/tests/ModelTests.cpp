#include <gtest/gtest.h>

#include "platform/foundation/Exception.h"
#include "platform/store/Context.h"
#include "platform/store/ModelBuilder.h"
#include "platform/store/tests/StoreTestModel.h"

namespace tw::store::test {
namespace {

class Plain : public ManagedObject {};
class Unrelated : public ManagedObject {};

std::string buildError(ModelBuilder b) {
  try {
    b.build();
  } catch (const Exception& e) {
    return e.reason();
  }
  return "";
}

TEST(ModelDeclaration, InheritanceGivesEveryEntityItsParentsSlotsFirst) {
  auto model = testModel();
  const EntityDescription& timer = model->entityNamed("TMTimer");
  const EntityDescription& timeObject = model->entityNamed("TMTimeObject");
  EXPECT_EQ(&timer.rootEntity(), &model->entityNamed("TMManagedObject"));
  EXPECT_TRUE(timer.isKindOf(timeObject));
  EXPECT_FALSE(timeObject.isKindOf(timer));
  EXPECT_EQ(timer.propertyIndex("title"), timeObject.propertyIndex("title"));
  EXPECT_EQ(timer.tableName(), "TMManagedObject");
  EXPECT_EQ(model->entityFor<TMAlarm>().name(), "TMAlarm");
  EXPECT_EQ(timer.property("finishDate")->columnName, "TMTimer_finishDate");
  EXPECT_TRUE(model->entityNamed("TMAlarm").property("finishDate")->isTransient);
  std::vector<std::string> family;
  for (auto* e : timeObject.selfAndDescendants()) family.push_back(e->name());
  EXPECT_EQ(family, (std::vector<std::string>{"TMTimeObject", "TMSettableTimeObject", "TMTimer",
                                              "TMAlarm", "TMStopwatch"}));
  EXPECT_EQ(model->entityFor<ManagedObject>().name(), "TMCounter");
}

TEST(ModelDeclaration, ModelsThatCannotWorkAreRefusedWithAReason) {
  auto base = [] {
    ModelBuilder b(1);
    b.entity<Plain>("A").attribute("x", AttributeType::Int64);
    b.entity<Plain>("B");
    return b;
  };
  // A class shared by several entities cannot pick one of them.
  EXPECT_THROW(base().build()->entityFor<Plain>(), Exception);
  EXPECT_NE(buildError(std::move(base().entity<Plain>("C", "Nowhere"))).find("unknown entity"),
            std::string::npos);
  {
    // The unknown name sits one step up a chain, behind an entity declared before it.
    auto b = base();
    b.entity<Plain>("C", "D");
    b.entity<Plain>("D", "Nowhere");
    EXPECT_NE(buildError(std::move(b)).find("unknown entity"), std::string::npos);
  }
  EXPECT_NE(buildError(std::move(base().entity<Plain>("A"))).find("declared twice"),
            std::string::npos);
  {
    auto b = base();
    b.entity<Plain>("C", "A").attribute("x", AttributeType::String);
    EXPECT_NE(buildError(std::move(b)).find("already declared"), std::string::npos);
  }
  {
    auto b = base();
    b.entity<Plain>("C").toMany("items", "A", "");
    EXPECT_NE(buildError(std::move(b)).find("inverse"), std::string::npos);
  }
  {
    auto b = base();
    b.entity<Plain>("C").toMany("as", "A", "c");
    b.entity<Plain>("D").toOne("c", "C", "as");
    EXPECT_NE(buildError(std::move(b)).find("as"), std::string::npos);
  }
  {
    auto b = base();
    b.entity<Plain>("C").attribute("when", AttributeType::Date, "yesterday");
    EXPECT_NE(buildError(std::move(b)).find("default"), std::string::npos);
  }
  {
    ModelBuilder b(1);
    b.entity<Plain>("P");
    b.entity<Unrelated>("Q", "P");
    EXPECT_NE(buildError(std::move(b)).find("does not derive"), std::string::npos);
  }
  EXPECT_NE(buildError(ModelBuilder(0)).find("version"), std::string::npos);
  EXPECT_THROW(ModelBuilder(1).entity<Plain>("A").attribute("_x", AttributeType::Bool), Exception);
}

TEST(ModelDeclaration, AToOneWithoutInverseIsStillCutWhenItsPartnerGoes) {
  ModelBuilder b(1);
  b.entity<Plain>("Owner").toOne("setting", "Setting", {}, DeleteRule::Cascade);
  b.entity<Plain>("Setting").attribute("v", AttributeType::Int64);
  auto model = b.build();
  auto context = Context::open(model, ":memory:");
  auto owner = context->insertNewObject("Owner");
  auto setting = context->insertNewObject("Setting");
  owner->setValueForKey(setting, "setting");
  EXPECT_THROW(setting->valueForKey("_inverse_Owner_setting"), Exception);  // not a key
  context->deleteObject(setting);
  EXPECT_EQ(owner->objectForKey("setting"), nullptr);

  // Cascade still runs from the declaring side.
  auto second = context->insertNewObject("Setting");
  owner->setValueForKey(second, "setting");
  context->deleteObject(owner);
  EXPECT_TRUE(second->isDeleted());
}

}  // namespace
}  // namespace tw::store::test
