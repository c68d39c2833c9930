#include "platform/desktop/FreedesktopNotificationCenter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/desktop/BusConnection.h"
#include "platform/desktop/DesktopText.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Thread.h"

namespace tw {

namespace {
constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kLogPrefix = "<FreedesktopNotificationCenter> ";
// Server ids remembered for clicks; servers hand out rising ids, so the oldest go first.
constexpr std::size_t kMaxRemembered = 256;

std::string errorText(int negativeErrno) { return std::strerror(-negativeErrno); }
}  // namespace

struct FreedesktopNotificationCenter::Impl {
  explicit Impl(Options o) : options(std::move(o)) {}
  ~Impl();

  // ----- any thread
  void submit(UserNotification notification);
  bool waitUntilIdle(double timeoutSeconds);

  // ----- bus thread
  enum class Phase { Idle, Probing, Ready };
  // The user data of one asynchronous call; freed when sd-bus drops the call's slot.
  struct Call {
    Impl* impl = nullptr;
    bool isProbe = false;
    std::optional<std::string> identifier;
    std::optional<Dictionary> userInfo;
    bool answered = false;
  };
  // Per identifier: the server's id of the notification on screen, and a delivery waiting for
  // the answer to the one in flight so that it can replace it.
  struct Slot {
    std::uint32_t serverId = 0;
    bool inFlight = false;
    std::optional<UserNotification> queued;
  };
  struct Shown {
    std::optional<std::string> identifier;
    std::optional<Dictionary> userInfo;
  };

  void run();
  void waitForActivity();
  void accept(UserNotification notification);
  bool connect();
  void disconnect();
  void probe();
  void send(UserNotification notification);
  void notifyAnswered(const Call& call, std::optional<std::uint32_t> serverId);
  void callAbandoned(const Call& call);
  void dropWaiting();
  void finished(std::size_t count);
  void logOnce(bool& flag, const std::string& message);
  bool startCall(sd_bus_message* message, sd_bus_message_handler_t handler, Call* call);

  static int onProbeReply(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onNotifyReply(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static void onCallDestroyed(void* userdata);
  static int onActionInvoked(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onNotificationClosed(sd_bus_message* m, void* userdata, sd_bus_error* error);

  const Options options;

  // Guards inbox, outstanding, stopping and started; idle waits on it.
  std::mutex mutex;
  std::condition_variable idle;
  std::deque<UserNotification> inbox;
  std::size_t outstanding = 0;  // handed over, not yet answered or dropped
  bool stopping = false;
  bool started = false;
  std::thread thread;
  int wakeFd = -1;

  // Bus thread only.
  BusConnection bus;
  Phase phase = Phase::Idle;
  std::deque<UserNotification> waiting;  // until the server has told its capabilities
  bool serverReadsMarkup = false;
  std::string serverName;  // unique name of the server, to tell its signals from others'
  std::map<std::string, Slot> slots;
  std::map<std::uint32_t, Shown> shown;
  bool closing = false;
  bool loggedNoBus = false;
  bool loggedNoServer = false;
  bool loggedCallFailure = false;
};

FreedesktopNotificationCenter::Impl::~Impl() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  if (started) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    thread.join();
  }
  if (wakeFd >= 0) ::close(wakeFd);
}

void FreedesktopNotificationCenter::Impl::submit(UserNotification notification) {
  std::lock_guard lock(mutex);
  if (stopping) return;
  if (!started) {
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
      log(LogLevel::Error, std::string(kLogPrefix) +
                               "cannot create the bus thread's wake-up: " + std::strerror(errno));
      return;
    }
    started = true;
    thread = startThread("tw.notifications", [this] { run(); });
  }
  inbox.push_back(std::move(notification));
  ++outstanding;
  const std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
}

bool FreedesktopNotificationCenter::Impl::waitUntilIdle(double timeoutSeconds) {
  std::unique_lock lock(mutex);
  return idle.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                       [&] { return outstanding == 0; });
}

void FreedesktopNotificationCenter::Impl::finished(std::size_t count) {
  if (count == 0) return;
  std::lock_guard lock(mutex);
  outstanding -= std::min(count, outstanding);
  if (outstanding == 0) idle.notify_all();
}

