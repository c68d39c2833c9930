#include "platform/desktop/tests/integration/FakeNotificationServer.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <future>

namespace tw::test {

namespace {
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";

int readHints(sd_bus_message* m, std::map<std::string, std::string>& hints) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
    char type = 0;
    const char* contents = nullptr;
    if ((r = sd_bus_message_peek_type(m, &type, &contents)) < 0) return r;
    const std::string signature = contents ? contents : "";
    std::string value;
    if ((r = sd_bus_message_enter_container(m, 'v', contents)) < 0) return r;
    if (signature == "s") {
      const char* s = nullptr;
      if ((r = sd_bus_message_read(m, "s", &s)) < 0) return r;
      value = std::string("s:") + s;
    } else if (signature == "b") {
      int b = 0;
      if ((r = sd_bus_message_read(m, "b", &b)) < 0) return r;
      value = b ? "b:true" : "b:false";
    } else {
      if ((r = sd_bus_message_skip(m, contents)) < 0) return r;
      value = "?:" + signature;
    }
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    hints[key] = value;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}
}  // namespace

struct FakeNotificationServer::Methods {
  static int notify(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto& self = *static_cast<FakeNotificationServer*>(userdata);
    NotifyCall call;
    call.receivedNanos = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
    const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    int r = sd_bus_message_read(m, "susss", &app, &call.replacesId, &icon, &summary, &body);
    if (r < 0) return r;
    call.appName = app;
    call.appIcon = icon;
    call.summary = summary;
    call.body = body;
    char** actions = nullptr;
    if ((r = sd_bus_message_read_strv(m, &actions)) < 0) return r;
    for (char** a = actions; a && *a; ++a) {
      call.actions.emplace_back(*a);
      free(*a);
    }
    free(actions);
    if ((r = readHints(m, call.hints)) < 0) return r;
    if ((r = sd_bus_message_read(m, "i", &call.expireTimeout)) < 0) return r;
    call.id = call.replacesId != 0 ? call.replacesId : ++self.nextId_;
    const std::uint32_t id = call.id;
    {
      std::lock_guard lock(self.mutex_);
      self.calls_.push_back(std::move(call));
    }
    self.changed_.notify_all();
    if (self.options_.holdReplies) {
      // Answered later: sd-bus leaves a method call pending as long as nobody replies.
      self.held_.emplace_back(sd_bus_message_ref(m), id);
      return 1;
    }
    return sd_bus_reply_method_return(m, "u", id);
  }

  static int close(sd_bus_message* m, void*, sd_bus_error*) {
    std::uint32_t id = 0;
    const int r = sd_bus_message_read(m, "u", &id);
    if (r < 0) return r;
    sd_bus_emit_signal(sd_bus_message_get_bus(m), kPath, kInterface, "NotificationClosed", "uu", id,
                       3u);
    return sd_bus_reply_method_return(m, "");
  }

  static int capabilities(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto& self = *static_cast<FakeNotificationServer*>(userdata);
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(m, &reply);
    if (r < 0) return r;
    std::vector<char*> caps;
    for (const auto& c : self.options_.capabilities) caps.push_back(const_cast<char*>(c.c_str()));
    caps.push_back(nullptr);
    r = sd_bus_message_append_strv(reply, caps.data());
    if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
  }

  static int information(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "ssss", "fake", "tests", "1.0", "1.2");
  }
};

namespace {
const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", &FakeNotificationServer::Methods::notify,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CloseNotification", "u", "", &FakeNotificationServer::Methods::close,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetCapabilities", "", "as", &FakeNotificationServer::Methods::capabilities,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetServerInformation", "", "ssss", &FakeNotificationServer::Methods::information,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("ActionInvoked", "us", 0),
    SD_BUS_SIGNAL("NotificationClosed", "uu", 0),
    SD_BUS_VTABLE_END};
}  // namespace

FakeNotificationServer::FakeNotificationServer() : FakeNotificationServer(Options{}) {}

FakeNotificationServer::FakeNotificationServer(Options options) : options_(std::move(options)) {
  std::promise<bool> ready;
  auto started = ready.get_future();
  thread_ = std::thread([this, &ready] {
    bool good = sd_bus_open_user(&bus_) >= 0 &&
                sd_bus_add_object_vtable(bus_, nullptr, kPath, kInterface, kVtable, this) >= 0 &&
                sd_bus_request_name(bus_, "org.freedesktop.Notifications", 0) >= 0;
    ready.set_value(good);
    if (good) run();
    for (auto& [m, id] : held_) sd_bus_message_unref(m);
    held_.clear();
    if (bus_) bus_ = sd_bus_flush_close_unref(bus_);
  });
  ok_ = started.get();
}

FakeNotificationServer::~FakeNotificationServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  thread_.join();
}

void FakeNotificationServer::run() {
  for (;;) {
    std::deque<std::function<void()>> commands;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      commands.swap(commands_);
    }
    for (auto& c : commands) c();
    const int r = sd_bus_process(bus_, nullptr);
    if (r < 0) return;
    if (r > 0) continue;
    // A short wait keeps requests from the test thread prompt without a wake-up descriptor.
    sd_bus_wait(bus_, 20'000);
  }
}

void FakeNotificationServer::post(std::function<void()> command) {
  std::lock_guard lock(mutex_);
  commands_.push_back(std::move(command));
}

std::vector<FakeNotificationServer::NotifyCall> FakeNotificationServer::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

bool FakeNotificationServer::waitForCalls(std::size_t count, double timeoutSeconds) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                           [&] { return calls_.size() >= count; });
}

void FakeNotificationServer::releaseReplies() {
  post([this] {
    options_.holdReplies = false;
    for (auto& [m, id] : held_) {
      sd_bus_reply_method_return(m, "u", id);
      sd_bus_message_unref(m);
    }
    held_.clear();
  });
}

void FakeNotificationServer::emitActionInvoked(std::uint32_t id, const std::string& actionKey) {
  post([this, id, actionKey] {
    sd_bus_emit_signal(bus_, kPath, kInterface, "ActionInvoked", "us", id, actionKey.c_str());
  });
}

void FakeNotificationServer::emitNotificationClosed(std::uint32_t id, std::uint32_t reason) {
  post([this, id, reason] {
    sd_bus_emit_signal(bus_, kPath, kInterface, "NotificationClosed", "uu", id, reason);
  });
}

}  // namespace tw::test
