#pragma once
// Shared set-up of the timing tests: the core's store fixture, a virtual clock that drives every
// "now", an action executor that records what it is handed, and builders for time objects with
// actions. Test-only.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimeTrigger.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "core/testsupport/CoreStoreTest.h"
#include "core/testsupport/TestTimeObjects.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {

// Records every action handed over, with the state and value its time object had right then.
class RecordingExecutor : public BTActionExecutor {
 public:
  struct Call {
    std::shared_ptr<BTActionObjectProtocol> action;
    std::int64_t state = -1;
    double value = 0;
  };

  BFTaskPtr executeAction(const std::shared_ptr<BTActionObjectProtocol>& action) override {
    Call call{action};
    if (auto object = action->timeObject()) {
      call.state = object->timingState();
      call.value = object->timingValue();
    }
    calls.push_back(call);
    return BFTask::voidTask();
  }

  int countFor(const std::shared_ptr<BTActionObject>& action) const {
    int n = 0;
    for (const auto& c : calls)
      if (c.action.get() == static_cast<BTActionObjectProtocol*>(action.get())) ++n;
    return n;
  }

  std::vector<Call> calls;
};

// A settings provider holding only the time-objects bundle the stopwatch reads.
class StubSettingsProvider : public BTSettingsProvider {
 public:
  StubSettingsProvider() : timeObjects_(std::make_shared<BTTimeObjectsBundleSettingsImpl>()) {
    timeObjects_->registerDefaults();
  }
  void registerDefaults() override {}
  void restoreDefaults() override {}
  void load() override {}
  void save() override {}
  std::shared_ptr<BTGeneralBundleSettingsImpl> generalBundle() const override { return nullptr; }
  void setGeneralBundle(std::shared_ptr<BTGeneralBundleSettingsImpl>) override {}
  std::shared_ptr<BTMasterDetailsBundleSettingsImpl> masterDetailBundle() const override {
    return nullptr;
  }
  void setMasterDetailBundle(std::shared_ptr<BTMasterDetailsBundleSettingsImpl>) override {}
  std::shared_ptr<BTTimeObjectsBundleSettingsImpl> timeObjectsBundle() const override {
    return timeObjects_;
  }
  void setTimeObjectsBundle(std::shared_ptr<BTTimeObjectsBundleSettingsImpl> b) override {
    timeObjects_ = std::move(b);
  }
  std::shared_ptr<BTActionObjectsBundleSettingsImpl> actionObjectsBundle() const override {
    return nullptr;
  }
  void setActionObjectsBundle(std::shared_ptr<BTActionObjectsBundleSettingsImpl>) override {}

 private:
  std::shared_ptr<BTTimeObjectsBundleSettingsImpl> timeObjects_;
};

class TimingStoreTest : public CoreStoreTest {
 protected:
  static constexpr double kStart = 1'700'000'000.0;  // 2023-11-14 22:13:20 UTC

  void TearDown() override {
    // Lets every pending reset after a finish run while the store is still there.
    clock_.advance(5.0);
    RunLoop::main().drain();
    CoreStoreTest::TearDown();
  }

  double now() const { return clock_.wall(); }
  void advance(double seconds) {
    clock_.advance(seconds);
    RunLoop::main().drain();
  }

  template <class T>
  std::shared_ptr<T> findByUuid(const std::string& uuid) {
    for (auto& o : context().findAll<T>())
      if (o->uuid() == uuid) return o;
    return nullptr;
  }

  std::shared_ptr<BTAlarm> makeAlarm(long hour, long minute, long second) {
    auto alarm = managedObject<BTAlarm>();
    auto time = managedObject<BTTimeSetting>();
    time->setHour(hour);
    time->setMinute(minute);
    time->setSecond(second);
    alarm->setTime(time);
    return alarm;
  }

  // An enabled action of `object` with the given trigger.
  std::shared_ptr<BTActionObject> addAction(const std::shared_ptr<BTTimeObject>& object,
                                            const std::shared_ptr<BTActionTrigger>& trigger) {
    auto action = BTActionObject::actionObject<BTDisplayAlertAction>();
    action->setEnabled(true);
    action->setTrigger(trigger);
    action->setTimeObject(object);
    return action;
  }
  std::shared_ptr<BTActionObject> addStateAction(const std::shared_ptr<BTTimeObject>& object,
                                                 std::int64_t from, std::int64_t to) {
    auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
    trigger->setStateFrom(from);
    trigger->setStateTo(to);
    return addAction(object, trigger);
  }
  // condition 0 elapsed, 10 remains
  std::shared_ptr<BTActionObject> addTimeAction(const std::shared_ptr<BTTimeObject>& object,
                                                std::int64_t condition, double interval) {
    auto trigger = BTActionTrigger::actionTrigger<BTTimeTrigger>();
    trigger->setTimeCondition(condition);
    trigger->setTimeInterval(interval);
    return addAction(object, trigger);
  }

  // Installed before SetUp opens the store; the store service goes in TearDown, before it.
  VirtualClock clock_{kStart};
  std::shared_ptr<RecordingExecutor> executor_ = std::make_shared<RecordingExecutor>();
};

}  // namespace tw::test
