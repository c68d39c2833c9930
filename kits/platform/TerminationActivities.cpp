#include "kits/platform/TerminationActivities.h"

#include "kits/platform/TSYKitQueues.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>

#include "platform/desktop/BusConnection.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"

namespace tw {

namespace {
constexpr const char* kLogPrefix = "[Tessaly] ";
}  // namespace

// The logind side. Runs on the instance's serial queue only.
struct TerminationActivities::Inhibitor {
  Inhibitor(std::string who, double timeout) : who(std::move(who)), timeoutSeconds(timeout) {}
  ~Inhibitor() {
    if (fd >= 0) ::close(fd);
  }

  const std::string who;
  const double timeoutSeconds;
  BusConnection bus;
  int fd = -1;
  bool loggedAbsence = false;

  void logAbsenceOnce(const std::string& why) {
    if (loggedAbsence) return;
    loggedAbsence = true;
    log(LogLevel::Notice, std::string(kLogPrefix) + why +
                              "; log-out, shut-down and suspend do not wait for the kits' work");
  }

  sd_bus* systemBus() {
    if (bus.isOpen()) return bus.get();
    bus.discard();
    bus = BusConnection::open(BusConnection::Bus::System);
    if (!bus) {
      logAbsenceOnce("no system bus (" + bus.error() + ")");
      return nullptr;
    }
    sd_bus_set_exit_on_disconnect(bus.get(), 0);
    sd_bus_set_method_call_timeout(bus.get(), static_cast<std::uint64_t>(timeoutSeconds * 1e6));
    return bus.get();
  }

  void hold(const std::string& why) {
    if (fd >= 0) return;
    sd_bus* b = systemBus();
    if (!b) return;
    BusError error;
    BusMessage reply;
    const int r =
        sd_bus_call_method(b, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "Inhibit", error.get(), reply.out(),
                           "ssss", "shutdown:sleep", who.c_str(), why.c_str(), "delay");
    int received = -1;
    if (r >= 0 && sd_bus_message_read(reply.get(), "h", &received) >= 0 && received >= 0) {
      // The reply owns its descriptor; ours lives as long as the hold.
      fd = ::fcntl(received, F_DUPFD_CLOEXEC, 3);
    }
    if (fd < 0) {
      logAbsenceOnce("logind did not hand out a delay inhibitor (" +
                     std::string(error.name() ? error.name() : std::strerror(r < 0 ? -r : EBADF)) +
                     ")");
    }
  }

  void release() {
    if (fd < 0) return;
    ::close(fd);
    fd = -1;
  }
};

TerminationActivities& TerminationActivities::shared() {
  // Never destroyed: a worker may end its activity while the process exits.
  static auto* instance = new TerminationActivities;
  return *instance;
}

TerminationActivities::TerminationActivities()
    : queue_(TSYCreateSerialQueue("com.velmora.tickwell.termination-activities")) {}

TerminationActivities::~TerminationActivities() {
  // The calls already asked for read this instance; each is bounded by its time-out.
  double timeout = 1.0;
  {
    std::lock_guard lock(mutex_);
    if (inhibitor_) timeout += 2 * inhibitor_->timeoutSeconds;
  }
  waitUntilBusIdle(timeout);
}

TerminationActivities::Token TerminationActivities::begin(std::uint64_t options,
                                                          const std::string& reason) {
  if ((options & (kSuddenTerminationDisabled | kAutomaticTerminationDisabled)) == 0) return 0;
  Token token;
  bool first;
  {
    std::lock_guard lock(mutex_);
    token = nextToken_++;
    first = running_.empty();
    running_.emplace(token, Running{reason, options});
  }
  if (first) reconcileLater();
  return token;
}

void TerminationActivities::end(Token token) {
  if (token == 0) return;
  bool last;
  {
    std::lock_guard lock(mutex_);
    if (running_.erase(token) == 0) return;
    last = running_.empty();
    if (last) noneRun_.notify_all();
  }
  if (last) reconcileLater();
}

std::size_t TerminationActivities::count() const {
  std::lock_guard lock(mutex_);
  return running_.size();
}

std::vector<TerminationActivities::Running> TerminationActivities::running() const {
  std::lock_guard lock(mutex_);
  std::vector<Running> result;
  result.reserve(running_.size());
  for (const auto& [token, activity] : running_) result.push_back(activity);
  return result;
}

bool TerminationActivities::waitUntilNoneRun(double seconds) {
  std::vector<Running> left;
  {
    BlockingScope blocking;
    std::unique_lock lock(mutex_);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(std::max(0.0, seconds));
    if (noneRun_.wait_until(lock, deadline, [this] { return running_.empty(); })) return true;
    for (const auto& [token, activity] : running_) left.push_back(activity);
  }
  for (const Running& activity : left) {
    log(LogLevel::Error, std::string(kLogPrefix) + "Ending with the activity \"" + activity.reason +
                             "\" still running");
  }
  return false;
}

void TerminationActivities::inhibitThroughLogind(std::string who, double callTimeoutSeconds) {
  {
    std::lock_guard lock(mutex_);
    if (inhibitor_) return;
    inhibitor_ = std::make_shared<Inhibitor>(std::move(who), callTimeoutSeconds);
  }
  reconcileLater();
}

void TerminationActivities::reconcileLater() {
  std::shared_ptr<Inhibitor> inhibitor;
  {
    std::lock_guard lock(mutex_);
    inhibitor = inhibitor_;
  }
  if (!inhibitor) return;
  // Bursts of begins and ends collapse: each call looks at the count as it stands when it runs.
  queue_->async([this, inhibitor] {
    std::string why;
    bool want;
    {
      std::lock_guard lock(mutex_);
      want = !running_.empty();
      if (want) why = running_.begin()->second.reason;
    }
    if (want) {
      inhibitor->hold(why);
    } else {
      inhibitor->release();
    }
  });
}

bool TerminationActivities::waitUntilBusIdle(double timeoutSeconds) {
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  queue_->async([done] { done->set_value(); });
  return future.wait_for(std::chrono::duration<double>(timeoutSeconds)) ==
         std::future_status::ready;
}

}  // namespace tw
