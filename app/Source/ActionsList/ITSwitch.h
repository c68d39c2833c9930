#pragma once
// ITSwitch: an on/off switch drawn as a rounded track with a round knob; the track takes the
// tint colour when on. A click (or Space while focused) flips `checked` and then calls the
// action; setting `checked` from code calls nothing, so a binding that shows the model's value
// never writes it back.
//
// A QWidget owned by its parent; main thread only.

#include <QAbstractButton>
#include <QColor>
#include <functional>

class ITSwitch : public QAbstractButton {
 public:
  explicit ITSwitch(QWidget* parent = nullptr);

  bool checked() const { return isChecked(); }
  void setCheckedState(bool checked) { setChecked(checked); }
  const QColor& tintColor() const { return tintColor_; }
  void setTintColor(const QColor& color);
  // Runs after a user's flip, with the switch as sender.
  void setAction(std::function<void(ITSwitch*)> action) { action_ = std::move(action); }

  // The track and, round it, room for the focus ring.
  QSize sizeHint() const override { return {36 + 2 * kRingRoom, 20 + 2 * kRingRoom}; }
  static constexpr int kRingRoom = 3;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor tintColor_;
  std::function<void(ITSwitch*)> action_;
};
