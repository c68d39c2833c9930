// The time-object data services: loading in stored order, new objects with their kind's
// defaults, deleting and moving with their failures, saving, and the all-objects service over
// the three kinds. Everything runs against a real store in private folders, the main queue
// pumped by the test.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTWeekdaySetting.h"
#include "core/Source/Services/BTCoreDataService.h"
#include "core/Source/Services/DataServiceBundle/BTAlarmsDataService.h"
#include "core/Source/Services/DataServiceBundle/BTAllTimeObjectsDataService.h"
#include "core/Source/Services/DataServiceBundle/BTStopwatchesDataService.h"
#include "core/Source/Services/DataServiceBundle/BTTimersDataService.h"
#include "core/testsupport/CoreStoreTest.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/store/Context.h"
#include "platform/tasks/BFTask.h"
#include "platform/testsupport/TestSupport.h"

namespace {

using TimeObjects = std::vector<std::shared_ptr<BTTimeObject>>;

// Hands everything to the real store service, counting the work queued on the Core Data queue,
// so a test can tell that nothing was fetched.
class CountingProvider : public BTCoreDataProvider {
 public:
  explicit CountingProvider(std::shared_ptr<BTCoreDataService> inner) : inner_(std::move(inner)) {}
  void setup() override { inner_->setup(); }
  void save() override {
    ++saves;
    inner_->save();
  }
  void cleanUp() override { inner_->cleanUp(); }
  void requestSave() override { inner_->requestSave(); }
  void runOnCoreDataQueueAsync(tw::Block block) override {
    ++asyncBlocks;
    inner_->runOnCoreDataQueueAsync([block = std::move(block)] {
      EXPECT_TRUE(tw::isMainThread()) << "the Core Data queue is the main queue";
      block();
    });
  }
  void runOnCoreDataQueueSync(const tw::Block& block) override {
    inner_->runOnCoreDataQueueSync(block);
  }
  std::shared_ptr<const tw::store::Model> objectModel() const override {
    return inner_->objectModel();
  }
  std::shared_ptr<tw::store::Context> objectContext() const override {
    return inner_->objectContext();
  }
  std::shared_ptr<tw::store::PersistentStore> storeCoordinator() const override {
    return inner_->storeCoordinator();
  }
  std::shared_ptr<tw::DispatchQueue> coreDataQueue() const override {
    return inner_->coreDataQueue();
  }
  void setCoreDataQueue(std::shared_ptr<tw::DispatchQueue> queue) override {
    inner_->setCoreDataQueue(std::move(queue));
  }

  int asyncBlocks = 0;
  int saves = 0;

 private:
  std::shared_ptr<BTCoreDataService> inner_;
};

// A kind that names a class which is no time object.
class SettingsDataService : public BTTimeObjectDataService {
 public:
  explicit SettingsDataService(std::shared_ptr<BTCoreDataProvider> provider)
      : BTTimeObjectDataService(std::move(provider), TimeObjectClass::of<BTTimeSetting>()) {}
};

// A kind that forgot to supply the defaults of new objects.
class ForgetfulDataService : public BTTimeObjectDataService {
 public:
  explicit ForgetfulDataService(std::shared_ptr<BTCoreDataProvider> provider)
      : BTTimeObjectDataService(std::move(provider), TimeObjectClass::of<BTTimer>()) {}
  using BTTimeObjectDataService::initializeTimeObject;
};

class DataServiceTest : public tw::test::CoreStoreTest {
 protected:
  void SetUp() override {
    CoreStoreTest::SetUp();
    provider_ = std::make_shared<CountingProvider>(service_);
    makeServices();
  }

  void makeServices() {
    alarms_ = std::make_shared<BTAlarmsDataService>(provider_);
    timers_ = std::make_shared<BTTimersDataService>(provider_);
    stopwatches_ = std::make_shared<BTStopwatchesDataService>(provider_);
    all_ = std::make_shared<BTAllTimeObjectsDataService>();
    all_->setAlarmsDataProvider(alarms_);
    all_->setTimersDataProvider(timers_);
    all_->setStopwatchesDataProvider(stopwatches_);
  }

