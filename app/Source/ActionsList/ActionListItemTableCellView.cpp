#include "app/Source/ActionsList/ActionListItemTableCellView.h"

#include <QApplication>
#include <QGridLayout>
#include <QPointer>

#include "app/Source/Controls/ElidingLabel.h"
#include "app/Source/Controls/TextStyle.h"
#include "core/Source/Library/BTTypeChecks.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/ViewModels/BTActionObjectListItemViewModel.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"

namespace {

QString text(const tw::Value& value) {
  const std::string* s = value.string();
  return s ? QString::fromStdString(*s) : QString();
}

}  // namespace

ActionListItemTableCellView::ActionListItemTableCellView(QWidget* parent)
    : BindableTableCellView(parent),
      enabledSwitch_(new ITSwitch(this)),
      titleLabel_(new ElidingLabel(this)),
      subtitleLabel_(new ElidingLabel(this)),
      actionButton_(new QToolButton(this)) {
  setIdentifier(kIdentifier);
  setAttribute(Qt::WA_TranslucentBackground);
  enabledSwitch_->setObjectName("enabledSwitch");
  titleLabel_->setObjectName("title");
  subtitleLabel_->setObjectName("subtitle");
  actionButton_->setObjectName("editButton");
  // The desktop's highlight colour is its accent colour.
  enabledSwitch_->setTintColor(QApplication::palette().color(QPalette::Highlight));
  tw::app::setTextStyle(titleLabel_, Qt::white, 13);
  tw::app::setDisabledTextColor(titleLabel_, tw::app::rgba(255, 255, 255, 0.4));
  tw::app::setTextStyle(subtitleLabel_, tw::app::rgba(255, 255, 255, 0.75), 11);
  tw::app::setDisabledTextColor(subtitleLabel_, tw::app::rgba(255, 255, 255, 0.3));
  titleLabel_->setTextFormat(Qt::PlainText);
  subtitleLabel_->setTextFormat(Qt::PlainText);
  actionButton_->setText(QString::fromStdString(tw::localized("Edit")));
  actionButton_->setToolTip(actionButton_->text());
  actionButton_->setFocusPolicy(Qt::TabFocus);
  actionButton_->setCursor(Qt::PointingHandCursor);
  actionButton_->setStyleSheet(
      "QToolButton { color: white; background: rgba(255,255,255,0.12); border: none;"
      " border-radius: 4px; padding: 2px 8px; font-size: 11px; }"
      "QToolButton:pressed { background: rgba(255,255,255,0.3); }"
      "QToolButton:focus { border: 1px solid rgba(255,255,255,0.85); }");
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(12, 4, 12, 4);
  layout->setHorizontalSpacing(10);
  layout->setVerticalSpacing(0);
  layout->addWidget(enabledSwitch_, 0, 0, 2, 1, Qt::AlignVCenter);
  layout->addWidget(titleLabel_, 0, 1);
  layout->addWidget(subtitleLabel_, 1, 1);
  layout->addWidget(actionButton_, 0, 2, 2, 1, Qt::AlignVCenter);
  layout->setColumnStretch(1, 1);
  // The labels must not widen the row past the pane: long descriptions are cut.
  titleLabel_->setMinimumWidth(1);
  subtitleLabel_->setMinimumWidth(1);

  enabledSwitch_->setAction([this](ITSwitch*) { enableOrDisableAction(); });
  QObject::connect(actionButton_, &QToolButton::clicked, actionButton_,
                   [this] { showActionsEditor(); });
  prepareForReuse();
}

void ActionListItemTableCellView::nameControls(const QString& action) {
  // Every row has a switch and an Edit button; their names tell the rows apart.
  const auto named = [&action](const char* what) {
    const QString verb = QString::fromStdString(tw::localized(what));
    return action.isEmpty() ? verb : verb + QStringLiteral(": ") + action;
  };
  enabledSwitch_->setAccessibleName(named("Action enabled"));
  actionButton_->setAccessibleName(named("Edit action"));
}

void ActionListItemTableCellView::setLabelsEnabled(bool enabled) {
  titleLabel_->setEnabled(enabled);
  subtitleLabel_->setEnabled(enabled);
}

void ActionListItemTableCellView::prepareForReuse() {
  BindableTableCellView::prepareForReuse();
  enabledSwitch_->setCheckedState(false);
  titleLabel_->setText("");
  subtitleLabel_->setText("");
  nameControls(QString());
  // A cell that showed a disabled action must not show the next one greyed.
  setLabelsEnabled(true);
  actionButtonHandler_ = nullptr;
}

void ActionListItemTableCellView::bindViewModel(const std::shared_ptr<tw::Object>& object) {
  BindableTableCellView::bindViewModel(object);
  auto model = std::dynamic_pointer_cast<BTActionObjectListItemViewModel>(object);
  if (!model) tw::raiseClassKindMismatch(object.get(), "BTActionObjectListItemViewModel");
  auto until = prepareForReuseSignal();
  QPointer<ActionListItemTableCellView> self(this);
  rac_valuesForKeyPath(model, "enabled", nullptr)
      ->takeUntil(until)
      ->subscribeNext([self](const tw::Value& v) {
        if (!self) return;
        self->enabledSwitch_->setCheckedState(v.boolValue());
        self->setLabelsEnabled(v.boolValue());
      });
  std::weak_ptr<BTActionObjectListItemViewModel> weakModel = model;
  rac_valuesForKeyPath(model, "actionDescription", nullptr)
      ->takeUntil(until)
      ->subscribeNext([self, weakModel](const tw::Value& v) {
        if (!self) return;
        QString title = text(v);
        // A link whose target was deleted has no description: say what became of it rather
        // than leave the line blank.
        if (title.isEmpty())
          if (auto m = weakModel.lock())
            if (auto link = std::dynamic_pointer_cast<BTLinkTimeObjectAction>(m->actionObject());
                link && !link->targetTimeObject())
              title = QString::fromStdString(
                  tw::localized("The linked alarm, timer, or stopwatch was deleted"));
        self->titleLabel_->setText(title);
        self->nameControls(title);
      });
  rac_valuesForKeyPath(model, "triggerDescription", nullptr)
      ->takeUntil(until)
      ->subscribeNext([self](const tw::Value& v) {
        if (self) self->subtitleLabel_->setText(text(v));
      });
}

void ActionListItemTableCellView::enableOrDisableAction() {
  auto object = viewModel();
  auto model = std::dynamic_pointer_cast<BTActionObjectListItemViewModel>(object);
  if (!model) {
    // An unbound cell has nothing to write to; the switch goes back to showing nothing.
    if (!object) {
      enabledSwitch_->setCheckedState(false);
      return;
    }
    tw::raiseClassKindMismatch(object.get(), "BTActionObjectListItemViewModel");
  }
  const bool on = enabledSwitch_->checked();
  if (model->actionObject()) model->actionObject()->setEnabled(on);
  setLabelsEnabled(on);
}

void ActionListItemTableCellView::showActionsEditor() {
  if (actionButtonHandler_) actionButtonHandler_();
}
