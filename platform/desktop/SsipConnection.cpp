#include "platform/desktop/SsipConnection.h"
#include "platform/foundation/Thread.h"

#include <fcntl.h>
#include <netdb.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/Paths.h"

extern char** environ;

namespace tw {

namespace {
// A reply line longer than this is not the daemon speaking; the connection is given up.
constexpr std::size_t kMaxLine = std::size_t{64} * 1024;
constexpr std::uint16_t kDefaultPort = 6560;

std::string errnoText(int error) { return std::strerror(error); }

std::optional<int> parseInt(std::string_view s) {
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

std::string userName() {
  // Workers of several synthesizers may connect at once: the re-entrant look-up.
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found &&
      found->pw_name)
    return found->pw_name;
  const char* user = std::getenv("USER");
  return user && *user ? user : "unknown";
}

// The daemon's own default: its folder in the user's runtime directory (the cache folder when
// the session has none).
std::string defaultSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::filesystem::path base =
      runtime && *runtime == '/' ? std::filesystem::path(runtime) : paths::cacheHome();
  return (base / "speech-dispatcher" / "speechd.sock").string();
}

// Starts the daemon the way it expects to be started on demand (it refuses when the user
// disabled that) and waits for the starter to report.
bool spawnDaemon(const SsipConnection::Address& address, std::string& error) {
  std::vector<std::string> args = {"speech-dispatcher", "--spawn", "--communication-method"};
  if (address.isInet()) {
    args.insert(args.end(), {"inet_socket", "--port", std::to_string(address.port)});
  } else {
    args.insert(args.end(), {"unix_socket", "--socket-path", address.socketPath});
  }
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, "speech-dispatcher", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    error = "autospawn failed: " + errnoText(rc);
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "autospawn failed: the daemon refused to start";
    return false;
  }
  return true;
}

