// The termination child: a windowless application whose ending waits for the kits' activities
// as Tickwell's does. At launch a thread runs one activity for the given seconds; the child notes
// "began", "ended" (the activity's end) and "saved" (its ending's save) in the events file.
//   termination_child <events-file> <activity-seconds>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "kits/platform/TerminationActivities.h"
#include "platform/foundation/Log.h"
#include "platform/ui/SharedApplication.h"

namespace {

std::string gEventsFile;

void note(const char* event) {
  if (FILE* f = std::fopen(gEventsFile.c_str(), "a")) {
    std::fprintf(f, "%s\n", event);
    std::fclose(f);
  }
}

class Delegate : public tw::ui::ApplicationDelegate {
 public:
  explicit Delegate(double seconds) : seconds_(seconds) {}
  void applicationDidFinishLaunching() override {
    std::thread([seconds = seconds_] {
      auto& activities = tw::TerminationActivities::shared();
      const auto token = activities.begin(0xC000, "long work");
      note("began");
      std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      note("ended");
      activities.end(token);
    }).detach();
  }
  void applicationWillTerminate() override {
    tw::TerminationActivities::shared().waitBeforeTermination();
    note("saved");
  }

 private:
  double seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  gEventsFile = argv[1];
  const double seconds = std::atof(argv[2]);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  tw::setLogHook([](tw::LogLevel, std::string_view message) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
  });
  tw::ui::SharedApplication::Options options;
  options.singleInstance = false;
  return tw::ui::SharedApplication::shared().run(argc, argv, std::make_shared<Delegate>(seconds),
                                                 options);
}
