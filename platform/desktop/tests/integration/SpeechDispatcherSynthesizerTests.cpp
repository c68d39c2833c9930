// The speech-dispatcher synthesizer against a real speech-dispatcher of the test's own, and
// against no daemon at all.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/desktop/SpeechDispatcherSynthesizer.h"
#include "platform/desktop/tests/integration/PrivateSpeechDispatcher.h"
#include "platform/foundation/Log.h"
#include "platform/testsupport/TestSupport.h"

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

// A socket that takes connections and reads what comes but answers only with `answer` (nothing,
// or lines no daemon would send), to stand for a daemon that hangs or talks nonsense.
class MuteDaemon {
 public:
  MuteDaemon(const std::string& path, std::string answer) : answer_(std::move(answer)) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, path.c_str(), sizeof(sa.sun_path) - 1);
    ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 && ::listen(fd_, 4) == 0;
    thread_ = std::thread([this] {
      for (;;) {
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        clients_.push_back(c);
        if (!answer_.empty()) (void)::send(c, answer_.data(), answer_.size(), MSG_NOSIGNAL);
      }
    });
  }
  ~MuteDaemon() {
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
    for (int c : clients_) ::close(c);
  }
  bool ok() const { return ok_; }

 private:
  std::string answer_;
  int fd_ = -1;
  bool ok_ = false;
  std::vector<int> clients_;
  std::thread thread_;
};

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

TEST(SpeechDispatcherSynthesizerWithoutDaemon, DaemonThatHangsOrTalksNonsenseFailsTheTextInTime) {
  for (const std::string& answer : {std::string(), std::string("hello there\r\n")}) {
    test::TempDir dir;
    const std::string socket = (dir.path() / "mute.sock").string();
    MuteDaemon daemon(socket, answer);
    ASSERT_TRUE(daemon.ok());
    auto delegate = std::make_shared<RecordingDelegate>();
    SpeechDispatcherSynthesizer::Options options;
    options.socketPath = socket;
    options.autospawn = false;
    options.responseTimeoutSeconds = 0.5;
    auto synthesizer = SpeechDispatcherSynthesizer::create(options);
    synthesizer->setDelegate(delegate);

    synthesizer->startSpeakingString("Anyone?");
    ASSERT_TRUE(delegate->waitFor(1, 10.0));
    EXPECT_EQ(delegate->heard[0].rfind("error: ", 0), 0u) << delegate->heard[0];

    // A stop while the worker still waits for an answer ends the text as stopped, at once.
    synthesizer->startSpeakingString("Stop me.");
    synthesizer->stopSpeakingAtBoundary(SpeechBoundary::Immediate);
    ASSERT_TRUE(delegate->waitFor(2, 0.4));
    EXPECT_EQ(delegate->heard[1], "stopped");
    EXPECT_TRUE(test::staysAbsent([&] { return delegate->heard.size() > 2; }, 0.8))
        << "the worker's late failure was heard";
    EXPECT_EQ(delegate->heard.size(), 2u);
  }
}

}  // namespace
}  // namespace tw
