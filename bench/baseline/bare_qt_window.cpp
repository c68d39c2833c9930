// The baseline of the application start-up benchmark: a bare Qt Widgets window of the main
// window's size, built like Tickwell. With TICKWELL_BENCH_EXIT_ON_EXPOSE set it leaves as soon
// as the window is first exposed; otherwise it stays until SIGTERM.

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>
#include <cstdlib>

namespace {

class ExitOnExpose : public QObject {
 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Expose && qobject_cast<QWindow*>(object) &&
        static_cast<QWindow*>(object)->isExposed())
      QCoreApplication::exit(0);
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ExitOnExpose filter;
  if (std::getenv("TICKWELL_BENCH_EXIT_ON_EXPOSE")) app.installEventFilter(&filter);
  QWidget window;
  window.resize(820, 540);
  window.setWindowTitle("Baseline");
  window.show();
  return QApplication::exec();
}
