#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <future>
#include <thread>

#include "kits/analytics/ORVUploader.h"
#include "kits/analytics/SystemPowerState.h"
#include "platform/desktop/tests/integration/PrivateSessionBus.h"

namespace tw::test {
namespace {

// The power daemon as the tests' own: serves its OnBattery property on a private bus.
class FakePowerDaemon {
 public:
  FakePowerDaemon(const std::string& address, bool onBattery) : onBattery_(onBattery) {
    std::promise<bool> ready;
    auto started = ready.get_future();
    thread_ = std::thread([this, address, &ready] {
      sd_bus* bus = nullptr;
      bool ok = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address.c_str()) >= 0 &&
                sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
                sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/UPower",
                                         "org.freedesktop.UPower", kVtable, this) >= 0 &&
                sd_bus_request_name(bus, "org.freedesktop.UPower", 0) >= 0;
      ready.set_value(ok);
      while (ok && !stopping_) {
        int r = sd_bus_process(bus, nullptr);
        if (r < 0) break;
        if (r == 0) sd_bus_wait(bus, 50'000);
      }
      if (bus) sd_bus_flush_close_unref(bus);
    });
    ok_ = started.get();
  }
  ~FakePowerDaemon() {
    stopping_ = true;
    thread_.join();
  }
  bool ok() const { return ok_; }

 private:
  static int onBattery(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                       void* self, sd_bus_error*) {
    return sd_bus_message_append(reply, "b", static_cast<FakePowerDaemon*>(self)->onBattery_);
  }
  static constexpr sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0), SD_BUS_PROPERTY("OnBattery", "b", &FakePowerDaemon::onBattery, 0, 0),
      SD_BUS_VTABLE_END};

  int onBattery_;
  bool ok_ = false;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// The uploader's session as built on its queue.
std::shared_ptr<MVXURLSessionConfiguration> sessionConfiguration(ORVUploader& uploader) {
  std::promise<std::shared_ptr<MVXURLSessionConfiguration>> got;
  uploader.operationQueue()->addOperationWithBlock(
      [&] { got.set_value(uploader.session()->configuration()); });
  return got.get_future().get();
}

TEST(AnalyticsPowerState, ReadFromThePowerDaemonOnTheSystemBus) {
  // No bus at all (the tests' default address serves nothing), then a bus without the daemon.
  EXPECT_EQ(SystemPowerState::current(), "unknown");
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.ok()) << bus.failure();
  std::string saved = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
  EXPECT_EQ(SystemPowerState::current(), "unknown");

  auto queue = OperationQueue::create("io.oriseth.EventQueue");
  queue->setMaxConcurrentOperationCount(1);
  auto uploader = ORVUploader::create(queue, std::weak_ptr<ORVUploaderDelegate>());
  uploader->setLowPowerModeProvider(
      [] { return SystemPowerState::isLowPower(SystemPowerState::current()); });
  uploader->setDefaultUploadTimeout(21600);
  uploader->setLowPowerUploadTimeout(3600);
  {
    FakePowerDaemon daemon(bus.address(), false);
    ASSERT_TRUE(daemon.ok());
    EXPECT_EQ(SystemPowerState::current(), "ac");
    auto configuration = sessionConfiguration(*uploader);
    EXPECT_EQ(configuration->timeoutIntervalForResource, 21600);
    EXPECT_TRUE(configuration->allowsCellularAccess);
  }
  {
    FakePowerDaemon daemon(bus.address(), true);
    ASSERT_TRUE(daemon.ok());
    EXPECT_EQ(SystemPowerState::current(), "battery");
    // A change of state reaches the uploader when it next wants its session.
    auto configuration = sessionConfiguration(*uploader);
    EXPECT_EQ(configuration->timeoutIntervalForResource, 3600);
    EXPECT_FALSE(configuration->allowsCellularAccess);
  }
  queue->waitUntilAllOperationsAreFinished();
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
}

}  // namespace
}  // namespace tw::test
