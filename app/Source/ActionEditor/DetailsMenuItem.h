#pragma once
// DetailsMenuItem: a menu item shown as two lines, a title over a smaller line of details
// ("Start" over "Starts an alarm, timer, or stopwatch."), that behaves as an ordinary item: it
// highlights under the mouse (also when the menu opens with the mouse already over it, and while
// a press is dragged onto it) and a release on it chooses it. Its text is the title, so a pop-up
// button shows the title when the item is chosen. DetailsItemView is its two-line view.
//
// The item is owned by its menu (a QObject parent); the view by the menu's widgets. Main thread
// only.

#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <QWidgetAction>

class DetailsItemView : public QWidget {
 public:
  explicit DetailsItemView(QWidget* parent = nullptr);
  QLabel* titleLabel() const { return titleLabel_; }
  QLabel* detailsLabel() const { return detailsLabel_; }
  bool isHighlighted() const { return highlighted_; }
  // Stores the flag and repaints at once.
  void setHighlighted(bool highlighted);
  // Called on a release over the view; the item chooses itself.
  std::function<void()> mouseUp;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void applyColors();
  QLabel* titleLabel_;
  QLabel* detailsLabel_;
  bool highlighted_ = false;
};

class DetailsMenuItem : public QWidgetAction {
 public:
  explicit DetailsMenuItem(QObject* parent = nullptr);
  // A new item showing `title` over `details`; no action and no shortcut.
  static DetailsMenuItem* menuItemWithTitle(const QString& title, const QString& details,
                                            QObject* parent = nullptr);
  // The view shown in the menu (made on first use by a menu).
  DetailsItemView* itemView() const { return view_; }
  const QString& details() const { return details_; }

 protected:
  QWidget* createWidget(QWidget* parent) override;

 private:
  QString details_;
  QPointer<DetailsItemView> view_;
};
