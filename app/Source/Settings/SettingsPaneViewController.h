#pragma once
// SettingsPaneViewController: what the settings panes that show stored settings share: their
// toolbar item (a localised title and a named image), the settings provider they bind to, and
// the order of their start: once the view has loaded, the provider is injected from the default
// factory (a provider already set stays when the factory has none) and the pane binds its
// controls (createBindings).
//
// Made by the application delegate, owned by the settings window's tab view controller.
// Main thread only.

#include <memory>
#include <string>

#include "app/Source/Settings/ToolbarItemProvider.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "platform/inject/Injectable.h"
#include "platform/ui/ViewController.h"

class SettingsPaneViewController : public tw::ui::ViewController,
                                   public ToolbarItemProvider,
                                   public tw::Injectable {
 public:
  std::string toolbarItemTitle() const override;
  QIcon toolbarItemImage() const override;

  std::shared_ptr<BTSettingsProvider> settingsProvider() const { return settingsProvider_.lock(); }
  void setSettingsProvider(std::weak_ptr<BTSettingsProvider> provider) {
    settingsProvider_ = std::move(provider);
  }
  void injectProperties(tw::PropertyInjector& injector) override;

  // Binds the pane's controls to the provider's settings; nothing is bound without a provider.
  virtual void createBindings() = 0;

 protected:
  // `title` is localised when asked for; `imageName` names an image of the resources.
  SettingsPaneViewController(const char* title, const char* imageName)
      : title_(title), imageName_(imageName) {}
  void viewDidLoad() override;

 private:
  const char* title_;
  const char* imageName_;
  std::weak_ptr<BTSettingsProvider> settingsProvider_;
};