  // Saves, closes and opens the store again, with fresh services over it.
  void reopen() {
    CoreStoreTest::reopen();
    makeServices();
  }

  // Pumps the main queue until the task has finished.
  static const BFTaskPtr& await(const BFTaskPtr& task) {
    EXPECT_TRUE(tw::test::pumpMainUntil([&] { return task->isCompleted(); }));
    return task;
  }

  // Stored timers with the given sort orders, created a second apart.
  TimeObjects storeTimers(const std::vector<std::int64_t>& sortOrders) {
    TimeObjects made;
    for (std::int64_t order : sortOrders) {
      auto timer = managedObject<BTTimer>();
      timer->setTitle("T" + std::to_string(made.size()));
      timer->setSortOrder(order);
      made.push_back(timer);
      clock_.advance(1.0);
    }
    return made;
  }

  TimeObjects loadedTimers(const std::vector<std::int64_t>& sortOrders) {
    storeTimers(sortOrders);
    await(timers_->loadTimeObjects());
    return timers_->timeObjects();
  }

  static std::vector<std::string> titlesOf(const TimeObjects& objects) {
    std::vector<std::string> titles;
    for (const auto& o : objects) titles.push_back(o->title());
    return titles;
  }

  static void expectDataServiceError(const BFTaskPtr& task, std::int64_t code) {
    ASSERT_TRUE(task->isFaulted());
    ASSERT_NE(task->error(), nullptr);
    EXPECT_EQ(task->error()->domain(), "BFTimeObjectDataServiceErrorDomain");
    EXPECT_EQ(task->error()->code(), code);
    EXPECT_TRUE(task->error()->userInfo().empty());
  }

  tw::VirtualClock clock_;
  std::shared_ptr<CountingProvider> provider_;
  std::shared_ptr<BTAlarmsDataService> alarms_;
  std::shared_ptr<BTTimersDataService> timers_;
  std::shared_ptr<BTStopwatchesDataService> stopwatches_;
  std::shared_ptr<BTAllTimeObjectsDataService> all_;
};

// ----- construction

TEST_F(DataServiceTest, ConstructionInsistsOnAProviderAndATimeObjectClass) {
  try {
    BTTimersDataService service(nullptr);
    FAIL() << "a null provider is refused";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name(), tw::NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "Invalid parameter not satisfying: coreDataProvider");
  }
  try {
    std::make_shared<SettingsDataService>(provider_);
    FAIL() << "a class that is no time object is refused";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name(), tw::NSInvalidArgumentException);
    EXPECT_EQ(e.reason(),
              "<BTTimeObjectDataService> validateTimingObjectClass: `timingObjectClass` does not "
              "inherit from BTTimingObject");
  }
  try {
    std::make_shared<BTTimeObjectDataService>(provider_);
    FAIL() << "the base names no class";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name(), tw::NSInvalidArgumentException);
    EXPECT_NE(e.reason().find("timeObjectClass]: unrecognized selector"), std::string::npos)
        << e.reason();
  }
  auto forgetful = std::make_shared<ForgetfulDataService>(provider_);
  EXPECT_THROW(forgetful->initializeTimeObject(managedObject<BTTimer>()), tw::Exception);
}

// ----- loading

TEST_F(DataServiceTest, LoadingFetchesOneKindBySortOrderThenCreationDateOnALaterTurn) {
  storeTimers({2, BTTimeObject::kSortOrderNotFound, 0, BTTimeObject::kSortOrderNotFound, 1});
  managedObject<BTStopwatch>();
  int heard = 0;
  tw::Value heardList;
  auto observation =
      timers_->observeScoped("timeObjects", tw::KVONew, [&](const tw::KeyValueChange& c) {
        ++heard;
        heardList = c.newValue;
      });
  bool continuationOnMain = false;

  auto task = timers_->loadTimeObjects();
  auto after =
      task->continueWithBlock([&](const BFTaskPtr&) { continuationOnMain = tw::isMainThread(); });
  EXPECT_FALSE(task->isCompleted()) << "the store work waits for the Core Data queue";
  EXPECT_FALSE(timers_->isDataLoaded());
  await(after);

  ASSERT_TRUE(task->isResultNonNull());
  EXPECT_TRUE(continuationOnMain);
  EXPECT_TRUE(timers_->isDataLoaded());
  const auto list = timers_->timeObjects();
  EXPECT_EQ(titlesOf(list), (std::vector<std::string>{"T2", "T4", "T0", "T1", "T3"}))
      << "ordered ones first; the never-ordered ones by creation";
  ASSERT_NE(task->result().array(), nullptr);
  ASSERT_EQ(task->result().array()->size(), list.size());
  for (std::size_t i = 0; i < list.size(); ++i)
    EXPECT_EQ(task->result().at(i).object(), list[i]) << "the result is the list as fetched";
  EXPECT_EQ(heard, 1) << "one bracketed change";
  EXPECT_EQ(heardList.count(), 5u);
  EXPECT_EQ(timers_->valueForKey("isDataLoaded"), tw::Value(true));
}

