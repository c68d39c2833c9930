#include "app/Source/MasterList/MasterListItemTableCellView.h"

#include <functional>
#include <utility>

#include <QGridLayout>
#include <QKeyEvent>
#include <QPainter>

#include "app/Source/Controls/TextStyle.h"
#include "app/Source/Extensions/RACTextSignal.h"
#include "core/Source/Library/BTTypeChecks.h"
#include "core/Source/Model/BTColor.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/ViewModels/BTAlarmListItemViewModel.h"
#include "core/Source/ViewModels/BTTimeObjectListItemViewModel.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/ui/NamedResources.h"

namespace {

QColor qColor(const BTColor& c) {
  return QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                          static_cast<float>(c.blue), static_cast<float>(c.alpha));
}

QString text(const tw::Value& value) {
  const std::string* s = value.string();
  return s ? QString::fromStdString(*s) : QString();
}

// The title field keeps the Return that ends an edit: passed on, the list would take it as its
// own Return and open the value popover over the row just renamed. Escape hands the edit back.
// It shows the row's colour through it, darkened while it is being edited.
class TitleField : public ElidingLineEdit {
 public:
  TitleField(QWidget* parent, std::function<void()> cancel)
      : ElidingLineEdit(parent), cancel_(std::move(cancel)) {
    QPalette clear = palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    setPalette(clear);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    if (hasFocus()) QPainter(this).fillRect(rect(), tw::app::rgba(0, 0, 0, 0.25));
    ElidingLineEdit::paintEvent(event);
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape && !testAttribute(Qt::WA_TransparentForMouseEvents)) {
      cancel_();
      return event->accept();
    }
    QLineEdit::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) event->accept();
  }

 private:
  std::function<void()> cancel_;
};

}  // namespace

MasterListItemTableCellView::MasterListItemTableCellView(QWidget* parent)
    : BindableTableCellView(parent),
      stateIndicatorView_(new IndicatorView(this)),
      titleLabel_(new TitleField(this, [this] { cancelTitleEditing(); })),
      subtitleLabel_(new QLabel(this)),
      primaryDetailLabel_(new QLabel(this)),
      secondaryDetailLabel_(new QLabel(this)) {
  setIdentifier(kIdentifier);
  setAttribute(Qt::WA_TranslucentBackground);
  stateIndicatorView_->setObjectName("stateIndicator");
  stateIndicatorView_->setFixedSize(8, 8);
  titleLabel_->setFrame(false);
  titleLabel_->setObjectName("title");
  // Clicks on the title select the row; the field takes them only while it is being edited.
  titleLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
  titleLabel_->setFocusPolicy(Qt::NoFocus);
  QObject::connect(titleLabel_, &QLineEdit::editingFinished, titleLabel_,
                   [this] { endTitleEditing(); });
  tw::app::setTextStyle(titleLabel_, Qt::white, 14);
  tw::app::setTextStyle(subtitleLabel_, tw::app::rgba(255, 255, 255, 0.75), 12);
  tw::app::setTextStyle(primaryDetailLabel_, Qt::white, 14);
  tw::app::setTextStyle(secondaryDetailLabel_, tw::app::rgba(255, 255, 255, 0.75), 12);
  // The line edit keeps a small inner margin; the running value lines up with its text.
  subtitleLabel_->setContentsMargins(2, 0, 0, 0);
  primaryDetailLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  secondaryDetailLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(12, 4, 12, 4);
  layout->setHorizontalSpacing(8);
  layout->setVerticalSpacing(0);
  layout->addWidget(stateIndicatorView_, 0, 0, 2, 1, Qt::AlignVCenter);
  layout->addWidget(titleLabel_, 0, 1);
  layout->addWidget(subtitleLabel_, 1, 1);
  layout->addWidget(primaryDetailLabel_, 0, 2);
  layout->addWidget(secondaryDetailLabel_, 1, 2);
  layout->setColumnStretch(1, 1);
  prepareForReuse();
}

void MasterListItemTableCellView::setIndicatorColor(std::optional<QColor> color) {
  indicatorColor_ = color;
  stateIndicatorView_->setBorderColor(
      tw::ui::colorNamed("OverlayDark20").value_or(QColor(0, 0, 0, 51)));
  stateIndicatorView_->setFillColor(color);
}

