#include "app/Source/MainWindow/MainWindow.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QShortcut>
#include <QStyle>
#include <QWindow>
#include <cmath>

#include "app/Source/Controls/TextStyle.h"
#include "platform/foundation/Localization.h"
#include "platform/ui/AccessibleParts.h"

namespace {

// Where a new window puts its buttons before any layout: the style's usual spacing.
constexpr int kInitialLeftMargin = 12;
constexpr int kButtonSize = 16;
constexpr int kResizeBorder = 6;
constexpr int kMenuButtonWidth = 30;
constexpr int kMenuButtonHeight = 26;
constexpr int kMenuButtonRightMargin = 10;

double gSavedLeftMargin = 0.0;
double gSavedTopMargin = 0.0;
double gDefaultTitleBarHeight = -1.0;

// The title bar is raised over the content to be drawn on top of it; assistive technologies
// still read it first, where the screen and the Tab order put it.
class AccessibleMainWindow : public tw::ui::AccessibleParts {
 public:
  explicit AccessibleMainWindow(MainWindow* window)
      : AccessibleParts(window, QAccessible::Window) {}
  QWidgetList parts() const override {
    auto* window = static_cast<MainWindow*>(widget());
    QWidgetList all{window->titleBarView()};
    for (QObject* object : window->children())
      if (auto* child = qobject_cast<QWidget*>(object);
          child && child != window->titleBarView() && !child->isWindow())
        all << child;
    return all;
  }
};

QAccessibleInterface* accessibleMainWindow(const QString& key, QObject* object) {
  if (key == QLatin1String("QWidget"))
    if (auto* window = dynamic_cast<MainWindow*>(object)) return new AccessibleMainWindow(window);
  return nullptr;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      titleBarHeight_(defaultTitleBarHeight()) {
  static const bool accessible = [] {
    QAccessible::installFactory(accessibleMainWindow);
    return true;
  }();
  (void)accessible;
  setObjectName("MainWindow");
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover);

  content_ = new QWidget(this);
  content_->setObjectName("MainWindowContent");

  titleBar_ = new QWidget(this);
  titleBar_->setObjectName("MainWindowTitleBar");
  titleBar_->setAttribute(Qt::WA_TranslucentBackground);
  titleBar_->installEventFilter(this);
  // Mouse events of every child pass by, for the resize edges (see eventFilter).
  QApplication::instance()->installEventFilter(this);

  title_ = new QLabel(titleBar_);
  title_->setAlignment(Qt::AlignCenter);
  title_->setAttribute(Qt::WA_TransparentForMouseEvents);
  tw::app::setTextStyle(title_, tw::app::rgba(255, 255, 255, 0.85), 0, QFont::DemiBold);
  connect(this, &QWidget::windowTitleChanged, title_, &QLabel::setText);

  // Light glyphs on the dark title bar, as header bars of dark themes draw them.
  const std::array<const char*, 3> glyphs = {"\u00d7", "\u2212", "\u25a1"};
  const std::array<const char*, 3> names = {"close", "minimize", "zoom"};
  const std::array<const char*, 3> spoken = {"Close", "Minimize", "Maximize"};
  for (int i = 0; i < 3; ++i) {
    auto* button = new QToolButton(titleBar_);
    button->setObjectName(names[i]);
    button->setText(QString::fromUtf8(glyphs[i]));
    button->setAccessibleName(QString::fromStdString(tw::localized(spoken[i])));
    button->setToolTip(button->accessibleName());
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setStyleSheet(
        "QToolButton { color: rgba(255,255,255,0.75); border: none; border-radius: 8px;"
        " font-size: 13px; padding: 0; }"
        "QToolButton:hover { background: rgba(255,255,255,0.18); color: white; }");
    button->setGeometry(kInitialLeftMargin + i * (kButtonSize + 6), 0, kButtonSize, kButtonSize);
    buttons_[i] = button;
  }
  // The application's commands, as header bars of desktop applications offer them.
  menuButton_ = new QToolButton(titleBar_);
  menuButton_->setObjectName("menuButton");
  menuButton_->setText(QStringLiteral("\u2630"));
  menuButton_->setAccessibleName(QString::fromStdString(tw::localized("Main Menu")));
  menuButton_->setToolTip(menuButton_->accessibleName() + QStringLiteral(" (F10)"));
  menuButton_->setPopupMode(QToolButton::InstantPopup);
  menuButton_->setFocusPolicy(Qt::TabFocus);
  menuButton_->setStyleSheet(
      "QToolButton { color: rgba(255,255,255,0.85); border: none; border-radius: 4px;"
      " font-size: 15px; padding: 0; }"
      "QToolButton::menu-indicator { image: none; width: 0; }"
      "QToolButton:hover, QToolButton:pressed { background: rgba(255,255,255,0.18); }"
      "QToolButton:focus { border: 1px solid rgba(255,255,255,0.85); }");
  menuButton_->resize(kMenuButtonWidth, kMenuButtonHeight);
  auto* openMenu = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(openMenu, &QShortcut::activated, menuButton_, [this] {
    if (menuButton_->menu()) menuButton_->showMenu();
  });

  connect(buttons_[0], &QToolButton::clicked, this, &QWidget::close);
  connect(buttons_[1], &QToolButton::clicked, this, &QWidget::showMinimized);
  connect(buttons_[2], &QToolButton::clicked, this,
          [this] { isMaximized() ? showNormal() : showMaximized(); });

  // initialize: hidden title, the usual height until told otherwise, centred buttons, and the
  // margins the buttons were created with (y-down: the top margin is the button's own y).
  setHidesTitle(true);
  titleBar_->setGeometry(0, 0, width(), static_cast<int>(titleBarHeight_));
  const QRect close = buttons_[0]->geometry();
  gSavedLeftMargin = close.x();
  gSavedTopMargin = close.y();
  leftMargin_ = gSavedLeftMargin;
  topMargin_ = gSavedTopMargin;
  setNeedsLayout();
}

double MainWindow::defaultTitleBarHeight() {
  if (gDefaultTitleBarHeight >= 0.0) return gDefaultTitleBarHeight;
  QStyle* style = QApplication::style();
  const int height = style ? style->pixelMetric(QStyle::PM_TitleBarHeight) : 22;
  gDefaultTitleBarHeight = height > 0 ? height : 22;
  return gDefaultTitleBarHeight;
}

double MainWindow::savedLeftMargin() { return gSavedLeftMargin; }
double MainWindow::savedTopMargin() { return gSavedTopMargin; }

void MainWindow::setTitleBarHeight(double height) {
  titleBarHeight_ = height;
  setNeedsLayout();
}

void MainWindow::setHidesTitle(bool hides) {
  hidesTitle_ = hides;
  title_->setVisible(!hides || isFullScreen());
}

bool MainWindow::isTitleVisible() const { return !title_->isHidden(); }

void MainWindow::setCentersStandardButtons(bool centers) {
  centersStandardButtons_ = centers;
  setNeedsLayout();
}

void MainWindow::setStandardButtonsLeftMargin(double margin) {
  leftMargin_ = margin;
  setNeedsLayout();
}

void MainWindow::setStandardButtonsTopMargin(double margin) {
  topMargin_ = margin;
  setNeedsLayout();
}

double MainWindow::effectiveTitleBarHeight() const {
  return defaultTitleBarHeight() +
         tw::app::titleBarAccessoryHeight(titleBarHeight_, defaultTitleBarHeight(), isFullScreen());
}

void MainWindow::setNeedsLayout() {
  const bool fullScreen = isFullScreen();
  const double barHeight = effectiveTitleBarHeight();
  // The content runs under the title bar (it is transparent), as the window's full-size
  // content asks; the title bar stays on top.
  content_->setGeometry(rect());
  titleBar_->setGeometry(0, 0, width(), static_cast<int>(std::lround(barHeight)));
  titleBar_->raise();
  title_->setGeometry(titleBar_->rect());

  tw::app::TitleBarButtonMetrics metrics;
  metrics.leftMargin = fullScreen ? gSavedLeftMargin : leftMargin_;
  metrics.topMargin = fullScreen ? gSavedTopMargin : topMargin_;
  metrics.centered = centersStandardButtons_;
  for (int i = 0; i < 3; ++i) {
    QToolButton* button = buttons_[i];
    const QRectF frame =
        tw::app::titleBarButtonFrame(i, button->width(), button->height(), barHeight, metrics);
    button->setGeometry(frame.toRect());
  }
  menuButton_->move(width() - kMenuButtonRightMargin - menuButton_->width(),
                    static_cast<int>(std::lround((barHeight - menuButton_->height()) * 0.5)));
}

void MainWindow::setMenu(QMenu* menu) { menuButton_->setMenu(menu); }

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  setNeedsLayout();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) {
    title_->setVisible(isFullScreen() || !hidesTitle_);
    setNeedsLayout();
  }
}

