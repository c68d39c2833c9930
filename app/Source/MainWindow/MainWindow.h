#pragma once
// MainWindow: the main window, drawn by ourselves (frameless) with a tall title bar of
// `titleBarHeight` over the top of its content, as desktop applications with header bars do.
// The close, minimise and maximise buttons sit in that title bar, placed by setNeedsLayout on
// every resize and full-screen change; the title bar moves the window (drag), maximises it
// (double click), and the window's edges resize it, through the window system's move and
// resize requests. In full screen the title bar shrinks to the usual height and shows the
// title.
//
// A menu button at the right end of the title bar holds the application's commands (its menu is
// given by whoever builds the window); it is reached with Tab like the content, and F10 opens it.
//
// The margins a window starts with are also kept process-wide, for full screen, as the last
// created window found them. Created by RootWindowController, which owns it. Main thread only.

#include <QToolButton>
#include <QWidget>
#include <array>

#include "app/Source/MainWindow/TitleBarLayout.h"

class QLabel;
class QMenu;

class MainWindow : public QWidget {
 public:
  explicit MainWindow(QWidget* parent = nullptr);

  double titleBarHeight() const { return titleBarHeight_; }
  void setTitleBarHeight(double height);
  bool hidesTitle() const { return hidesTitle_; }
  void setHidesTitle(bool hides);
  bool centersStandardButtons() const { return centersStandardButtons_; }
  void setCentersStandardButtons(bool centers);
  double standardButtonsLeftMargin() const { return leftMargin_; }
  void setStandardButtonsLeftMargin(double margin);
  double standardButtonsTopMargin() const { return topMargin_; }
  void setStandardButtonsTopMargin(double margin);

  // Close, minimise, maximise.
  const std::array<QToolButton*, 3>& standardButtons() const { return buttons_; }
  QWidget* titleBarView() const { return titleBar_; }
  // The title bar's menu button; it shows its menu (none until set) on click, Space or F10.
  QToolButton* menuButton() const { return menuButton_; }
  void setMenu(QMenu* menu);
  // The title bar area's current height (titleBarHeight, or the usual height in full screen).
  double effectiveTitleBarHeight() const;
  bool isFullScreenWindow() const { return isFullScreen(); }
  // Whether the title text is shown now.
  bool isTitleVisible() const;

  // The usual title-bar height of this desktop's style; computed once per process.
  static double defaultTitleBarHeight();
  // The margins the last created window started with.
  static double savedLeftMargin();
  static double savedTopMargin();

  // Re-lays the title bar and its buttons.
  void setNeedsLayout();

  // The widget that holds the window's content (under the title bar).
  QWidget* contentHost() const { return content_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* object, QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  Qt::Edges edgesAt(const QPoint& pos) const;
  void updateResizeCursor(Qt::Edges edges);

  double titleBarHeight_;
  bool hidesTitle_ = true;
  bool centersStandardButtons_ = true;
  double leftMargin_ = 0;
  double topMargin_ = 0;
  QWidget* content_;
  QWidget* titleBar_;
  QLabel* title_;
  std::array<QToolButton*, 3> buttons_{};
  QToolButton* menuButton_;
};