TEST_F(DataServiceTest, LoadingAgainReplacesTheListAndStaysLoaded) {
  auto first = loadedTimers({0, 1});
  ASSERT_EQ(first.size(), 2u);
  storeTimers({2});
  await(timers_->loadTimeObjects());
  EXPECT_EQ(titlesOf(timers_->timeObjects()), (std::vector<std::string>{"T0", "T1", "T0"}));
  EXPECT_EQ(timers_->timeObjects()[0], first[0]) << "the same live objects, not duplicates";
  EXPECT_TRUE(timers_->isDataLoaded());
}

TEST_F(DataServiceTest, LoadingWithoutAStoreFailsAndLeavesTheServiceUnloaded) {
  service_->cleanUp();
  auto task = await(timers_->loadTimeObjects());
  ASSERT_TRUE(task->isFaulted());
  EXPECT_EQ(task->error()->domain(), BFTaskErrorDomain);
  EXPECT_EQ(task->error()->code(), BFTaskNullResultError);
  EXPECT_FALSE(timers_->isDataLoaded());
  service_->setup();
}

// ----- creating

TEST_F(DataServiceTest, ANewTimerIsAppendedWithItsTitleAndAZeroDuration) {
  loadedTimers({0, 1});
  int heard = 0;
  auto observation = timers_->observeScoped("timeObjects", tw::KVONew,
                                            [&](const tw::KeyValueChange&) { ++heard; });

  auto task = await(timers_->createTimeObject());
  auto timer = task->result().objectAs<BTTimer>();
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->title(), "New Timer");
  ASSERT_NE(timer->time(), nullptr);
  EXPECT_EQ(timer->time()->value(), 0.0);
  EXPECT_EQ(timer->time()->managedObjectContext(), timer->managedObjectContext());
  EXPECT_EQ(timer->sortOrder(), BTTimeObject::kSortOrderNotFound);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateReset);
  ASSERT_EQ(timers_->timeObjects().size(), 3u);
  EXPECT_EQ(timers_->timeObjects().back(), timer);
  EXPECT_EQ(heard, 1);

  // Stored and read back, it still sorts after the ordered ones.
  reopen();
  await(timers_->loadTimeObjects());
  EXPECT_EQ(titlesOf(timers_->timeObjects()), (std::vector<std::string>{"T0", "T1", "New Timer"}));
}

TEST_F(DataServiceTest, ANewAlarmRingsAtTheCurrentHourAndMinuteOnEveryWeekday) {
  BTDateUtility::resetTimeZoneForTesting("Europe/Berlin");
  tw::DateComponents at;
  at.year = 2024;
  at.month = 3;
  at.day = 6;
  at.hour = 14;
  at.minute = 37;
  at.second = 42;
  clock_.setWall(BTDateUtility::dateFromComponents(at).secondsSince1970);

  auto alarm = await(alarms_->createTimeObject())->result().objectAs<BTAlarm>();
  BTDateUtility::resetTimeZoneForTesting(nullptr);
  ASSERT_NE(alarm, nullptr);
  EXPECT_EQ(alarm->title(), "New Alarm");
  ASSERT_NE(alarm->time(), nullptr);
  EXPECT_EQ(alarm->time()->hour(), 14);
  EXPECT_EQ(alarm->time()->minute(), 37);
  EXPECT_EQ(alarm->time()->second(), 0);
  EXPECT_EQ(alarm->time()->day(), 0);
  ASSERT_NE(alarm->weekdays(), nullptr);
  EXPECT_EQ(alarm->weekdays()->weekdayMask(), 0x7F) << "all seven days";
  EXPECT_EQ(alarms_->timeObjects(), TimeObjects{alarm});
}

