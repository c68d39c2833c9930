#include "platform/desktop/SpeechDispatcherSynthesizer.h"

#include <atomic>
#include <map>
#include <mutex>
#include <utility>

#include "platform/desktop/DesktopText.h"
#include "platform/desktop/SsipConnection.h"
#include "platform/foundation/Log.h"

namespace tw {

namespace {
constexpr const char* kLogPrefix = "<SpeechDispatcherSynthesizer> ";
// Events that beat the reply to a text, kept until the reply is in; a handful is plenty.
constexpr std::size_t kMaxEarlyEvents = 16;
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
  bool loggedUnavailable = false;

  // ----- shared with the connection's reader thread
  std::mutex mutex;
  std::uint64_t activeToken = 0;
  int activeMessage = -1;
  bool lost = false;
  std::map<int, bool> early;  // message id -> ended normally

  // Worker only. Declared last: destroyed (its reader joined) before the state its listener
  // touches.
  std::unique_ptr<SsipConnection> conn;

  void report(std::uint64_t token, Outcome outcome, std::string message = {});
  void speak(std::uint64_t token, const std::string& text);
  void cancel(std::uint64_t token);
  void closeConnection();
  bool ensureOpen(std::string& error);
  void onEvent(int messageId, bool ended);
  void onClosed();
};

void SpeechDispatcherSynthesizer::Channel::report(std::uint64_t token, Outcome outcome,
                                                  std::string message) {
  onMain([owner = owner, token, outcome, message = std::move(message)] {
    if (auto synthesizer = owner.lock()) synthesizer->handle(token, outcome, message);
  });
}

void SpeechDispatcherSynthesizer::Channel::closeConnection() {
  {
    std::lock_guard lock(mutex);
    activeToken = 0;
    activeMessage = -1;
    early.clear();
  }
  conn.reset();
}

bool SpeechDispatcherSynthesizer::Channel::ensureOpen(std::string& error) {
  if (conn && !conn->lost()) return true;
  closeConnection();
  {
    std::lock_guard lock(mutex);
    lost = false;
  }
  std::string detail;
  if (auto address = SsipConnection::resolveAddress(options.socketPath, detail)) {
    // The listener runs on the connection's reader thread, which `conn` joins before the
    // channel's state goes.
    SsipConnection::Listener listener{
        [this](int messageId, bool ended) { onEvent(messageId, ended); }, [this] { onClosed(); }};
    conn = SsipConnection::open(*address, options.clientName, options.autospawn,
                                options.responseTimeoutSeconds, std::move(listener), detail);
  }
  if (!conn) {
    error = "speech-dispatcher is not available: " + detail;
    if (!loggedUnavailable) {
      loggedUnavailable = true;
      log(LogLevel::Notice, std::string(kLogPrefix) + error);
    }
    return false;
  }
  loggedUnavailable = false;
  return true;
}

void SpeechDispatcherSynthesizer::Channel::speak(std::uint64_t token, const std::string& text) {
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
  auto messageId = conn->speak(clean, error);
  if (!messageId && conn->lost()) {
    // The daemon went away since the last text (it may have been restarted): one new connection.
    if (!ensureOpen(error)) {
      report(token, Outcome::Failed, error);
      return;
    }
    messageId = conn->speak(clean, error);
  }
  if (!messageId) {
    report(token, Outcome::Failed, error);
    return;
  }
  report(token, Outcome::Accepted);
  std::optional<bool> ended;
  bool gone = false;
  {
    std::lock_guard lock(mutex);
    if (auto it = early.find(*messageId); it != early.end()) {
      ended = it->second;
      early.erase(it);
    } else if (lost) {
      gone = true;
    } else {
      activeToken = token;
      activeMessage = *messageId;
    }
  }
  if (ended) {
    report(token, *ended ? Outcome::Finished : Outcome::Stopped);
    return;
  }
  if (gone) {
    report(token, Outcome::Failed, "speech-dispatcher closed the connection while speaking");
    return;
  }
  // A stop that came while the text was being handed over.
  if (wanted.load() != token) conn->cancel();
}

void SpeechDispatcherSynthesizer::Channel::cancel(std::uint64_t token) {
  if (!conn || conn->lost()) return;
  bool active;
  {
    std::lock_guard lock(mutex);
    active = activeToken == token;
  }
  if (active) conn->cancel();
}

void SpeechDispatcherSynthesizer::Channel::onEvent(int messageId, bool ended) {
  std::uint64_t token = 0;
  {
    std::lock_guard lock(mutex);
    if (activeToken != 0 && activeMessage == messageId) {
      token = activeToken;
      activeToken = 0;
      activeMessage = -1;
    } else {
      early[messageId] = ended;
      while (early.size() > kMaxEarlyEvents) early.erase(early.begin());
    }
  }
  if (token) report(token, ended ? Outcome::Finished : Outcome::Stopped);
}

void SpeechDispatcherSynthesizer::Channel::onClosed() {
  std::uint64_t token = 0;
  {
    std::lock_guard lock(mutex);
    lost = true;
    token = std::exchange(activeToken, 0);
    activeMessage = -1;
  }
  if (!token) return;
  log(LogLevel::Notice, std::string(kLogPrefix) + "speech-dispatcher closed the connection");
  report(token, Outcome::Failed, "speech-dispatcher closed the connection while speaking");
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
    channel_->worker->async([channel = channel_] { channel->closeConnection(); });
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
  stopped_ = 0;
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
  // Stopped it is, whatever the worker is doing (connecting, handing over, failing): the
  // outcome it reports later is read as a stop, and if it never gets to report, this does.
  stopped_ = current_;
  onMain([weak = weak_from_this(), token = current_] {
    if (auto self = weak.lock()) self->handle(token, Outcome::Stopped, {});
  });
}

bool SpeechDispatcherSynthesizer::isSpeaking() const { return current_ != 0; }

void SpeechDispatcherSynthesizer::responseTimedOut(std::uint64_t token) {
  if (token != current_ || !channel_) return;
  log(LogLevel::Notice,
      std::string(kLogPrefix) + "speech-dispatcher did not answer in time; using a new connection");
  // The old worker may be stuck (connecting, starting the daemon); later texts get a worker of
  // their own, and the old connection is closed whenever its worker comes back.
  auto old = std::move(channel_);
  old->wanted.store(0);
  old->worker->async([old] { old->closeConnection(); });
  handle(token, Outcome::Failed, "speech-dispatcher did not answer in time");
}

void SpeechDispatcherSynthesizer::handle(std::uint64_t token, Outcome outcome,
                                         const std::string& message) {
  if (token != current_) return;
  watchdog_.cancel();
  if (outcome == Outcome::Accepted) return;
  if (token == stopped_) outcome = Outcome::Stopped;
  current_ = 0;
  stopped_ = 0;
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
