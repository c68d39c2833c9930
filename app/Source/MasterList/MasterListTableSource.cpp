#include "app/Source/MasterList/MasterListTableSource.h"

#include "app/Source/Extensions/ViewExtensions.h"
#include "app/Source/MasterList/MasterListAlarmEditingPopover.h"
#include "app/Source/MasterList/MasterListItemTableCellView.h"
#include "app/Source/Tables/MasterListItemTableRowView.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTSettableTimeObject.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/ViewModels/BTAlarmListItemViewModel.h"
#include "core/Source/ViewModels/BTMasterListViewModel.h"
#include "core/Source/ViewModels/BTStopwatchListItemViewModel.h"
#include "core/Source/ViewModels/BTTimerListItemViewModel.h"
#include "platform/foundation/Localization.h"
#include "platform/ui/NamedResources.h"

MasterListTableSource::MasterListTableSource(std::shared_ptr<BTMasterListViewModel> viewModel,
                                             tw::ui::TableView* tableView)
    : DraggingTableSource(tableView), viewModel_(std::move(viewModel)) {}

MasterListTableSource::~MasterListTableSource() {
  if (auto* table = tableView(); table && table->source() == this) table->setSource(nullptr);
}

void MasterListTableSource::makeTableViewRegistrations() {
  DraggingTableSource::makeTableViewRegistrations();
  if (auto* table = tableView())
    table->setDoubleAction([this](tw::ui::TableView& t) { onTableViewDoubleAction(t); });
}

int MasterListTableSource::numberOfRows(tw::ui::TableView&) {
  auto provider = viewModel_->dataProvider();
  return provider ? static_cast<int>(provider->timeObjects().size()) : 0;
}

std::shared_ptr<BTTimeObject> MasterListTableSource::objectValueForRow(int row) const {
  return viewModel_->objectAtIndex(row);
}

tw::ui::TableCellView* MasterListTableSource::viewForRow(tw::ui::TableView& table, int row) {
  auto* cell = dynamic_cast<MasterListItemTableCellView*>(
      table.makeView(MasterListItemTableCellView::kIdentifier));
  if (!cell) cell = new MasterListItemTableCellView;
  const auto object = objectValueForRow(row);
  std::shared_ptr<tw::Object> model;
  if (std::dynamic_pointer_cast<BTAlarm>(object))
    model = BTTimeObjectListItemViewModel::create<BTAlarmListItemViewModel>(object);
  else if (std::dynamic_pointer_cast<BTTimer>(object))
    model = BTTimeObjectListItemViewModel::create<BTTimerListItemViewModel>(object);
  else if (std::dynamic_pointer_cast<BTStopwatch>(object))
    model = BTTimeObjectListItemViewModel::create<BTStopwatchListItemViewModel>(object);
  if (model) cell->bindViewModel(model);
  return cell;
}

tw::ui::TableRowView* MasterListTableSource::rowViewForRow(tw::ui::TableView& table, int) {
  auto* row = dynamic_cast<MasterListItemTableRowView*>(
      table.makeView(MasterListItemTableRowView::kIdentifier));
  return row ? row : new MasterListItemTableRowView;
}

void MasterListTableSource::didRemoveRowView(tw::ui::TableView&, tw::ui::TableRowView* rowView,
                                             int) {
  if (auto* cell = dynamic_cast<MasterListItemTableCellView*>(rowView->cellView()))
    cell->unbindViewModel();
}

std::vector<tw::ui::TableRowAction> MasterListTableSource::rowActions(
    tw::ui::TableView&, int, tw::ui::TableRowActionEdge edge) {
  if (edge != tw::ui::TableRowActionEdge::Trailing) return {};
  std::weak_ptr<BTMasterListViewModel> weak = viewModel_;
  return {{tw::localized("Delete"), 1, [weak](int row) {
             if (auto model = weak.lock()) model->deleteObjectAtIndex(row);
           }}};
}

void MasterListTableSource::selectionDidChange(tw::ui::TableView& table) {
  viewModel_->selectObjectAtIndex(table.selectedRow());
}

void MasterListTableSource::onTableViewDoubleAction(tw::ui::TableView& table) {
  viewModel_->editObjectValueAtIndex(table.clickedRow());
}

std::optional<QPixmap> MasterListTableSource::draggingImageForTableViewCell(
    tw::ui::TableCellView* cell, int) {
  return QPixmap::fromImage(tw::app::imageRepresentation(
      cell, tw::ui::colorNamed("OverlayDark40").value_or(QColor(0, 0, 0, 102))));
}

void MasterListTableSource::finalizeMoveRow(tw::ui::TableView&, int from, int to) {
  // A drag index from an older list (or a forged one) must not reach the store as a range fault.
  if (!viewModel_->isObjectIndexValid(from) || !viewModel_->isObjectIndexValid(to)) return;
  viewModel_->moveObjectAtIndex(from, to);
}

tw::ui::TableRowView* MasterListTableSource::rowViewForTimeObject(
    const std::shared_ptr<BTTimeObject>& object) const {
  const auto index = viewModel_->indexOfObject(object);
  if (!viewModel_->isObjectIndexValid(index) || !tableView()) return nullptr;
  return tableView()->rowViewAtRow(static_cast<int>(index));
}

void MasterListTableSource::editTimeObjectTitle(const std::shared_ptr<BTTimeObject>& object) {
  auto* row = rowViewForTimeObject(object);
  auto* cell = row ? dynamic_cast<MasterListItemTableCellView*>(row->cellView()) : nullptr;
  if (!cell) return;
  cell->beginTitleEditing();
}

tw::Popover* MasterListTableSource::valuePopoverForTimeObject(
    const std::shared_ptr<BTTimeObject>& object) {
  return object->isAlarmType()
             ? MasterListItemEditingPopover::popoverWithTimeObject<MasterListAlarmEditingPopover>(
                   object)
             : MasterListItemEditingPopover::popoverWithTimeObject<MasterListItemEditingPopover>(
                   object);
}

void MasterListTableSource::editTimeObjectValue(const std::shared_ptr<BTTimeObject>& object) {
  auto* row = rowViewForTimeObject(object);
  if (!row) return;
  valuePopoverForTimeObject(object)->showRelativeToRect(row->rect(), row, tw::Popover::Edge::MaxX);
}