TEST_F(DataServiceTest, ANewStopwatchIsOnlyNamed) {
  auto task = await(stopwatches_->createTimeObject());
  auto stopwatch = task->result().objectAs<BTStopwatch>();
  ASSERT_NE(stopwatch, nullptr);
  EXPECT_EQ(stopwatch->title(), "New Stopwatch");
  EXPECT_FALSE(stopwatch->startDate().has_value());
  EXPECT_EQ(stopwatches_->timeObjects().size(), 1u);
  EXPECT_TRUE(timers_->timeObjects().empty()) << "other kinds' lists are untouched";
}

// ----- deleting

TEST_F(DataServiceTest, DeletingAnObjectOutsideTheListFailsAtOnceAndTouchesNothing) {
  auto listed = loadedTimers({0});
  auto stranger = managedObject<BTTimer>();
  service_->save();
  const int queued = provider_->asyncBlocks;
  int told = 0;
  timers_->setDeletionObserver(
      BTTimeObjectDeletionObserver::withBlock([&](const auto&) { ++told; }));

  for (const auto& object :
       {std::shared_ptr<BTTimeObject>(stranger), std::shared_ptr<BTTimeObject>()}) {
    auto task = timers_->deleteTimeObject(object);
    ASSERT_TRUE(task->isCompleted()) << "returned already finished";
    expectDataServiceError(task, tw::kTimeObjectNotInListError);
  }
  tw::RunLoop::main().drain();
  EXPECT_EQ(provider_->asyncBlocks, queued) << "no store work";
  EXPECT_FALSE(stranger->isDeleted());
  EXPECT_FALSE(context().hasChanges());
  EXPECT_EQ(timers_->timeObjects(), listed);
  EXPECT_EQ(told, 0);
}

TEST_F(DataServiceTest, DeletingTellsTheObserverFirstThenDeletesAndDropsTheObject) {
  auto list = loadedTimers({0, 1, 2});
  auto victim = list[1];
  victim->setTimingState(tw::kTimingStateRunning);
  service_->save();
  std::vector<std::string> events;
  timers_->setDeletionObserver(
      BTTimeObjectDeletionObserver::withBlock([&](const std::shared_ptr<BTTimeObject>& object) {
        EXPECT_EQ(object, victim);
        EXPECT_FALSE(object->isDeleted()) << "still whole when the observer hears";
        EXPECT_EQ(object->timingState(), tw::kTimingStateRunning);
        EXPECT_EQ(timers_->timeObjects().size(), 3u) << "still listed";
        events.push_back("observer");
      }));
  auto observation =
      timers_->observeScoped("timeObjects", tw::KVONew, [&](const tw::KeyValueChange&) {
        events.push_back("list changed, deleted=" + std::to_string(victim->isDeleted()));
      });

  auto task = timers_->deleteTimeObject(victim);
  EXPECT_TRUE(events.empty()) << "nothing happens before the Core Data queue runs";
  await(task);

  EXPECT_TRUE(task->isResultOk());
  EXPECT_TRUE(task->result().isNull());
  EXPECT_EQ(events, (std::vector<std::string>{"observer", "list changed, deleted=1"}));
  EXPECT_EQ(timers_->timeObjects(), (TimeObjects{list[0], list[2]}));
  EXPECT_EQ(context().findAll<BTTimer>().size(), 2u);
  reopen();
  EXPECT_EQ(context().findAll<BTTimer>().size(), 2u) << "gone from the store too";
}

