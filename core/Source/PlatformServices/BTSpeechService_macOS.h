#pragma once
// BTSpeechService_macOS: the speech service over the desktop's speech synthesizer
// (tw::SpeechSynthesizer; speech-dispatcher by default). The synthesizer is made at the first
// request to speak, with the default voice and this service as its delegate, then kept.
//
// One utterance at a time: a text offered while another is still spoken gets a cancelled task
// and the running one goes on. The current utterance's task completes with a null result when
// speaking finishes, is cancelled when it was stopped, and fails (BTSpeechSynthesizerErrorDomain,
// code 0, the synthesizer's message as description) on an error or a synchronisation message;
// only the first of these counts. A synthesizer that cannot start speaking fails the task at
// once in the same way, and the next text is accepted.
//
// One shared component of the assembly; main thread only. Create it with std::make_shared (the
// synthesizer holds it weakly as its delegate).

#include <functional>
#include <memory>
#include <string>

#include "core/Source/PlatformServices/BTSpeechService.h"
#include "platform/desktop/SpeechSynthesizer.h"
#include "platform/foundation/Object.h"
#include "platform/tasks/BFTaskCompletionSource.h"

inline constexpr const char* BTSpeechSynthesizerErrorDomain = "NSSpeechSynthesizerErrorDomain";

class BTSpeechService_macOS : public tw::Object,
                              public BTSpeechService,
                              public tw::SpeechSynthesizerDelegate {
 public:
  using SynthesizerFactory = std::function<std::shared_ptr<tw::SpeechSynthesizer>()>;

  // The system's synthesizer with the default voice.
  BTSpeechService_macOS();
  // Synthesizers from `factory` instead (tests).
  explicit BTSpeechService_macOS(SynthesizerFactory factory);

  BFTaskPtr startSpeakingText(const std::string& text) override;
  void stopSpeakingAtBoundary(unsigned boundary) override;
  bool isSpeaking() const override;

  // tw::SpeechSynthesizerDelegate
  void speechSynthesizerDidFinishSpeaking(tw::SpeechSynthesizer& sender,
                                          bool finishedSpeaking) override;
  void speechSynthesizerDidEncounterError(tw::SpeechSynthesizer& sender, std::size_t characterIndex,
                                          const std::string& text,
                                          const std::string& message) override;
  void speechSynthesizerDidEncounterSyncMessage(tw::SpeechSynthesizer& sender,
                                                const std::string& message) override;

 private:
  void failCurrent(const std::string& description);

  SynthesizerFactory factory_;
  std::shared_ptr<tw::SpeechSynthesizer> synthesizer_;
  std::shared_ptr<BFTaskCompletionSource> current_;
};
