// The time value field's steps and presets (edits as the user's own), and the auto-sizing
// field's font model and width rounding.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <cmath>

#include "app/Source/MasterList/BTAutoSizingTextField.h"
#include "app/Source/MasterList/TimeValueTextField.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

TEST(TimeValueTextFieldTest, StepsAndPresetsAreEditsAndNeverClamp) {
  tw::ui::test::application();
  TimeValueTextField field;
  QSignalSpy edits(&field, &QLineEdit::textEdited);
  const auto step = [&](const char* text, bool plus) {
    field.setText(text);
    plus ? field.onTimeValuePlusAction() : field.onTimeValueMinusAction();
    return field.text().toStdString();
  };
  EXPECT_EQ(step("59", true), "60");
  EXPECT_EQ(step("0", false), "-1");
  EXPECT_EQ(step("", true), "1");
  EXPECT_EQ(step("abc", true), "1");
  EXPECT_EQ(edits.count(), 4) << "each change is one edit";

  auto bar = field.makeTouchBar();
  EXPECT_EQ(bar->customizationIdentifier, "tickwell.TimeValueTextField.EditingBar");
  ASSERT_EQ(bar->defaultItemIdentifiers.size(), 5u);
  EXPECT_EQ(bar->defaultItemIdentifiers[1], TimeValueTextField::kMinusItemIdentifier);
  EXPECT_EQ(bar->itemForIdentifier("tickwell.Unknown"), nullptr);
  auto presets = std::dynamic_pointer_cast<TimeValueTextField::ActionItem>(
      bar->itemForIdentifier(TimeValueTextField::kPresetItemIdentifier));
  ASSERT_TRUE(presets);
  field.setText("15");
  edits.clear();
  presets->action(2);  // "15": the same text posts nothing
  EXPECT_EQ(edits.count(), 0);
  presets->action(4);
  EXPECT_EQ(field.text(), "45");
  EXPECT_EQ(edits.count(), 1);
  std::dynamic_pointer_cast<TimeValueTextField::ActionItem>(
      bar->itemForIdentifier(TimeValueTextField::kMinusItemIdentifier))
      ->action(0);
  EXPECT_EQ(field.text(), "44");
}

TEST(BTAutoSizingTextFieldTest, FitsByTheTighterAxisKeepsFontWhenNothingFitsAndRoundsWidth) {
  tw::ui::test::application();
  // Width grows 2 per point from 0, height 1.2 per point: 100x30 is bound by the height.
  EXPECT_DOUBLE_EQ(BTAutoSizingTextField::fittedPointSize(40, 24, 80, 48, QSizeF(100, 30)), 25.0);
  EXPECT_DOUBLE_EQ(BTAutoSizingTextField::fittedPointSize(40, 24, 80, 48, QSizeF(30, 300)), 15.0);
  // An empty text has no width growth: the height decides.
  EXPECT_DOUBLE_EQ(BTAutoSizingTextField::fittedPointSize(0, 24, 0, 48, QSizeF(100, 30)), 25.0);
  // A width that does not grow and fills the field exactly gives 0/0: not a number, never chosen.
  EXPECT_DOUBLE_EQ(BTAutoSizingTextField::fittedPointSize(100, 24, 100, 48, QSizeF(100, 30)), 25.0);
  EXPECT_DOUBLE_EQ(BTAutoSizingTextField::roundedWidth(30.0, 11.0), 33.0);
  EXPECT_DOUBLE_EQ(BTAutoSizingTextField::roundedWidth(30.0, 0.0), 30.0);

  BTAutoSizingTextField field;
  field.setText("12:34");
  QFont before = field.font();
  before.setPointSizeF(13);
  field.setFont(before);
  EXPECT_EQ(field.fontWithText("12:34", QSizeF(0, 0)).pointSizeF(), 13)
      << "a field without size keeps its font";
  field.resize(200, 60);
  field.show();
  EXPECT_GT(field.font().pointSizeF(), 13);
  EXPECT_GT(field.preferredCharWidth(), 0);
  const double cells = field.sizeHint().width() / field.preferredCharWidth();
  EXPECT_NEAR(cells, std::round(cells), 0.6);
}

}  // namespace
