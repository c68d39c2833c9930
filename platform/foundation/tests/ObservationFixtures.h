#pragma once
// Small observable model classes and a change recorder shared by the observation and key-value
// coding tests. Test-only; the classes follow the shapes the timing code observes
// ("timingObject.timingState", "actionObject.timeObject.timingState", dependent keys, to-many
// sets). Used on whatever thread a test changes them on.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"

namespace tw::test {

class TimeObject : public Object {
 public:
  std::int64_t timingState() const { return timingState_; }
  void setTimingState(std::int64_t state) { setAndNotify("timingState", timingState_, state); }
  // The primitive setter: nobody is told.
  void setTimingStateValue(std::int64_t state) { setSilently(timingState_, state); }

  double time() const { return time_; }
  void setTime(double time) { setAndNotify("time", time_, time); }
  double computedFinishDate() const { return time_ + 1000; }

  const Array& actionObjects() const { return actionObjects_; }
  void addActionObjects(const Array& objects) {
    willChangeValueForKey("actionObjects", SetMutationKind::Union, objects);
    for (const Value& v : objects)
      if (std::find(actionObjects_.begin(), actionObjects_.end(), v) == actionObjects_.end())
        actionObjects_.push_back(v);
    didChangeValueForKey("actionObjects", SetMutationKind::Union, objects);
  }
  void removeActionObjects(const Array& objects) {
    willChangeValueForKey("actionObjects", SetMutationKind::Minus, objects);
    std::erase_if(actionObjects_, [&](const Value& v) {
      return std::find(objects.begin(), objects.end(), v) != objects.end();
    });
    didChangeValueForKey("actionObjects", SetMutationKind::Minus, objects);
  }
  void keepOnlyActionObjects(const Array& objects) {
    willChangeValueForKey("actionObjects", SetMutationKind::Intersect, objects);
    std::erase_if(actionObjects_, [&](const Value& v) {
      return std::find(objects.begin(), objects.end(), v) == objects.end();
    });
    didChangeValueForKey("actionObjects", SetMutationKind::Intersect, objects);
  }

 protected:
  bool getValueForKey(std::string_view key, Value& out) const override {
    if (key == "timingState") {
      out = timingState_.load();
    } else if (key == "time") {
      out = time_;
    } else if (key == "computedFinishDate") {
      out = computedFinishDate();
    } else if (key == "actionObjects") {
      out = actionObjects_;
    } else {
      return Object::getValueForKey(key, out);
    }
    return true;
  }
  bool setValueForKeyImpl(std::string_view key, const Value& value) override {
    if (key == "timingState") {
      setTimingState(value.integerValue());  // announces by itself: the brackets nest
    } else if (key == "time") {
      time_ = value.doubleValue();
    } else {
      return Object::setValueForKeyImpl(key, value);
    }
    return true;
  }
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override {
    if (key == "computedFinishDate") return {"time"};
    return Object::keyPathsForValuesAffectingKey(key);
  }

 private:
  // Atomic: the threaded observation tests change it on one thread while others read it.
  std::atomic<std::int64_t> timingState_{0};
  double time_ = 0;
  Array actionObjects_;
};

// Holds its time object strongly ("timingObject"), as a running control does.
class Control : public Object {
 public:
  std::shared_ptr<TimeObject> timingObject() const { return timingObject_; }
  void setTimingObject(std::shared_ptr<TimeObject> t) {
    setAndNotify("timingObject", timingObject_, std::move(t));
  }

 protected:
  bool getValueForKey(std::string_view key, Value& out) const override {
    if (key != "timingObject") return Object::getValueForKey(key, out);
    out = timingObject_;
    return true;
  }
  bool setValueForKeyImpl(std::string_view key, const Value& value) override {
    if (key != "timingObject") return Object::setValueForKeyImpl(key, value);
    timingObject_ = value.objectAs<TimeObject>();
    return true;
  }

 private:
  std::shared_ptr<TimeObject> timingObject_;
};

// An action: its time object is held weakly (the time object owns its actions), and "running"
// depends on the key path "timeObject.timingState".
class ActionObject : public Object {
 public:
  std::shared_ptr<TimeObject> timeObject() const { return timeObject_.lock(); }
  void setTimeObject(const std::shared_ptr<TimeObject>& t) {
    willChangeValueForKey("timeObject");
    timeObject_ = t;
    didChangeValueForKey("timeObject");
  }
  bool running() const {
    auto t = timeObject();
    return t && t->timingState() == 20;
  }

 protected:
  bool getValueForKey(std::string_view key, Value& out) const override {
    if (key == "timeObject") {
      out = timeObject();
    } else if (key == "running") {
      out = running();
    } else {
      return Object::getValueForKey(key, out);
    }
    return true;
  }
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override {
    if (key == "running") return {"timeObject.timingState"};
    return Object::keyPathsForValuesAffectingKey(key);
  }

 private:
  std::weak_ptr<TimeObject> timeObject_;
};

class Trigger : public Object {
 public:
  void setActionObject(std::shared_ptr<ActionObject> a) {
    setAndNotify("actionObject", actionObject_, std::move(a));
  }

 protected:
  bool getValueForKey(std::string_view key, Value& out) const override {
    if (key != "actionObject") return Object::getValueForKey(key, out);
    out = actionObject_;
    return true;
  }

 private:
  std::shared_ptr<ActionObject> actionObject_;
};

// Copies what a callback was told (the change itself only lives during the call).
struct RecordedChange {
  KeyValueChangeKind kind;
  Value newValue;
  Value oldValue;
  Array changedObjects;
  bool isPrior;
  bool isInitial;
  const Object* object;
  std::string keyPath;
};

class Recorder {
 public:
  ObservationCallback callback() {
    return [this](const KeyValueChange& c) {
      std::lock_guard lock(mutex_);
      changes_.push_back({c.kind, c.newValue, c.oldValue, c.changedObjects, c.isPrior, c.isInitial,
                          c.object, std::string(c.keyPath)});
    };
  }
  std::vector<RecordedChange> changes() const {
    std::lock_guard lock(mutex_);
    return changes_;
  }
  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return changes_.size();
  }
  // The new values delivered so far, as integers (null as -1), for compact expectations.
  std::vector<std::int64_t> integers() const {
    std::lock_guard lock(mutex_);
    std::vector<std::int64_t> out;
    for (const auto& c : changes_)
      out.push_back(c.newValue.isNull() ? -1 : c.newValue.integerValue());
    return out;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    changes_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<RecordedChange> changes_;
};

// An object that only observes; its observations should end with it.
class Watcher : public Object {
 public:
  int calls = 0;
};

}  // namespace tw::test
