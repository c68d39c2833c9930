#include "app/Source/MasterList/MasterListAlarmEditingPopover.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QLayout>
#include <QPointer>

#include "core/Source/Library/BTMeridiemUtil.h"
#include "core/Source/ViewModels/BTAlarmListItemEditingViewModel.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACObjectSignals.h"

std::shared_ptr<BTAlarmListItemEditingViewModel> MasterListAlarmEditingPopover::alarmViewModel()
    const {
  return std::dynamic_pointer_cast<BTAlarmListItemEditingViewModel>(viewModel_);
}

std::shared_ptr<BTTimeObjectListItemEditingViewModel>
MasterListAlarmEditingPopover::createViewModel() {
  return BTTimeObjectListItemEditingViewModel::create<BTAlarmListItemEditingViewModel>(timeObject_);
}

void MasterListAlarmEditingPopover::loadExtraViews(QWidget* root) {
  meridiemSegmentView_ = new QWidget;
  auto* column = new QVBoxLayout(meridiemSegmentView_);
  column->setContentsMargins(0, 0, 0, 0);
  meridiemField_ = new QPushButton;
  meridiemField_->setFlat(true);
  meridiemField_->setFixedWidth(56);
  meridiemField_->setAccessibleDescription(
      QString::fromStdString(tw::localized("Switches between AM and PM")));
  // A box like the fields beside it: it is switched by a click.
  meridiemField_->setStyleSheet(
      "QPushButton { color: white; border: 1px solid rgba(255,255,255,0.35); border-radius: 4px;"
      " background: rgba(255,255,255,0.08); padding: 3px; }"
      "QPushButton:hover { border-color: rgba(255,255,255,0.65); }"
      "QPushButton:disabled { color: rgba(255,255,255,0.4); }"
      "QPushButton:focus { border: 1px solid white; }");
  column->addWidget(meridiemField_);
  column->addWidget(new QLabel(""));
  unitsRow_->layout()->addWidget(meridiemSegmentView_);

  auto* weekdays = new QWidget;
  auto* row = new QHBoxLayout(weekdays);
  row->setContentsMargins(12, 0, 12, 0);
  static const char* const names[] = {"S", "M", "T", "W", "T", "F", "S"};
  // The letters repeat; the names say which day each button repeats the alarm on.
  static const char* const days[] = {
      "Repeat on Sunday",   "Repeat on Monday", "Repeat on Tuesday", "Repeat on Wednesday",
      "Repeat on Thursday", "Repeat on Friday", "Repeat on Saturday"};
  for (int i = 0; i < 7; ++i) {
    auto* button = new QPushButton(QString::fromStdString(tw::localized(names[i])));
    button->setAccessibleName(QString::fromStdString(tw::localized(days[i])));
    button->setCheckable(true);
    button->setFixedSize(28, 24);
    button->setStyleSheet(
        "QPushButton { color: white; border: 1px solid rgba(255,255,255,0.35);"
        " border-radius: 4px; background: transparent; }"
        "QPushButton:checked { color: #1d1d22; background: rgba(255,255,255,0.85);"
        " border-color: white; }"
        "QPushButton:disabled { color: rgba(255,255,255,0.4); }"
        // The focus is a wide ring in the accent colour: on and off differ by their fill.
        "QPushButton:focus { border: 2px solid palette(highlight); }");
    row->addWidget(button);
    weekdayButtons_[i] = button;
  }
  root->layout()->addWidget(weekdays);
}

void MasterListAlarmEditingPopover::viewDidLoad() {
  MasterListItemEditingPopover::viewDidLoad();
  std::weak_ptr<MasterListAlarmEditingPopover> weak =
      std::dynamic_pointer_cast<MasterListAlarmEditingPopover>(selfResponder());
  QObject::connect(meridiemField_, &QPushButton::clicked, meridiemField_, [weak] {
    if (auto s = weak.lock()) s->meridiemFieldClicked();
  });
  for (auto* button : weekdayButtons_)
    QObject::connect(button, &QPushButton::toggled, button, [weak, button] {
      if (auto s = weak.lock()) s->weekdaySettingChanged(button);
    });
  auto model = alarmViewModel();
  hoursRange_ = {static_cast<int>(model->hourSettingMinimum()),
                 static_cast<int>(model->hourSettingMaximum())};
  hoursField_->setValidator(new QIntValidator(hoursRange_.first, hoursRange_.second, hoursField_));
}

void MasterListAlarmEditingPopover::bindViewModel() {
  MasterListItemEditingPopover::bindViewModel();
  auto model = alarmViewModel();
  QPointer<QWidget> segment(meridiemSegmentView_);
  rac_valuesForKeyPath(model, "meridiemControlHidden", nullptr)
      ->subscribeNext([segment](const tw::Value& v) {
        if (segment) segment->setHidden(v.boolValue());
      });
  std::vector<QPointer<QWidget>> controls{meridiemField_};
  for (auto* button : weekdayButtons_) controls.emplace_back(button);
  for (auto& control : controls)
    rac_valuesForKeyPath(model, "editingEnabled", nullptr)
        ->subscribeNext([control](const tw::Value& v) {
          if (control) control->setEnabled(v.boolValue());
        });
  QPointer<QPushButton> field(meridiemField_);
  rac_valuesForKeyPath(model, "meridiemSetting", nullptr)
      ->subscribeNext([field](const tw::Value& v) {
        if (!field) return;
        const auto meridiem = v.intIfInt();
        const auto text =
            meridiem && *meridiem >= 0
                ? BTMeridiemUtil::meridiemDescription(static_cast<unsigned long>(*meridiem))
                : std::nullopt;
        field->setText(QString::fromStdString(text.value_or("")));
      });
  const bool days[] = {model->sundaySetting(),    model->mondaySetting(),   model->tuesdaySetting(),
                       model->wednesdaySetting(), model->thursdaySetting(), model->fridaySetting(),
                       model->saturdaySetting()};
  for (int i = 0; i < 7; ++i) {
    const QSignalBlocker block(weekdayButtons_[i]);
    weekdayButtons_[i]->setChecked(days[i]);
  }
}

void MasterListAlarmEditingPopover::meridiemFieldClicked() {
  auto model = alarmViewModel();
  if (!model || !model->isEditingEnabled()) return;
  const auto meridiem = model->meridiemSetting();
  if (meridiem == 0)
    model->setMeridiemSetting(1);
  else if (meridiem == 1)
    model->setMeridiemSetting(0);
}

void MasterListAlarmEditingPopover::weekdaySettingChanged(QObject* sender) {
  auto model = alarmViewModel();
  if (!model) return;
  using Setter = void (BTAlarmListItemEditingViewModel::*)(bool);
  static const Setter setters[] = {&BTAlarmListItemEditingViewModel::setSundaySetting,
                                   &BTAlarmListItemEditingViewModel::setMondaySetting,
                                   &BTAlarmListItemEditingViewModel::setTuesdaySetting,
                                   &BTAlarmListItemEditingViewModel::setWednesdaySetting,
                                   &BTAlarmListItemEditingViewModel::setThursdaySetting,
                                   &BTAlarmListItemEditingViewModel::setFridaySetting,
                                   &BTAlarmListItemEditingViewModel::setSaturdaySetting};
  for (int i = 0; i < 7; ++i)
    if (sender && sender == weekdayButtons_[i])
      ((*model).*setters[i])(weekdayButtons_[i]->isChecked());
}
