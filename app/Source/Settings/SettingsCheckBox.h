#pragma once
// SettingsCheckBox: a check box of a settings pane as an observable object, so panes bind it to
// a setting like any other key. "state" is the box's check state (0 off, 1 on, -1 mixed) and
// changes whoever changes it (the user's click or setState); "cell" is the box itself (here a
// button and its cell are one object), so "cell.state" reads and observes the same state;
// "enabled" is the box's enabled flag. Observers hear of a state only when it differs from the
// one before.
//
// Owned by its pane (shared_ptr, made with create); the QCheckBox belongs to the pane's view and
// may go first, after which the object keeps its last state and changes nothing. Main thread.

#include <QCheckBox>
#include <QPointer>
#include <cstdint>
#include <memory>

#include "platform/foundation/Object.h"

namespace tw {

class SettingsCheckBox : public tw::Object {
 public:
  static constexpr std::int64_t kOffState = 0;
  static constexpr std::int64_t kOnState = 1;
  static constexpr std::int64_t kMixedState = -1;

  static std::shared_ptr<SettingsCheckBox> create(QCheckBox* box);
  explicit SettingsCheckBox(QCheckBox* box);

  QCheckBox* widget() const { return box_; }
  std::int64_t state() const { return state_; }
  void setState(std::int64_t state);
  bool isEnabled() const;
  void setEnabled(bool enabled);

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;
  bool automaticallyNotifiesObserversForKey(std::string_view key) const override;

 private:
  void boxChanged(int checkState);

  QPointer<QCheckBox> box_;
  std::int64_t state_ = kOffState;
};

}  // namespace tw
