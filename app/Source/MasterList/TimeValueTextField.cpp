#include "app/Source/MasterList/TimeValueTextField.h"

#include <QKeyEvent>
#include <QPointer>

class TimeValueTextField::Delegate : public tw::ui::TouchBarDelegate {
 public:
  explicit Delegate(TimeValueTextField* field) : field(field) {}
  std::shared_ptr<tw::ui::TouchBarItem> makeItemForIdentifier(tw::ui::TouchBar&,
                                                              const std::string& id) override {
    return field ? field->makeItemForIdentifier(id) : nullptr;
  }
  QPointer<TimeValueTextField> field;
};

TimeValueTextField::TimeValueTextField(QWidget* parent)
    : BTTextField(parent), delegate_(std::make_shared<Delegate>(this)) {}

TimeValueTextField::~TimeValueTextField() = default;

std::shared_ptr<tw::ui::TouchBar> TimeValueTextField::makeTouchBar() {
  auto bar = std::make_shared<tw::ui::TouchBar>();
  bar->setDelegate(delegate_);
  bar->customizationIdentifier = kEditingBarIdentifier;
  bar->defaultItemIdentifiers = {tw::ui::TouchBarItemIdentifierFlexibleSpace, kMinusItemIdentifier,
                                 kPlusItemIdentifier, tw::ui::TouchBarItemIdentifierFlexibleSpace,
                                 tw::ui::TouchBarItemIdentifierOtherItemsProxy};
  return bar;
}

std::shared_ptr<tw::ui::TouchBarItem> TimeValueTextField::makeItemForIdentifier(
    const std::string& identifier) {
  QPointer<TimeValueTextField> self(this);
  auto item = std::make_shared<ActionItem>(identifier);
  if (identifier == kMinusItemIdentifier) {
    item->imageName = "NSRemoveTemplate";
    item->action = [self](int) {
      if (self) self->onTimeValueMinusAction();
    };
  } else if (identifier == kPlusItemIdentifier) {
    item->imageName = "NSAddTemplate";
    item->action = [self](int) {
      if (self) self->onTimeValuePlusAction();
    };
  } else if (identifier == kPresetItemIdentifier) {
    item->segmentLabels = {"5", "10", "15", "30", "45"};
    std::weak_ptr<ActionItem> weak = item;
    item->action = [self, weak](int segment) {
      auto it = weak.lock();
      if (self && it && segment >= 0 && segment < static_cast<int>(it->segmentLabels.size()))
        self->onTimeValuePresetSegmentSelected(it->segmentLabels[segment]);
    };
  } else {
    return nullptr;
  }
  return item;
}

namespace {
long valueOf(const QString& text) {
  // Text that is not a number reads as 0; leading digits count, as the system's scanners do.
  bool ok = false;
  const long value = text.trimmed().toLong(&ok);
  if (ok) return value;
  QString digits;
  for (const QChar c : text.trimmed()) {
    if (c.isDigit() || (digits.isEmpty() && (c == '-' || c == '+')))
      digits += c;
    else
      break;
  }
  return digits.toLong();
}
}  // namespace

void TimeValueTextField::onTimeValuePlusAction() {
  overrideStringValue(std::to_string(valueOf(text()) + 1));
}

void TimeValueTextField::onTimeValueMinusAction() {
  overrideStringValue(std::to_string(valueOf(text()) - 1));
}

void TimeValueTextField::onTimeValuePresetSegmentSelected(const std::string& label) {
  overrideStringValue(label);
}

void TimeValueTextField::overrideStringValue(const std::optional<std::string>& value) {
  const QString next = value ? QString::fromStdString(*value) : text();
  if (next == text()) return;
  setText(next);
  Q_EMIT textEdited(next);
}

void TimeValueTextField::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Up) return onTimeValuePlusAction();
  if (event->key() == Qt::Key_Down) return onTimeValueMinusAction();
  BTTextField::keyPressEvent(event);
}
