#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"

#include "platform/store/tests/StoreTestSupport.h"

namespace tw::store::test {
namespace {

using Fetching = StoreTest;

template <class T>
std::vector<std::string> titles(const std::vector<std::shared_ptr<T>>& objects) {
  std::vector<std::string> out;
  out.reserve(objects.size());
  for (auto& o : objects) out.push_back(o->stringForKey("title").value_or("<nil>"));
  return out;
}

TEST(PredicateParsing, ReadsThePlatformFormat) {
  EXPECT_EQ(Predicate::parse("timingState != 0").description(), "timingState != 0");
  EXPECT_EQ(Predicate::format("%K != %@", "timingState", 0).description(), "timingState != 0");
  EXPECT_EQ(Predicate::parse("timeObject == nil").description(), "timeObject == nil");
  EXPECT_EQ(Predicate::parse("a = 1 AND (b <> 'x' OR NOT c >= -2.5) && d =< %d", {7}).description(),
            "a == 1 AND (b != \"x\" OR NOT c >= -2.5) AND d <= 7");
  EXPECT_EQ(Predicate::parse("enabled == YES || x > NULL").description(),
            "enabled == YES OR x > nil");
  EXPECT_EQ(Predicate::parse("TRUEPREDICATE").description(), "TRUEPREDICATE");
  EXPECT_EQ(Predicate().description(), "TRUEPREDICATE");

  for (const char* bad : {"", "a ==", "== 1", "a == 1 AND", "(a == 1", "a == 'open", "a ~ 1",
                          "a == 1 b == 2", "%K == 1"})
    EXPECT_THROW(Predicate::parse(bad), Exception) << bad;
  EXPECT_THROW(Predicate::parse("%K == %@", {"a"}), Exception);  // too few arguments
}

TEST_F(Fetching, DeepNestingIsRefusedAndLongChainsAreEvaluatedWithoutRecursion) {
  auto idle = makeTimer("idle");
  auto repeated = [](std::string_view piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += piece;
    return out;
  };
  // 50,000 levels would overflow the stack; a clear exception comes instead.
  for (const std::string& deep :
       {repeated("(", 50000) + "a == 1" + repeated(")", 50000), repeated("NOT ", 50000) + "a == 1",
        repeated("!(", 50000) + "a == 1" + repeated(")", 50000)}) {
    try {
      Predicate::parse(deep);
      ADD_FAILURE() << "accepted " << deep.substr(0, 20);
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find("nests deeper than 100 levels"), std::string::npos)
          << e.what();
    }
  }
  // Up to the limit is fine.
  const auto nested = Predicate::parse(repeated("(", 99) + "NOT title == 'x'" + repeated(")", 99));
  EXPECT_TRUE(nested.evaluate(*idle));

