#include "app/Source/Tables/BindableTableCellView.h"

#include "core/Source/Library/BTTypeChecks.h"
#include "core/Source/Timing/BTTimeObjectViewModel.h"
#include "platform/signals/RACSubject.h"
#include "platform/signals/RACUnit.h"

BindableTableCellView::BindableTableCellView(QWidget* parent) : tw::ui::TableCellView(parent) {}

BindableTableCellView::~BindableTableCellView() {
  if (reuse_) reuse_->sendCompleted();
}

void BindableTableCellView::bindViewModel(const std::shared_ptr<tw::Object>& viewModel) {
  if (!dynamic_cast<BTBindableViewModel*>(viewModel.get()))
    tw::raiseClassKindMismatch(viewModel.get(), "BTBindableViewModel");
  setViewModel(viewModel);
}

void BindableTableCellView::unbindViewModel() {
  // Ending the bindings here (not only at the next reuse) keeps a queued cell from following an
  // object it no longer shows.
  if (reuse_) reuse_->sendNext(RACUnit::defaultUnit());
  viewModel_.reset();
}

void BindableTableCellView::prepareForReuse() {
  if (reuse_) reuse_->sendNext(RACUnit::defaultUnit());
}

std::shared_ptr<RACSignal> BindableTableCellView::prepareForReuseSignal() {
  if (!reuse_) reuse_ = RACSubject::subject();
  return reuse_;
}
