#pragma once
// tw::test::KitService: the local kits' web service (kit_service.py) for tests. Starts it on a
// free loopback port, HTTPS with a test certificate authority made by openssl into a temporary
// folder (or plain HTTP), scripts its replies, reads its request log and stops it when destroyed.
// Test-only; one object per test, used from the test's thread.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {

class KitService {
 public:
  // Endpoint names the service routes to (and scripts replies for); "*" scripts any endpoint.
  static constexpr const char* kSettings = "settings";
  static constexpr const char* kCreateApp = "create";
  static constexpr const char* kUpdateApp = "update";
  static constexpr const char* kReports = "reports";
  static constexpr const char* kBetaCheck = "beta";
  static constexpr const char* kEvents = "events";

  struct Reply {
    int status = 200;
    std::string body;           // sent as is, unless json is set
    std::optional<Value> json;  // sent as JSON with its content type
    std::map<std::string, std::string> headers;
    std::optional<double> retryAfter;  // "Retry-After" in seconds
    double delaySeconds = 0;           // wait before answering
    bool dropConnection = false;       // close without an answer
    bool hang = false;                 // never answer (until the service stops)
    // Status and headers, then half the body of a longer declared length, then the close.
    bool truncateBody = false;
    int times = 1;  // replies it serves; -1 for every request

    // "202 Accepted" to every request, its JSON body cut short and the connection closed.
    static Reply acceptedWithBodyCutShort() {
      Reply reply;
      reply.status = 202;
      reply.body = "{\"status\":\"accepted, with a body that never arrives whole\"}";
      reply.headers["Content-Type"] = "application/json";
      reply.truncateBody = true;
      reply.times = -1;
      return reply;
    }
  };

  // Starts the service; throws std::runtime_error when it cannot. With an API key, a request
  // carrying another key in "X-Morvex-API-Key" is logged with that finding.
  explicit KitService(bool tls = true, const std::string& apiKey = {});
  ~KitService();
  KitService(const KitService&) = delete;
  KitService& operator=(const KitService&) = delete;

  // "https://127.0.0.1:<port>" (or http).
  std::string baseURL() const;
  int port() const { return port_; }
  bool tls() const { return tls_; }
  // The test CA that signed the server certificate (PEM, DER beside it as "ca.der"); empty
  // without TLS.
  const std::filesystem::path& caFile() const { return caFile_; }
  std::filesystem::path caDerFile() const { return caFile_.parent_path() / "ca.der"; }

  // Queues a reply for the endpoint; replies run in order, then the defaults again.
  void script(const std::string& endpoint, const Reply& reply);
  // Forgets scripts and the log.
  void reset();
  // Every request so far, oldest first: objects with "endpoint", "method", "path", "query",
  // "headers", "body_length", "parts", "problems", "status", "app_id", "body".
  std::vector<Value> requests() const;
  std::vector<Value> requests(const std::string& endpoint) const;
  // The requests to `endpoint` logged since `offset` (a place in the log; 0 at first), which
  // moves past the whole lines read: a test that polls reads each request once.
  std::vector<Value> requestsSince(std::uint64_t& offset, const std::string& endpoint) const;

  // Stops the service now (the destructor does it too).
  void stop();

 private:
  void control(const std::string& path, const std::string& body);

  TempDir dir_;
  bool tls_;
  int port_ = 0;
  int pid_ = -1;
  std::filesystem::path caFile_;
  std::filesystem::path logFile_;
};

}  // namespace tw::test