void FreedesktopNotificationCenter::Impl::logOnce(bool& flag, const std::string& message) {
  if (flag) return;
  flag = true;
  log(LogLevel::Notice, std::string(kLogPrefix) + message);
}

void FreedesktopNotificationCenter::Impl::run() {
  for (;;) {
    std::deque<UserNotification> batch;
    {
      std::lock_guard lock(mutex);
      if (stopping) break;
      batch.swap(inbox);
    }
    for (auto& n : batch) accept(std::move(n));
    if (bus) {
      const int r = sd_bus_process(bus.get(), nullptr);
      if (r < 0 || !bus.isOpen()) {
        log(LogLevel::Notice, std::string(kLogPrefix) + "lost the session bus" +
                                  (r < 0 ? " (" + errorText(r) + ")" : std::string()));
        disconnect();
        continue;
      }
      if (r > 0) continue;
    }
    waitForActivity();
  }
  disconnect();
  std::size_t left;
  {
    std::lock_guard lock(mutex);
    left = inbox.size() + waiting.size();
    inbox.clear();
  }
  waiting.clear();
  finished(left);
}

void FreedesktopNotificationCenter::Impl::waitForActivity() {
  pollfd fds[2] = {{wakeFd, POLLIN, 0}, {-1, 0, 0}};
  nfds_t count = 1;
  int timeoutMs = -1;
  if (bus) {
    fds[1].fd = sd_bus_get_fd(bus.get());
    const int events = sd_bus_get_events(bus.get());
    fds[1].events = static_cast<short>(events > 0 ? events : 0);
    count = 2;
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(bus.get(), &until) >= 0 && until != UINT64_MAX) {
      timespec ts{};
      clock_gettime(CLOCK_MONOTONIC, &ts);
      const std::uint64_t now = static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000u +
                                static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
      timeoutMs =
          until <= now
              ? 0
              : static_cast<int>(std::min<std::uint64_t>((until - now + 999) / 1000, 60'000));
    }
  }
  const int r = ::poll(fds, count, timeoutMs);
  if (r > 0 && (fds[0].revents & POLLIN)) {
    std::uint64_t value;
    [[maybe_unused]] auto n = ::read(wakeFd, &value, sizeof value);
  }
}

void FreedesktopNotificationCenter::Impl::accept(UserNotification notification) {
  if (bus && phase == Phase::Ready) {
    send(std::move(notification));
    return;
  }
  waiting.push_back(std::move(notification));
  if (phase != Phase::Probing) probe();
}

bool FreedesktopNotificationCenter::Impl::connect() {
  BusConnection b = BusConnection::open(BusConnection::Bus::Session);
  if (!b) {
    logOnce(loggedNoBus, "no session bus (" + b.error() + "); user notifications are not shown");
    return false;
  }
  loggedNoBus = false;
  sd_bus_set_exit_on_disconnect(b.get(), 0);
  // Clicks and closes come as signals; without the matches, clicks are lost but notifications
  // still show, so a failure here is not fatal.
  if (sd_bus_match_signal_async(b.get(), nullptr, nullptr, kPath, kInterface, "ActionInvoked",
                                &Impl::onActionInvoked, nullptr, this) < 0 ||
      sd_bus_match_signal_async(b.get(), nullptr, nullptr, kPath, kInterface, "NotificationClosed",
                                &Impl::onNotificationClosed, nullptr, this) < 0)
    log(LogLevel::Notice, std::string(kLogPrefix) + "cannot watch notification clicks");
  bus = std::move(b);
  return true;
}

void FreedesktopNotificationCenter::Impl::disconnect() {
  if (!bus) return;
  // Dropping the bus frees every pending call's slot; their destroy callbacks settle the
  // accounting, and `closing` keeps them from sending anything new on the dying connection.
  closing = true;
  bus.discard();
  closing = false;
  slots.clear();
  shown.clear();
  serverName.clear();
  phase = Phase::Idle;
}

bool FreedesktopNotificationCenter::Impl::startCall(sd_bus_message* message,
                                                    sd_bus_message_handler_t handler, Call* call) {
  sd_bus_slot* slot = nullptr;
  const auto usec = static_cast<std::uint64_t>(std::max(0.001, options.callTimeoutSeconds) * 1e6);
  const int r = sd_bus_call_async(bus.get(), &slot, message, handler, call, usec);
  if (r < 0) {
    logOnce(loggedCallFailure, "cannot call the notification server (" + errorText(r) + ")");
    return false;
  }
  sd_bus_slot_set_destroy_callback(slot, &Impl::onCallDestroyed);
  sd_bus_slot_set_floating(slot, 1);
  sd_bus_slot_unref(slot);
  return true;
}

void FreedesktopNotificationCenter::Impl::probe() {
  if (!bus && !connect()) {
    dropWaiting();
    return;
  }
  BusMessage m;
  int r = sd_bus_message_new_method_call(bus.get(), m.out(), kService, kPath, kInterface,
                                         "GetCapabilities");
  auto* call = new Call{this, true, std::nullopt, std::nullopt, false};
  if (r < 0 || !startCall(m.get(), &Impl::onProbeReply, call)) {
    delete call;
    dropWaiting();
    return;
  }
  phase = Phase::Probing;
}

void FreedesktopNotificationCenter::Impl::dropWaiting() {
  const std::size_t n = waiting.size();
  waiting.clear();
  finished(n);
}

namespace {
int appendNotify(sd_bus_message* m, const FreedesktopNotificationCenter::NotifyArguments& a,
                 std::uint32_t replacesId) {
  int r = sd_bus_message_append(m, "susss", a.appName.c_str(), replacesId, a.appIcon.c_str(),
                                a.summary.c_str(), a.body.c_str());
  if (r < 0) return r;
  if ((r = sd_bus_message_open_container(m, 'a', "s")) < 0) return r;
  for (const auto& action : a.actions)
    if ((r = sd_bus_message_append(m, "s", action.c_str())) < 0) return r;
  if ((r = sd_bus_message_close_container(m)) < 0) return r;
  if ((r = sd_bus_message_open_container(m, 'a', "{sv}")) < 0) return r;
  for (const auto& [key, value] : a.hints) {
    if ((r = sd_bus_message_open_container(m, 'e', "sv")) < 0) return r;
    if ((r = sd_bus_message_append(m, "s", key.c_str())) < 0) return r;
    if (const auto* s = std::get_if<std::string>(&value))
      r = sd_bus_message_append(m, "v", "s", s->c_str());
    else
      r = sd_bus_message_append(m, "v", "b", static_cast<int>(std::get<bool>(value)));
    if (r < 0) return r;
    if ((r = sd_bus_message_close_container(m)) < 0) return r;
  }
  if ((r = sd_bus_message_close_container(m)) < 0) return r;
  return sd_bus_message_append(m, "i", a.expireTimeout);
}
}  // namespace

void FreedesktopNotificationCenter::Impl::send(UserNotification notification) {
  std::uint32_t replacesId = 0;
  Slot* slot = nullptr;
  if (notification.identifier) {
    slot = &slots[*notification.identifier];
    if (slot->inFlight) {
      // Only the newest content matters; an older queued one never reaches the screen.
      if (slot->queued) finished(1);
      slot->queued = std::move(notification);
      return;
    }
    replacesId = slot->serverId;
  }
  const auto args = notifyArguments(notification, options, serverReadsMarkup);
  BusMessage m;
  int r = sd_bus_message_new_method_call(bus.get(), m.out(), kService, kPath, kInterface, "Notify");
  if (r >= 0) r = appendNotify(m.get(), args, replacesId);
  auto* call = new Call{this, false, notification.identifier, notification.userInfo, false};
  if (r < 0) logOnce(loggedCallFailure, "cannot build a notification (" + errorText(r) + ")");
  if (r < 0 || !startCall(m.get(), &Impl::onNotifyReply, call)) {
    delete call;
    finished(1);
    return;
  }
  if (slot) slot->inFlight = true;
}

int FreedesktopNotificationCenter::Impl::onProbeReply(sd_bus_message* m, void* userdata,
                                                      sd_bus_error*) {
  auto* call = static_cast<Call*>(userdata);
  call->answered = true;
  Impl& self = *call->impl;
  if (sd_bus_message_is_method_error(m, nullptr)) {
    const sd_bus_error* e = sd_bus_message_get_error(m);
    self.phase = Phase::Idle;
    self.logOnce(self.loggedNoServer,
                 std::string("no notification server on the session bus (") +
                     (e && e->name ? e->name : "unknown error") + (e && e->message ? ": " : "") +
                     (e && e->message ? e->message : "") + "); user notifications are not shown");
    self.dropWaiting();
    return 0;
  }
  self.serverReadsMarkup = false;
  char** caps = nullptr;
  if (sd_bus_message_read_strv(m, &caps) >= 0 && caps) {
    for (char** c = caps; *c; ++c) {
      if (std::strcmp(*c, "body-markup") == 0) self.serverReadsMarkup = true;
      free(*c);
    }
    free(caps);
  }
  const char* sender = sd_bus_message_get_sender(m);
  self.serverName = sender ? sender : "";
  self.loggedNoServer = false;
  self.phase = Phase::Ready;
  auto ready = std::move(self.waiting);
  self.waiting.clear();
  for (auto& n : ready) self.send(std::move(n));
  return 0;
}

int FreedesktopNotificationCenter::Impl::onNotifyReply(sd_bus_message* m, void* userdata,
                                                       sd_bus_error*) {
  auto* call = static_cast<Call*>(userdata);
  call->answered = true;
  Impl& self = *call->impl;
  std::optional<std::uint32_t> serverId;
  if (sd_bus_message_is_method_error(m, nullptr)) {
    const sd_bus_error* e = sd_bus_message_get_error(m);
    const std::string name = e && e->name ? e->name : "";
    const std::string detail = name + (e && e->message ? std::string(": ") + e->message : "");
    if (name == SD_BUS_ERROR_SERVICE_UNKNOWN || name == SD_BUS_ERROR_NAME_HAS_NO_OWNER) {
      // The server went away; ask again on the next delivery.
      self.phase = Phase::Idle;
      self.logOnce(self.loggedNoServer, "no notification server on the session bus (" + detail +
                                            "); user notifications are not shown");
    } else if (name == SD_BUS_ERROR_NO_REPLY || name == SD_BUS_ERROR_TIMEOUT) {
      self.logOnce(self.loggedCallFailure,
                   "the notification server did not answer in time (" + detail + ")");
    } else {
      self.logOnce(self.loggedCallFailure,
                   "the notification server refused a notification (" + detail + ")");
    }
  } else {
    std::uint32_t id = 0;
    if (sd_bus_message_read(m, "u", &id) >= 0) serverId = id;
    self.loggedCallFailure = false;
  }
  self.notifyAnswered(*call, serverId);
  return 0;
}

void FreedesktopNotificationCenter::Impl::notifyAnswered(const Call& call,
                                                         std::optional<std::uint32_t> serverId) {
  if (serverId && *serverId != 0) {
    shown[*serverId] = Shown{call.identifier, call.userInfo};
    while (shown.size() > kMaxRemembered) shown.erase(shown.begin());
  }
  std::optional<UserNotification> next;
  if (call.identifier) {
    auto it = slots.find(*call.identifier);
    if (it != slots.end()) {
      it->second.inFlight = false;
      if (serverId) it->second.serverId = *serverId;
      next = std::move(it->second.queued);
      it->second.queued.reset();
    }
  }
  finished(1);
  if (next) accept(std::move(*next));
}

void FreedesktopNotificationCenter::Impl::callAbandoned(const Call& call) {
  if (call.isProbe) {
    phase = Phase::Idle;
    dropWaiting();
    return;
  }
  if (call.identifier) {
    auto it = slots.find(*call.identifier);
    if (it != slots.end()) {
      it->second.inFlight = false;
      if (it->second.queued) {
        it->second.queued.reset();
        finished(1);
      }
    }
  }
  finished(1);
}

void FreedesktopNotificationCenter::Impl::onCallDestroyed(void* userdata) {
  auto* call = static_cast<Call*>(userdata);
  if (!call->answered) call->impl->callAbandoned(*call);
  delete call;
}

int FreedesktopNotificationCenter::Impl::onActionInvoked(sd_bus_message* m, void* userdata,
                                                         sd_bus_error*) {
  Impl& self = *static_cast<Impl*>(userdata);
  const char* sender = sd_bus_message_get_sender(m);
  if (!self.serverName.empty() && (!sender || self.serverName != sender)) return 0;
  std::uint32_t id = 0;
  const char* key = nullptr;
  if (sd_bus_message_read(m, "us", &id, &key) < 0 || !key) return 0;
  if (std::strcmp(key, "default") != 0) return 0;
  auto it = self.shown.find(id);
  // Servers may tell every client of every click; only our own notifications are in `shown`.
  if (it == self.shown.end()) return 0;
  postActivation(it->second.identifier, it->second.userInfo);
  return 0;
}

int FreedesktopNotificationCenter::Impl::onNotificationClosed(sd_bus_message* m, void* userdata,
                                                              sd_bus_error*) {
  Impl& self = *static_cast<Impl*>(userdata);
  const char* sender = sd_bus_message_get_sender(m);
  if (!self.serverName.empty() && (!sender || self.serverName != sender)) return 0;
  std::uint32_t id = 0, reason = 0;
  if (sd_bus_message_read(m, "uu", &id, &reason) < 0) return 0;
  if (self.shown.erase(id) == 0) return 0;
  for (auto& [identifier, slot] : self.slots)
    if (!slot.inFlight && slot.serverId == id) slot.serverId = 0;
  return 0;
}

// ---------------------------------------------------------------------------------------------

FreedesktopNotificationCenter::Options FreedesktopNotificationCenter::defaultOptions() {
  Options o;
  const Bundle& bundle = Bundle::main();
  const Value& name = bundle.objectForInfoDictionaryKey("CFBundleName");
  o.applicationName = name.string() && !name.string()->empty() ? *name.string() : "Tickwell";
  o.desktopEntry = bundle.bundleIdentifier();
  return o;
}

FreedesktopNotificationCenter::FreedesktopNotificationCenter()
    : FreedesktopNotificationCenter(defaultOptions()) {}

FreedesktopNotificationCenter::FreedesktopNotificationCenter(Options options)
    : impl_(std::make_shared<Impl>(std::move(options))) {}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter() = default;

void FreedesktopNotificationCenter::deliverNotification(const UserNotification& notification) {
  impl_->submit(notification);
}

bool FreedesktopNotificationCenter::waitUntilIdle(double timeoutSeconds) {
  return impl_->waitUntilIdle(timeoutSeconds);
}

FreedesktopNotificationCenter::NotifyArguments FreedesktopNotificationCenter::notifyArguments(
    const UserNotification& n, const Options& options, bool serverReadsMarkup) {
  NotifyArguments a;
  a.appName = desktop::validUtf8(options.applicationName);
  // A notification needs a summary to be shown at all; the application's name is the best
  // stand-in for a missing title.
  a.summary = desktop::validUtf8(n.title.value_or(""));
  if (a.summary.empty()) a.summary = a.appName;

  std::string body;
  for (const auto* part : {&n.subtitle, &n.informativeText}) {
    if (!*part || (*part)->empty()) continue;
    if (!body.empty()) body.push_back('\n');
    body += desktop::validUtf8(**part);
  }
  a.body = serverReadsMarkup ? desktop::escapeMarkup(body) : body;

  a.actions = {"default", desktop::validUtf8(localized("Show"))};
  if (!options.desktopEntry.empty())
    a.hints.emplace_back("desktop-entry", desktop::validUtf8(options.desktopEntry));
  if (n.soundName && !n.soundName->empty())
    a.hints.emplace_back("sound-name", desktop::validUtf8(*n.soundName));
  else
    a.hints.emplace_back("suppress-sound", true);
  a.expireTimeout = -1;
  return a;
}

}  // namespace tw
