#include "platform/desktop/SleepInhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <map>
#include <optional>

#include "platform/desktop/BusConnection.h"
#include "platform/desktop/SleepInhibition.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"

namespace tw {

namespace {

constexpr const char* kLogPrefix = "<SleepInhibitor> ";

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kPortalInhibit = "org.freedesktop.portal.Inhibit";
constexpr const char* kPortalRequest = "org.freedesktop.portal.Request";
constexpr const char* kLogin1Service = "org.freedesktop.login1";
constexpr const char* kLogin1Path = "/org/freedesktop/login1";
constexpr const char* kLogin1Manager = "org.freedesktop.login1.Manager";
constexpr const char* kScreenSaverService = "org.freedesktop.ScreenSaver";
constexpr const char* kScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kScreenSaverInterface = "org.freedesktop.ScreenSaver";

std::string errorText(int negativeErrno) { return std::strerror(-negativeErrno); }

std::string describe(const BusError& error, int r) {
  if (error.name() != nullptr) {
    return std::string(error.name()) + (error.message() ? std::string(": ") + error.message() : "");
  }
  return errorText(r);
}

class ActivityToken final : public ProcessActivities::Activity {
 public:
  explicit ActivityToken(std::uint64_t id) : id(id) {}
  const std::uint64_t id;
};

}  // namespace

// Everything below runs on the inhibitor's serial queue only.
struct SleepInhibitor::State {
  explicit State(Options o) : options(std::move(o)) {}
  ~State() {
    while (!held.empty()) release(held.begin()->first);
  }

  struct Held {
    std::optional<std::string> portalRequest;
    int login1Fd = -1;
    std::optional<std::uint32_t> screenSaverCookie;
  };

  const Options options;
  BusConnection session;
  BusConnection system;
  std::map<std::uint64_t, Held> held;
  bool loggedNoSession = false, loggedNoSystem = false, loggedNoLogin1 = false,
       loggedNoScreenSaver = false, loggedPortalRefused = false, loggedNoPortal = false;

  std::uint64_t timeoutUsec() const {
    return static_cast<std::uint64_t>(std::max(0.001, options.callTimeoutSeconds) * 1e6);
  }

  void logOnce(bool& flag, const std::string& message) {
    if (flag) return;
    flag = true;
    log(LogLevel::Notice, std::string(kLogPrefix) + message);
  }

  // The bus, (re)opened when needed; null when there is none.
  sd_bus* bus(bool isSystem) {
    BusConnection& b = isSystem ? system : session;
    if (b.isOpen()) return b.get();
    b.discard();
    b = BusConnection::open(isSystem ? BusConnection::Bus::System : BusConnection::Bus::Session);
    if (!b) {
      logOnce(isSystem ? loggedNoSystem : loggedNoSession,
              std::string("no ") + (isSystem ? "system" : "session") + " bus (" + b.error() +
                  "); sleep is not prevented through it");
      return nullptr;
    }
    sd_bus_set_exit_on_disconnect(b.get(), 0);
    return b.get();
  }

  // One method call with its arguments appended by `append`; the reply or null (with `error`).
  template <class Append>
  BusMessage call(sd_bus* b, const char* service, const char* path, const char* interface,
                  const char* member, Append&& append, std::string& error) {
    BusMessage m;
    BusMessage reply;
    BusError e;
    int r = sd_bus_message_new_method_call(b, m.out(), service, path, interface, member);
    if (r >= 0) r = append(m.get());
    if (r >= 0) r = sd_bus_call(b, m.get(), timeoutUsec(), e.get(), reply.out());
    if (r < 0) {
      error = describe(e, r);
      return {};
    }
    return reply;
  }

  bool portalPresent() {
    sd_bus* b = bus(false);
    if (!b) return false;
    std::string error;
    BusMessage reply = call(
        b, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        [](sd_bus_message* m) { return sd_bus_message_append(m, "s", kPortalService); }, error);
    int owned = 0;
    if (reply && sd_bus_message_read(reply.get(), "b", &owned) < 0) owned = 0;
    if (owned) return true;
    // A portal is normally started on demand.
    reply = call(
        b, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "ListActivatableNames", [](sd_bus_message*) { return 0; }, error);
    bool activatable = false;
    char** names = nullptr;
    if (reply && sd_bus_message_read_strv(reply.get(), &names) >= 0 && names) {
      for (char** n = names; *n; ++n) {
        activatable = activatable || std::strcmp(*n, kPortalService) == 0;
        free(*n);
      }
      free(names);
    }
    return activatable;
  }

  std::optional<std::string> portalInhibit(std::uint32_t flags, const std::string& reason) {
    sd_bus* b = bus(false);
    if (!b) return std::nullopt;
    std::string error;
    BusMessage reply = call(
        b, kPortalService, kPortalPath, kPortalInhibit, "Inhibit",
        [&](sd_bus_message* m) {
          return sd_bus_message_append(m, "sua{sv}", "", flags, 1, "reason", "s", reason.c_str());
        },
        error);
    const char* handle = nullptr;
    std::optional<std::string> result;
    if (reply && sd_bus_message_read(reply.get(), "o", &handle) >= 0 && handle) result = handle;
    if (!result) {
      logOnce(loggedPortalRefused, "the desktop portal refused to inhibit sleep (" + error +
                                       "); asking login1 and the screen saver instead");
    }
    return result;
  }

