#include "platform/desktop/SpeechDispatcherSynthesizer.h"

#include <fcntl.h>
#include <libspeechd.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "platform/desktop/DesktopText.h"
#include "platform/foundation/Log.h"

namespace tw {

namespace {
constexpr const char* kLogPrefix = "<SpeechDispatcherSynthesizer> ";
// Events that beat spd_say's own return, kept until it returns; a handful is plenty.
constexpr std::size_t kMaxEarlyEvents = 16;

void onSpeechEvent(std::size_t messageId, std::size_t clientId, SPDNotificationType type);

// libspeechd writes to its socket with write(): once the daemon has gone, that raises SIGPIPE,
// which would end the process. On the worker thread the signal stays blocked, and one raised
// during a call is taken back before the worker moves on.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
  }
  ~SigpipeGuard() {
    timespec zero{};
    while (sigtimedwait(&set_, nullptr, &zero) > 0) {
    }
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t set_;
};
}  // namespace

struct SpeechDispatcherSynthesizer::Channel : std::enable_shared_from_this<Channel> {
  Channel(const Options& o, std::weak_ptr<SpeechDispatcherSynthesizer> w)
      : options(o),
        owner(std::move(w)),
        worker(DispatchQueue::createSerial("com.velmora.tickwell.speech", QoS::UserInitiated)) {}

  const Options options;
  const std::weak_ptr<SpeechDispatcherSynthesizer> owner;
  const std::shared_ptr<DispatchQueue> worker;
  // The utterance the main thread still wants spoken; 0 after a stop.
  std::atomic<std::uint64_t> wanted{0};

  // ----- worker only
  SPDConnection* conn = nullptr;
  bool loggedUnavailable = false;
  bool watching = false;

  // ----- shared with speech-dispatcher's event thread
  std::mutex mutex;
  bool connected = false;
  std::size_t clientId = 0;
  std::uint64_t activeToken = 0;
  int activeMessage = -1;
  std::map<int, bool> early;  // message id -> ended normally

  void report(std::uint64_t token, Outcome outcome, std::string message = {});
  void speak(std::uint64_t token, const std::string& text);
  void cancel(std::uint64_t token);
  void close();
  bool ensureOpen(std::string& error);
  bool connectionLost() const;
  void closeConnection();
  void watch();
  void checkAlive();
  void onEvent(std::size_t messageId, std::size_t eventClientId, bool ended);
};

namespace {
std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
// Never destroyed: speech-dispatcher's event threads may still call in during exit.
std::vector<std::weak_ptr<SpeechDispatcherSynthesizer::Channel>>& registry() {
  static auto* channels = new std::vector<std::weak_ptr<SpeechDispatcherSynthesizer::Channel>>();
  return *channels;
}

void registerChannel(const std::shared_ptr<SpeechDispatcherSynthesizer::Channel>& channel) {
  std::lock_guard lock(registryMutex());
  auto& all = registry();
  std::erase_if(all, [](const auto& w) { return w.expired(); });
  all.push_back(channel);
}

void unregisterChannel(const SpeechDispatcherSynthesizer::Channel* channel) {
  std::lock_guard lock(registryMutex());
  std::erase_if(registry(), [channel](const auto& w) {
    auto c = w.lock();
    return !c || c.get() == channel;
  });
}

// libspeechd's callbacks carry no user data, so one function serves every connection and finds
// the channel by the client id the daemon gave it.
void onSpeechEvent(std::size_t messageId, std::size_t clientId, SPDNotificationType type) {
  // spd_close cancels this thread; being cancelled inside our own frames (holding a lock,
  // half-way through posting) must not happen.
  int oldState = 0;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
  std::vector<std::shared_ptr<SpeechDispatcherSynthesizer::Channel>> channels;
  {
    std::lock_guard lock(registryMutex());
    for (const auto& w : registry())
      if (auto c = w.lock()) channels.push_back(std::move(c));
  }
  for (const auto& c : channels) c->onEvent(messageId, clientId, type == SPD_EVENT_END);
  channels.clear();
  pthread_setcancelstate(oldState, nullptr);
}
}  // namespace

void SpeechDispatcherSynthesizer::Channel::report(std::uint64_t token, Outcome outcome,
                                                  std::string message) {
  onMain([owner = owner, token, outcome, message = std::move(message)] {
    if (auto synthesizer = owner.lock()) synthesizer->handle(token, outcome, message);
  });
}

