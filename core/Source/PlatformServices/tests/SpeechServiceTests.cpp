// The speech service's one-utterance-at-a-time rules, over a synthesizer the test drives.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/Source/PlatformServices/BTSpeechService_macOS.h"

namespace {

class FakeSynthesizer : public tw::SpeechSynthesizer {
 public:
  bool startSpeakingString(const std::string& text) override {
    if (refuse) return false;
    spoken.push_back(text);
    speaking = true;
    return true;
  }
  void stopSpeakingAtBoundary(tw::SpeechBoundary boundary) override { stops.push_back(boundary); }
  bool isSpeaking() const override { return speaking; }

  void finish(bool normally) {
    speaking = false;
    delegate()->speechSynthesizerDidFinishSpeaking(*this, normally);
  }
  void fail(const std::string& message) {
    delegate()->speechSynthesizerDidEncounterError(*this, 3, spoken.back(), message);
  }
  void syncMessage(const std::string& message) {
    delegate()->speechSynthesizerDidEncounterSyncMessage(*this, message);
  }

  bool refuse = false;
  bool speaking = false;
  std::vector<std::string> spoken;
  std::vector<tw::SpeechBoundary> stops;
};

class SpeechServiceTest : public ::testing::Test {
 protected:
  std::shared_ptr<BTSpeechService_macOS> service_ = std::make_shared<BTSpeechService_macOS>([this] {
    ++made_;
    return synthesizer_;
  });
  std::shared_ptr<FakeSynthesizer> synthesizer_ = std::make_shared<FakeSynthesizer>();
  int made_ = 0;
};

void expectSpeechError(const BFTaskPtr& task, const std::string& description) {
  ASSERT_TRUE(task->isFaulted());
  EXPECT_EQ(task->error()->domain(), "NSSpeechSynthesizerErrorDomain");
  EXPECT_EQ(task->error()->code(), 0);
  EXPECT_EQ(task->error()->localizedDescription(), description);
}

TEST_F(SpeechServiceTest, FinishedUtteranceCompletesItsTaskWithANullResult) {
  EXPECT_FALSE(service_->isSpeaking());
  auto task = service_->startSpeakingText("Tea is ready");
  EXPECT_FALSE(task->isCompleted());
  EXPECT_TRUE(service_->isSpeaking());
  EXPECT_EQ(synthesizer_->spoken, (std::vector<std::string>{"Tea is ready"}));

  synthesizer_->finish(true);
  ASSERT_TRUE(task->isCompleted());
  EXPECT_FALSE(task->isCancelled());
  EXPECT_FALSE(task->isFaulted());
  EXPECT_TRUE(task->result().isNull());
  EXPECT_FALSE(service_->isSpeaking());
}

TEST_F(SpeechServiceTest, SecondTextWhileSpeakingIsCancelledAndDoesNotInterrupt) {
  auto first = service_->startSpeakingText("first");
  auto second = service_->startSpeakingText("second");
  EXPECT_TRUE(second->isCancelled());
  EXPECT_FALSE(first->isCompleted());
  EXPECT_EQ(synthesizer_->spoken, (std::vector<std::string>{"first"}));
  EXPECT_TRUE(synthesizer_->stops.empty());

  synthesizer_->finish(true);
  EXPECT_TRUE(first->isCompleted());
  EXPECT_FALSE(first->isCancelled());
  auto third = service_->startSpeakingText("third");
  EXPECT_FALSE(third->isCompleted());
  EXPECT_EQ(synthesizer_->spoken.back(), "third");
}

TEST_F(SpeechServiceTest, StopPassesTheBoundaryAndCancelsTheCurrentTask) {
  service_->stopSpeakingAtBoundary(0);  // nothing spoken yet: no synthesizer to stop
  EXPECT_EQ(made_, 0);

  auto task = service_->startSpeakingText("long text");
  service_->stopSpeakingAtBoundary(1);
  ASSERT_EQ(synthesizer_->stops.size(), 1u);
  EXPECT_EQ(synthesizer_->stops[0], tw::SpeechBoundary::Word);
  synthesizer_->finish(false);
  EXPECT_TRUE(task->isCancelled());
  EXPECT_FALSE(service_->isSpeaking());
}

TEST_F(SpeechServiceTest, ErrorsAndSyncMessagesFailWithCodeZeroAndOnlyTheFirstEndCounts) {
  auto task = service_->startSpeakingText("one");
  synthesizer_->fail("audio device lost");
  synthesizer_->finish(true);  // a late end of the same utterance changes nothing
  expectSpeechError(task, "audio device lost");
  EXPECT_FALSE(service_->isSpeaking());

  auto synced = service_->startSpeakingText("two");
  synthesizer_->syncMessage("[[sync 0x2A]]");
  synthesizer_->fail("second word");
  expectSpeechError(synced, "[[sync 0x2A]]");
}

TEST_F(SpeechServiceTest, SynthesizerIsMadeOnceWithTheServiceAsItsDelegate) {
  service_->startSpeakingText("one");
  EXPECT_EQ(synthesizer_->delegate(),
            std::static_pointer_cast<tw::SpeechSynthesizerDelegate>(service_));
  synthesizer_->finish(true);
  service_->startSpeakingText("two");
  EXPECT_EQ(made_, 1);
}

TEST_F(SpeechServiceTest, SynthesizerThatCannotStartFailsTheTaskAndTheNextTextIsAccepted) {
  synthesizer_->refuse = true;
  auto refused = service_->startSpeakingText("one");
  expectSpeechError(refused, "The speech synthesizer could not start speaking.");
  EXPECT_FALSE(service_->isSpeaking());

  synthesizer_->refuse = false;
  auto next = service_->startSpeakingText("two");
  EXPECT_FALSE(next->isCompleted());
  EXPECT_EQ(synthesizer_->spoken, (std::vector<std::string>{"two"}));
}

TEST(SpeechService, CallbacksWithoutAnUtteranceAreIgnored) {
  auto synthesizer = std::make_shared<FakeSynthesizer>();
  auto service = std::make_shared<BTSpeechService_macOS>([&] { return synthesizer; });
  synthesizer->setDelegate(std::static_pointer_cast<tw::SpeechSynthesizerDelegate>(service));
  synthesizer->spoken.push_back("stray");
  synthesizer->finish(true);
  synthesizer->fail("stray");
  synthesizer->syncMessage("stray");
  EXPECT_FALSE(service->isSpeaking());
}

}  // namespace
