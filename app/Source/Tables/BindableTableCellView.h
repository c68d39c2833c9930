#pragma once
// BindableTableCellView: a reusable table cell that shows one view model (BTBindableViewModel)
// at a time. Its reuse signal sends each time the table takes it from the reuse queue
// (prepareForReuse); subclasses end the bindings of the previous use with it (takeUntil).
// Owned by the table (Qt parent); main thread only.

#include <memory>

#include "app/Source/Tables/BTBindable.h"
#include "platform/ui/TableView.h"

class RACSignal;
class RACSubject;

class BindableTableCellView : public tw::ui::TableCellView, public BTBindable {
 public:
  explicit BindableTableCellView(QWidget* parent = nullptr);
  ~BindableTableCellView() override;

  std::shared_ptr<tw::Object> viewModel() const override { return viewModel_; }
  void setViewModel(std::shared_ptr<tw::Object> viewModel) override {
    viewModel_ = std::move(viewModel);
  }
  // Raises unless the object is a BTBindableViewModel, then keeps it.
  void bindViewModel(const std::shared_ptr<tw::Object>& viewModel) override;
  // Drops the view model and ends the bindings of this use at once.
  void unbindViewModel() override;
  void prepareForReuse() override;
  // The same signal on every request.
  std::shared_ptr<RACSignal> prepareForReuseSignal();

 private:
  std::shared_ptr<tw::Object> viewModel_;
  std::shared_ptr<RACSubject> reuse_;
};
