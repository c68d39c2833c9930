#include "app/Source/Settings/SettingsPaneLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Source/Controls/PopUpListAccessible.h"
#include "app/Source/Settings/SettingsCheckBox.h"

namespace tw::app {

namespace {
constexpr int kIndent = 20;
constexpr int kPaneWidth = 440;
}  // namespace

SettingsPaneLayout::SettingsPaneLayout() : view_(new QWidget), column_(new QVBoxLayout(view_)) {
  column_->setContentsMargins(24, 18, 24, 20);
  column_->setSpacing(6);
  view_->setMinimumWidth(kPaneWidth);
}

void SettingsPaneLayout::addSection(const std::string& title) {
  if (!firstSection_) column_->addSpacing(10);
  firstSection_ = false;
  auto* label = new QLabel(QString::fromStdString(title), view_);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  column_->addWidget(label);
}

std::shared_ptr<tw::SettingsCheckBox> SettingsPaneLayout::addCheckBox(const std::string& title,
                                                                      int indent) {
  auto* box = new QCheckBox(QString::fromStdString(title), view_);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(kIndent * (indent + 1) - kIndent / 2, 0, 0, 0);
  row->addWidget(box);
  row->addStretch(1);
  column_->addLayout(row);
  return tw::SettingsCheckBox::create(box);
}

QComboBox* SettingsPaneLayout::addPopUp(const std::string& label) {
  auto* row = new QHBoxLayout;
  row->setContentsMargins(kIndent / 2, 0, 0, 0);
  auto* caption = new QLabel(QString::fromStdString(label), view_);
  row->addWidget(caption);
  // Its list is read only while it is open (made before the combo box asks for it).
  PopUpListAccessible::install();
  auto* popUp = new QComboBox(view_);
  // Read out by its caption, not by the choice it shows.
  caption->setBuddy(popUp);
  popUp->setAccessibleName(caption->text().remove(QLatin1Char(':')).trimmed());
  row->addWidget(popUp);
  row->addStretch(1);
  column_->addLayout(row);
  return popUp;
}

QLabel* SettingsPaneLayout::addText(const std::string& text) {
  auto* label = new QLabel(QString::fromStdString(text), view_);
  label->setWordWrap(true);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(kIndent / 2, 0, 0, 0);
  row->addWidget(label, 1);
  column_->addLayout(row);
  return label;
}

QPushButton* SettingsPaneLayout::addButton(const std::string& title) {
  auto* button = new QPushButton(QString::fromStdString(title), view_);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(kIndent / 2, 0, 0, 0);
  row->addWidget(button);
  row->addStretch(1);
  column_->addLayout(row);
  return button;
}

QWidget* SettingsPaneLayout::finish() {
  column_->addStretch(1);
  return view_;
}

}  // namespace tw::app
