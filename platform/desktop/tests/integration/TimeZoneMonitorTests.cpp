// The time-zone monitor against a zone file of the test's own (named by TZ) and a private bus
// standing in for the system bus, on which the test sends what the time-date service and login1
// would.
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/TimeZoneMonitor.h"
#include "platform/desktop/tests/integration/PrivateSessionBus.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testsupport/TestSupport.h"

namespace tw {
namespace {

namespace fs = std::filesystem;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* v = std::getenv(name)) saved_ = v;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (saved_)
      ::setenv(name_, saved_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// A client of the private bus that sends signals as the system's services would.
class SignalSender {
 public:
  explicit SignalSender(const std::string& address) {
    if (sd_bus_new(&bus_) < 0) return;
    if (sd_bus_set_address(bus_, address.c_str()) < 0 || sd_bus_set_bus_client(bus_, 1) < 0 ||
        sd_bus_start(bus_) < 0) {
      sd_bus_unref(bus_);
      bus_ = nullptr;
    }
  }
  ~SignalSender() {
    if (bus_) sd_bus_flush_close_unref(bus_);
  }
  bool ok() const { return bus_ != nullptr; }

  void timedateChanged(const char* property, const char* value) {
    sd_bus_message* m = nullptr;
    ASSERT_GE(sd_bus_message_new_signal(bus_, &m, "/org/freedesktop/timedate1",
                                        "org.freedesktop.DBus.Properties", "PropertiesChanged"),
              0);
    ASSERT_GE(sd_bus_message_append(m, "sa{sv}as", "org.freedesktop.timedate1", 1, property, "s",
                                    value, 0),
              0);
    send(m);
  }
  void prepareForSleep(bool sleeping) {
    sd_bus_message* m = nullptr;
    ASSERT_GE(sd_bus_message_new_signal(bus_, &m, "/org/freedesktop/login1",
                                        "org.freedesktop.login1.Manager", "PrepareForSleep"),
              0);
    ASSERT_GE(sd_bus_message_append(m, "b", static_cast<int>(sleeping)), 0);
    send(m);
  }

 private:
  void send(sd_bus_message* m) {
    EXPECT_GE(sd_bus_send(bus_, m, nullptr), 0);
    sd_bus_message_unref(m);
    sd_bus_flush(bus_);
  }
  sd_bus* bus_ = nullptr;
};

bool threadNamed(const std::string& name) {
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    std::string comm;
    std::getline(std::ifstream(task.path() / "comm"), comm);
    if (comm == name) return true;
  }
  return false;
}

TEST(TimeZoneMonitorTest, ZoneFileServiceAndWakeEachAnnounceAChange) {
  test::PrivateSessionBus systemBus;
  if (!systemBus.ok()) GTEST_SKIP() << "no private message bus: " << systemBus.failure();
  ScopedEnv systemAddress("DBUS_SYSTEM_BUS_ADDRESS", systemBus.address());
  test::TempDir dir;
  const fs::path zone = dir.path() / "zone";
  std::ofstream(zone) << "TZif";
  ScopedEnv tz("TZ", ":" + zone.string());
  EXPECT_EQ(TimeZoneMonitor::zoneFilePath(), zone.string());

  std::vector<Notification> heard;
  auto center = NotificationCenter::defaultCenter();
  ScopedNotificationToken zoneToken =
      center->addObserver(kSystemTimeZoneDidChangeNotification, nullptr, nullptr,
                          [&](const Notification& n) { heard.push_back(n); });
  ScopedNotificationToken wakeToken =
      center->addObserver(kWorkspaceDidWakeNotification, nullptr, nullptr,
                          [&](const Notification& n) { heard.push_back(n); });

  TimeZoneMonitor monitor;
  ASSERT_TRUE(monitor.waitUntilWatching(10.0));
  ASSERT_TRUE(monitor.watchesSystemBus());
  // Started as every thread of ours is, so it carries a name (and the crash kit's stack).
  EXPECT_TRUE(threadNamed("tw.timezone"));

  // Replaced whole, as zone tools do; another file in the folder is no change.
  std::ofstream(dir.path() / "other") << "x";
  std::ofstream(dir.path() / "next") << "TZif2";
  fs::rename(dir.path() / "next", zone);
  ASSERT_TRUE(test::pumpMainUntil([&] { return !heard.empty(); }, 10.0));
  test::pumpMainUntil([] { return false; }, 0.2);  // let the file's further events arrive
  for (const auto& n : heard) EXPECT_EQ(n.name, kSystemTimeZoneDidChangeNotification);
  heard.clear();

  SignalSender sender(systemBus.address());
  ASSERT_TRUE(sender.ok());
  sender.timedateChanged("NTP", "ignored");  // another property: no change
  sender.timedateChanged("Timezone", "Asia/Tokyo");
  sender.prepareForSleep(true);  // going to sleep: nothing yet
  sender.prepareForSleep(false);
  ASSERT_TRUE(test::pumpMainUntil([&] { return heard.size() >= 2; }, 10.0));
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0].name, kSystemTimeZoneDidChangeNotification);
  ASSERT_TRUE(heard[0].userInfo);
  EXPECT_EQ(heard[0].userInfo->at("timeZone"), Value(std::string("Asia/Tokyo")));
  EXPECT_EQ(heard[1].name, kWorkspaceDidWakeNotification);
}

}  // namespace
}  // namespace tw
