#include "app/Source/TimingDisplay/TimingDisplayViewController.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <utility>

#include "app/Source/Controls/FlatButton.h"
#include "app/Source/TimingDisplay/TimingDisplayAccessible.h"
#include "app/Source/TimingDisplay/TimingDisplayRootView.h"
#include "app/Source/TimingDisplay/TimingDisplayView.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Model/BTTiming.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Settings/BTSettingsNotification.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/ViewModels/BTAlarmListItemViewModel.h"
#include "core/Source/ViewModels/BTStopwatchListItemViewModel.h"
#include "core/Source/ViewModels/BTTimeObjectTimingDisplayViewModel.h"
#include "core/Source/ViewModels/BTTimerListItemViewModel.h"
#include "core/Source/ViewModels/BTTimerTimingDisplayViewModel.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "platform/inject/Injection.h"
#include "platform/ui/Animation.h"
#include "platform/ui/NamedResources.h"
#include "platform/ui/TableView.h"

namespace {

constexpr std::int64_t kRunning = 20;

TimingDisplayViewController::ActionsListFactory& actionsListFactory() {
  static TimingDisplayViewController::ActionsListFactory factory;
  return factory;
}

QColor named(const char* name, QColor fallback) {
  return tw::ui::colorNamed(name).value_or(fallback);
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

void TimingDisplayViewController::setActionsListFactory(ActionsListFactory factory) {
  actionsListFactory() = std::move(factory);
}

TimingDisplayViewController::TimingDisplayViewController() = default;
TimingDisplayViewController::~TimingDisplayViewController() {
  // The view can outlive its controller (its parent owns it, e.g. through a pane transition).
  if (isViewLoaded())
    if (auto* root = dynamic_cast<tw::TimingDisplayRootView*>(view())) root->detach();
  bindings_.clear();
  if (displayViewModel_) displayViewModel_->setTimingValueUpdatedHandler(nullptr);
}

void TimingDisplayViewController::loadView() {
  auto* root = new tw::TimingDisplayRootView(this);
  root->setObjectName("TimingDisplay");
  root->setAttribute(Qt::WA_TranslucentBackground);
  auto* layout = new QVBoxLayout(root);
  // The window's title bar lies over the top of the content.
  layout->setContentsMargins(16, 44, 16, 12);
  layout->setSpacing(8);

  titleField_ = new ElidingLineEdit;
  titleField_->setObjectName("TitleField");
  // Style sheets sit on the two widgets they dress, not on the pane: there they would reach the
  // actions list below and have every row of it polished by the style-sheet engine.
  titleField_->setStyleSheet(
      "QLineEdit { color: white; background: transparent; border: none; font-size: 26px;"
      " font-weight: 300; border-radius: 4px; }"
      "QLineEdit:focus { border: 1px solid rgba(255,255,255,0.6); }");
  titleField_->setAlignment(Qt::AlignCenter);
  titleField_->setFrame(false);
  titleField_->setFixedAccessibleName(qs(tw::localized("Title")));
  layout->addWidget(titleField_);

  displayView_ = new TimingDisplayView;
  displayView_->setObjectName("DisplayView");
  TimingDisplayAccessible::install();
  // As wide as its segments need (less when the pane is narrower), centred in the pane.
  displayView_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
  auto* displayRow = new QHBoxLayout;
  displayRow->addStretch(1);
  displayRow->addWidget(displayView_);
  displayRow->addStretch(1);
  // The display takes the height it needs first (less when the pane is short, as far as its
  // minimum); the actions list, open, takes the rest.
  layout->addLayout(displayRow);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(16);
  auto makeButton = [](const char* name) {
    auto* button = new FlatButton;
    button->setObjectName(name);
    // Reached with Tab; clicks leave the focus on the pane, whose Space starts and pauses.
    button->setFocusPolicy(Qt::TabFocus);
    button->setMinimumSize(120, 36);
    return button;
  };
  startButton_ = makeButton("StartButton");
  resetButton_ = makeButton("ResetButton");
  if (auto* flat = dynamic_cast<FlatButton*>(startButton_.data())) {
    flat->setButtonColor(named("TimingStateGreenDim", QColor(0x2e, 0x9d, 0x4f, 0xcc)));
    flat->setActiveButtonColor(named("TimingStateGreen", QColor(0x34, 0xc7, 0x59)));
  }
  if (auto* flat = dynamic_cast<FlatButton*>(resetButton_.data())) {
    flat->setButtonColor(named("TimingStateRedDim", QColor(0xc0, 0x39, 0x2b, 0xcc)));
    flat->setActiveButtonColor(named("TimingStateRed", QColor(0xff, 0x3b, 0x30)));
  }
  buttons->addStretch(1);
  buttons->addWidget(startButton_);
  buttons->addWidget(resetButton_);
  buttons->addStretch(1);
  layout->addLayout(buttons);

  hideOrRevealActionsButton_ = new QToolButton;
  hideOrRevealActionsButton_->setObjectName("FoldButton");
  hideOrRevealActionsButton_->setStyleSheet(
      "QToolButton { color: rgba(255,255,255,0.7); background: transparent; border: none;"
      " border-radius: 4px; font-size: 14px; }"
      "QToolButton:focus { border: 1px solid rgba(255,255,255,0.85); }");
  hideOrRevealActionsButton_->setFocusPolicy(Qt::TabFocus);
  layout->addWidget(hideOrRevealActionsButton_, 0, Qt::AlignHCenter);

  // The time object's actions list is shown in here (see setActionsListFactory).
  actionsContainerView_ = new QWidget;
  actionsContainerView_->setObjectName("ActionsContainer");
  // Two rows and the footer at the least: room for the display even at the window's minimum size.
  actionsContainerView_->setMinimumHeight(120);
  actionsContainerView_->setLayout(new QVBoxLayout);
  actionsContainerView_->layout()->setContentsMargins(0, 0, 0, 0);
  actionsContainerView_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
  layout->addWidget(actionsContainerView_, 1);
  setView(root);
}

void TimingDisplayViewController::viewDidLoad() {
  timingController_ = tw::defaultComponentForType<BTTimingController>();
  settingsProvider_ = tw::defaultComponentForType<BTSettingsProvider>();
  attachToWidget(view());
  std::weak_ptr<tw::ui::Responder> weak = selfResponder();
  auto self = [weak] { return std::static_pointer_cast<TimingDisplayViewController>(weak.lock()); };
  QObject::connect(startButton_, &QPushButton::clicked, startButton_, [self] {
    if (auto s = self()) s->startTiming();
  });
  QObject::connect(resetButton_, &QPushButton::clicked, resetButton_, [self] {
    if (auto s = self()) s->resetTiming();
  });
  QObject::connect(hideOrRevealActionsButton_, &QToolButton::clicked, hideOrRevealActionsButton_,
                   [self] {
                     if (auto s = self()) s->hideOrRevealActions();
                   });
  QObject::connect(titleField_, &QLineEdit::textEdited, titleField_, [self](const QString& text) {
    auto s = self();
    if (!s || !s->timeObject_) return;
    const std::string title = text.toStdString();
    if (s->timeObject_->title() != title) s->timeObject_->setTitle(title);
    s->titleTyped_ = true;
  });
  // A finished edit is the user's word: it is saved now, not with the next auto-save.
  QObject::connect(titleField_, &QLineEdit::editingFinished, titleField_, [self] {
    auto s = self();
    if (!s || !std::exchange(s->titleTyped_, false)) return;
    if (s->timeObject_ && s->timeObject_->managedObjectContext())
      tw::defaultCoreDataProvider()->requestSave();
  });
  // Menu items take the buttons' titles and enabled states.
  setAction(
      "startTiming",
      [self](QObject*) {
        if (auto s = self()) s->startTiming();
      },
      [self](QAction* item) {
        auto s = self();
        if (!s || !s->startButton_) return false;
        if (item) item->setText(s->startButton_->text());
        return s->startButton_->isEnabled();
      });
  setAction(
      "resetTiming",
      [self](QObject*) {
        if (auto s = self()) s->resetTiming();
      },
      [self](QAction* item) {
        auto s = self();
        if (!s || !s->resetButton_) return false;
        if (item) item->setText(s->resetButton_->text());
        return s->resetButton_->isEnabled();
      });
  // A reset or paused stopwatch gets no ticks: without this a new accuracy would show only once
  // it runs again.
  settingsObserver_ = tw::NotificationCenter::defaultCenter()->addObserver(
      BTSettingsChangedNotification, nullptr, nullptr, [self](const tw::Notification& n) {
        if (!bt_settingKeyChanged(n, "stopwatchAccuracy")) return;
        if (auto s = self()) s->stopwatchAccuracyChanged();
      });
  if (timeObject_)
    onTimeObjectChanged();
  else
    onTimeObjectNotSet();
}

void TimingDisplayViewController::stopwatchAccuracyChanged() {
  if (displayView_ && timeObject_ && timeObject_->isStopwatchType())
    displayView_->setTimingValue(displayView_->timingValue());
}

void TimingDisplayViewController::viewWillAppear() {
  bool collapsed = false;
  if (auto settings = settingsProvider_.lock())
    if (auto bundle = settings->masterDetailBundle())
      collapsed = bundle->actionsListViewCollapsed();
  setActionsListViewHidden(collapsed, false);
  static_cast<tw::TimingDisplayRootView*>(view())->watchWindow();
}

void TimingDisplayViewController::viewDidAppear() {
  // A list walked with the arrow keys keeps the focus: each step shows a new pane here.
  QWidget* focused = view()->window()->focusWidget();
  if (!dynamic_cast<tw::ui::TableView*>(focused)) makeFirstResponder();
  windowShown();
}

bool TimingDisplayViewController::isFirstResponder() const {
  QWidget* root = isViewLoaded() ? const_cast<TimingDisplayViewController*>(this)->view() : nullptr;
  return root && root->window()->focusWidget() == root;
}

void TimingDisplayViewController::makeFirstResponder() {
  if (QWidget* root = view()) root->setFocus(Qt::OtherFocusReason);
}

void TimingDisplayViewController::setTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) {
  TW_MAIN_THREAD_ONLY("TimingDisplayViewController::setTimeObject");
  if (!timeObject) {
    if (isViewLoaded()) onTimeObjectNotSet();
    return;
  }
  if (timeObject == timeObject_) return;
  willChangeValueForKey("timeObject");
  timeObject_ = timeObject;
  didChangeValueForKey("timeObject");
  if (isViewLoaded()) onTimeObjectChanged();
}

void TimingDisplayViewController::startTiming() {
  TW_MAIN_THREAD_ONLY("TimingDisplayViewController::startTiming");
  if (controlViewModel_) controlViewModel_->startOrPause();
}

void TimingDisplayViewController::resetTiming() {
  TW_MAIN_THREAD_ONLY("TimingDisplayViewController::resetTiming");
  if (controlViewModel_) controlViewModel_->reset();
}

void TimingDisplayViewController::hideOrRevealActions() {
  if (!actionsContainerView_) return;
  setActionsListViewHidden(!actionsContainerView_->isHidden(), true);
}

void TimingDisplayViewController::setActionsListViewHidden(bool hidden, bool animated) {
  TW_MAIN_THREAD_ONLY("TimingDisplayViewController::setActionsListViewHidden");
  if (!actionsContainerView_) return;
  if (animated) {
    tw::ui::AnimationGroup::run(
        [this, hidden](tw::ui::AnimationContext& context) {
          context.allowsImplicitAnimation = true;
          context.duration = static_cast<double>(0.3f);
          actionsContainerView_->setHidden(hidden);
          if (view() && view()->layout()) view()->layout()->activate();
        },
        nullptr);
  } else {
    actionsContainerView_->setHidden(hidden);
  }
  const char* image = hidden ? "IconFoldUp" : "IconFoldDown";
  hideOrRevealActionsButton_->setProperty("imageName", image);
  const QIcon icon = tw::ui::imageNamed(image);
  if (icon.isNull())
    hideOrRevealActionsButton_->setText(hidden ? QStringLiteral("\u25B4")
                                               : QStringLiteral("\u25BE"));
  else
    hideOrRevealActionsButton_->setIcon(icon);
  hideOrRevealActionsButton_->setAccessibleName(
      qs(tw::localized(hidden ? "Show actions" : "Hide actions")));
  hideOrRevealActionsButton_->setToolTip(hideOrRevealActionsButton_->accessibleName());
  if (auto settings = settingsProvider_.lock())
    if (auto bundle = settings->masterDetailBundle()) bundle->setActionsListViewCollapsed(hidden);
}

std::shared_ptr<BTTimeObjectControlViewModel>
TimingDisplayViewController::createControlViewModel() {
  auto controller = timingController_.lock();
  return controller ? controller->timingControlForTimingObject(timeObject_) : nullptr;
}

std::shared_ptr<BTTimeObjectTimingDisplayViewModel>
TimingDisplayViewController::createDisplayViewModel() {
  if (timeObject_->isTimerType())
    return BTTimeObjectTimingDisplayViewModel::create<BTTimerTimingDisplayViewModel>(timeObject_);
  return BTTimeObjectTimingDisplayViewModel::create(timeObject_);
}

void TimingDisplayViewController::onTimeObjectNotSet() {
  titleField_->setWholeText(qs(tw::localized("Untitled")));
  titleField_->setEnabled(false);
  startButton_->setText(qs(tw::localized("Start")));
  startButton_->setEnabled(false);
  resetButton_->setText(qs(tw::localized("Stop")));
  resetButton_->setEnabled(false);
  displayView_->setTimingValue(0.0);
  TimingDisplayAccessible::setTimingState(displayView_, tw::kTimingStateReset, false);
  TimingDisplayAccessible::setLeadText(displayView_, nullptr);
}

void TimingDisplayViewController::onTimeObjectChanged() {
  bindings_.clear();
  if (displayViewModel_) displayViewModel_->setTimingValueUpdatedHandler(nullptr);
  willChangeValueForKey("controlViewModel");
  controlViewModel_ = createControlViewModel();
  didChangeValueForKey("controlViewModel");
  willChangeValueForKey("displayViewModel");
  displayViewModel_ = createDisplayViewModel();
  didChangeValueForKey("displayViewModel");

  std::weak_ptr<tw::ui::Responder> weak = selfResponder();
  auto self = [weak] { return std::static_pointer_cast<TimingDisplayViewController>(weak.lock()); };
  const unsigned options = tw::KVOInitial | tw::KVONew;
  titleField_->setEnabled(true);
  bindings_.push_back(
      timeObject_->observeScoped("title", options, [self](const tw::KeyValueChange&) {
        auto s = self();
        if (!s || !s->titleField_ || !s->timeObject_) return;
        const QString title = qs(s->timeObject_->title());
        if (!s->titleField_->isEditing()) s->titleField_->setWholeText(title);
      }));
  if (auto control = controlViewModel_) {
    auto buttons = [self](const tw::KeyValueChange&) {
      auto s = self();
      if (!s || !s->controlViewModel_ || !s->startButton_) return;
      const auto& c = *s->controlViewModel_;
      s->startButton_->setText(c.startText() ? qs(*c.startText()) : QString());
      s->startButton_->setEnabled(c.isStartEnabled());
      s->resetButton_->setText(qs(c.resetText()));
      s->resetButton_->setEnabled(c.isResetEnabled());
    };
    for (const char* key : {"startText", "startEnabled", "resetEnabled"})
      bindings_.push_back(control->observeScoped(key, options, buttons));
  } else {
    startButton_->setEnabled(false);
    resetButton_->setEnabled(false);
  }
  // Leaving the running state pushes no value of its own: show the current one (a value dropped
  // while the window was hidden would otherwise stay stale).
  bindings_.push_back(
      timeObject_->observeScoped("timingState", tw::KVONew, [self](const tw::KeyValueChange&) {
        auto s = self();
        if (!s || !s->timeObject_) return;
        if (s->timeObject_->timingState() != kRunning) s->refreshDisplayedValue();
        TimingDisplayAccessible::setTimingState(s->displayView_, s->timeObject_->timingState(),
                                                true);
      }));
  TimingDisplayAccessible::setTimingState(displayView_, timeObject_->timingState(), false);

  displayView_->setDisplayMilliseconds(timeObject_->isStopwatchType());
  displayViewModel_->setTimingValueUpdatedHandler([self](double value) {
    if (auto s = self()) s->onTimingValueUpdated(value);
  });
  setActionsListViewIfNeeded();
  if (auto list = std::dynamic_pointer_cast<TimeObjectDisplay>(actionsListViewController_))
    list->setTimeObject(timeObject_);
}

bool TimingDisplayViewController::isWindowShowing() const {
  if (!isViewLoaded()) return false;
  QWidget* root = const_cast<TimingDisplayViewController*>(this)->view();
  if (!root) return false;
  QWidget* window = root->window();
  return window->isVisible() && !window->isMinimized();
}

void TimingDisplayViewController::onTimingValueUpdated(double seconds) {
  // The view goes with its parent widgets, which may go before this controller.
  if (!displayView_) return;
  if (timeObject_ && timeObject_->timingState() == kRunning && !isWindowShowing()) {
    droppedWhileHidden_ = true;
    return;
  }
  displayView_->setTimingValue(seconds);
}

void TimingDisplayViewController::refreshDisplayedValue() {
  if (!displayViewModel_ || !displayView_) return;
  droppedWhileHidden_ = false;
  displayView_->setTimingValue(displayViewModel_->currentTimingValue());
}

void TimingDisplayViewController::windowShown() {
  if (droppedWhileHidden_ && isWindowShowing()) refreshDisplayedValue();
}

void TimingDisplayViewController::setActionsListViewIfNeeded() {
  if (actionsListViewController_ || !actionsListFactory()) return;
  actionsListViewController_ = actionsListFactory()();
  if (!actionsListViewController_) return;
  addChildViewController(actionsListViewController_);
  actionsContainerView_->layout()->addWidget(actionsListViewController_->view());
}
