#include "app/Source/ActionEditor/StaticBlankActionEditorView.h"

#include <QVBoxLayout>

#include "platform/foundation/Localization.h"

StaticBlankActionEditorView::StaticBlankActionEditorView(QWidget* parent)
    : QWidget(parent), titleLabel_(new QLabel), detailLabel_(new QLabel) {
  setObjectName("StaticBlankActionEditorView");
  titleLabel_->setText(QString::fromStdString(tw::localized("No Options")));
  detailLabel_->setText(
      QString::fromStdString(tw::localized("This action has no settings of its own.")));
  titleLabel_->setAlignment(Qt::AlignCenter);
  detailLabel_->setAlignment(Qt::AlignCenter);
  detailLabel_->setWordWrap(true);
  titleLabel_->setStyleSheet("font-weight: 600;");
  detailLabel_->setStyleSheet("color: palette(mid);");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 6, 0, 6);
  layout->setSpacing(2);
  layout->addWidget(titleLabel_);
  layout->addWidget(detailLabel_);
}
