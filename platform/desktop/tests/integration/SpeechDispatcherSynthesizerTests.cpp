// The speech-dispatcher synthesizer against a real speech-dispatcher of the test's own, and
// against no daemon at all.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/desktop/SpeechDispatcherSynthesizer.h"
#include "platform/desktop/tests/integration/PrivateSpeechDispatcher.h"
#include "platform/foundation/Log.h"
#include "platform/testsupport/TestSupport.h"

// libspeechd keeps the autospawn report of a connection that failed (a few bytes per failed
// attempt); that is the library's, not ours, so LeakSanitizer is told to let it be. glib has no
// frame pointers, so allocation stacks are taken the slow way to reach spd_open2.
extern "C" const char* __lsan_default_suppressions() { return "leak:spd_open2\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
// spd_close tears down the mutex and condition its event thread used before joining that
// thread; harmless once the thread has ended, but ThreadSanitizer cannot know that.
extern "C" const char* __tsan_default_suppressions() { return "race:spd_close\n"; }

namespace tw {
namespace {

// What the delegate heard, in order: "finished", "stopped" or "error: <message>".
class RecordingDelegate : public SpeechSynthesizerDelegate {
 public:
  void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer&, bool finished) override {
    heard.push_back(finished ? "finished" : "stopped");
  }
  void speechSynthesizerDidEncounterError(SpeechSynthesizer&, std::size_t, const std::string& text,
                                          const std::string& message) override {
    heard.push_back("error: " + message);
    errorTexts.push_back(text);
  }
  void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer&,
                                                const std::string& message) override {
    heard.push_back("sync: " + message);
  }
  bool waitFor(std::size_t count, double seconds = 20.0) {
    return test::pumpMainUntil([&] { return heard.size() >= count; }, seconds);
  }
  std::vector<std::string> heard;
  std::vector<std::string> errorTexts;
};

std::shared_ptr<SpeechDispatcherSynthesizer> synthesizerFor(const std::string& socket) {
  SpeechDispatcherSynthesizer::Options options;
  options.socketPath = socket;
  options.autospawn = false;  // never the user's own daemon, never a stray one
  options.responseTimeoutSeconds = 20.0;
  return SpeechDispatcherSynthesizer::create(options);
}

class SpeechDispatcherSynthesizerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!daemon_.ok())
      GTEST_SKIP() << "no private speech-dispatcher could be started here: " << daemon_.failure();
    synthesizer_ = synthesizerFor(daemon_.socketPath());
    synthesizer_->setDelegate(delegate_);
  }
  test::PrivateSpeechDispatcher daemon_;
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<SpeechDispatcherSynthesizer> synthesizer_;
};

TEST_F(SpeechDispatcherSynthesizerTest, SpokenTextEndsAsFinished) {
  ASSERT_TRUE(synthesizer_->startSpeakingString("The tea timer has finished."));
  EXPECT_TRUE(synthesizer_->isSpeaking());
  ASSERT_TRUE(delegate_->waitFor(1));
  EXPECT_EQ(delegate_->heard, (std::vector<std::string>{"finished"}));
  EXPECT_FALSE(synthesizer_->isSpeaking());

  // The connection is kept and serves the next text too.
  ASSERT_TRUE(synthesizer_->startSpeakingString("Second text."));
  ASSERT_TRUE(delegate_->waitFor(2));
  EXPECT_EQ(delegate_->heard.back(), "finished");
}

TEST_F(SpeechDispatcherSynthesizerTest, ReplacedTextIsNeverReportedAndStopEndsAsStopped) {
  synthesizer_->startSpeakingString("First, soon replaced.");
  synthesizer_->startSpeakingString("Second.");
  ASSERT_TRUE(delegate_->waitFor(1));
  // Speaking once more and waiting for its end also lets any late word of the first one in.
  synthesizer_->startSpeakingString("Third.");
  synthesizer_->stopSpeakingAtBoundary(SpeechBoundary::Word);
  ASSERT_TRUE(delegate_->waitFor(2));
  synthesizer_->startSpeakingString("Fourth.");
  ASSERT_TRUE(delegate_->waitFor(3));
  EXPECT_EQ(delegate_->heard, (std::vector<std::string>{"finished", "stopped", "finished"}));
}

TEST_F(SpeechDispatcherSynthesizerTest, DaemonThatWentAwayFailsTheTextAndIsFoundAgainLater) {
  synthesizer_->startSpeakingString("Connect first.");
  ASSERT_TRUE(delegate_->waitFor(1));
  daemon_.kill();

  synthesizer_->startSpeakingString("Nobody listens.");
  ASSERT_TRUE(delegate_->waitFor(2));
  EXPECT_EQ(delegate_->heard[1].rfind("error: ", 0), 0u) << delegate_->heard[1];
  EXPECT_EQ(delegate_->errorTexts.back(), "Nobody listens.");

  ASSERT_TRUE(daemon_.restart()) << daemon_.failure();
  synthesizer_->startSpeakingString("Back again.");
  ASSERT_TRUE(delegate_->waitFor(3));
  EXPECT_EQ(delegate_->heard[2], "finished");
}

TEST(SpeechDispatcherSynthesizerWithoutDaemon, EveryTextFailsAndTheOutageIsLoggedOnce) {
  test::TempDir dir;
  LogCapture capture;
  auto delegate = std::make_shared<RecordingDelegate>();
  auto synthesizer = synthesizerFor((dir.path() / "nobody.sock").string());
  synthesizer->setDelegate(delegate);

  ASSERT_TRUE(synthesizer->startSpeakingString("One."));
  ASSERT_TRUE(delegate->waitFor(1, 5.0));
  EXPECT_FALSE(synthesizer->isSpeaking());
  ASSERT_TRUE(synthesizer->startSpeakingString("Two."));
  ASSERT_TRUE(delegate->waitFor(2, 5.0));
  for (const auto& h : delegate->heard)
    EXPECT_NE(h.find("speech-dispatcher is not available"), std::string::npos) << h;
  const auto lines = capture.lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            return l.find("speech-dispatcher is not available") !=
                                   std::string::npos;
                          }),
            1);
}

TEST(SpeechDispatcherSynthesizerWithoutDaemon, StopBeforeTheTextIsHandedOverEndsAsStopped) {
  test::TempDir dir;
  auto delegate = std::make_shared<RecordingDelegate>();
  auto synthesizer = synthesizerFor((dir.path() / "nobody.sock").string());
  synthesizer->setDelegate(delegate);

  synthesizer->startSpeakingString("Never spoken.");
  synthesizer->stopSpeakingAtBoundary(SpeechBoundary::Immediate);
  ASSERT_TRUE(delegate->waitFor(1, 5.0));
  EXPECT_EQ(delegate->heard, (std::vector<std::string>{"stopped"}));
}

}  // namespace
}  // namespace tw
