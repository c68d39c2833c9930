#include "platform/foundation/Log.h"

#include <syslog.h>

#include <memory>

namespace tw {

namespace {

struct HookState {
  // Guards hook and exclusive.
  std::mutex mutex;
  std::shared_ptr<const LogHook> hook;
  bool exclusive = false;
};

HookState& hookState() {
  static HookState* state = new HookState;  // never destroyed: logging may run during exit
  return *state;
}

int syslogPriority(LogLevel level) {
  switch (level) {
    case LogLevel::Debug:
      return LOG_DEBUG;
    case LogLevel::Info:
      return LOG_INFO;
    case LogLevel::Notice:
      return LOG_NOTICE;
    case LogLevel::Error:
      return LOG_ERR;
    case LogLevel::Fault:
      return LOG_CRIT;
  }
  return LOG_NOTICE;
}

void openSystemLog() {
  static std::once_flag once;
  std::call_once(once, [] { openlog("Tickwell", LOG_PID, LOG_USER); });
}

}  // namespace

void log(LogLevel level, std::string_view message) {
  std::shared_ptr<const LogHook> hook;
  bool exclusive = false;
  {
    HookState& st = hookState();
    std::lock_guard lock(st.mutex);
    hook = st.hook;
    exclusive = st.exclusive;
  }
  if (hook && *hook) {
    try {
      (*hook)(level, message);
    } catch (...) {
      // A failing hook must not take the logging caller down with it.
    }
  }
  if (exclusive && hook) return;
  openSystemLog();
  syslog(syslogPriority(level), "%.*s", static_cast<int>(message.size()), message.data());
}

LogHook setLogHook(LogHook hook, bool exclusive) {
  HookState& st = hookState();
  std::shared_ptr<const LogHook> next;
  if (hook) next = std::make_shared<const LogHook>(std::move(hook));
  std::lock_guard lock(st.mutex);
  std::shared_ptr<const LogHook> previous = std::move(st.hook);
  st.hook = std::move(next);
  st.exclusive = st.hook ? exclusive : false;
  return previous ? *previous : LogHook{};
}

bool logHookIsExclusive() {
  HookState& st = hookState();
  std::lock_guard lock(st.mutex);
  return st.exclusive;
}

LogCapture::LogCapture() : state_(std::make_shared<State>()) {
  // Swap under the lock so no message can slip between reading the old hook and chaining to it.
  HookState& st = hookState();
  std::lock_guard lock(st.mutex);
  previous_ = st.hook ? *st.hook : LogHook{};
  previousExclusive_ = st.exclusive;
  LogHook previous = previous_;
  auto state = state_;
  st.hook =
      std::make_shared<const LogHook>([state, previous](LogLevel level, std::string_view message) {
        {
          std::lock_guard lock(state->mutex);
          state->lines.emplace_back(message);
        }
        if (previous) previous(level, message);
      });
  st.exclusive = true;
}

LogCapture::~LogCapture() { setLogHook(previous_, previousExclusive_); }

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard lock(state_->mutex);
  return state_->lines;
}

bool LogCapture::contains(std::string_view needle) const {
  std::lock_guard lock(state_->mutex);
  for (const auto& line : state_->lines)
    if (line.find(needle) != std::string::npos) return true;
  return false;
}

void LogCapture::clear() {
  std::lock_guard lock(state_->mutex);
  state_->lines.clear();
}

}  // namespace tw
