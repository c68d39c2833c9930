#pragma once
// ActionsListTableSource: feeds the actions list's table from the actions list view model: one
// cell per action, bound to its own list-item view model and unbound when its row leaves the
// table; the row views (drawn as the master list's); the Delete row action on the trailing
// edge; selection and double-click forwarding; moves by drag and drop under the master list's
// drop rule. A cell's edit button edits the row the cell shows when it is pressed, so rows
// inserted, removed or moved above it never change which action it opens.
//
// Made and owned by the actions list controller, anew for every time object; holds its view
// model strongly and its table weakly. Main thread only.

#include <memory>

#include "app/Source/Tables/DraggingTableSource.h"

class BTActionObject;
class ActionListItemTableCellView;
class BTActionsListViewModel;

class ActionsListTableSource : public DraggingTableSource {
 public:
  ActionsListTableSource(std::shared_ptr<BTActionsListViewModel> viewModel,
                         tw::ui::TableView* tableView);
  ~ActionsListTableSource() override;

  const std::shared_ptr<BTActionsListViewModel>& viewModel() const { return viewModel_; }

  void makeTableViewRegistrations() override;

  int numberOfRows(tw::ui::TableView& table) override;
  std::shared_ptr<BTActionObject> objectValueForRow(int row) const;
  tw::ui::TableCellView* viewForRow(tw::ui::TableView& table, int row) override;
  // Binds `cell` to the action at `row` (an unbound, reset cell): what viewForRow does to the
  // cell it hands out, and what an updated row's live cell gets again.
  void configureCell(ActionListItemTableCellView* cell, tw::ui::TableView& table, int row);
  tw::ui::TableRowView* rowViewForRow(tw::ui::TableView& table, int row) override;
  void didRemoveRowView(tw::ui::TableView& table, tw::ui::TableRowView* rowView, int row) override;
  std::vector<tw::ui::TableRowAction> rowActions(tw::ui::TableView& table, int row,
                                                 tw::ui::TableRowActionEdge edge) override;
  void selectionDidChange(tw::ui::TableView& table) override;
  void onTableViewDoubleAction(tw::ui::TableView& table);

 protected:
  std::optional<QPixmap> draggingImageForTableViewCell(tw::ui::TableCellView* cell,
                                                       int row) override;
  void finalizeMoveRow(tw::ui::TableView& table, int from, int to) override;

 private:
  std::shared_ptr<BTActionsListViewModel> viewModel_;
};
