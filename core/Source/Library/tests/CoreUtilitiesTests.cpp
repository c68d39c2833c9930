#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Source/Library/BTArrayOperations.h"
#include "core/Source/Library/BTStoryboardLoader.h"
#include "core/Source/Library/BTTypeChecks.h"
#include "core/Source/Library/BTViewTransition.h"
#include "core/Source/Library/BTXibLoader.h"
#include "platform/foundation/Exception.h"
#include "platform/testsupport/TestSupport.h"

namespace {

using tw::test::exceptionOf;

// ----- array operations

TEST(ArrayOperations, NotFoundAndValidIndexes) {
  EXPECT_TRUE(byt_isIndexNotFound(-1));
  EXPECT_TRUE(byt_isIndexNotFound(0x7FFFFFFFFFFFFFFF));
  EXPECT_FALSE(byt_isIndexNotFound(0));
  const std::vector<std::string> v{"a", "b"};
  EXPECT_TRUE(byt_isIndexValid(v, 1));
  EXPECT_FALSE(byt_isIndexValid(v, 2));
  EXPECT_FALSE(byt_isIndexValid(v, -1));
  EXPECT_FALSE(byt_isIndexValid(std::vector<int>{}, 0));
}

TEST(ArrayOperations, LookupsAnswerNullInsteadOfFailing) {
  auto a = std::make_shared<int>(1), b = std::make_shared<int>(2);
  const std::vector<std::shared_ptr<int>> objects{a, b};
  EXPECT_EQ(byt_indexOfObject(objects, b), 1);
  EXPECT_EQ(byt_indexOfObject(objects, std::make_shared<int>(2)), BTNotFound);  // by identity
  EXPECT_EQ(byt_indexOfObject(objects, std::shared_ptr<int>()), BTNotFound);
  EXPECT_EQ(byt_objectAtIndex(objects, 0), a);
  EXPECT_EQ(byt_objectAtIndex(objects, 2), nullptr);
  EXPECT_EQ(byt_objectAtIndex(objects, BTNotFound), nullptr);

  const tw::Array values{tw::Value("x"), tw::Value(3)};
  EXPECT_EQ(byt_indexOfObject(values, tw::Value(3)), 1);
  EXPECT_EQ(byt_indexOfObject(values, tw::Value()), BTNotFound);
  EXPECT_TRUE(byt_objectAtIndex(values, 5).isNull());

  const std::vector<int> ints{4, 5};
  EXPECT_EQ(byt_objectAtIndex(ints, 1), 5);
  EXPECT_EQ(byt_objectAtIndex(ints, -3), std::nullopt);
}

TEST(ArrayOperations, TranslatingMovesOneObjectAndRefusesBadIndexes) {
  std::vector<std::string> v{"a", "b", "c"};
  EXPECT_TRUE(byt_translateObjectFromIndex(v, 0, 2));
  EXPECT_EQ(v, (std::vector<std::string>{"b", "c", "a"}));
  v = {"a", "b", "c"};
  EXPECT_TRUE(byt_translateObjectFromIndex(v, 2, 0));
  EXPECT_EQ(v, (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_FALSE(byt_translateObjectFromIndex(v, 1, 1));
  EXPECT_EQ(v, (std::vector<std::string>{"c", "a", "b"}));

  EXPECT_EQ(
      exceptionOf([&] { byt_translateObjectFromIndex(v, 0, 3); }).rfind("NSRangeException", 0), 0u);
  EXPECT_EQ(
      exceptionOf([&] { byt_translateObjectFromIndex(v, -1, 0); }).rfind("NSRangeException", 0),
      0u);
  EXPECT_EQ(v, (std::vector<std::string>{"c", "a", "b"}));
}

// ----- transitions

TEST(ViewTransition, DefaultsToFourTenthsOfASecond) {
  auto t = BTViewTransition::transitionWithAnimation(1, 0);
  EXPECT_EQ(t->animation(), 1);
  EXPECT_EQ(t->direction(), 0);
  EXPECT_DOUBLE_EQ(t->duration(), 0.4);
  auto slow = BTViewTransition::transitionWithAnimation(3, 2, 1.5);
  EXPECT_DOUBLE_EQ(slow->duration(), 1.5);
  EXPECT_EQ(slow->valueForKey("direction"), tw::Value(2));
}

// ----- type checks

class Animal : public tw::Object {};
class Dog : public Animal {};

TEST(TypeChecks, ClassKindAcceptsSubclassesAndNamesBothClassesOtherwise) {
  auto dog = std::make_shared<Dog>();
  BTEnsureClassKind<Animal>(dog);
  BTEnsureClassKind<Dog>(dog);
  auto animal = std::make_shared<Animal>();
  EXPECT_EQ(exceptionOf([&] { BTEnsureClassKind<Dog>(animal); }),
            "NSInternalInconsistencyException: `object` (<Animal>) is not of class type `Dog`");
  EXPECT_EQ(exceptionOf([&] { BTEnsureClassKind<Dog>(std::shared_ptr<Animal>()); }),
            "NSInternalInconsistencyException: `object` (<(null)>) is not of class type `Dog`");
}

TEST(TypeChecks, ProtocolConformanceOfObjectsAndNull) {
  auto dog = std::make_shared<Dog>();
  BTEnsureProtocolConformance(dog.get(), tw::rootProtocol());
  EXPECT_EQ(exceptionOf([&] { BTEnsureProtocolConformance(nullptr, tw::rootProtocol()); }),
            "NSInternalInconsistencyException: `object` (<(null)>) does not conform to protocol "
            "`NSObject`");
}

// ----- interface loaders

class FakeController : public tw::Object {};
class OtherController : public tw::Object {};
class FakeView : public tw::Object {
 public:
  std::shared_ptr<tw::Object> owner;
  int order = 0;
};

TEST(InterfaceLoaders, AnswerNothingUntilTheApplicationRegistersItsInterfaces) {
  EXPECT_EQ(BTStoryboardLoader::loadController<FakeController>(), nullptr);
  EXPECT_EQ(BTStoryboardLoader::loadInitialControllerFromStoryboard("Main", nullptr), nullptr);
  EXPECT_EQ(BTXibLoader::loadObject<FakeView>(nullptr), nullptr);
}

TEST(InterfaceLoaders, StoryboardsFindControllersByClassNameAndCheckTheirClass) {
  BTStoryboardLoader::Storyboard main;
  main.controllers["FakeController"] = [] { return std::make_shared<FakeController>(); };
  main.controllers["OtherController"] = [] { return std::make_shared<FakeController>(); };
  main.controllers["Broken"] = []() -> std::shared_ptr<tw::Object> {
    tw::raise(tw::NSInternalInconsistencyException, "cannot decode");
  };
  main.initialControllerIdentifier = "Broken";
  BTStoryboardLoader::registerStoryboard("Main", main);
  main.initialControllerIdentifier = "FakeController";
  BTStoryboardLoader::registerStoryboard("FakeController", main);

  EXPECT_NE(BTStoryboardLoader::loadControllerFromStoryboard<FakeController>("Main"), nullptr);
  EXPECT_NE(BTStoryboardLoader::loadController<FakeController>(), nullptr);
  // The identifier is right but the controller it makes is of another class.
  EXPECT_EQ(BTStoryboardLoader::loadControllerFromStoryboard<OtherController>("Main"), nullptr);
  // A storyboard without a controller of that identifier answers nil rather than raising.
  EXPECT_EQ(BTStoryboardLoader::loadControllerFromStoryboard<FakeView>("Main"), nullptr);
  EXPECT_EQ(BTStoryboardLoader::loadInitialControllerFromStoryboard("Main", nullptr), nullptr);
  EXPECT_NE(BTStoryboardLoader::loadInitialController<FakeController>(nullptr), nullptr);

  BTStoryboardLoader::unregisterStoryboard("Main");
  BTStoryboardLoader::unregisterStoryboard("FakeController");
  EXPECT_EQ(BTStoryboardLoader::loadController<FakeController>(), nullptr);
}

TEST(InterfaceLoaders, NibsGiveTheFirstTopLevelObjectOfTheClass) {
  BTXibLoader::registerNib("FakeView", [](const std::shared_ptr<tw::Object>& owner) {
    auto first = std::make_shared<FakeView>();
    first->owner = owner;
    first->order = 1;
    auto second = std::make_shared<FakeView>();
    second->order = 2;
    return BTXibLoader::Objects{std::make_shared<OtherController>(), first, second};
  });
  BTXibLoader::registerNib("Broken",
                           [](const std::shared_ptr<tw::Object>&) -> BTXibLoader::Objects {
                             throw std::runtime_error("corrupt nib");
                           });
  auto owner = std::make_shared<FakeController>();
  auto view = BTXibLoader::loadObject<FakeView>(owner);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->order, 1);
  EXPECT_EQ(view->owner, owner);
  EXPECT_EQ(BTXibLoader::loadObjectFromNib<FakeController>("FakeView", nullptr), nullptr);
  EXPECT_EQ(BTXibLoader::loadObjectFromNib<FakeView>("Broken", owner), nullptr);
  EXPECT_EQ(BTXibLoader::loadObjectFromNib<FakeView>("Missing", owner), nullptr);
  BTXibLoader::unregisterNib("FakeView");
  BTXibLoader::unregisterNib("Broken");
}

}  // namespace