bool SpeechDispatcherSynthesizer::Channel::connectionLost() const {
  if (!conn) return true;
  // The event thread closes the socket and clears the stream when it reads the end of it.
  if (__atomic_load_n(&conn->stream, __ATOMIC_ACQUIRE) == nullptr) return true;
  pollfd p{conn->socket, POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
}

void SpeechDispatcherSynthesizer::Channel::closeConnection() {
  if (!conn) return;
  unregisterChannel(this);
  {
    std::lock_guard lock(mutex);
    connected = false;
    activeToken = 0;
    activeMessage = -1;
    early.clear();
  }
  if (__atomic_load_n(&conn->stream, __ATOMIC_ACQUIRE) == nullptr) {
    // The event thread has already closed the socket, and spd_close would close that
    // descriptor number again, which by now may belong to someone else: give it one of ours.
    const int placeholder = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (placeholder < 0) {
      conn = nullptr;  // leaked rather than closing a stranger's descriptor
      return;
    }
    conn->socket = placeholder;
  }
  spd_close(conn);
  conn = nullptr;
}

bool SpeechDispatcherSynthesizer::Channel::ensureOpen(std::string& error) {
  if (conn) {
    if (!connectionLost()) return true;
    closeConnection();
  }
  SPDConnectionAddress address{};
  std::string path;
  const SPDConnectionAddress* where = nullptr;
  if (options.socketPath) {
    path = *options.socketPath;
    address.method = SPD_METHOD_UNIX_SOCKET;
    address.unix_socket_name = path.data();
    where = &address;
  }
  char* openError = nullptr;
  SPDConnection* c = spd_open2(options.clientName.c_str(), "main", nullptr, SPD_MODE_THREADED,
                               where, options.autospawn ? 1 : 0, &openError);
  const std::string detail = openError ? openError : "unknown error";
  std::free(openError);
  if (c) {
    c->callback_end = &onSpeechEvent;
    c->callback_cancel = &onSpeechEvent;
    const int id =
        (spd_set_notification_on(c, SPD_END) == 0 && spd_set_notification_on(c, SPD_CANCEL) == 0)
            ? spd_get_client_id(c)
            : -1;
    if (id < 0) {
      spd_close(c);
      c = nullptr;
      error = "speech-dispatcher does not report the end of speech";
    } else {
      std::lock_guard lock(mutex);
      connected = true;
      clientId = static_cast<std::size_t>(id);
      activeToken = 0;
      activeMessage = -1;
      early.clear();
    }
  } else {
    error = "speech-dispatcher is not available: " + detail;
  }
  if (!c) {
    if (!loggedUnavailable) {
      loggedUnavailable = true;
      log(LogLevel::Notice, std::string(kLogPrefix) + error);
    }
    return false;
  }
  conn = c;
  loggedUnavailable = false;
  registerChannel(shared_from_this());
  return true;
}

void SpeechDispatcherSynthesizer::Channel::speak(std::uint64_t token, const std::string& text) {
  SigpipeGuard guard;
  if (wanted.load() != token) {
    report(token, Outcome::Stopped);
    return;
  }
  std::string error;
  if (!ensureOpen(error)) {
    report(token, Outcome::Failed, error);
    return;
  }
  const std::string clean = desktop::validUtf8(text);
  int messageId = spd_say(conn, SPD_MESSAGE, clean.c_str());
  if (messageId < 0 && connectionLost()) {
    // The daemon went away since the last text (it may have been restarted): one new connection.
    closeConnection();
    if (!ensureOpen(error)) {
      report(token, Outcome::Failed, error);
      return;
    }
    messageId = spd_say(conn, SPD_MESSAGE, clean.c_str());
  }
  if (messageId < 0) {
    report(token, Outcome::Failed, "speech-dispatcher did not accept the text");
    return;
  }
  report(token, Outcome::Accepted);
  std::optional<bool> ended;
  {
    std::lock_guard lock(mutex);
    if (auto it = early.find(messageId); it != early.end()) {
      ended = it->second;
      early.erase(it);
    } else {
      activeToken = token;
      activeMessage = messageId;
    }
  }
  if (ended) {
    report(token, *ended ? Outcome::Finished : Outcome::Stopped);
    return;
  }
  // A stop that came while the text was being handed over.
  if (wanted.load() != token) spd_cancel(conn);
  watch();
}

void SpeechDispatcherSynthesizer::Channel::cancel(std::uint64_t token) {
  SigpipeGuard guard;
  if (!conn || connectionLost()) return;
  bool active;
  {
    std::lock_guard lock(mutex);
    active = activeToken == token;
  }
  if (active) spd_cancel(conn);
}

void SpeechDispatcherSynthesizer::Channel::watch() {
  if (watching) return;
  watching = true;
  worker->after(1.0, [self = shared_from_this()] {
    self->watching = false;
    self->checkAlive();
  });
}

void SpeechDispatcherSynthesizer::Channel::checkAlive() {
  std::uint64_t token;
  {
    std::lock_guard lock(mutex);
    token = activeToken;
  }
  if (token == 0 || !conn) return;
  if (!connectionLost()) {
    watch();
    return;
  }
  SigpipeGuard guard;
  closeConnection();
  log(LogLevel::Notice, std::string(kLogPrefix) + "speech-dispatcher closed the connection");
  report(token, Outcome::Failed, "speech-dispatcher closed the connection while speaking");
}

void SpeechDispatcherSynthesizer::Channel::close() {
  SigpipeGuard guard;
  closeConnection();
}

void SpeechDispatcherSynthesizer::Channel::onEvent(std::size_t messageId, std::size_t eventClientId,
                                                   bool ended) {
  std::uint64_t token = 0;
  {
    std::lock_guard lock(mutex);
    if (!connected || eventClientId != clientId) return;
    if (activeToken != 0 && activeMessage == static_cast<int>(messageId)) {
      token = activeToken;
      activeToken = 0;
      activeMessage = -1;
    } else {
      early[static_cast<int>(messageId)] = ended;
      while (early.size() > kMaxEarlyEvents) early.erase(early.begin());
    }
  }
  if (token) report(token, ended ? Outcome::Finished : Outcome::Stopped);
}

// ---------------------------------------------------------------------------------------------

std::shared_ptr<SpeechDispatcherSynthesizer> SpeechDispatcherSynthesizer::create() {
  return create(Options{});
}

std::shared_ptr<SpeechDispatcherSynthesizer> SpeechDispatcherSynthesizer::create(Options options) {
  return std::make_shared<SpeechDispatcherSynthesizer>(std::move(options), PrivateTag{});
}

SpeechDispatcherSynthesizer::SpeechDispatcherSynthesizer(Options options, PrivateTag)
    : options_(std::move(options)) {}

SpeechDispatcherSynthesizer::~SpeechDispatcherSynthesizer() {
  watchdog_.cancel();
  if (channel_) {
    channel_->wanted.store(0);
    channel_->worker->async([channel = channel_] { channel->close(); });
  }
}

std::shared_ptr<SpeechDispatcherSynthesizer::Channel> SpeechDispatcherSynthesizer::makeChannel() {
  return std::make_shared<Channel>(options_, weak_from_this());
}

bool SpeechDispatcherSynthesizer::startSpeakingString(const std::string& text) {
  if (!channel_) channel_ = makeChannel();
  if (current_ != 0)
    channel_->worker->async([channel = channel_, old = current_] { channel->cancel(old); });
  const std::uint64_t token = ++nextToken_;
  current_ = token;
  currentText_ = text;
  channel_->wanted.store(token);
  channel_->worker->async([channel = channel_, token, text] { channel->speak(token, text); });
  watchdog_.cancel();
  watchdog_ = DispatchQueue::main()->after(options_.responseTimeoutSeconds,
                                           [weak = weak_from_this(), token] {
                                             if (auto self = weak.lock())
                                               self->responseTimedOut(token);
                                           });
  return true;
}

void SpeechDispatcherSynthesizer::stopSpeakingAtBoundary(SpeechBoundary) {
  if (current_ == 0 || !channel_) return;
  std::uint64_t expected = current_;
  channel_->wanted.compare_exchange_strong(expected, 0);
  channel_->worker->async([channel = channel_, token = current_] { channel->cancel(token); });
}

bool SpeechDispatcherSynthesizer::isSpeaking() const { return current_ != 0; }

void SpeechDispatcherSynthesizer::responseTimedOut(std::uint64_t token) {
  if (token != current_ || !channel_) return;
  log(LogLevel::Notice,
      std::string(kLogPrefix) + "speech-dispatcher did not answer in time; using a new connection");
  // The old worker may be stuck inside libspeechd for good; later texts get a worker of their
  // own, and the old connection is closed whenever its worker comes back.
  auto old = std::move(channel_);
  old->wanted.store(0);
  old->worker->async([old] { old->close(); });
  handle(token, Outcome::Failed, "speech-dispatcher did not answer in time");
}

void SpeechDispatcherSynthesizer::handle(std::uint64_t token, Outcome outcome,
                                         const std::string& message) {
  if (token != current_) return;
  watchdog_.cancel();
  if (outcome == Outcome::Accepted) return;
  current_ = 0;
  const std::string text = std::move(currentText_);
  currentText_.clear();
  auto delegate = this->delegate();
  if (!delegate) return;
  switch (outcome) {
    case Outcome::Finished:
      delegate->speechSynthesizerDidFinishSpeaking(*this, true);
      break;
    case Outcome::Stopped:
      delegate->speechSynthesizerDidFinishSpeaking(*this, false);
      break;
    case Outcome::Failed:
      delegate->speechSynthesizerDidEncounterError(*this, 0, text, message);
      break;
    case Outcome::Accepted:
      break;
  }
}

}  // namespace tw
