#pragma once
// BTStaticPlaceholderLargerView: the larger empty-state placeholder, with a background image
// behind the image, title and details of BTStaticPlaceholderView.
//
// A QWidget owned by its parent widget. Main thread only.

#include "app/Source/Controls/BTStaticPlaceholderView.h"

class BTStaticPlaceholderLargerView : public BTStaticPlaceholderView {
  Q_OBJECT

 public:
  explicit BTStaticPlaceholderLargerView(QWidget* parent = nullptr);

  QLabel* backgroundImageView() const { return backgroundImageView_; }

 private:
  QLabel* backgroundImageView_;
};
