#include "platform/signals/RACObjectSignals.h"

#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/signals/DeallocWatch.h"
#include "platform/signals/RACSubject.h"

namespace {

// The key-value observation behind one subscription. The receiver's deallocation watch owns it,
// so it lives exactly as long as the receiver does unless the subscription ends first.
class ObservationBox {
 public:
  ObservationBox() = default;
  ObservationBox(const ObservationBox&) = delete;
  ObservationBox& operator=(const ObservationBox&) = delete;
  ~ObservationBox() { end(); }

  void hold(tw::Observation observation) {
    {
      std::lock_guard lock(mutex_);
      if (!ended_) {
        observation_ = std::move(observation);
        return;
      }
    }
    observation.invalidate();
  }
  // The subscription ended while the receiver lives: stop observing.
  void end() {
    tw::Observation ending;
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
      ending = std::move(observation_);
    }
    ending.invalidate();
  }
  // The receiver is being destroyed and takes its observations with it; only let go of ours.
  void abandon() {
    tw::Observation leaving;
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
      leaving = std::move(observation_);
    }
    leaving.release();
  }

 private:
  // Guards ended_ and observation_: ending may race the object's death.
  std::mutex mutex_;
  bool ended_ = false;
  tw::Observation observation_;
};

}  // namespace

std::shared_ptr<RACSignal> rac_valuesForKeyPath(const std::shared_ptr<tw::Object>& object,
                                                std::string keyPath,
                                                const std::shared_ptr<tw::Object>& observer) {
  std::weak_ptr<tw::Object> weakReceiver = object;
  std::weak_ptr<tw::Object> weakObserver = observer;
  const bool hasObserver = observer != nullptr;
  return RACSignal::createSignal([weakReceiver, weakObserver, hasObserver,
                                  keyPath = std::move(keyPath)](
                                     const std::shared_ptr<RACSubscriber>& subscriber) {
    auto receiver = weakReceiver.lock();
    auto observer = weakObserver.lock();
    if (!receiver || (hasObserver && !observer)) {
      subscriber->sendCompleted();
      return;
    }
    auto box = std::make_shared<ObservationBox>();
    auto deliver = [subscriber](const tw::KeyValueChange& change) {
      if (!change.isPrior) subscriber->sendNext(change.newValue);
    };
    const unsigned options = tw::KVOInitial | tw::KVONew;
    // The current value arrives inside observeScoped(), before the box holds the handle; a
    // subscription that ends right then is caught by hold().
    box->hold(hasObserver ? receiver->observeDetached(keyPath, options, observer, deliver)
                          : receiver->observeScoped(keyPath, options, deliver));

    tw::DeallocWatch receiverGone = tw::DeallocWatch::add(receiver, [box, subscriber] {
      box->abandon();
      subscriber->sendCompleted();
    });
    tw::DeallocWatch observerGone;
    if (hasObserver && observer != receiver) {
      observerGone = tw::DeallocWatch::add(observer, [subscriber] { subscriber->sendCompleted(); });
    }
    subscriber->addDisposer(
        [receiverGone, observerGone, weakBox = std::weak_ptr<ObservationBox>(box)] {
          observerGone.cancel();
          if (auto b = weakBox.lock()) b->end();
          receiverGone.cancel();
        });
  });
}

std::shared_ptr<RACSignal> rac_willDeallocSignal(const std::shared_ptr<tw::Object>& object) {
  std::weak_ptr<tw::Object> weakObject = object;
  return RACSignal::createSignal([weakObject](const std::shared_ptr<RACSubscriber>& subscriber) {
    auto object = weakObject.lock();
    if (!object) {
      subscriber->sendCompleted();
      return;
    }
    tw::DeallocWatch gone =
        tw::DeallocWatch::add(object, [subscriber] { subscriber->sendCompleted(); });
    subscriber->addDisposer([gone] { gone.cancel(); });
  });
}

namespace {

struct SelectorSignals {
  std::weak_ptr<tw::Object> owner;
  std::map<std::string, std::shared_ptr<RACSubject>, std::less<>> subjects;
};

struct SelectorDirectory {
  // Guards objects.
  std::mutex mutex;
  std::unordered_map<const tw::Object*, SelectorSignals> objects;
};

SelectorDirectory& selectorDirectory() {
  // Never destroyed: objects may still die while static destructors run at exit.
  static SelectorDirectory* const instance = new SelectorDirectory();
  return *instance;
}

}  // namespace

std::shared_ptr<RACSignal> rac_signalForSelector(const std::shared_ptr<tw::Object>& object,
                                                 std::string_view selector) {
  if (!object) return RACSignal::empty();
  SelectorDirectory& dir = selectorDirectory();
  std::shared_ptr<RACSubject> subject;
  bool firstForObject = false;
  {
    std::lock_guard lock(dir.mutex);
    SelectorSignals& entry = dir.objects[object.get()];
    if (entry.owner.lock() != object) {
      // New, or left over from a dead object at the same address whose teardown is still running.
      entry.owner = object;
      entry.subjects.clear();
      firstForObject = true;
    }
    auto it = entry.subjects.find(selector);
    if (it == entry.subjects.end()) {
      it = entry.subjects.emplace(std::string(selector), RACSubject::subject()).first;
    }
    subject = it->second;
  }
  if (firstForObject) {
    tw::DeallocWatch::add(object, [raw = object.get()] {
      std::map<std::string, std::shared_ptr<RACSubject>, std::less<>> ending;
      {
        SelectorDirectory& d = selectorDirectory();
        std::lock_guard lock(d.mutex);
        auto it = d.objects.find(raw);
        if (it == d.objects.end() || !it->second.owner.expired()) return;
        ending.swap(it->second.subjects);
        d.objects.erase(it);
      }
      for (auto& [name, s] : ending) s->sendCompleted();
    });
  }
  return subject;
}

void rac_selectorDidRun(const tw::Object& object, std::string_view selector,
                        const tw::Value& arguments) {
  std::shared_ptr<RACSubject> subject;
  {
    SelectorDirectory& dir = selectorDirectory();
    std::lock_guard lock(dir.mutex);
    auto it = dir.objects.find(&object);
    if (it == dir.objects.end() || it->second.owner.expired()) return;
    auto found = it->second.subjects.find(selector);
    if (found == it->second.subjects.end()) return;
    subject = found->second;
  }
  subject->sendNext(arguments);
}
