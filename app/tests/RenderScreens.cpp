// Renders every screen of the screen tour (the main window in each view mode at its minimum,
// default and maximised sizes, each with its value popover open, the action editor for each kind
// and each settings pane), with sample data, to PNG files: the look of the screens can be checked
// by eye. Runs on Qt's offscreen platform with a 1600x1000 screen unless a platform is chosen,
// with the application's data in a fresh temporary folder (the user's own files are never
// touched).
//
//   tickwell_render_screens <output folder>

#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/Source/Application/AppDelegate.h"
#include "app/Source/Application/Interfaces.h"
#include "app/Source/MainWindow/MainWindow.h"
#include "app/tests/SampleData.h"
#include "app/tests/ScreenTour.h"
#include "platform/foundation/Dispatch.h"
#include "platform/ui/Application.h"
#include "platform/ui/SharedApplication.h"

namespace {

bool save(const QImage& image, const std::filesystem::path& file) {
  if (!image.save(QString::fromStdString(file.string()))) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return false;
  }
  std::printf("%s\n", file.c_str());
  return true;
}

// The window, with the popover drawn where it stands over it (clipped to the window).
QImage picture(const tw::app::sample::Screen& screen) {
  QImage image = screen.window->grab().toImage();
  if (screen.popup) {
    QPainter painter(&image);
    const QPoint at = screen.popup->pos() - screen.window->geometry().topLeft();
    painter.drawImage(at, screen.popup->grab().toImage());
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = std::filesystem::absolute(argv[1]);
  std::filesystem::create_directories(out);

  char root[] = "/tmp/tickwell-render-XXXXXX";
  if (!mkdtemp(root)) return 1;
  for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
    const std::string dir = std::string(root) + "/" + var;
    std::filesystem::create_directories(dir);
    setenv(var, dir.c_str(), 1);
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
  if (!getenv("QT_QPA_PLATFORM")) {
    // A desktop-sized screen, so that "maximised" means what it does for a user.
    const std::string config = std::string(root) + "/screen.json";
    if (FILE* f = std::fopen(config.c_str(), "w")) {
      std::fputs(
          "{\"screens\": [{\"name\": \"S\", \"x\": 0, \"y\": 0, \"width\": 1600,"
          " \"height\": 1000, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}",
          f);
      std::fclose(f);
    }
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
  }

  tw::RunLoop::main();
  tw::ui::Application::ensure(argc, argv);
  tw::app::registerInterfaces();
  auto delegate = std::make_shared<AppDelegate>();
  auto& app = tw::ui::SharedApplication::shared();
  app.launchWithoutLoop(delegate);
  tw::ui::Application::runEventsUntil([] { return false; }, 0.2);

  tw::app::sample::insertShowcase();
  tw::app::sample::insertSampleActions();
  int status = 0;
  tw::app::sample::tourScreens(delegate, [&](const tw::app::sample::Screen& screen) {
    if (!save(picture(screen), out / (screen.name + ".png"))) status = 1;
  });
  app.terminateWithoutAsking(0);
  std::filesystem::remove_all(root);
  return status;
}
