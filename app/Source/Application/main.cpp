// The Tickwell program: hands its arguments to the application object and returns its status.

#include <memory>

#include "app/Source/Application/AppDelegate.h"
#include "app/Source/Application/Interfaces.h"
#include "platform/ui/SharedApplication.h"

int main(int argc, char** argv) {
  tw::app::registerInterfaces();
  return tw::ui::SharedApplication::shared().run(argc, argv, std::make_shared<AppDelegate>(), {});
}
