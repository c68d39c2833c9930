#pragma once
// SettingsTabViewController: the panes of the settings window as the tabs of a toolbar-style
// tab view: a row of toolbar items (image over label) above the selected pane. Panes are swapped
// without a transition; the window is retitled after the selected tab and resized, animated, to
// the size the pane needs, its top edge kept where it was. A pane's size is measured the first
// time its tab is about to be selected and reused ever after (tabViewSizes, keyed by label: two
// panes with one label share the first size measured).
//
// Owned by SettingsWindowController (shared_ptr); its view is the window's content. Main thread.

#include <QIcon>
#include <QPointer>
#include <QSize>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"

class QButtonGroup;
class QToolButton;
class QVBoxLayout;

// One tab: its identifier, the label under its toolbar item, the item's image and the pane.
struct SettingsTabViewItem {
  std::string identifier;
  std::string label;
  QIcon image;
  std::shared_ptr<tw::ui::ViewController> viewController;
};

class SettingsTabViewController : public tw::ui::ViewController {
 public:
  static constexpr std::int64_t kToolbarTabStyle = 2;
  static constexpr std::int64_t kNoTransition = 0;
  // Seconds the window takes to grow or shrink to a pane.
  static constexpr double kResizeDuration = 0.2;

  SettingsTabViewController();

  // Replaces the tabs and selects the first.
  void setTabViewItems(std::vector<std::shared_ptr<SettingsTabViewItem>> items);
  const std::vector<std::shared_ptr<SettingsTabViewItem>>& tabViewItems() const { return items_; }
  // -1 while there is no tab.
  int selectedTabViewItemIndex() const { return selected_; }
  // Selects a tab as a click on its toolbar item does; an index out of range does nothing.
  void setSelectedTabViewItemIndex(int index);

  std::int64_t tabStyle() const { return tabStyle_; }
  void setTabStyle(std::int64_t style) { tabStyle_ = style; }
  std::int64_t transitionOptions() const { return transitionOptions_; }
  void setTransitionOptions(std::int64_t options) { transitionOptions_ = options; }

  // Label -> the size its pane needs; an entry, once written, is never replaced.
  std::map<std::string, QSize>& tabViewSizes() { return tabViewSizes_; }

  void tabViewWillSelectTabViewItem(const std::shared_ptr<SettingsTabViewItem>& item);
  void tabViewDidSelectTabViewItem(const std::shared_ptr<SettingsTabViewItem>& item);
  void resizeWindowToFit(const std::shared_ptr<SettingsTabViewItem>& item);

  // The window frame (here: the window's client area, which holds the toolbar) for a pane of
  // `contentSize`.
  QSize frameSizeForContentSize(QSize contentSize);
  // The size a pane's view needs: its preferred size, never below its minimum.
  static QSize fittingSize(QWidget* view);
  // The toolbar item of the tab at `index`, or null.
  QToolButton* toolbarButton(int index) const;

 protected:
  void loadView() override;
  void viewDidLoad() override;
  void viewDidAppear() override;

 private:
  // Gives the keyboard to the first control of the shown pane, so Tab and Space work at once.
  void focusFirstControl();
  void rebuildToolbar();
  QWidget* hostWindow();

  std::vector<std::shared_ptr<SettingsTabViewItem>> items_;
  int selected_ = -1;
  std::int64_t tabStyle_ = 0;
  std::int64_t transitionOptions_ = 1;
  std::map<std::string, QSize> tabViewSizes_;
  QPointer<QWidget> toolbar_;
  QPointer<QButtonGroup> buttons_;
  QPointer<QWidget> paneHost_;
  QPointer<QWidget> shownPane_;
};
