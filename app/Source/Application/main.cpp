// The Tickwell program: hands its arguments to the application object and returns its status.

#include <cstdio>
#include <memory>

#include "app/Source/Application/AppDelegate.h"
#include "app/Source/Application/Interfaces.h"
#include "platform/foundation/Log.h"
#include "platform/ui/SharedApplication.h"

int main(int argc, char** argv) {
  // Besides the system log, the program's messages go to its standard error, which the desktop
  // session's journal (or the terminal that started it) keeps.
  tw::setLogHook([](tw::LogLevel, std::string_view message) {
    std::fprintf(stderr, "Tickwell: %.*s\n", static_cast<int>(message.size()), message.data());
  });
  tw::app::registerInterfaces();
  return tw::ui::SharedApplication::shared().run(argc, argv, std::make_shared<AppDelegate>(), {});
}