void MasterListItemTableCellView::beginTitleEditing() {
  titleBeforeEditing_ = titleLabel_->wholeText();
  titleTyped_ = false;
  titleLabel_->beginEditing();
  titleLabel_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
  titleLabel_->setFocusPolicy(Qt::StrongFocus);
  titleLabel_->setFocus(Qt::OtherFocusReason);
  titleLabel_->selectAll();
}

void MasterListItemTableCellView::cancelTitleEditing() {
  // The title is written as it is typed; going back writes the title the edit began with.
  if (titleLabel_->wholeText() != titleBeforeEditing_) {
    titleLabel_->setText(titleBeforeEditing_);
    Q_EMIT titleLabel_->textEdited(titleBeforeEditing_);
  }
  endTitleEditing();
}

void MasterListItemTableCellView::endTitleEditing() {
  titleLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
  titleLabel_->setFocusPolicy(Qt::NoFocus);
  titleLabel_->deselect();
  if (titleLabel_->hasFocus()) titleLabel_->clearFocus();
  titleLabel_->endEditing();
  // A finished edit is the user's word: it is saved now, not with the next auto-save.
  if (!std::exchange(titleTyped_, false)) return;
  auto model = std::dynamic_pointer_cast<BTTimeObjectListItemViewModel>(viewModel());
  if (model && model->timeObject() && model->timeObject()->managedObjectContext())
    tw::defaultCoreDataProvider()->requestSave();
}

void MasterListItemTableCellView::prepareForReuse() {
  endTitleEditing();
  BindableTableCellView::prepareForReuse();
  titleLabel_->setWholeText("");
  subtitleLabel_->setText("");
  primaryDetailLabel_->setText("");
  secondaryDetailLabel_->setText("");
  setIndicatorColor(QColor(Qt::black));
}

void MasterListItemTableCellView::bindViewModel(const std::shared_ptr<tw::Object>& object) {
  BindableTableCellView::bindViewModel(object);
  auto model = std::dynamic_pointer_cast<BTTimeObjectListItemViewModel>(object);
  if (!model) tw::raiseClassKindMismatch(object.get(), "BTTimeObjectListItemViewModel");
  auto until = prepareForReuseSignal();
  auto values = [&](const char* keyPath) {
    return rac_valuesForKeyPath(model, keyPath, nullptr)->takeUntil(until);
  };
  QPointer<MasterListItemTableCellView> self(this);
  QPointer<ElidingLineEdit> title(titleLabel_);
  values("timeObject.title")->subscribeNext([title](const tw::Value& v) {
    if (title && !title->isEditing()) title->setWholeText(text(v));
  });
  std::weak_ptr<BTTimeObjectListItemViewModel> weakModel = model;
  rac_textSignal(titleLabel_)
      ->distinctUntilChanged()
      ->takeUntil(until)
      ->subscribeNext([self, weakModel](const tw::Value& v) {
        auto m = weakModel.lock();
        if (!m || !m->timeObject() || !v.string()) return;
        m->timeObject()->setTitle(*v.string());
        if (self) self->titleTyped_ = true;
      });
  QPointer<QLabel> subtitle(subtitleLabel_);
  values("dynamicValueDescription")->subscribeNext([subtitle](const tw::Value& v) {
    if (subtitle) subtitle->setText(text(v));
  });
  values("dynamicValueDescriptionHidden")->subscribeNext([subtitle](const tw::Value& v) {
    if (subtitle) subtitle->setVisible(!v.boolValue());
  });
  QPointer<QLabel> primary(primaryDetailLabel_);
  values("staticValueDescription")->subscribeNext([primary](const tw::Value& v) {
    if (primary) primary->setText(text(v));
  });
  values("stateColor")->subscribeNext([self](const tw::Value& v) {
    if (!self) return;
    const auto argb = v.intIfInt();
    self->setIndicatorColor(
        argb ? std::optional<QColor>(qColor(BTColor::fromARGB(static_cast<std::uint32_t>(*argb))))
             : std::nullopt);
  });
  if (std::dynamic_pointer_cast<BTAlarmListItemViewModel>(model)) {
    QPointer<QLabel> secondary(secondaryDetailLabel_);
    values("weekdayDescription")->subscribeNext([secondary](const tw::Value& v) {
      if (secondary) secondary->setText(text(v));
    });
  }
}
