#include "core/Source/PlatformServices/BTSpeechService_macOS.h"

#include "platform/foundation/Error.h"

BTSpeechService_macOS::BTSpeechService_macOS()
    : BTSpeechService_macOS([] { return tw::SpeechSynthesizer::createWithDefaultVoice(); }) {}

BTSpeechService_macOS::BTSpeechService_macOS(SynthesizerFactory factory)
    : factory_(std::move(factory)) {}

BFTaskPtr BTSpeechService_macOS::startSpeakingText(const std::string& text) {
  if (isSpeaking()) return BFTask::cancelledTask();
  if (!synthesizer_) {
    synthesizer_ = factory_ ? factory_() : nullptr;
    if (synthesizer_)
      synthesizer_->setDelegate(std::weak_ptr<tw::SpeechSynthesizerDelegate>(
          std::dynamic_pointer_cast<BTSpeechService_macOS>(shared_from_this())));
  }
  current_ = BFTaskCompletionSource::taskCompletionSource();
  auto task = current_->task();
  // The synthesizer reports nothing for a text it could not begin, so the task is settled here.
  if (!synthesizer_ || !synthesizer_->startSpeakingString(text))
    failCurrent("The speech synthesizer could not start speaking.");
  return task;
}

void BTSpeechService_macOS::stopSpeakingAtBoundary(unsigned boundary) {
  if (synthesizer_) synthesizer_->stopSpeakingAtBoundary(static_cast<tw::SpeechBoundary>(boundary));
}

bool BTSpeechService_macOS::isSpeaking() const {
  return current_ && !current_->task()->isCompleted();
}

void BTSpeechService_macOS::speechSynthesizerDidFinishSpeaking(tw::SpeechSynthesizer&,
                                                               bool finishedSpeaking) {
  if (!current_) return;
  if (finishedSpeaking)
    current_->trySetResult(tw::Value());
  else
    current_->trySetCancelled();
}

void BTSpeechService_macOS::speechSynthesizerDidEncounterError(tw::SpeechSynthesizer&, std::size_t,
                                                               const std::string&,
                                                               const std::string& message) {
  failCurrent(message);
}

void BTSpeechService_macOS::speechSynthesizerDidEncounterSyncMessage(tw::SpeechSynthesizer&,
                                                                     const std::string& message) {
  failCurrent(message);
}

void BTSpeechService_macOS::failCurrent(const std::string& description) {
  if (!current_) return;
  current_->trySetError(tw::Error::make(BTSpeechSynthesizerErrorDomain, 0,
                                        {{tw::kLocalizedDescriptionKey, description}}));
}
