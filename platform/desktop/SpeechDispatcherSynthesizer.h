#pragma once
// tw::SpeechDispatcherSynthesizer: the system's speech synthesizer, speaking through
// speech-dispatcher (its text protocol over the daemon's socket, see SsipConnection) with the
// user's default voice.
//
// Nothing here blocks the main thread: opening the connection (which may start the daemon) and
// every command run on a serial worker queue of the synthesizer's own; the daemon's end and
// cancel events arrive on the connection's reader thread and are moved to the main queue before
// the delegate hears of them. A daemon that cannot be reached fails the utterance with an error
// (and is logged once per outage); a daemon that does not accept a text within the response
// time-out fails it too, and the synthesizer carries on with a fresh connection so a stuck call can
// never hold later texts. A connection the daemon dropped is noticed at once and the utterance
// fails instead of waiting for ever. A stopped utterance ends as stopped, whatever the worker
// was doing when the stop came.
//
// speech-dispatcher stops at once; word and sentence boundaries stop immediately as well.
//
// Owned by its speech service; main thread only (see SpeechSynthesizer for the contract).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/desktop/SpeechSynthesizer.h"
#include "platform/foundation/Dispatch.h"

namespace tw {

class SpeechDispatcherSynthesizer final
    : public SpeechSynthesizer,
      public std::enable_shared_from_this<SpeechDispatcherSynthesizer> {
  struct PrivateTag {};

 public:
  struct Options {
    // The daemon's socket; nullopt: speech-dispatcher's own choice ($SPEECHD_ADDRESS, else its
    // socket in the user's runtime directory).
    std::optional<std::string> socketPath;
    // Whether a missing daemon may be started on first use.
    bool autospawn = true;
    // How long the daemon may take to accept a text (including starting it).
    double responseTimeoutSeconds = 10.0;
    std::string clientName = "Tickwell";
  };

  static std::shared_ptr<SpeechDispatcherSynthesizer> create();
  static std::shared_ptr<SpeechDispatcherSynthesizer> create(Options options);
  SpeechDispatcherSynthesizer(Options options, PrivateTag);
  ~SpeechDispatcherSynthesizer() override;

  bool startSpeakingString(const std::string& text) override;
  void stopSpeakingAtBoundary(SpeechBoundary boundary) override;
  bool isSpeaking() const override;

  // Worker-side state, shared with speech-dispatcher's event thread; defined in the source.
  struct Channel;
  enum class Outcome { Accepted, Finished, Stopped, Failed };

 private:
  std::shared_ptr<Channel> makeChannel();
  void handle(std::uint64_t token, Outcome outcome, const std::string& message);
  void responseTimedOut(std::uint64_t token);

  const Options options_;
  std::shared_ptr<Channel> channel_;
  std::uint64_t current_ = 0;  // the utterance whose end the delegate will hear; 0: none
  std::uint64_t nextToken_ = 0;
  std::uint64_t stopped_ = 0;  // the utterance a stop was asked for; it ends as stopped
  std::string currentText_;
  DelayedWork watchdog_;
};

}  // namespace tw
