#include <gtest/gtest.h>

#include <cstdio>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/tests/ObservationFixtures.h"

using namespace tw;
using namespace tw::test;

namespace {

std::string pointerText(const void* p) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%p", p);
  return buffer;
}

template <class T>
class Box : public Object {};

struct Outer {
  class Inner : public Object {};
};

}  // namespace

class BTPlainName : public Object {};

TEST(KeyValueCoding, UnknownKeyRaisesWithThePlatformsReason) {
  auto t = std::make_shared<TimeObject>();
  try {
    t->valueForKey("bogus");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.name().c_str(), NSUnknownKeyException);
    EXPECT_EQ(e.reason(), "[<TimeObject " + pointerText(t.get()) +
                              "> valueForUndefinedKey:]: this class is not key value "
                              "coding-compliant for the key bogus.");
  }
  try {
    t->setValueForKey(Value(1), "bogus");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.name().c_str(), NSUnknownKeyException);
    EXPECT_EQ(e.reason(), "[<TimeObject " + pointerText(t.get()) +
                              "> setValue:forUndefinedKey:]: this class is not key value "
                              "coding-compliant for the key bogus.");
  }
  // Through a path, the object that lacks the key is the one named.
  auto control = std::make_shared<Control>();
  control->setTimingObject(t);
  EXPECT_THROW(control->valueForKeyPath("timingObject.bogus"), Exception);
}

TEST(KeyValueCoding, ClassNameIsTheBareTypeNameAndDescriptionShowsTheAddress) {
  auto t = std::make_shared<TimeObject>();
  EXPECT_EQ(t->className(), "TimeObject");
  EXPECT_EQ(t->description(), "<TimeObject: " + pointerText(t.get()) + ">");
  EXPECT_EQ(std::make_shared<BTPlainName>()->className(), "BTPlainName");
  EXPECT_EQ(std::make_shared<Box<TimeObject>>()->className(), "Box<TimeObject>");
  EXPECT_EQ(std::make_shared<Outer::Inner>()->className(), "Inner");
  // The object's description is what values print for it.
  EXPECT_EQ(Value(t).description(), t->description());
}

TEST(KeyValueCoding, KeyPathsWalkObjectsDictionariesAndMissingSteps) {
  auto t = std::make_shared<TimeObject>();
  t->setTimingStateValue(20);
  auto control = std::make_shared<Control>();
  EXPECT_EQ(control->valueForKeyPath("timingObject.timingState"), Value());
  control->setTimingObject(t);
  EXPECT_EQ(control->valueForKeyPath("timingObject.timingState"), Value(20));
  EXPECT_EQ(control->valueForKeyPath("timingObject.self"), Value(t));

  auto a = std::make_shared<ActionObject>();
  auto b = std::make_shared<ActionObject>();
  a->setTimeObject(t);
  t->addActionObjects({a, b});
  // Through a to-many value each element answers (null where a step is missing).
  EXPECT_EQ(t->valueForKeyPath("actionObjects.timeObject"), Value(Array{t, nullptr}));
}

TEST(KeyValueCoding, SettingThroughAPathReachesTheLastObjectOrNothing) {
  auto control = std::make_shared<Control>();
  control->setValueForKeyPath(Value(20), "timingObject.timingState");  // missing step: no-op
  auto t = std::make_shared<TimeObject>();
  control->setValueForKey(Value(t), "timingObject");
  EXPECT_EQ(control->timingObject(), t);
  Recorder rec;
  auto obs = control->observeScoped("timingObject.timingState", KVONew, rec.callback());
  control->setValueForKeyPath(Value(20), "timingObject.timingState");
  EXPECT_EQ(t->timingState(), 20);
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{20}));
}
