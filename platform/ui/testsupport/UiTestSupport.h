#pragma once
// Helpers for tests that show real widgets. They run on Qt's offscreen platform (no X server):
// the test binaries' CTest entries set QT_QPA_PLATFORM=offscreen, and application() sets it too
// when a binary is started by hand with no platform chosen. Test-only; main thread only.

#include <QAbstractButton>
#include <QMessageBox>
#include <QString>
#include <functional>
#include <vector>

namespace tw::ui::test {

// The test process's QApplication, with the main queue driven by Qt's loop.
void application();

// Runs Qt's events and the main queue until `done` holds or `timeoutSeconds` pass; true when it
// held. Tests wait with it for what widgets, animations and queued work bring about.
bool runUntil(const std::function<bool()>& done, double timeoutSeconds = 3.0);

// The visible message boxes, top-level or attached to a window.
std::vector<QMessageBox*> visibleMessageBoxes();

// Calls `act` with the first message box to become visible, from inside whatever loop is running
// then (a modal alert's own loop, typically); gives up when none shows up within `timeoutSeconds`.
// A box that `act` left open is closed without a button after that long again, so a broken test
// fails instead of hanging.
void whenMessageBoxShown(std::function<void(QMessageBox*)> act, double timeoutSeconds = 5.0);

// The box's push button with exactly this text (mnemonic ampersands as Qt shows them), or null.
QAbstractButton* buttonTitled(QMessageBox* box, const QString& text);
// The box's buttons from left to right, as laid out on screen.
std::vector<QAbstractButton*> buttonsInScreenOrder(QMessageBox* box);
// The informative text label's contents ("" when the box shows none).
QString informativeText(QMessageBox* box);

// What assistive technologies read for the widget: its accessible name ("" when it has none).
QString accessibleName(QWidget* widget);
// The controls under `root` (shown, enabled, reached with Tab or pressed with the mouse) that
// have no accessible name, as "objectName (class)".
std::vector<QString> unnamedControls(QWidget* root);

}  // namespace tw::ui::test
