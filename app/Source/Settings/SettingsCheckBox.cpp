#include "app/Source/Settings/SettingsCheckBox.h"

namespace tw {

namespace {

std::int64_t stateOf(int checkState) {
  switch (checkState) {
    case Qt::Checked:
      return SettingsCheckBox::kOnState;
    case Qt::PartiallyChecked:
      return SettingsCheckBox::kMixedState;
    default:
      return SettingsCheckBox::kOffState;
  }
}

Qt::CheckState checkStateOf(std::int64_t state) {
  if (state == SettingsCheckBox::kOnState) return Qt::Checked;
  if (state == SettingsCheckBox::kMixedState) return Qt::PartiallyChecked;
  return Qt::Unchecked;
}

}  // namespace

SettingsCheckBox::SettingsCheckBox(QCheckBox* box)
    : box_(box), state_(box ? stateOf(box->checkState()) : kOffState) {}

std::shared_ptr<SettingsCheckBox> SettingsCheckBox::create(QCheckBox* box) {
  auto self = std::make_shared<SettingsCheckBox>(box);
  if (box) {
    std::weak_ptr<SettingsCheckBox> weak = self;
    QObject::connect(box, &QCheckBox::stateChanged, box, [weak](int checkState) {
      if (auto strong = weak.lock()) strong->boxChanged(checkState);
    });
  }
  return self;
}

void SettingsCheckBox::boxChanged(int checkState) {
  const std::int64_t state = stateOf(checkState);
  if (state == state_) return;
  tw::ChangeScope change(*this, "state");
  state_ = state;
}

void SettingsCheckBox::setState(std::int64_t state) {
  // Anything but on and mixed is off, as for any button.
  if (state != kOnState && state != kMixedState) state = kOffState;
  if (box_) {
    box_->setCheckState(checkStateOf(state));  // reports back through boxChanged
    if (state != kMixedState) box_->setTristate(false);
  }
  if (state != state_) boxChanged(static_cast<int>(checkStateOf(state)));
}

bool SettingsCheckBox::isEnabled() const { return box_ && box_->isEnabled(); }

void SettingsCheckBox::setEnabled(bool enabled) {
  if (!box_ || box_->isEnabled() == enabled) return;
  tw::ChangeScope change(*this, "enabled");
  box_->setEnabled(enabled);
}

bool SettingsCheckBox::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "state") {
    out = tw::Value(state_);
  } else if (key == "enabled") {
    out = tw::Value(isEnabled());
  } else if (key == "cell") {
    out = tw::Value(std::const_pointer_cast<tw::Object>(shared_from_this()));
  } else {
    return tw::Object::getValueForKey(key, out);
  }
  return true;
}

bool SettingsCheckBox::setValueForKeyImpl(std::string_view key, const tw::Value& value) {
  if (key == "state") {
    setState(value.integerValue());
  } else if (key == "enabled") {
    setEnabled(value.boolValue());
  } else {
    return tw::Object::setValueForKeyImpl(key, value);
  }
  return true;
}

bool SettingsCheckBox::automaticallyNotifiesObserversForKey(std::string_view key) const {
  // The setters announce a change themselves, and only a real one.
  if (key == "state" || key == "enabled") return false;
  return tw::Object::automaticallyNotifiesObserversForKey(key);
}

}  // namespace tw
