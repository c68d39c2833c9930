#pragma once
// BTSpeechService: speaks text aloud, one text at a time. One shared component of the assembly,
// found by this protocol; the action executor speaks custom messages through it.
//
// Main thread only.

#include <string>

#include "platform/tasks/BFTask.h"

class BTSpeechService {
 public:
  virtual ~BTSpeechService() = default;

  // A task that completes when the text has been spoken (null result), is cancelled when
  // speaking was stopped or another text was still being spoken, and fails when the
  // synthesizer reports an error.
  virtual BFTaskPtr startSpeakingText(const std::string& text) = 0;
  // `boundary`, a tw::SpeechBoundary value: 0 immediate, 1 word, 2 sentence.
  virtual void stopSpeakingAtBoundary(unsigned boundary) = 0;
  virtual bool isSpeaking() const = 0;
};
