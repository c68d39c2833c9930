#include "platform/desktop/tests/integration/FakeSleepServices.h"

#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace tw::test {

namespace {
constexpr const char* kRequestPrefix = "/org/freedesktop/portal/desktop/request/1_1/t";
}  // namespace

struct FakeSleepServices::Methods {
  static FakeSleepServices& self(void* userdata) {
    return *static_cast<FakeSleepServices*>(userdata);
  }

  static int portalInhibit(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto& s = self(userdata);
    const char* window = nullptr;
    std::uint32_t flags = 0;
    int r = sd_bus_message_read(m, "su", &window, &flags);
    if (r < 0) return r;
    std::string reason;
    if ((r = sd_bus_message_enter_container(m, 'a', "{sv}")) < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
      const char* key = nullptr;
      if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
      if (std::strcmp(key, "reason") == 0) {
        const char* value = nullptr;
        if ((r = sd_bus_message_read(m, "v", "s", &value)) < 0) return r;
        reason = value;
      } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
        return r;
      }
      if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) return r;
    s.record("Portal.Inhibit flags=" + std::to_string(flags) + " reason=" + reason);
    if (s.options_.portalRefuses) {
      return sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "inhibiting is not supported");
    }
    const std::string path = kRequestPrefix + std::to_string(++s.nextRequest_);
    return sd_bus_reply_method_return(m, "o", path.c_str());
  }

  static int requestClose(sd_bus_message* m, void* userdata, sd_bus_error*) {
    self(userdata).record(std::string("Request.Close ") + sd_bus_message_get_path(m));
    return sd_bus_reply_method_return(m, "");
  }

  static int screenSaverInhibit(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto& s = self(userdata);
    const char *app = nullptr, *reason = nullptr;
    int r = sd_bus_message_read(m, "ss", &app, &reason);
    if (r < 0) return r;
    const unsigned cookie = ++s.nextCookie_;
    s.record(std::string("ScreenSaver.Inhibit app=") + app + " reason=" + reason);
    return sd_bus_reply_method_return(m, "u", cookie);
  }

  static int screenSaverUnInhibit(sd_bus_message* m, void* userdata, sd_bus_error*) {
    std::uint32_t cookie = 0;
    int r = sd_bus_message_read(m, "u", &cookie);
    if (r < 0) return r;
    self(userdata).record("ScreenSaver.UnInhibit cookie=" + std::to_string(cookie));
    return sd_bus_reply_method_return(m, "");
  }

  static int login1Inhibit(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto& s = self(userdata);
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    int r = sd_bus_message_read(m, "ssss", &what, &who, &why, &mode);
    if (r < 0) return r;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) < 0) return -errno;
    {
      std::lock_guard lock(s.mutex_);
      s.login1ReadEnds_.push_back(fds[0]);
    }
    s.record(std::string("login1.Inhibit what=") + what + " who=" + who + " why=" + why +
             " mode=" + mode);
    r = sd_bus_reply_method_return(m, "h", fds[1]);  // sends a duplicate
    ::close(fds[1]);
    return r;
  }
};

namespace {
const sd_bus_vtable kPortalVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "sua{sv}", "o", &FakeSleepServices::Methods::portalInhibit, 0),
    SD_BUS_VTABLE_END};
const sd_bus_vtable kRequestVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Close", "", "", &FakeSleepServices::Methods::requestClose, 0),
    SD_BUS_VTABLE_END};
const sd_bus_vtable kScreenSaverVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ss", "u", &FakeSleepServices::Methods::screenSaverInhibit, 0),
    SD_BUS_METHOD("UnInhibit", "u", "", &FakeSleepServices::Methods::screenSaverUnInhibit, 0),
    SD_BUS_VTABLE_END};
const sd_bus_vtable kLogin1Vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeSleepServices::Methods::login1Inhibit, 0),
    SD_BUS_VTABLE_END};
}  // namespace

FakeSleepServices::FakeSleepServices(std::string busAddress, Options options) : options_(options) {
  thread_ = std::thread([this, address = std::move(busAddress)] { run(address); });
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return ready_; });
}

FakeSleepServices::~FakeSleepServices() {
  stopping_ = true;
  thread_.join();
  for (int fd : login1ReadEnds_) ::close(fd);
}

void FakeSleepServices::run(const std::string& address) {
  sd_bus* b = nullptr;
  bool ok = sd_bus_new(&b) >= 0 && sd_bus_set_address(b, address.c_str()) >= 0 &&
            sd_bus_set_bus_client(b, 1) >= 0 && sd_bus_negotiate_fds(b, 1) >= 0 &&
            sd_bus_start(b) >= 0;
  auto serve = [&](const char* name, const char* path, const char* interface,
                   const sd_bus_vtable* vtable) {
    ok = ok && sd_bus_add_object_vtable(b, nullptr, path, interface, vtable, this) >= 0 &&
         sd_bus_request_name(b, name, 0) >= 0;
  };
  if (ok && (options_.services & Portal)) {
    serve("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
          "org.freedesktop.portal.Inhibit", kPortalVtable);
    ok = ok && sd_bus_add_fallback_vtable(b, nullptr, "/org/freedesktop/portal/desktop/request",
                                          "org.freedesktop.portal.Request", kRequestVtable, nullptr,
                                          this) >= 0;
  }
  if (ok && (options_.services & ScreenSaver)) {
    serve("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
          "org.freedesktop.ScreenSaver", kScreenSaverVtable);
  }
  if (ok && (options_.services & Login1)) {
    serve("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
          kLogin1Vtable);
  }
  bus_ = b;
  {
    std::lock_guard lock(mutex_);
    ok_ = ok;
    ready_ = true;
  }
  changed_.notify_all();
  while (ok && !stopping_) {
    const int r = sd_bus_process(b, nullptr);
    if (r < 0) break;
    if (r == 0) sd_bus_wait(b, 50'000);
  }
  if (b) sd_bus_flush_close_unref(b);
  bus_ = nullptr;
}

void FakeSleepServices::record(std::string line) {
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(line));
  }
  changed_.notify_all();
}

std::vector<std::string> FakeSleepServices::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

bool FakeSleepServices::waitForCalls(std::size_t count, double timeoutSeconds) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                           [&] { return calls_.size() >= count; });
}

int FakeSleepServices::heldLogin1Inhibitions() const {
  std::lock_guard lock(mutex_);
  int held = 0;
  for (int fd : login1ReadEnds_) {
    pollfd p{fd, POLLIN, 0};
    // A closed write end shows as hang-up (end of file) on the read end.
    held += ::poll(&p, 1, 0) == 0;
  }
  return held;
}

}  // namespace tw::test
