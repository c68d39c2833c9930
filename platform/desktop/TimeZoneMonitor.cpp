#include "platform/desktop/TimeZoneMonitor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "platform/desktop/BusConnection.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/HostZoneFiles.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Value.h"

namespace tw {

namespace {

constexpr const char* kLogPrefix = "<TimeZoneMonitor> ";
constexpr const char* kTimedatePath = "/org/freedesktop/timedate1";
constexpr const char* kTimedateInterface = "org.freedesktop.timedate1";
constexpr const char* kLogin1Path = "/org/freedesktop/login1";
constexpr const char* kLogin1Manager = "org.freedesktop.login1.Manager";

void postOnMain(std::string name, std::optional<std::string> zone) {
  onMain([name = std::move(name), zone = std::move(zone)] {
    std::optional<Dictionary> info;
    if (zone) {
      info.emplace();
      (*info)["timeZone"] = Value(*zone);
    }
    NotificationCenter::defaultCenter()->post(name, nullptr, std::move(info));
  });
}

}  // namespace

std::string TimeZoneMonitor::zoneFilePath() {
  return hostzone::currentZoneFile().value_or(std::string());  // none for a rule string
}

struct TimeZoneMonitor::Impl {
  Impl() {
    const std::string file = zoneFilePath();
    if (!file.empty()) {
      const std::filesystem::path path(file);
      folder = path.parent_path().string();
      names.insert(path.filename().string());
      // The system's zone may also be named in /etc/timezone, beside /etc/localtime.
      if (file == hostzone::kLocaltimePath)
        names.insert(std::filesystem::path(hostzone::kTimezonePath).filename().string());
    }
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread = startThread("tw.timezone", [this] { run(); });
  }

  ~Impl() {
    stopping = true;
    const std::uint64_t one = 1;
    if (wakeFd >= 0) {
      [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    }
    thread.join();
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void run() {
    watchFile();
    watchBus();
    {
      std::lock_guard lock(mutex);
      ready = true;
    }
    readyChanged.notify_all();
    while (!stopping) {
      pollfd fds[3] = {{wakeFd, POLLIN, 0}, {inotifyFd, POLLIN, 0}, {-1, 0, 0}};
      if (bus) {
        fds[2].fd = sd_bus_get_fd(bus.get());
        const int events = sd_bus_get_events(bus.get());
        fds[2].events = static_cast<short>(events > 0 ? events : 0);
      }
      if (::poll(fds, 3, -1) < 0 && errno != EINTR) break;
      if (stopping) break;
      if (fds[1].revents & POLLIN) readFileEvents();
      if (bus) processBus();
    }
    // Ended here, on the thread that works on it, not when the monitor goes.
    bus.reset();
    if (inotifyFd >= 0) ::close(inotifyFd);
  }

  void watchFile() {
    if (folder.empty()) return;
    inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotifyFd < 0 || ::inotify_add_watch(inotifyFd, folder.c_str(),
                                             IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                                                 IN_CREATE | IN_DELETE | IN_ATTRIB) < 0) {
      log(LogLevel::Notice, std::string(kLogPrefix) + "cannot watch " + folder + " (" +
                                std::strerror(errno) + "); time zone changes there go unnoticed");
      if (inotifyFd >= 0) ::close(inotifyFd);
      inotifyFd = -1;
    }
  }

  void readFileEvents() {
    alignas(inotify_event) char buffer[4096];
    bool relevant = false;
    for (;;) {
      const ssize_t n = ::read(inotifyFd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && names.count(event->name)) relevant = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    if (relevant) postOnMain(kSystemTimeZoneDidChangeNotification, std::nullopt);
  }

  void watchBus() {
    BusConnection b = BusConnection::open(BusConnection::Bus::System);
    int r = b.openResult();
    if (b) {
      sd_bus_set_exit_on_disconnect(b.get(), 0);
      r = sd_bus_match_signal(b.get(), nullptr, nullptr, kTimedatePath,
                              "org.freedesktop.DBus.Properties", "PropertiesChanged",
                              &Impl::onPropertiesChanged, this);
    }
    if (r >= 0) {
      r = sd_bus_match_signal(b.get(), nullptr, nullptr, kLogin1Path, kLogin1Manager,
                              "PrepareForSleep", &Impl::onPrepareForSleep, this);
    }
    if (r < 0) {
      log(LogLevel::Notice, std::string(kLogPrefix) + "no system bus (" + std::strerror(-r) +
                                "); zone changes are seen only in the zone file, and waking " +
                                "from sleep not at all");
      b.discard();
      return;
    }
    bus = std::move(b);
    busWatched = true;
  }

  void processBus() {
    for (;;) {
      const int r = sd_bus_process(bus.get(), nullptr);
      if (r < 0 || !bus.isOpen()) {
        log(LogLevel::Notice, std::string(kLogPrefix) + "lost the system bus");
        bus.discard();
        busWatched = false;
        return;
      }
      if (r == 0) return;
    }
  }

  static int onPropertiesChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* interface = nullptr;
    if (sd_bus_message_read(m, "s", &interface) < 0 || !interface ||
        std::strcmp(interface, kTimedateInterface) != 0)
      return 0;
    bool changed = false;
    std::optional<std::string> zone;
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
      const char* key = nullptr;
      if ((r = sd_bus_message_read(m, "s", &key)) < 0) break;
      if (std::strcmp(key, "Timezone") == 0) {
        changed = true;
        const char* value = nullptr;
        if (sd_bus_message_read(m, "v", "s", &value) >= 0 && value) zone = value;
      } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
        break;
      }
      r = sd_bus_message_exit_container(m);
    }
    if (r >= 0) r = sd_bus_message_exit_container(m);
    char** invalidated = nullptr;
    if (r >= 0 && sd_bus_message_read_strv(m, &invalidated) >= 0 && invalidated) {
      for (char** p = invalidated; *p; ++p) {
        changed = changed || std::strcmp(*p, "Timezone") == 0;
        std::free(*p);
      }
      std::free(invalidated);
    }
    (void)userdata;
    if (changed) postOnMain(kSystemTimeZoneDidChangeNotification, zone);
    return 0;
  }

  static int onPrepareForSleep(sd_bus_message* m, void*, sd_bus_error*) {
    int sleeping = 0;
    if (sd_bus_message_read(m, "b", &sleeping) < 0) return 0;
    if (!sleeping) postOnMain(kWorkspaceDidWakeNotification, std::nullopt);
    return 0;
  }

  std::string folder;
  std::set<std::string> names;
  int wakeFd = -1;
  int inotifyFd = -1;
  BusConnection bus;  // the thread's only
  std::atomic<bool> stopping{false};
  std::atomic<bool> busWatched{false};
  // Guards ready, which readyChanged waits for.
  mutable std::mutex mutex;
  mutable std::condition_variable readyChanged;
  bool ready = false;
  std::thread thread;
};

TimeZoneMonitor::TimeZoneMonitor() : impl_(std::make_unique<Impl>()) {}
TimeZoneMonitor::~TimeZoneMonitor() = default;

bool TimeZoneMonitor::waitUntilWatching(double timeoutSeconds) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->readyChanged.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                      [&] { return impl_->ready; });
}

bool TimeZoneMonitor::watchesSystemBus() const { return impl_->busWatched; }

}  // namespace tw
