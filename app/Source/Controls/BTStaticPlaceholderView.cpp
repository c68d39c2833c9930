#include "app/Source/Controls/BTStaticPlaceholderView.h"

#include <QGridLayout>
#include <QVBoxLayout>

BTStaticPlaceholderView::BTStaticPlaceholderView(QWidget* parent)
    : QWidget(parent),
      imageView_(new QLabel(this)),
      titleLabel_(new QLabel(this)),
      detailsLabel_(new QLabel(this)) {
  imageView_->setObjectName("imageView");
  titleLabel_->setObjectName("titleLabel");
  detailsLabel_->setObjectName("detailsLabel");
  imageView_->setAlignment(Qt::AlignCenter);
  titleLabel_->setAlignment(Qt::AlignCenter);
  detailsLabel_->setAlignment(Qt::AlignCenter);
  detailsLabel_->setWordWrap(true);
  QFont title = titleLabel_->font();
  title.setPointSizeF(title.pointSizeF() * 1.3);
  title.setBold(true);
  titleLabel_->setFont(title);
  QPalette details = detailsLabel_->palette();
  details.setColor(QPalette::WindowText, details.color(QPalette::PlaceholderText));
  detailsLabel_->setPalette(details);

  // One grid cell holds the column; a larger placeholder lays its background image into the same
  // cell, behind it.
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  auto* layout = new QVBoxLayout;
  layout->setContentsMargins(16, 16, 16, 16);
  grid->addLayout(layout, 0, 0);
  layout->addStretch(1);
  layout->addWidget(imageView_);
  layout->addWidget(titleLabel_);
  layout->addWidget(detailsLabel_);
  layout->addStretch(1);
  awakeFromNib();
}

void BTStaticPlaceholderView::awakeFromNib() {
  // A placeholder takes no touches; they go to the list behind it.
  setAttribute(Qt::WA_AcceptTouchEvents, false);
}

void BTStaticPlaceholderView::updateUi() {
  imageView_->setHidden(imageView_->pixmap().isNull());
  titleLabel_->setHidden(titleLabel_->text().isEmpty());
  detailsLabel_->setHidden(detailsLabel_->text().isEmpty());
}
