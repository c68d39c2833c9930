#pragma once
// BTTimeObjectTimingDisplayViewModel: feeds the large time display of the detail pane. The
// display registers one callback; the view model calls it with the value to show (seconds)
// whenever the time object's timingValue changes, and at once when the callback is set (with the
// value current at creation or the last one that arrived meanwhile). It follows the object for
// as long as the view model lives: the display makes a new one for each object it shows.
// BTTimerTimingDisplayViewModel (its own file) shows a reset timer's set duration.
//
// Made through create<T>(timeObject); owned by the timing display. Main thread only.

#include <functional>
#include <memory>

#include "core/Source/Timing/BTTimeObjectViewModel.h"

class BTTimeObjectTimingDisplayViewModel : public BTTimeObjectViewModel {
 protected:
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  using Handler = std::function<void(double)>;

  // initWithTimeObject: a view model of class T, following its object.
  template <class T = BTTimeObjectTimingDisplayViewModel>
  static std::shared_ptr<T> create(std::shared_ptr<BTTimeObject> timeObject) {
    auto model = std::make_shared<T>(ConstructionKey{}, std::move(timeObject));
    static_cast<BTTimeObjectTimingDisplayViewModel&>(*model).subscribe();
    return model;
  }
  BTTimeObjectTimingDisplayViewModel(ConstructionKey, std::shared_ptr<BTTimeObject> timeObject);

  virtual double currentTimingValue() const;
  const Handler& timingValueUpdatedHandler() const { return handler_; }
  // Delivers the pending value at once to a new handler; none keeps the pending value.
  void setTimingValueUpdatedHandler(Handler handler);
  void notifyTimingValueUpdated();
  void notifyTimingValueUpdatedWithValue(double value);

 protected:
  virtual void subscribe();
  // Calls notifyTimingValueUpdated for every value of `keyPath` (the current one first).
  void follow(const char* keyPath);

 private:
  Handler handler_;
  double pendingValue_ = 0.0;
};