bool MainWindow::eventFilter(QObject* object, QEvent* event) {
  // The window's edges resize it, whichever child widget lies under the pointer there.
  const auto type = event->type();
  if ((type == QEvent::MouseButtonPress || type == QEvent::MouseMove) && object->isWidgetType() &&
      static_cast<QWidget*>(object)->window() == this && object != this) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const Qt::Edges edges = edgesAt(mapFromGlobal(mouse->globalPosition().toPoint()));
    if (type == QEvent::MouseMove && mouse->buttons() == Qt::NoButton) {
      updateResizeCursor(edges);
    } else if (type == QEvent::MouseButtonPress && edges && mouse->button() == Qt::LeftButton &&
               windowHandle()) {
      windowHandle()->startSystemResize(edges);
      return true;
    }
  }
  if (object != titleBar_) return false;
  if (event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && windowHandle()) {
      const Qt::Edges edges = edgesAt(titleBar_->mapTo(this, mouse->position().toPoint()));
      if (edges)
        windowHandle()->startSystemResize(edges);
      else
        windowHandle()->startSystemMove();
      return true;
    }
  } else if (event->type() == QEvent::MouseButtonDblClick) {
    isMaximized() ? showNormal() : showMaximized();
    return true;
  }
  return false;
}

Qt::Edges MainWindow::edgesAt(const QPoint& pos) const {
  if (isMaximized() || isFullScreen()) return {};
  Qt::Edges edges;
  if (pos.x() < kResizeBorder) edges |= Qt::LeftEdge;
  if (pos.x() >= width() - kResizeBorder) edges |= Qt::RightEdge;
  if (pos.y() < kResizeBorder) edges |= Qt::TopEdge;
  if (pos.y() >= height() - kResizeBorder) edges |= Qt::BottomEdge;
  return edges;
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
  updateResizeCursor(edgesAt(event->position().toPoint()));
  QWidget::mouseMoveEvent(event);
}

void MainWindow::updateResizeCursor(Qt::Edges edges) {
  if ((edges & Qt::LeftEdge && edges & Qt::TopEdge) ||
      (edges & Qt::RightEdge && edges & Qt::BottomEdge))
    setCursor(Qt::SizeFDiagCursor);
  else if ((edges & Qt::RightEdge && edges & Qt::TopEdge) ||
           (edges & Qt::LeftEdge && edges & Qt::BottomEdge))
    setCursor(Qt::SizeBDiagCursor);
  else if (edges & (Qt::LeftEdge | Qt::RightEdge))
    setCursor(Qt::SizeHorCursor);
  else if (edges & (Qt::TopEdge | Qt::BottomEdge))
    setCursor(Qt::SizeVerCursor);
  else
    unsetCursor();
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
  const Qt::Edges edges = edgesAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && edges && windowHandle()) {
    windowHandle()->startSystemResize(edges);
    return;
  }
  QWidget::mousePressEvent(event);
}
