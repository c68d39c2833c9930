#include "app/Source/ActionsList/ActionsListTableSource.h"

#include <QPointer>

#include "app/Source/ActionsList/ActionListItemTableCellView.h"
#include "app/Source/Extensions/ViewExtensions.h"
#include "app/Source/Tables/MasterListItemTableRowView.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/ViewModels/BTActionObjectListItemViewModel.h"
#include "core/Source/ViewModels/BTActionsListViewModel.h"
#include "platform/foundation/Localization.h"
#include "platform/ui/NamedResources.h"

ActionsListTableSource::ActionsListTableSource(std::shared_ptr<BTActionsListViewModel> viewModel,
                                               tw::ui::TableView* tableView)
    : DraggingTableSource(tableView), viewModel_(std::move(viewModel)) {}

ActionsListTableSource::~ActionsListTableSource() {
  if (auto* table = tableView(); table && table->source() == this) table->setSource(nullptr);
}

void ActionsListTableSource::makeTableViewRegistrations() {
  DraggingTableSource::makeTableViewRegistrations();
  if (auto* table = tableView())
    table->setDoubleAction([this](tw::ui::TableView& t) { onTableViewDoubleAction(t); });
}

int ActionsListTableSource::numberOfRows(tw::ui::TableView&) {
  return static_cast<int>(viewModel_->actionObjects().size());
}

std::shared_ptr<BTActionObject> ActionsListTableSource::objectValueForRow(int row) const {
  const auto actions = viewModel_->actionObjects();
  if (row < 0 || row >= static_cast<int>(actions.size())) return nullptr;
  return actions[static_cast<std::size_t>(row)];
}

tw::ui::TableCellView* ActionsListTableSource::viewForRow(tw::ui::TableView& table, int row) {
  auto* cell = dynamic_cast<ActionListItemTableCellView*>(
      table.makeView(ActionListItemTableCellView::kIdentifier));
  if (!cell) cell = new ActionListItemTableCellView;
  configureCell(cell, table, row);
  return cell;
}

void ActionsListTableSource::configureCell(ActionListItemTableCellView* cell,
                                           tw::ui::TableView& table, int row) {
  auto action = objectValueForRow(row);
  // A row the list no longer has (its removal is on the way) stays empty and unbound.
  if (!action) return;
  cell->bindViewModel(BTActionObjectViewModel::create<BTActionObjectListItemViewModel>(action));
  std::weak_ptr<BTActionsListViewModel> weakModel = viewModel_;
  QPointer<tw::ui::TableView> weakTable(&table);
  QPointer<ActionListItemTableCellView> weakCell(cell);
  cell->setActionButtonHandler([weakModel, weakTable, weakCell] {
    auto model = weakModel.lock();
    if (!model || !weakTable || !weakCell) return;
    // The row the cell shows now, not the one it was made for.
    for (int r = 0; r < weakTable->numberOfRows(); ++r)
      if (weakTable->viewAtRow(r) == weakCell.data()) {
        model->editObjectAtIndex(r);
        return;
      }
  });
}

tw::ui::TableRowView* ActionsListTableSource::rowViewForRow(tw::ui::TableView& table, int) {
  auto* row = dynamic_cast<MasterListItemTableRowView*>(
      table.makeView(MasterListItemTableRowView::kIdentifier));
  return row ? row : new MasterListItemTableRowView;
}

void ActionsListTableSource::didRemoveRowView(tw::ui::TableView&, tw::ui::TableRowView* rowView,
                                              int) {
  if (auto* bindable = dynamic_cast<BTBindable*>(rowView->cellView())) bindable->unbindViewModel();
}

std::vector<tw::ui::TableRowAction> ActionsListTableSource::rowActions(
    tw::ui::TableView&, int, tw::ui::TableRowActionEdge edge) {
  if (edge != tw::ui::TableRowActionEdge::Trailing) return {};
  std::weak_ptr<BTActionsListViewModel> weak = viewModel_;
  return {{tw::localized("Delete"), 1, [weak](int row) {
             if (auto model = weak.lock()) model->deleteObjectAtIndex(row);
           }}};
}

void ActionsListTableSource::selectionDidChange(tw::ui::TableView& table) {
  viewModel_->setSelectionIndex(table.selectedRow());
}

void ActionsListTableSource::onTableViewDoubleAction(tw::ui::TableView& table) {
  viewModel_->editObjectAtIndex(table.clickedRow());
}

std::optional<QPixmap> ActionsListTableSource::draggingImageForTableViewCell(
    tw::ui::TableCellView* cell, int) {
  return QPixmap::fromImage(tw::app::imageRepresentation(
      cell, tw::ui::colorNamed("OverlayDark40").value_or(QColor(0, 0, 0, 102))));
}

void ActionsListTableSource::finalizeMoveRow(tw::ui::TableView&, int from, int to) {
  viewModel_->moveObjectAtIndex(from, to);
}