  std::string chain = "timingState == 0";
  for (int i = 0; i < 50000; ++i) chain += i % 2 ? " AND title != 'x'" : " && timingState < 5";
  const auto all = Predicate::parse(chain);
  EXPECT_TRUE(all.evaluate(*idle));
  EXPECT_FALSE(Predicate::parse(chain + " AND title == 'x'").evaluate(*idle));
  EXPECT_TRUE(
      Predicate::parse(repeated("title == 'x' OR ", 50000) + "title == 'idle'").evaluate(*idle));
  EXPECT_EQ(all.description().substr(0, 57),
            "timingState == 0 AND timingState < 5 AND title != \"x\" AND");
}

TEST_F(Fetching, PredicatesFilterByValueNilAndRelationship) {
  auto idle = makeTimer("idle");
  auto running = makeTimer("running");
  running->setTimingState(20);
  auto paused = context_->insertNew<TMStopwatch>();
  paused->setValueForKey("paused", "title");
  paused->setTimingState(10);
  paused->setValueForKey(0.25, "ratio");
  auto owned = addAction(running);
  auto orphan = addAction(nullptr);

  auto find = [&](const char* format, const std::vector<Value>& args = {}) {
    return titles(
        context_->findAllWithPredicate<TMTimeObject>(Predicate::parse(format, args), "title"));
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(find("timingState != 0"), (V{"paused", "running"}));
  EXPECT_EQ(find("%K != %@", {"timingState", 0}), (V{"paused", "running"}));
  EXPECT_EQ(find("timingState >= 10 AND timingState < 20"), (V{"paused"}));
  EXPECT_EQ(find("NOT (timingState == 0) AND title != 'paused'"), (V{"running"}));
  EXPECT_EQ(find("title == \"idle\" OR ratio > 0.2"), (V{"idle", "paused"}));
  EXPECT_EQ(find("ratio == nil"), (V{"idle", "running"}));
  EXPECT_EQ(find("favourite == NO"), (V{"idle", "paused", "running"}));
  EXPECT_EQ(find("title < 'p'"), (V{"idle"}));
  EXPECT_EQ(find("creationDate <= %@", {Date{clock::wallNow() + 1}}).size(), 3u);
  EXPECT_EQ(find("SELF == %@", {running}), (V{"running"}));

  auto orphans = context_->findAllWithPredicate<TMAction>(Predicate::parse("timeObject == nil"));
  ASSERT_EQ(orphans.size(), 1u);
  EXPECT_EQ(orphans[0], orphan);
  auto ofRunning =
      context_->findAllWithPredicate<TMAction>(Predicate::format("timeObject == %@", running));
  EXPECT_EQ(ofRunning, std::vector<std::shared_ptr<TMAction>>{owned});
  // Key paths of more than one step work too.
  EXPECT_EQ(
      context_->countOf<TMTrigger>(Predicate::parse("actionObject.timeObject.timingState == 20")),
      1u);
  EXPECT_EQ(context_->countOf<TMAction>(Predicate::parse("enabled == 1")), 2u);
  EXPECT_THROW(find("noSuchKey == 1"), Exception);
}

TEST_F(Fetching, SortsByAKeyListInEitherDirection) {
  std::vector<std::shared_ptr<TMTimer>> made;
  for (const char* title : {"c", "a", "b", "d"}) made.push_back(makeTimer(title));
  // sortOrder first, creationDate (then title) breaks ties; unordered objects keep not-found.
  made[0]->setValueForKey(1, "sortOrder");
  made[1]->setValueForKey(1, "sortOrder");
  made[2]->setValueForKey(0, "sortOrder");
  for (std::size_t i = 0; i < made.size(); ++i)
    made[i]->setValueForKey(Date{1000.0 + static_cast<double>(i)}, "creationDate");

  using V = std::vector<std::string>;
  EXPECT_EQ(titles(context_->findAll<TMTimer>("sortOrder,creationDate")), (V{"b", "c", "a", "d"}));
  EXPECT_EQ(titles(context_->findAll<TMTimer>(" sortOrder , title ")), (V{"b", "a", "c", "d"}));
  EXPECT_EQ(titles(context_->findAll<TMTimer>("sortOrder,creationDate", false)),
            (V{"d", "a", "c", "b"}));
  // nil sorts first.
  made[3]->setValueForKey(nullptr, "sortOrder");
  EXPECT_EQ(titles(context_->findAll<TMTimer>("sortOrder,title")), (V{"d", "b", "a", "c"}));

  FetchRequest limited;
  limited.entityName = "TMTimer";
  limited.sortDescriptors = SortDescriptor::fromKeyList("title", false);
  limited.fetchLimit = 2;
  auto firstTwo = context_->fetch(limited);
  ASSERT_EQ(firstTwo.size(), 2u);
  EXPECT_EQ(firstTwo[0]->stringForKey("title"), "d");
  EXPECT_EQ(context_->count(limited), 2u);
}

TEST_F(Fetching, EntityFetchesIncludeSubEntitiesUnlessAskedNotTo) {
  makeTimer("timer");
  context_->insertNew<TMAlarm>()->setValueForKey("alarm", "title");
  context_->insertNew<TMStopwatch>()->setValueForKey("stopwatch", "title");
  addAction(nullptr);
  context_->insertNew<TMLinkAction>();

  EXPECT_EQ(context_->countOf<TMTimeObject>(), 3u);
  EXPECT_EQ(context_->countOf<TMSettableTimeObject>(), 2u);
  EXPECT_EQ(context_->countOf<TMAlarm>(), 1u);
  EXPECT_EQ(context_->countOf<TMAction>(), 2u);
  EXPECT_EQ(context_->countOf<TMManagedObject>(), 5u);
  FetchRequest exact;
  exact.entityName = "TMAction";
  exact.includesSubentities = false;
  EXPECT_EQ(context_->count(exact), 0u);
  exact.entityName = "TMTimeObject";
  EXPECT_EQ(context_->count(exact), 0u);

  // Unsaved inserts are seen, deleted objects are not; the same after a reopen.
  auto alarms = context_->findAll<TMAlarm>();
  context_->deleteObject(alarms[0]);
  EXPECT_EQ(context_->countOf<TMTimeObject>(), 2u);
  reopen();
  EXPECT_EQ(titles(context_->findAll<TMTimeObject>("title")),
            (std::vector<std::string>{"stopwatch", "timer"}));
  EXPECT_EQ(context_->countOf<TMManagedObject>(), 4u);
  EXPECT_THROW(context_->fetch(FetchRequest{"Nope"}), Exception);
}

}  // namespace
}  // namespace tw::store::test
