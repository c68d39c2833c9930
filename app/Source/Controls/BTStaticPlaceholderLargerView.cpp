#include "app/Source/Controls/BTStaticPlaceholderLargerView.h"

#include <QGridLayout>

BTStaticPlaceholderLargerView::BTStaticPlaceholderLargerView(QWidget* parent)
    : BTStaticPlaceholderView(parent), backgroundImageView_(new QLabel(this)) {
  backgroundImageView_->setObjectName("backgroundImageView");
  backgroundImageView_->setAlignment(Qt::AlignCenter);
  backgroundImageView_->setScaledContents(true);
  backgroundImageView_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  static_cast<QGridLayout*>(layout())->addWidget(backgroundImageView_, 0, 0);
  backgroundImageView_->lower();
}
