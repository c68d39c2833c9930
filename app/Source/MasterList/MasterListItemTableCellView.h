#pragma once
// MasterListItemTableCellView: one time object in the master list: a coloured state mark, the
// title (edited in place), the running value under it, the set value and, for alarms, the day it
// rings next. Bound to a BTTimeObjectListItemViewModel; every binding ends at the cell's next
// reuse or unbind. The title writes back to the object only on the user's own edits.
// Owned by the table; main thread only.

#include <QLabel>
#include <QLineEdit>
#include <QPointer>

#include "app/Source/Controls/ElidingLineEdit.h"
#include "app/Source/Controls/IndicatorView.h"
#include "app/Source/Tables/BindableTableCellView.h"

class MasterListItemTableCellView : public BindableTableCellView {
 public:
  static constexpr const char* kIdentifier = "MasterListItemTableCellView";

  explicit MasterListItemTableCellView(QWidget* parent = nullptr);

  QWidget* stateIndicatorView() const { return stateIndicatorView_; }
  ElidingLineEdit* titleLabel() const { return titleLabel_; }
  QLabel* subtitleLabel() const { return subtitleLabel_; }
  QLabel* primaryDetailLabel() const { return primaryDetailLabel_; }
  QLabel* secondaryDetailLabel() const { return secondaryDetailLabel_; }
  // The indicator's fill; none while the state has no colour.
  std::optional<QColor> stateIndicatorColor() const { return indicatorColor_; }

  // In-place editing of the title; ends with Return, focus loss or reuse, and Escape puts the
  // title back as it was when the edit began. An edit the user typed in is saved as it ends.
  void beginTitleEditing();
  void endTitleEditing();
  void cancelTitleEditing();
  void prepareForReuse() override;
  // Raises unless the object is a BTTimeObjectListItemViewModel.
  void bindViewModel(const std::shared_ptr<tw::Object>& viewModel) override;

 private:
  void setIndicatorColor(std::optional<QColor> color);

  IndicatorView* stateIndicatorView_;
  ElidingLineEdit* titleLabel_;
  QString titleBeforeEditing_;
  bool titleTyped_ = false;  // since the edit began
  QLabel* subtitleLabel_;
  QLabel* primaryDetailLabel_;
  QLabel* secondaryDetailLabel_;
  std::optional<QColor> indicatorColor_;
};
