#include "app/Source/ActionEditor/FlashScreenActionEditorView.h"

#include "core/Source/Model/BTArgb.h"

FlashScreenActionEditorView::FlashScreenActionEditorView()
    : colorSelectionView_(new tw::app::ColorWell) {
  widget()->setObjectName("FlashScreenActionEditorView");
  addRow("Color:", colorSelectionView_);
}

void FlashScreenActionEditorView::loadViewWithBuilder(
    const std::shared_ptr<BTActionBuilder>& builder) {
  ActionObjectEditorView::loadViewWithBuilder(builder);
  const BTColor c = BTColorWithArgb(builder->screenColorArgbValue());
  colorSelectionView_->setColor(
      QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                       static_cast<float>(c.blue), static_cast<float>(c.alpha)));
  auto weak = weakSelf<FlashScreenActionEditorView>();
  colorSelectionView_->setChangeHandler([weak](tw::app::ColorWell*) {
    if (auto self = weak.lock()) self->onColorSelectionChange();
  });
}

void FlashScreenActionEditorView::onColorSelectionChange() {
  const QColor c = colorSelectionView_->color().toRgb();
  BTColor color;
  color.red = c.redF();
  color.green = c.greenF();
  color.blue = c.blueF();
  color.alpha = c.alphaF();
  actionBuilder_->setScreenColorArgbValue(BTArgbValue(color));
}
