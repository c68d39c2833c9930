#include "app/Source/Settings/SettingsPaneViewController.h"

#include "platform/foundation/Localization.h"
#include "platform/inject/Injection.h"
#include "platform/inject/PropertyInjector.h"
#include "platform/ui/NamedResources.h"

std::string SettingsPaneViewController::toolbarItemTitle() const { return tw::localized(title_); }

QIcon SettingsPaneViewController::toolbarItemImage() const {
  return tw::ui::imageNamed(imageName_);
}

void SettingsPaneViewController::injectProperties(tw::PropertyInjector& injector) {
  injector.inject(settingsProvider_);
}

void SettingsPaneViewController::viewDidLoad() {
  ViewController::viewDidLoad();
  tw::injectFromDefaultFactory(*this);
  createBindings();
}