// A connected stream socket, or -1 with `error` set.
int connectTo(const SsipConnection::Address& address, std::string& error) {
  if (!address.isInet()) {
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (address.socketPath.size() >= sizeof(sa.sun_path)) {
      error = "socket path too long: " + address.socketPath;
      return -1;
    }
    std::memcpy(sa.sun_path, address.socketPath.c_str(), address.socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = errnoText(errno);
      return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0) {
      error = "cannot connect to " + address.socketPath + ": " + errnoText(errno);
      ::close(fd);
      return -1;
    }
    return fd;
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  if (const int rc = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "cannot resolve " + address.host + ": " + ::gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  error = "cannot connect to " + address.host + ":" + port;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      error = "cannot connect to " + address.host + ":" + port + ": " + errnoText(errno);
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  return fd;
}
}  // namespace

std::optional<SsipConnection::Address> SsipConnection::resolveAddress(
    const std::optional<std::string>& socketPath, std::string& error) {
  Address address;
  if (socketPath) {
    address.socketPath = *socketPath;
    return address;
  }
  const char* env = std::getenv("SPEECHD_ADDRESS");
  if (!env || !*env) {
    address.socketPath = defaultSocketPath();
    return address;
  }
  const std::string value = env;
  const std::size_t colon = value.find(':');
  const std::string method = value.substr(0, colon);
  const std::string rest = colon == std::string::npos ? std::string() : value.substr(colon + 1);
  if (method == "unix_socket") {
    address.socketPath = rest.empty() ? defaultSocketPath() : rest;
    return address;
  }
  if (method == "inet_socket") {
    const std::size_t portColon = rest.rfind(':');
    address.host = rest.substr(0, portColon);
    if (address.host.empty()) address.host = "127.0.0.1";
    address.port = kDefaultPort;
    if (portColon != std::string::npos) {
      const auto port = parseInt(rest.substr(portColon + 1));
      if (!port || *port <= 0 || *port > 65535) {
        error = "SPEECHD_ADDRESS names no valid port: " + value;
        return std::nullopt;
      }
      address.port = static_cast<std::uint16_t>(*port);
    }
    return address;
  }
  error = "SPEECHD_ADDRESS names an unsupported method: " + value;
  return std::nullopt;
}

std::unique_ptr<SsipConnection> SsipConnection::open(const Address& address,
                                                     const std::string& clientName, bool autospawn,
                                                     double replyTimeoutSeconds, Listener listener,
                                                     std::string& error) {
  int fd = connectTo(address, error);
  if (fd < 0 && autospawn) {
    std::string spawnError;
    if (spawnDaemon(address, spawnError)) {
      fd = connectTo(address, error);
    } else {
      error += " (" + spawnError + ")";
    }
  }
  if (fd < 0) return nullptr;
  std::unique_ptr<SsipConnection> c(
      new SsipConnection(fd, replyTimeoutSeconds, std::move(listener)));
  const std::string name = userName() + ":" + clientName + ":main";
  const char* const setup[] = {"SET SELF NOTIFICATION end on", "SET SELF NOTIFICATION cancel on",
                               "SET SELF PRIORITY message"};
  auto reply = c->command("SET SELF CLIENT_NAME " + name);
  for (const char* line : setup) {
    if (!reply || reply->code / 100 != 2) break;
    reply = c->command(line);
  }
  if (!reply || reply->code / 100 != 2) {
    error = reply ? "the daemon refused the client's set-up: " + std::to_string(reply->code) + " " +
                        reply->text
                  : "the daemon did not answer";
    return nullptr;
  }
  return c;
}

SsipConnection::SsipConnection(int fd, double replyTimeoutSeconds, Listener listener)
    : fd_(fd), replyTimeoutSeconds_(replyTimeoutSeconds), listener_(std::move(listener)) {
  reader_ = startThread("tw.speech", [this] { readLoop(); });
}

SsipConnection::~SsipConnection() {
  ::shutdown(fd_, SHUT_RDWR);
  reader_.join();
  ::close(fd_);
}

bool SsipConnection::lost() const {
  std::lock_guard lock(mutex_);
  return lost_;
}

void SsipConnection::breakOff() {
  {
    std::lock_guard lock(mutex_);
    lost_ = true;
  }
  // Wakes the reader, which then tells the listener; the descriptor stays ours until the
  // destructor has joined it.
  ::shutdown(fd_, SHUT_RDWR);
}

bool SsipConnection::sendAll(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<SsipConnection::Reply> SsipConnection::exchange(const std::string& bytes) {
  {
    std::lock_guard lock(mutex_);
    if (lost_) return std::nullopt;
    replies_.clear();
  }
  if (!sendAll(bytes)) {
    breakOff();
    return std::nullopt;
  }
  std::unique_lock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(replyTimeoutSeconds_));
  if (!replyArrived_.wait_until(lock, deadline, [&] { return lost_ || !replies_.empty(); })) {
    lock.unlock();
    // A late reply would be taken for the next command's: this connection is done.
    breakOff();
    return std::nullopt;
  }
  if (replies_.empty()) return std::nullopt;
  Reply reply = std::move(replies_.front());
  replies_.pop_front();
  return reply;
}

std::optional<int> SsipConnection::speak(const std::string& text, std::string& error) {
  auto reply = command("SPEAK");
  if (reply && reply->code / 100 == 2) reply = exchange(encodeText(text));
  if (!reply) {
    error = "speech-dispatcher did not take the text";
    return std::nullopt;
  }
  std::optional<int> id;
  if (reply->code / 100 == 2 && !reply->data.empty()) id = parseInt(reply->data.front());
  if (!id)
    error =
        "speech-dispatcher refused the text: " + std::to_string(reply->code) + " " + reply->text;
  return id;
}

bool SsipConnection::cancel() {
  const auto reply = command("CANCEL SELF");
  return reply && reply->code / 100 == 2;
}

std::string SsipConnection::encodeText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  bool lineStart = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = false;
  }
  out += "\r\n.\r\n";
  return out;
}

void SsipConnection::readLoop() {
  std::string buffer;
  Reply pending;
  char chunk[4096];
  bool readable = true;
  while (readable) {
    const ssize_t n = ::recv(fd_, chunk, sizeof(chunk), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer.append(chunk, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = buffer.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string_view line(buffer.data() + start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      const auto code = line.size() >= 4 ? parseInt(line.substr(0, 3)) : std::nullopt;
      if (!code || (line[3] != '-' && line[3] != ' ')) {
        readable = false;
        break;
      }
      if (line[3] == '-') {
        pending.data.emplace_back(line.substr(4));
        continue;
      }
      pending.code = *code;
      pending.text = std::string(line.substr(4));
      Reply done = std::exchange(pending, Reply{});
      if (done.code >= 700 && done.code < 800) {
        // Events: the message id, then the client id. 702: ended, 703: cancelled.
        const auto id = done.data.empty() ? std::nullopt : parseInt(done.data.front());
        if (id && (done.code == 702 || done.code == 703) && listener_.messageEnded)
          listener_.messageEnded(*id, done.code == 702);
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        replies_.push_back(std::move(done));
      }
      replyArrived_.notify_all();
    }
    buffer.erase(0, start);
    if (buffer.size() > kMaxLine || pending.data.size() > kMaxLine) readable = false;
  }
  {
    std::lock_guard lock(mutex_);
    lost_ = true;
  }
  replyArrived_.notify_all();
  if (listener_.closed) listener_.closed();
}

}  // namespace tw
