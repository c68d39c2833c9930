#include "app/Source/Settings/SettingsWindowController.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>

#include "app/Source/Settings/ToolbarItemProvider.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Localization.h"

std::shared_ptr<SettingsWindowController> SettingsWindowController::initWithViewControllers(
    const std::vector<std::shared_ptr<tw::ui::ViewController>>& viewControllers) {
  if (viewControllers.empty())
    tw::raise(tw::NSInvalidArgumentException, "`viewControllers` cannot be nil or empty");
  auto controller = std::make_shared<SettingsWindowController>();
  controller->setUp(viewControllers);
  return controller;
}

std::shared_ptr<SettingsWindowController> SettingsWindowController::initWithWindow(QWidget*) {
  return initWithViewControllers({});
}

void SettingsWindowController::setUp(
    const std::vector<std::shared_ptr<tw::ui::ViewController>>& viewControllers) {
  const auto& first = viewControllers.front();
  if (QWidget* view = first ? first->view() : nullptr)
    firstContentSize_ = SettingsTabViewController::fittingSize(view);
  QWidget* window = this->window();

  tabs_ = std::make_shared<SettingsTabViewController>();
  std::vector<std::shared_ptr<SettingsTabViewItem>> items;
  for (const auto& pane : viewControllers) {
    auto item = std::make_shared<SettingsTabViewItem>();
    if (const auto* provider = dynamic_cast<const ToolbarItemProvider*>(pane.get())) {
      item->identifier = provider->toolbarItemTitle();
      item->label = provider->toolbarItemTitle();
      item->image = provider->toolbarItemImage();
    }
    item->viewController = pane;
    items.push_back(std::move(item));
  }
  tabs_->setTabViewItems(std::move(items));

  window->setWindowTitle(QString::fromStdString(tw::localized("Preferences...")));
  setContentViewController(tabs_);
  // The first pane was selected before its view had a window to retitle.
  const int selected = tabs_->selectedTabViewItemIndex();
  if (selected >= 0 && selected < static_cast<int>(tabs_->tabViewItems().size()))
    window->setWindowTitle(QString::fromStdString(tabs_->tabViewItems()[selected]->label));
  window->setFixedSize(tabs_->frameSizeForContentSize(firstContentSize_));
}

QWidget* SettingsWindowController::loadWindow() {
  // Titled and closable: no minimise or maximise button.
  auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                          Qt::WindowCloseButtonHint);
  window->setObjectName("SettingsWindow");
  // Escape closes it, as it closes the application's dialogs.
  auto* close = new QShortcut(QKeySequence::Cancel, window);
  QObject::connect(close, &QShortcut::activated, window, &QWidget::close);
  return window;
}

void SettingsWindowController::showWindow(QObject* sender) {
  QWidget* window = this->window();
  if (!window->isVisible()) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen) {
      QRect frame = window->frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      window->move(frame.topLeft());
    }
  }
  // Showing raises and activates the window, ahead of the application's other windows.
  WindowController::showWindow(sender);
}