TEST_F(DataServiceTest, ASecondDeletionOfTheSameObjectQueuedBeforeTheFirstRanFails) {
  auto list = loadedTimers({0, 1});
  int told = 0;
  timers_->setDeletionObserver(
      BTTimeObjectDeletionObserver::withBlock([&](const auto&) { ++told; }));

  auto first = timers_->deleteTimeObject(list[0]);
  auto second = timers_->deleteTimeObject(list[0]);
  EXPECT_FALSE(second->isCompleted()) << "it was listed when asked";
  await(second);

  EXPECT_TRUE(first->isResultOk());
  expectDataServiceError(second, tw::kTimeObjectNotInListError);
  EXPECT_EQ(told, 1);
  EXPECT_EQ(timers_->timeObjects(), TimeObjects{list[1]});
}

// ----- moving

TEST_F(DataServiceTest, MovingRenumbersEveryObjectAndAnnouncesTheNewOrderLeavingTheSaveToTheStore) {
  auto list = loadedTimers({5, 7, 9});
  service_->save();
  std::vector<std::string> heardOrder;
  auto observation = timers_->observeScoped(
      "timeObjects", tw::KVONew,
      [&](const tw::KeyValueChange&) { heardOrder = titlesOf(timers_->timeObjects()); });
  const int savesBefore = provider_->saves;

  auto task = await(timers_->moveTimeObjectAtIndex(0, 2));
  EXPECT_TRUE(task->isResultOk());
  EXPECT_FALSE(task->isCancelled());
  EXPECT_EQ(timers_->timeObjects(), (TimeObjects{list[1], list[2], list[0]}));
  EXPECT_EQ(heardOrder, (std::vector<std::string>{"T1", "T2", "T0"}));
  EXPECT_EQ(list[1]->sortOrder(), 0);
  EXPECT_EQ(list[2]->sortOrder(), 1);
  EXPECT_EQ(list[0]->sortOrder(), 2);
  EXPECT_EQ(provider_->saves, savesBefore);
  tw::RunLoop::main().drain();
  EXPECT_FALSE(context().hasChanges()) << "the store saves a reorder by itself, after the turn";
  reopen();
  await(timers_->loadTimeObjects());
  EXPECT_EQ(titlesOf(timers_->timeObjects()), (std::vector<std::string>{"T1", "T2", "T0"}));
}

TEST_F(DataServiceTest, MovingToTheSameIndexIsCancelledQuietly) {
  auto list = loadedTimers({4, 5, 6});
  int heard = 0;
  auto observation = timers_->observeScoped("timeObjects", tw::KVONew,
                                            [&](const tw::KeyValueChange&) { ++heard; });

  auto task = await(timers_->moveTimeObjectAtIndex(2, 2));
  EXPECT_TRUE(task->isCancelled());
  EXPECT_EQ(heard, 0);
  EXPECT_EQ(timers_->timeObjects(), list);
  EXPECT_EQ(list[0]->sortOrder(), 4);
  EXPECT_EQ(list[1]->sortOrder(), 5);
  EXPECT_EQ(list[2]->sortOrder(), 6);
}

TEST_F(DataServiceTest, MovingWithAnIndexOutsideTheListFailsAtOnce) {
  auto list = loadedTimers({0, 1, 2});
  const int queued = provider_->asyncBlocks;
  for (auto [from, to] : std::vector<std::pair<std::int64_t, std::int64_t>>{
           {-1, 0}, {0, -1}, {3, 0}, {0, 3}, {BTTimeObject::kSortOrderNotFound, 1}}) {
    auto task = timers_->moveTimeObjectAtIndex(from, to);
    ASSERT_TRUE(task->isCompleted()) << from << " -> " << to;
    expectDataServiceError(task, tw::kTimeObjectInvalidIndexError);
  }
  EXPECT_EQ(provider_->asyncBlocks, queued);
  EXPECT_EQ(timers_->timeObjects(), list);

  auto empty = std::make_shared<BTStopwatchesDataService>(provider_);
  expectDataServiceError(empty->moveTimeObjectAtIndex(0, 0), tw::kTimeObjectInvalidIndexError);
}

TEST_F(DataServiceTest, AMoveWhoseIndexBecameInvalidBeforeItRanFails) {
  auto list = loadedTimers({0, 1, 2});
  auto deletion = timers_->deleteTimeObject(list[0]);
  auto move = timers_->moveTimeObjectAtIndex(2, 0);
  EXPECT_FALSE(move->isCompleted()) << "valid when asked";
  await(move);

  EXPECT_TRUE(deletion->isResultOk());
  expectDataServiceError(move, tw::kTimeObjectInvalidIndexError);
  EXPECT_EQ(timers_->timeObjects(), (TimeObjects{list[1], list[2]}));
  EXPECT_EQ(list[1]->sortOrder(), 1) << "nothing renumbered";
  EXPECT_EQ(list[2]->sortOrder(), 2);
}

