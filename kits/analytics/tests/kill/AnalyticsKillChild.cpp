// One launch of the kill test: starts the analytics controller over a folder, logs numbered
// custom events and, after each call has returned, tells the test on standard output. A launch
// with "final" then ends its file and waits until every file of the folder has been sent.
// Usage: analytics_kill_child <root> <events URL> <tag> <count> [final]
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

#include "kits/analytics/ORVFileUtils.h"
#include "kits/analytics/ORVOrisethController.h"
#include "platform/testsupport/TestSupport.h"

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  std::filesystem::path root = argv[1];
  std::string url = argv[2], tag = argv[3];
  int count = std::atoi(argv[4]);
  bool final = argc > 5 && std::string(argv[5]) == "final";

  ORVMetadata::Fields fields;
  fields.APIKey = std::string("kill-test-key");
  fields.installationId = std::string("abc");
  // Files of a few events, so that rotations, packaging and uploads run all the time, yet few
  // enough of them that the start-up cap of 100 pending packages never drops one.
  tw::Dictionary settings{
      {"analytics", tw::Dictionary{{"url", url}, {"max_byte_size_per_file", 2000}}}};
  auto controller = ORVOrisethController::create(std::make_shared<ORVMetadata>(std::move(fields)),
                                                 root, false, settings);
  controller->setRetryHandlerForTesting(std::make_shared<ORVNetworkRetryHandler>(nullptr));
  // Tells the test that the start-up is over, so that its kills can fall among the log calls
  // however slowly a loaded machine starts processes (a line with a space is no event name).
  constexpr std::string_view kReady = "started up\n";
  if (::write(STDOUT_FILENO, kReady.data(), kReady.size()) != static_cast<ssize_t>(kReady.size()))
    return 3;

  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> pause(0, 1500);
  for (int i = 0; i < count; ++i) {
    std::string name = tag + "-" + std::to_string(i);
    controller->logEvent(std::make_shared<ORVCustomEvent>(name, std::nullopt));
    std::string line = name + "\n";
    if (::write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
      return 3;
    ::usleep(static_cast<useconds_t>(pause(random)));
  }
  if (!final) {
    tw::test::pumpMainUntil([] { return false; }, 1.0);
    return 0;
  }
  // Becoming active ends the current file; then everything left goes out.
  controller->enqueueEvent(std::make_shared<ORVLifecycleEvent>("app_became_active"));
  auto events = ORVOrisethController::eventDirectoryForRootDirectory(root);
  bool sent = tw::test::pumpMainUntil(
      [&] {
        controller->eventQueue()->waitUntilAllOperationsAreFinished();
        return ORVFileUtils::allFilesInDirectory(events).empty();
      },
      60);
  return sent ? 0 : 4;
}
