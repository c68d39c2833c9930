#include "platform/ui/testsupport/UiTestSupport.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/testsupport/TestSupport.h"
#include "platform/ui/Application.h"

namespace tw::ui::test {

namespace {

QtMessageHandler previousHandler = nullptr;

// The offscreen platform says so for every dialog it shows; nothing a test can act on.
void quietOffscreenNoise(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.contains(QLatin1String("does not support propagateSizeHints"))) return;
  if (previousHandler) previousHandler(type, context, text);
}

}  // namespace

void application() {
  if (QApplication::instance()) return Application::ensure();
  setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  // Qt wants a private runtime folder; keep it inside the test's own folders.
  if (!getenv("XDG_RUNTIME_DIR")) {
    const auto runtime = tw::test::privateRoot() / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  }
  previousHandler = qInstallMessageHandler(quietOffscreenNoise);
  Application::ensure();
}

bool runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  return Application::runEventsUntil(done, timeoutSeconds);
}

std::vector<QMessageBox*> visibleMessageBoxes() {
  // Every window counts as top-level here, dialogs attached to a parent included.
  std::vector<QMessageBox*> boxes;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible()) {
      boxes.push_back(box);
    }
  }
  return boxes;
}

void whenMessageBoxShown(std::function<void(QMessageBox*)> act, double timeoutSeconds) {
  const auto ms = static_cast<int>(timeoutSeconds * 1000);
  auto* poll = new QTimer(qApp);
  auto deadline = std::make_shared<QDeadlineTimer>(ms);
  poll->setInterval(1);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, deadline, ms, act = std::move(act)] {
    auto boxes = visibleMessageBoxes();
    if (boxes.empty() && !deadline->hasExpired()) return;
    poll->stop();
    poll->deleteLater();
    if (boxes.empty()) return;
    QMessageBox* box = boxes.front();
    act(box);
    // A test that failed to close its alert must not hang the whole binary.
    QTimer::singleShot(ms, box, [box] {
      if (box->isVisible()) box->done(0);
    });
  });
  poll->start();
}

QAbstractButton* buttonTitled(QMessageBox* box, const QString& text) {
  for (QAbstractButton* button : box->buttons()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

std::vector<QAbstractButton*> buttonsInScreenOrder(QMessageBox* box) {
  auto list = box->buttons();
  std::vector<QAbstractButton*> buttons(list.begin(), list.end());
  std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
    return a->mapToGlobal(QPoint(0, 0)).x() < b->mapToGlobal(QPoint(0, 0)).x();
  });
  return buttons;
}

QString informativeText(QMessageBox* box) {
  auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
  return label ? label->text() : QString();
}

QString accessibleName(QWidget* widget) {
  auto* iface = QAccessible::queryAccessibleInterface(widget);
  return iface ? iface->text(QAccessible::Name) : QString();
}

std::vector<QString> unnamedControls(QWidget* root) {
  std::vector<QString> unnamed;
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(root) || !w->isEnabled()) continue;
    const bool operable =
        (w->focusPolicy() & Qt::TabFocus) || qobject_cast<QAbstractButton*>(w) != nullptr;
    if (operable && accessibleName(w).trimmed().isEmpty())
      unnamed.push_back(QString("%1 (%2)").arg(w->objectName(), w->metaObject()->className()));
  }
  return unnamed;
}

}  // namespace tw::ui::test

// Under the leak checker: fontconfig keeps a cache for the life of the process that it never
// frees; Qt loads it for the first dialog it lays out. Not ours to fix.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