  int login1Inhibit(const std::string& reason) {
    sd_bus* b = bus(true);
    if (!b) return -1;
    std::string error;
    BusMessage reply = call(
        b, kLogin1Service, kLogin1Path, kLogin1Manager, "Inhibit",
        [&](sd_bus_message* m) {
          return sd_bus_message_append(m, "ssss", "idle", options.applicationName.c_str(),
                                       reason.c_str(), "block");
        },
        error);
    int fd = -1;
    // The descriptor belongs to the reply; ours is a duplicate that lives as long as the hold.
    if (reply && sd_bus_message_read(reply.get(), "h", &fd) >= 0 && fd >= 0) {
      fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    } else {
      fd = -1;
    }
    if (fd < 0) {
      logOnce(loggedNoLogin1, "login1 did not inhibit idle sleep (" +
                                  (error.empty() ? std::string("no descriptor") : error) + ")");
    }
    return fd;
  }

  std::optional<std::uint32_t> screenSaverInhibit(const std::string& reason) {
    sd_bus* b = bus(false);
    if (!b) return std::nullopt;
    std::string error;
    BusMessage reply = call(
        b, kScreenSaverService, kScreenSaverPath, kScreenSaverInterface, "Inhibit",
        [&](sd_bus_message* m) {
          return sd_bus_message_append(m, "ss", options.applicationName.c_str(), reason.c_str());
        },
        error);
    std::uint32_t cookie = 0;
    std::optional<std::uint32_t> result;
    if (reply && sd_bus_message_read(reply.get(), "u", &cookie) >= 0) result = cookie;
    if (!result) {
      logOnce(loggedNoScreenSaver,
              "the screen saver service did not inhibit display sleep (" + error + ")");
    }
    return result;
  }

  void begin(std::uint64_t id, std::uint64_t activityOptions, const std::string& reason) {
    Held h;
    SleepInhibitionCalls calls = sleepInhibitionCalls(activityOptions, false);
    if (calls.any()) {
      if (portalPresent()) {
        SleepInhibitionCalls viaPortal = sleepInhibitionCalls(activityOptions, true);
        h.portalRequest = portalInhibit(viaPortal.portalFlags, reason);
        if (h.portalRequest) calls = viaPortal;
      } else {
        logOnce(loggedNoPortal,
                "no desktop portal on the session bus; inhibiting sleep without it");
      }
      if (calls.login1Idle) h.login1Fd = login1Inhibit(reason);
      if (calls.screenSaver) h.screenSaverCookie = screenSaverInhibit(reason);
    }
    held[id] = std::move(h);
  }

  void release(std::uint64_t id) {
    auto it = held.find(id);
    if (it == held.end()) return;
    Held h = std::move(it->second);
    held.erase(it);
    std::string error;
    if (h.portalRequest) {
      if (sd_bus* b = bus(false)) {
        call(
            b, kPortalService, h.portalRequest->c_str(), kPortalRequest, "Close",
            [](sd_bus_message*) { return 0; }, error);
      }
    }
    if (h.login1Fd >= 0) ::close(h.login1Fd);
    if (h.screenSaverCookie) {
      if (sd_bus* b = bus(false)) {
        const std::uint32_t cookie = *h.screenSaverCookie;
        call(
            b, kScreenSaverService, kScreenSaverPath, kScreenSaverInterface, "UnInhibit",
            [cookie](sd_bus_message* m) { return sd_bus_message_append(m, "u", cookie); }, error);
      }
    }
  }
};

namespace {
std::atomic<std::uint64_t> nextActivityId{1};
}  // namespace

SleepInhibitor::Options SleepInhibitor::defaultOptions() {
  Options o;
  const Value& name = Bundle::main().objectForInfoDictionaryKey("CFBundleName");
  o.applicationName = name.string() && !name.string()->empty() ? *name.string() : "Tickwell";
  return o;
}

namespace {
std::shared_ptr<DispatchQueue> inhibitorQueue() {
  return DispatchQueue::createSerial("com.velmora.tickwell.sleep-inhibitor");
}
}  // namespace

SleepInhibitor::SleepInhibitor(Options options)
    : state_(std::make_shared<State>(std::move(options))), queue_(inhibitorQueue()) {}

SleepInhibitor::~SleepInhibitor() {
  // The queue finishes what was asked, then the state goes (releasing every hold) with its last
  // block; the caller does not wait.
  auto state = std::move(state_);
  queue_->async([state]() mutable { state.reset(); });
}

ProcessActivities::Token SleepInhibitor::beginActivity(std::uint64_t options,
                                                       const std::string& reason) {
  auto token = std::make_shared<ActivityToken>(nextActivityId++);
  queue_->async(
      [state = state_, id = token->id, options, reason] { state->begin(id, options, reason); });
  return token;
}

void SleepInhibitor::endActivity(const Token& token) {
  auto* activity = dynamic_cast<ActivityToken*>(token.get());
  if (activity == nullptr) return;
  queue_->async([state = state_, id = activity->id] { state->release(id); });
}

bool SleepInhibitor::waitUntilIdle(double timeoutSeconds) {
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  queue_->async([done] { done->set_value(); });
  return future.wait_for(std::chrono::duration<double>(timeoutSeconds)) ==
         std::future_status::ready;
}

std::shared_ptr<ProcessActivities> ProcessActivities::shared() {
  // Never destroyed: at exit the process's bus connections and descriptors close, which ends
  // every inhibition, and no queue work is started during static destruction.
  static const auto* service = new std::shared_ptr<ProcessActivities>(
      std::make_shared<SleepInhibitor>(SleepInhibitor::defaultOptions()));
  return *service;
}

}  // namespace tw
