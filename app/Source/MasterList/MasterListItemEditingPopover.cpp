#include "app/Source/MasterList/MasterListItemEditingPopover.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QVBoxLayout>

#include "app/Source/Controls/ElidingLabel.h"
#include "app/Source/Extensions/RACTextSignal.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/ViewModels/BTTimeObjectListItemEditingViewModel.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/ui/NamedResources.h"

MasterListItemEditingPopover::MasterListItemEditingPopover(std::shared_ptr<BTTimeObject> object)
    : timeObject_(std::move(object)) {}

MasterListItemEditingPopover::~MasterListItemEditingPopover() = default;

void MasterListItemEditingPopover::viewDidDisappear() {
  tw::ui::ViewController::viewDidDisappear();
  // Closing the popover ends the edit. An object whose store has closed (at quit) has nothing
  // left to save.
  if (timeObject_ && timeObject_->managedObjectContext())
    tw::defaultCoreDataProvider()->requestSave();
}

void MasterListItemEditingPopover::loadView() {
  auto* root = new QWidget;
  auto* layout = new QVBoxLayout(root);
  layout->setContentsMargins(0, 0, 0, 10);
  headerView_ = new QWidget;
  headerView_->setObjectName("PopoverHeader");
  headerView_->setAttribute(Qt::WA_StyledBackground);
  auto* header = new QHBoxLayout(headerView_);
  titleLabel_ = new ElidingLabel;
  titleLabel_->setAlignment(Qt::AlignCenter);
  // The fields set the popover's width; a long title is cut to it.
  titleLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  header->addWidget(titleLabel_);
  layout->addWidget(headerView_);
  unitsRow_ = new QWidget;
  auto* units = new QHBoxLayout(unitsRow_);
  units->setContentsMargins(12, 4, 12, 4);
  const auto segment = [&](const char* caption, QWidget*& view, TimeValueTextField*& field) {
    view = new QWidget;
    auto* column = new QVBoxLayout(view);
    column->setContentsMargins(0, 0, 0, 0);
    field = new TimeValueTextField;
    field->setAlignment(Qt::AlignCenter);
    field->setFixedWidth(56);
    QFont digits = field->font();
    digits.setPointSizeF(digits.pointSizeF() * 1.4);
    field->setFont(digits);
    // A visible box on the dark panel, brighter under the pointer and while edited.
    field->setBorderColor(QColor(255, 255, 255, 90));
    field->setBackgroundColor(QColor(255, 255, 255, 20));
    field->setHoverBorderColor(QColor(255, 255, 255, 170));
    field->setHoverBackgroundColor(QColor(255, 255, 255, 36));
    auto* label = new QLabel(QString::fromStdString(tw::localized(caption)));
    label->setAlignment(Qt::AlignCenter);
    field->setAccessibleName(label->text());
    label->setStyleSheet("color: rgba(255, 255, 255, 170);");
    column->addWidget(field);
    column->addWidget(label);
    units->addWidget(view);
  };
  segment("hours", hoursSegmentView_, hoursField_);
  segment("minutes", minutesSegmentView_, minutesField_);
  segment("seconds", secondsSegmentView_, secondsField_);
  layout->addWidget(unitsRow_);
  loadExtraViews(root);
  setView(root);
}

void MasterListItemEditingPopover::viewDidLoad() {
  const QColor header = tw::ui::colorNamed("OverlayDark20").value_or(QColor(0, 0, 0, 51));
  headerView_->setStyleSheet(
      QString("QWidget#PopoverHeader { background: %1; }").arg(header.name(QColor::HexArgb)));
  viewModel_ = createViewModel();
  bindViewModel();
}

std::shared_ptr<BTTimeObjectListItemEditingViewModel>
MasterListItemEditingPopover::createViewModel() {
  return BTTimeObjectListItemEditingViewModel::create(timeObject_);
}

namespace {
QString text(const tw::Value& v) {
  const std::string* s = v.string();
  return s ? QString::fromStdString(*s) : QString();
}
}  // namespace

void MasterListItemEditingPopover::bindViewModel() {
  auto model = viewModel_;
  hoursSegmentView_->setHidden(model->isHourControlHidden());
  minutesSegmentView_->setHidden(model->isMinuteControlHidden());
  secondsSegmentView_->setHidden(model->isSecondControlHidden());
  // The view model outlives none of these widgets' owner (this controller), but the widgets may
  // go first with the popover: guard each one.
  for (TimeValueTextField* f : {hoursField_, minutesField_, secondsField_}) {
    QPointer<TimeValueTextField> field(f);
    rac_valuesForKeyPath(model, "editingEnabled", nullptr)
        ->subscribeNext([field](const tw::Value& v) {
          if (field) field->setEnabled(v.boolValue());
        });
  }
  // The header names the popover too (as its view's window title) for assistive technologies.
  QPointer<QLabel> title(titleLabel_);
  QPointer<QWidget> root(headerView_->parentWidget());
  rac_valuesForKeyPath(model, "timeObject.title", nullptr)
      ->subscribeNext([title, root](const tw::Value& v) {
        const QString header =
            QString::fromStdString(tw::localizedFormat("Edit %@", text(v).toStdString()));
        if (title) title->setText(header);
        if (root) root->setWindowTitle(header);
      });
  std::weak_ptr<BTTimeObjectListItemEditingViewModel> weak = model;
  const auto bindUnit = [&](TimeValueTextField* f, const char* key,
                            void (BTTimeObjectListItemEditingViewModel::*set)(std::string_view)) {
    QPointer<TimeValueTextField> field(f);
    rac_valuesForKeyPath(model, key, nullptr)->subscribeNext([field](const tw::Value& v) {
      if (field && field->text() != text(v)) field->setText(text(v));
    });
    rac_textSignal(f)->distinctUntilChanged()->subscribeNext([weak, set](const tw::Value& v) {
      if (auto m = weak.lock(); m && v.string()) ((*m).*set)(*v.string());
    });
  };
  bindUnit(hoursField_, "hourSetting", &BTTimeObjectListItemEditingViewModel::setHourSetting);
  bindUnit(minutesField_, "minuteSetting", &BTTimeObjectListItemEditingViewModel::setMinuteSetting);
  bindUnit(secondsField_, "secondSetting", &BTTimeObjectListItemEditingViewModel::setSecondSetting);
}
