#pragma once
// A speech-dispatcher of the test's own: started in the foreground on a socket in a temporary
// folder, with its own configuration (the espeak-ng module, audio through libao's null driver,
// so it runs without any sound hardware), its own HOME and runtime folder. Stopped when the
// object goes. Test-only; create and destroy on the test's thread.

#include <sys/types.h>

#include <string>

#include "platform/testsupport/TestSupport.h"

namespace tw::test {

class PrivateSpeechDispatcher {
 public:
  PrivateSpeechDispatcher();
  ~PrivateSpeechDispatcher();
  PrivateSpeechDispatcher(const PrivateSpeechDispatcher&) = delete;
  PrivateSpeechDispatcher& operator=(const PrivateSpeechDispatcher&) = delete;

  // False when the daemon could not be started here; `failure()` says why.
  bool ok() const { return pid_ > 0; }
  const std::string& failure() const { return failure_; }
  const std::string& socketPath() const { return socket_; }

  // Ends the daemon at once (as a crash would) / starts it again on the same socket.
  void kill();
  bool restart();

 private:
  bool start();

  TempDir dir_;
  pid_t pid_ = -1;
  std::string socket_;
  std::string failure_;
};

}  // namespace tw::test
