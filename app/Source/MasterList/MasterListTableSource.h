#pragma once
// MasterListTableSource: feeds the master list's table from the master list view model: one
// cell per time object, bound to a list-item view model of the object's kind and unbound when
// its row leaves the table; the row views; the Delete row action (also the Delete key); selection
// and double-click forwarding; moves by drag and drop; and the two editors (the title in place
// in its row, the value in a popover at the row's right-hand edge).
//
// The rows are the view model's data provider's list. That list can change a turn before the
// table hears of it (a mode switch, a deletion's continuation): a row outside the current list
// gets an empty, unbound cell until the pending reload or edit arrives.
//
// Made and owned by the master view controller; holds its view model strongly and its table
// weakly (the table is a widget of the controller's view). Main thread only.

#include <memory>

#include "app/Source/Tables/DraggingTableSource.h"

class BTMasterListViewModel;
class BTTimeObject;

namespace tw {
class Popover;
}  // namespace tw

class MasterListTableSource : public DraggingTableSource {
 public:
  MasterListTableSource(std::shared_ptr<BTMasterListViewModel> viewModel,
                        tw::ui::TableView* tableView);
  ~MasterListTableSource() override;

  const std::shared_ptr<BTMasterListViewModel>& viewModel() const { return viewModel_; }

  void makeTableViewRegistrations() override;

  int numberOfRows(tw::ui::TableView& table) override;
  std::shared_ptr<BTTimeObject> objectValueForRow(int row) const;
  tw::ui::TableCellView* viewForRow(tw::ui::TableView& table, int row) override;
  tw::ui::TableRowView* rowViewForRow(tw::ui::TableView& table, int row) override;
  void didRemoveRowView(tw::ui::TableView& table, tw::ui::TableRowView* rowView, int row) override;
  std::vector<tw::ui::TableRowAction> rowActions(tw::ui::TableView& table, int row,
                                                 tw::ui::TableRowActionEdge edge) override;
  void selectionDidChange(tw::ui::TableView& table) override;
  void onTableViewDoubleAction(tw::ui::TableView& table);

  tw::ui::TableRowView* rowViewForTimeObject(const std::shared_ptr<BTTimeObject>& object) const;
  void editTimeObjectTitle(const std::shared_ptr<BTTimeObject>& object);
  void editTimeObjectValue(const std::shared_ptr<BTTimeObject>& object);
  // The value popover for the object (the alarm's or the timer's); the caller shows it.
  static tw::Popover* valuePopoverForTimeObject(const std::shared_ptr<BTTimeObject>& object);

 protected:
  std::optional<QPixmap> draggingImageForTableViewCell(tw::ui::TableCellView* cell,
                                                       int row) override;
  void finalizeMoveRow(tw::ui::TableView& table, int from, int to) override;

 private:
  std::shared_ptr<BTMasterListViewModel> viewModel_;
};
