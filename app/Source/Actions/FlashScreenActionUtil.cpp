#include "app/Source/Actions/FlashScreenActionUtil.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "core/Source/Model/BTFlashScreenActionProtocol.h"
#include "platform/tasks/BFCancellationTokenSource.h"
#include "platform/tasks/BFExecutor.h"
#include "platform/tasks/BFTaskCompletionSource.h"

namespace {
// The one flash on screen; owned here until the flash ends.
std::unique_ptr<FlashScreenActionUtil::Window>& slot() {
  static std::unique_ptr<FlashScreenActionUtil::Window> window;
  return window;
}
}  // namespace

FlashScreenActionUtil::Window::Window()
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool) {
  setObjectName("FlashWindow");
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_NoSystemBackground);
}

FlashScreenActionUtil::View::View(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
}

void FlashScreenActionUtil::View::setAlpha(double alpha) {
  alpha_ = alpha;
  update();
}

void FlashScreenActionUtil::View::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  QColor fill = color;
  fill.setAlphaF(static_cast<float>(fill.alphaF() * alpha_));
  painter.fillRect(rect(), fill);
}

void FlashScreenActionUtil::View::mousePressEvent(QMouseEvent* event) {
  if (mouseDown) mouseDown(event);
}

FlashScreenActionUtil::Window* FlashScreenActionUtil::flashingWindow() { return slot().get(); }

BFTaskPtr FlashScreenActionUtil::taskForRepeatingTask(
    const std::function<BFTaskPtr()>& cycle, std::int64_t count,
    const std::shared_ptr<BFCancellationToken>& token) {
  BFTaskPtr task = BFTask::taskWithResult(tw::Value());
  for (std::int64_t i = 0; i < count; ++i) {
    task = task->continueWithExecutor(BFExecutor::mainThreadExecutor(),
                                      [cycle, token](const BFTaskPtr&) -> BFTaskPtr {
                                        if (token && token->isCancellationRequested())
                                          return BFTask::cancelledTask();
                                        return cycle();
                                      });
  }
  return task;
}

BFTaskPtr FlashScreenActionUtil::taskForAnimation(View* view, double to, double seconds) {
  auto source = BFTaskCompletionSource::taskCompletionSource();
  if (!view) {
    source->setResult(tw::Value());
    return source->task();
  }
  auto* animation = new QVariantAnimation(view);
  animation->setStartValue(view->alpha());
  animation->setEndValue(to);
  animation->setDuration(static_cast<int>(seconds * 1000));
  QPointer<View> guard(view);
  QObject::connect(animation, &QVariantAnimation::valueChanged, view, [guard](const QVariant& v) {
    if (guard) guard->setAlpha(v.toDouble());
  });
  QObject::connect(animation, &QVariantAnimation::finished, view,
                   [source] { source->trySetResult(tw::Value()); });
  // A window closed under the animation still completes the task.
  QObject::connect(animation, &QObject::destroyed, [source] { source->trySetResult(tw::Value()); });
  animation->start(QAbstractAnimation::DeleteWhenStopped);
  return source->task();
}

void FlashScreenActionUtil::flashScreenWithAction(
    const std::shared_ptr<BTFlashScreenActionProtocol>& action) {
  if (slot() || !action) return;
  auto window = std::make_unique<Window>();
  const QScreen* screen = QGuiApplication::primaryScreen();
  window->setGeometry(screen ? screen->geometry() : QRect());
  auto* view = new View;
  const auto argb = static_cast<std::uint32_t>(action->screenColorArgbValue());
  view->color = QColor(static_cast<int>((argb >> 16) & 0xff), static_cast<int>((argb >> 8) & 0xff),
                       static_cast<int>(argb & 0xff), static_cast<int>((argb >> 24) & 0xff));
  auto* layout = new QVBoxLayout(window.get());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view);
  Window* raw = window.get();
  slot() = std::move(window);
  raw->show();
  raw->raise();
  raw->activateWindow();

  auto source = BFCancellationTokenSource::cancellationTokenSource();
  QPointer<View> guard(view);
  auto cycle = [guard]() -> BFTaskPtr {
    return taskForAnimation(guard, 1.0, kFadeIn)
        ->continueWithExecutorWithSuccessBlock(
            BFExecutor::mainThreadExecutor(),
            [](const BFTaskPtr&) -> BFTaskPtr { return BFTask::taskForDelay(kHold); })
        ->continueWithExecutorWithSuccessBlock(BFExecutor::mainThreadExecutor(),
                                               [guard](const BFTaskPtr&) -> BFTaskPtr {
                                                 return taskForAnimation(guard, 0.0, kFadeOut);
                                               });
  };
  taskForRepeatingTask(cycle, kCycles, source->token())
      ->continueWithExecutor(BFExecutor::mainThreadExecutor(), [](const BFTaskPtr&) {
        if (slot()) slot()->close();
        slot().reset();
      });
  view->mouseDown = [source](QMouseEvent*) { source->cancel(); };
}
