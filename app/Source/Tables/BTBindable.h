#pragma once
// BTBindable: a view that shows one view model at a time: bound when handed out, unbound when
// it leaves the screen. Adopted by the table cells of the lists. Main thread only.

#include <memory>

#include "platform/foundation/Object.h"

class BTBindable {
 public:
  virtual ~BTBindable() = default;
  virtual std::shared_ptr<tw::Object> viewModel() const = 0;
  virtual void setViewModel(std::shared_ptr<tw::Object> viewModel) = 0;
  virtual void bindViewModel(const std::shared_ptr<tw::Object>& /*viewModel*/) {}
  virtual void unbindViewModel() {}
};
