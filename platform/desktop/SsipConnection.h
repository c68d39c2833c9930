#pragma once
// tw::SsipConnection: one client connection to speech-dispatcher, speaking the daemon's text
// protocol over its socket. Commands wait for their reply with a time-out; a reader thread of the
// connection's own separates the daemon's event lines (a message ended or was cancelled) from
// the replies and hands them to the listener. The destructor shuts the socket down, joins the
// reader and only then closes the descriptor, so no thread ever touches a closed (or reused)
// descriptor or a destroyed lock. Writes never raise SIGPIPE.
//
// Owned by one speech channel. Commands come from one thread at a time (the channel's worker);
// the listener is called on the reader thread, never after the destructor has returned.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tw {

class SsipConnection {
 public:
  // Where the daemon listens: a UNIX socket path, or a host and port.
  struct Address {
    std::string socketPath;
    std::string host;
    std::uint16_t port = 0;
    bool isInet() const { return socketPath.empty(); }
  };

  struct Listener {
    // A message of this connection left the daemon: spoken to its end (true) or cancelled.
    std::function<void(int messageId, bool ended)> messageEnded;
    // The daemon closed the connection (or sent what this client cannot read).
    std::function<void()> closed;
  };

  // `socketPath` when given; else $SPEECHD_ADDRESS ("unix_socket:<path>" or
  // "inet_socket:<host>:<port>"); else the daemon's socket in the user's runtime folder.
  static std::optional<Address> resolveAddress(const std::optional<std::string>& socketPath,
                                               std::string& error);

  // Connects (starting the daemon first when `autospawn` allows and nobody listens), names the
  // client, asks for end and cancel events. nullptr with `error` set when any step fails.
  static std::unique_ptr<SsipConnection> open(const Address& address, const std::string& clientName,
                                              bool autospawn, double replyTimeoutSeconds,
                                              Listener listener, std::string& error);
  ~SsipConnection();
  SsipConnection(const SsipConnection&) = delete;
  SsipConnection& operator=(const SsipConnection&) = delete;

  // Hands a text over; the daemon's id of the message, or nullopt with `error` set.
  std::optional<int> speak(const std::string& text, std::string& error);
  // Cancels whatever this client has queued or is speaking.
  bool cancel();
  // The daemon has gone (or a reply never came, after which replies can no longer be matched).
  bool lost() const;

  // A text as the protocol carries it: CRLF line ends, a leading dot doubled, the closing dot line.
  static std::string encodeText(const std::string& text);

 private:
  struct Reply {
    int code = 0;
    std::vector<std::string> data;  // the "NNN-..." lines
    std::string text;               // the closing "NNN ..." line
  };

  SsipConnection(int fd, double replyTimeoutSeconds, Listener listener);
  std::optional<Reply> exchange(const std::string& bytes);
  std::optional<Reply> command(const std::string& line) { return exchange(line + "\r\n"); }
  bool sendAll(const std::string& bytes);
  void readLoop();
  void breakOff();

  const int fd_;
  const double replyTimeoutSeconds_;
  const Listener listener_;

  // Guards replies_ and lost_, shared with the reader thread.
  mutable std::mutex mutex_;
  std::condition_variable replyArrived_;
  std::deque<Reply> replies_;
  bool lost_ = false;

  std::thread reader_;
};

}  // namespace tw
