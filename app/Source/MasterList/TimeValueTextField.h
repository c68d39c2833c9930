#pragma once
// TimeValueTextField: an editable field for a whole-number time value. While it is edited, its
// touch bar model offers minus and plus buttons that step the number by one (and, on request,
// presets); on Linux no bar is shown, so the Up and Down keys step the number the same way. Every
// such change reaches the field's observers exactly as typing would (textEdited), so bindings
// that listen to user edits take it. The field never clamps: limits are its observers' business.
// Owned by its parent widget; main thread only.

#include <memory>
#include <string>

#include "app/Source/Controls/BTTextField.h"
#include "platform/ui/TouchBar.h"

class TimeValueTextField : public BTTextField {
 public:
  static constexpr const char* kEditingBarIdentifier = "tickwell.TimeValueTextField.EditingBar";
  static constexpr const char* kMinusItemIdentifier = "tickwell.TimeValueMinusButtonItem";
  static constexpr const char* kPlusItemIdentifier = "tickwell.TimeValuePlusButtonItem";
  static constexpr const char* kPresetItemIdentifier = "tickwell.TimeValuePresetSegmentedItem";

  // A bar item that runs an action when pressed (a button, or one segment of the presets).
  class ActionItem : public tw::ui::TouchBarItem {
   public:
    using TouchBarItem::TouchBarItem;
    std::string imageName;
    std::vector<std::string> segmentLabels;
    std::function<void(int segment)> action;
  };

  explicit TimeValueTextField(QWidget* parent = nullptr);
  ~TimeValueTextField() override;

  // The bar a focused field offers: flexible space, minus, plus, flexible space, other items.
  std::shared_ptr<tw::ui::TouchBar> makeTouchBar();
  std::shared_ptr<tw::ui::TouchBarItem> makeItemForIdentifier(const std::string& identifier);

  void onTimeValuePlusAction();
  void onTimeValueMinusAction();
  void onTimeValuePresetSegmentSelected(const std::string& label);
  // Sets the text as a user edit would; nothing when it is the current text.
  void overrideStringValue(const std::optional<std::string>& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class Delegate;
  std::shared_ptr<Delegate> delegate_;
};
