#pragma once
// tw::app::SettingsPaneLayout: builds the view of a settings pane the same way for every pane: a
// column of section titles, each followed by its controls (check boxes, a pop-up, a line of
// text, a button), with the margins of a preferences window. Used once per pane, in its
// loadView; finish() hands over the view. Main thread only.

#include <QString>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;
namespace tw {
class SettingsCheckBox;
}

namespace tw::app {

class SettingsPaneLayout {
 public:
  SettingsPaneLayout();

  void addSection(const std::string& title);
  // A check box under the current section, indented by `indent` steps.
  std::shared_ptr<tw::SettingsCheckBox> addCheckBox(const std::string& title, int indent = 0);
  // A pop-up button with a label before it.
  QComboBox* addPopUp(const std::string& label);
  QLabel* addText(const std::string& text = {});
  QPushButton* addButton(const std::string& title);

  // The finished view; the layout is spent afterwards.
  QWidget* finish();

 private:
  QWidget* view_;
  QVBoxLayout* column_;
  bool firstSection_ = true;
};

}  // namespace tw::app
