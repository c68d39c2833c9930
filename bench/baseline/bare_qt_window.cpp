// The baseline of the application start-up benchmark: a bare Qt Widgets window of the main
// window's size, built like Tickwell. With TICKWELL_BENCH_EXIT_ON_EXPOSE set it prints the moment
// its window is first exposed ("exposed-at <CLOCK_MONOTONIC nanoseconds>", as Tickwell does) and
// leaves; otherwise it stays until SIGTERM. With TICKWELL_BENCH_WITH_TEXT set the window shows one
// line of text, which is what loading the desktop's fonts costs before a first frame.

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

class ExitOnExpose : public QObject {
 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Expose && qobject_cast<QWindow*>(object) &&
        static_cast<QWindow*>(object)->isExposed() && !done_) {
      done_ = true;
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      std::printf("exposed-at %lld\n",
                  static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
      std::fflush(stdout);
      QCoreApplication::exit(0);
    }
    return false;
  }

 private:
  bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ExitOnExpose filter;
  if (std::getenv("TICKWELL_BENCH_EXIT_ON_EXPOSE")) app.installEventFilter(&filter);
  QWidget window;
  window.resize(820, 540);
  window.setWindowTitle("Baseline");
  if (std::getenv("TICKWELL_BENCH_WITH_TEXT")) {
    auto* text = new QLabel("Tea 3:54", &window);
    text->move(12, 12);
  }
  window.show();
  return QApplication::exec();
}