// ----- saving

TEST_F(DataServiceTest, SavingStoresWhatWasCreated) {
  auto created = await(stopwatches_->createTimeObject())->result().objectAs<BTStopwatch>();
  ASSERT_TRUE(created);
  tw::RunLoop::main().drain();
  created->setTitle("Renamed");  // an edit the store leaves to the auto-save
  ASSERT_TRUE(context().hasChanges());
  auto task = stopwatches_->saveData();
  EXPECT_FALSE(task->isCompleted());
  await(task);
  EXPECT_TRUE(task->isResultOk());
  EXPECT_TRUE(task->result().isNull());
  EXPECT_FALSE(context().hasChanges());

  service_->cleanUp();  // no save on the way out: only what saveData wrote survives
  service_->setup();
  makeServices();
  await(stopwatches_->loadTimeObjects());
  EXPECT_EQ(titlesOf(stopwatches_->timeObjects()), (std::vector<std::string>{"Renamed"}));
}

// ----- all time objects

TEST_F(DataServiceTest, AllObjectsLoadWhatIsNotLoadedAndThenNothing) {
  managedObject<BTAlarm>()->setTitle("Wake");
  managedObject<BTTimer>()->setTitle("Tea");
  managedObject<BTStopwatch>()->setTitle("Run");
  await(timers_->loadTimeObjects());
  EXPECT_FALSE(all_->isDataLoaded());

  const int before = provider_->asyncBlocks;
  auto task = await(all_->loadAllTimeObjects());
  EXPECT_TRUE(task->isResultOk());
  EXPECT_EQ(provider_->asyncBlocks - before, 2) << "timers were loaded already";
  EXPECT_TRUE(all_->isDataLoaded());
  EXPECT_EQ(titlesOf(all_->alarmObjects()), (std::vector<std::string>{"Wake"}));
  EXPECT_EQ(titlesOf(all_->timerObjects()), (std::vector<std::string>{"Tea"}));
  EXPECT_EQ(titlesOf(all_->stopwatchObjects()), (std::vector<std::string>{"Run"}));

  const int loaded = provider_->asyncBlocks;
  auto again = all_->loadAllTimeObjects();
  ASSERT_TRUE(again->isCompleted()) << "nothing to wait for";
  EXPECT_TRUE(again->isResultOk());
  EXPECT_TRUE(again->result().isNull());
  EXPECT_EQ(provider_->asyncBlocks, loaded) << "fetches nothing";
}

TEST_F(DataServiceTest, AllObjectsWithoutTheirProvidersAreEmptyAndNeverLoaded) {
  auto lonely = std::make_shared<BTAllTimeObjectsDataService>();
  EXPECT_FALSE(lonely->isDataLoaded());
  EXPECT_TRUE(lonely->alarmObjects().empty());
  auto task = lonely->loadAllTimeObjects();
  ASSERT_TRUE(task->isCompleted());
  EXPECT_TRUE(task->result().isNull());

  lonely->setTimersDataProvider(timers_);
  await(lonely->loadAllTimeObjects());
  EXPECT_TRUE(timers_->isDataLoaded());
  EXPECT_FALSE(lonely->isDataLoaded()) << "alarms and stopwatches are still missing";
}

TEST_F(DataServiceTest, AServiceGoneBeforeItsWorkFinishedIsLeftAlone) {
  storeTimers({0});
  auto task = timers_->loadTimeObjects();
  std::weak_ptr<BTTimersDataService> weak = timers_;
  all_.reset();
  timers_.reset();
  // The queued store work holds no list to fill; the task still finishes with the fetch.
  await(task);
  EXPECT_TRUE(task->isResultNonNull());
  EXPECT_EQ(task->result().count(), 1u);
  EXPECT_TRUE(weak.expired());
  makeServices();
}

}  // namespace
