#include "app/Source/ActionEditor/ActionObjectEditorView.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <algorithm>

#include "app/Source/ActionEditor/PopUpButton.h"
#include "app/Source/Extensions/RACTextSignal.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"

ActionObjectEditorView::ActionObjectEditorView() : widget_(new QWidget), form_(new QFormLayout) {
  widget_->setObjectName("ActionObjectEditorView");
  form_->setContentsMargins(0, 4, 0, 4);
  form_->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form_->setHorizontalSpacing(10);
  form_->setVerticalSpacing(8);
  widget_->setLayout(form_);
}

ActionObjectEditorView::~ActionObjectEditorView() {
  if (widget_ && !widget_->parent()) delete widget_.data();
}

void ActionObjectEditorView::loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) {
  setAndNotify("actionBuilder", actionBuilder_, builder);
}

void ActionObjectEditorView::setShouldSave(bool shouldSave) {
  setAndNotify("shouldSave", shouldSave_, shouldSave);
}

void ActionObjectEditorView::addRow(const char* label, QWidget* field) {
  auto* text = new QLabel(QString::fromStdString(tw::localized(label)));
  // The same label column as the editor's own rows above.
  text->setFixedWidth(labelColumnWidth(text->font()));
  text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  text->setBuddy(field);
  // Assistive technologies read the field by its label; a button keeps its own text (the choice
  // it shows) as its name and has the label as its description.
  const QString spoken = text->text().remove(QLatin1Char(':')).trimmed();
  auto* button = qobject_cast<QAbstractButton*>(field);
  if (button && !button->text().isEmpty())
    field->setAccessibleDescription(spoken);
  else if (field->accessibleName().isEmpty())
    field->setAccessibleName(spoken);
  form_->addRow(text, field);
}

void ActionObjectEditorView::addPathRow(const char* label, QLabel* value, QPushButton* choose) {
  choose->setText(QString::fromStdString(tw::localized("Choose…")));
  value->setTextFormat(Qt::PlainText);
  value->setMinimumWidth(160);
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(value, 1);
  layout->addWidget(choose);
  addRow(label, row);
}

int ActionObjectEditorView::labelColumnWidth(const QFont& font) {
  static const char* const labels[] = {
      "Action:", "Trigger:", "Duration:", "Application:", "Color:", "Event:",
      "File:",   "Message:", "Mode:",     "Operation:",   "Sound:", "Target:"};
  const QFontMetrics metrics(font);
  int width = 70;
  for (const char* label : labels)
    width = std::max(width,
                     metrics.horizontalAdvance(QString::fromStdString(tw::localized(label))) + 2);
  return width;
}

std::shared_ptr<RACSignal> ActionObjectEditorView::builderValues(const std::string& keyPath) {
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "actionBuilder." + keyPath, self);
}

void ActionObjectEditorView::bindOptionalText(QLineEdit* field, const std::string& key) {
  QPointer<QLineEdit> weakField(field);
  builderValues(key)->subscribeNext([weakField](const tw::Value& v) {
    const QString text = v.string() ? QString::fromStdString(*v.string()) : QString();
    // Rewriting the text the user is typing would move the cursor.
    if (weakField && weakField->text() != text) weakField->setText(text);
  });
  std::weak_ptr<BTActionBuilder> weakBuilder = actionBuilder_;
  rac_textSignal(field)
      ->takeUntil(rac_willDeallocSignal(shared_from_this()))
      ->subscribeNext([weakBuilder, key](const tw::Value& v) {
        auto builder = weakBuilder.lock();
        if (!builder) return;
        const auto text =
            tw::app::optionalOfText(v.string() ? QString::fromStdString(*v.string()) : "");
        const tw::Value current = builder->valueForKey(key);
        const std::optional<std::string> old =
            current.string() ? std::optional<std::string>(*current.string()) : std::nullopt;
        if (old != text) builder->setValueForKey(text ? tw::Value(*text) : tw::Value(), key);
      });
}

bool ActionObjectEditorView::fillTagMenu(tw::app::PopUpButton* button,
                                         const std::vector<TagItem>& items, long value) {
  button->removeAllItems();
  for (const auto& item : items) {
    auto* action =
        button->addItemWithTitle(QString::fromStdString(tw::localized(item.title)), item.tag);
    action->setEnabled(item.enabled);
  }
  if (button->selectItemWithTag(static_cast<int>(value))) return true;
  // The handler writes the selected (first) item's tag, so the builder never keeps a value the
  // menu cannot show.
  button->selectItem(button->items().empty() ? nullptr : button->items().front());
  return false;
}

bool ActionObjectEditorView::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "actionBuilder") return out = tw::Value(actionBuilder_), true;
  if (key == "shouldSave") return out = shouldSave_, true;
  return tw::Object::getValueForKey(key, out);
}

bool ActionObjectEditorView::setValueForKeyImpl(std::string_view key, const tw::Value& value) {
  if (key == "shouldSave") return shouldSave_ = value.boolValue(), true;
  return tw::Object::setValueForKeyImpl(key, value);
}

std::optional<std::string> tw::app::optionalOfText(const QString& text) {
  if (text.isEmpty()) return std::nullopt;
  return text.toStdString();
}
