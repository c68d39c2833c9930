#pragma once
// ActionListItemTableCellView: one action in the actions list: an on/off switch, what the action
// does over when it fires, and an edit button. Bound to a BTActionObjectListItemViewModel; the
// bindings end at the cell's next reuse or unbind. The switch writes the action's "enabled"
// only on the user's flips; both labels follow "enabled" (greyed while the action is off), also
// in a reused cell.
// Owned by the table; main thread only.

#include <QLabel>
#include <QToolButton>
#include <functional>

#include "app/Source/ActionsList/ITSwitch.h"
#include "app/Source/Tables/BindableTableCellView.h"

class ActionListItemTableCellView : public BindableTableCellView {
 public:
  static constexpr const char* kIdentifier = "ActionListItemTableCellView";

  explicit ActionListItemTableCellView(QWidget* parent = nullptr);

  ITSwitch* enabledSwitch() const { return enabledSwitch_; }
  QLabel* titleLabel() const { return titleLabel_; }
  QLabel* subtitleLabel() const { return subtitleLabel_; }
  QToolButton* actionButton() const { return actionButton_; }
  void setActionButtonHandler(std::function<void()> handler) {
    actionButtonHandler_ = std::move(handler);
  }
  const std::function<void()>& actionButtonHandler() const { return actionButtonHandler_; }

  // Raises unless the object is a BTActionObjectListItemViewModel.
  void bindViewModel(const std::shared_ptr<tw::Object>& viewModel) override;
  void prepareForReuse() override;
  // The switch's action: the action takes the switch's state; the labels follow it.
  void enableOrDisableAction();
  // The edit button's action.
  void showActionsEditor();

 private:
  void setLabelsEnabled(bool enabled);
  void nameControls(const QString& action);

  ITSwitch* enabledSwitch_;
  QLabel* titleLabel_;
  QLabel* subtitleLabel_;
  QToolButton* actionButton_;
  std::function<void()> actionButtonHandler_;
};
