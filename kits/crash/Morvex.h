#pragma once
// Morvex: the crash-reporting kit's public class, the one the application hands to the kit
// registry: Tessaly::with({tw::kitClass<Morvex>()}). It is a TSYKit; the registry starts the kit
// through initializeIfNeeded, which starts the shared instance once. The class registers itself
// under the name "Morvex" when the library loads, so other kits find it by name.
//
// One shared instance per process, alive for the process. Any thread.

#include <atomic>
#include <memory>
#include <string>

class Morvex {
 public:
  static constexpr const char* kClassName = "Morvex";

  static std::shared_ptr<Morvex> sharedInstance();
  static std::string bundleIdentifier() { return "com.pelworth.morvex.mac"; }
  static std::string kitDisplayVersion() { return "3.12.0"; }
  static std::string kitBuildVersion() { return "136"; }
  // start on the shared instance.
  static void initializeIfNeeded();

  // Starts the kit; later calls do nothing.
  void start();
  bool isStarted() const { return started_.load(); }

 private:
  std::atomic<bool> started_{false};
};
