#include "platform/desktop/SpeechSynthesizer.h"

#include "platform/desktop/SpeechDispatcherSynthesizer.h"

namespace tw {

std::shared_ptr<SpeechSynthesizer> SpeechSynthesizer::createWithDefaultVoice() {
  return SpeechDispatcherSynthesizer::create();
}

}  // namespace tw
