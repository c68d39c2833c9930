#pragma once
// tw::SpeechSynthesizer: speaks one text at a time and tells its delegate how the utterance
// ended. The system's synthesizer is speech-dispatcher (SpeechDispatcherSynthesizer); tests put
// a fake in its place.
//
// Contract every implementation keeps:
//   - startSpeakingString returns false when speaking could not even begin; then the delegate
//     hears nothing of that text. Otherwise exactly one of the delegate's end callbacks follows
//     (finished, normally or stopped; or an error) unless a newer startSpeakingString replaced
//     the utterance first: the replaced one is stopped and its delegate callbacks never come.
//   - stopSpeakingAtBoundary ends the current utterance; its delegate then hears
//     didFinishSpeaking(false).
//   - Delegate callbacks arrive on the main queue, never inside the call that caused them.
//
// Owned by whoever created it (one synthesizer per speech service); main thread only. The
// delegate is held weakly.

#include <cstddef>
#include <memory>
#include <string>

namespace tw {

// Where speaking stops; the values are the ones the speech service's callers pass.
enum class SpeechBoundary : unsigned { Immediate = 0, Word = 1, Sentence = 2 };

class SpeechSynthesizer;

class SpeechSynthesizerDelegate {
 public:
  virtual ~SpeechSynthesizerDelegate() = default;
  // finishedSpeaking is false when the utterance was stopped.
  virtual void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer& sender,
                                                  bool finishedSpeaking) = 0;
  virtual void speechSynthesizerDidEncounterError(SpeechSynthesizer& sender,
                                                  std::size_t characterIndex,
                                                  const std::string& text,
                                                  const std::string& message) = 0;
  virtual void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer& sender,
                                                        const std::string& message) = 0;
};

class SpeechSynthesizer {
 public:
  virtual ~SpeechSynthesizer() = default;

  // The system's synthesizer with the user's default voice.
  static std::shared_ptr<SpeechSynthesizer> createWithDefaultVoice();

  void setDelegate(std::weak_ptr<SpeechSynthesizerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  std::shared_ptr<SpeechSynthesizerDelegate> delegate() const { return delegate_.lock(); }

  virtual bool startSpeakingString(const std::string& text) = 0;
  virtual void stopSpeakingAtBoundary(SpeechBoundary boundary) = 0;
  virtual bool isSpeaking() const = 0;

 private:
  std::weak_ptr<SpeechSynthesizerDelegate> delegate_;
};

}  // namespace tw
