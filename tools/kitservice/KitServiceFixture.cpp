#include "tools/kitservice/KitServiceFixture.h"

#include <curl/curl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/foundation/Json.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tw::test {

namespace {

void run(const std::string& command) {
  if (std::system(command.c_str()) != 0)
    throw std::runtime_error("kit service set-up failed: " + command);
}

// A CA and a server certificate for 127.0.0.1 and localhost, valid for a day.
void makeCertificates(const fs::path& dir) {
  const std::string d = dir.string();
  run("cd '" + d +
      "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "
      "ca.key -out ca.pem "
      "-days 2 -subj '/CN=Tickwell Test CA' >/dev/null 2>&1");
  run("cd '" + d + "' && openssl x509 -in ca.pem -outform der -out ca.der >/dev/null 2>&1");
  std::ofstream(dir / "server.ext")
      << "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
         "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n";
  run("cd '" + d +
      "' && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key "
      "-out server.csr "
      "-subj '/CN=127.0.0.1' >/dev/null 2>&1");
  run("cd '" + d +
      "' && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key "
      "-CAcreateserial -out server.pem -days 1 -extfile server.ext >/dev/null 2>&1");
}

size_t discard(char*, size_t size, size_t n, void*) { return size * n; }

Value replyToJson(const KitService::Reply& r) {
  Dictionary reply{{"status", r.status}, {"times", r.times}};
  if (r.json)
    reply["json"] = *r.json;
  else
    reply["body"] = r.body;
  if (!r.headers.empty()) {
    Dictionary headers;
    for (const auto& [k, v] : r.headers) headers[k] = v;
    reply["headers"] = headers;
  }
  if (r.retryAfter) reply["retry_after"] = *r.retryAfter;
  if (r.delaySeconds > 0) reply["delay"] = r.delaySeconds;
  if (r.dropConnection) reply["action"] = "drop";
  if (r.hang) reply["action"] = "hang";
  if (r.truncateBody) reply["action"] = "truncate";
  return reply;
}

}  // namespace

KitService::KitService(bool tls, const std::string& apiKey) : tls_(tls) {
  fs::path dir = dir_.path();
  logFile_ = dir / "requests.jsonl";
  fs::path portFile = dir / "port";
  std::vector<std::string> args = {"python3",     TW_KIT_SERVICE_SCRIPT,
                                   "--port-file", portFile.string(),
                                   "--log",       logFile_.string()};
  if (!apiKey.empty()) args.insert(args.end(), {"--api-key", apiKey});
  if (tls_) {
    makeCertificates(dir);
    caFile_ = dir / "ca.pem";
    args.insert(args.end(),
                {"--cert", (dir / "server.pem").string(), "--key", (dir / "server.key").string()});
  }
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "python3", nullptr, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start the kit service");
  pid_ = pid;

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(portFile);
    if (in >> port_ && port_ > 0) return;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("the kit service exited at start");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stop();
  throw std::runtime_error("the kit service did not start");
}

KitService::~KitService() { stop(); }

void KitService::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 250; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::string KitService::baseURL() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void KitService::control(const std::string& path, const std::string& body) {
  CURL* curl = curl_easy_init();
  if (!curl) throw std::runtime_error("curl_easy_init failed");
  std::string url = baseURL() + path;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  if (tls_) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile_.c_str());
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK || status != 204)
    throw std::runtime_error("kit service control " + path + " failed: " + curl_easy_strerror(rc));
}

void KitService::script(const std::string& endpoint, const Reply& reply) {
  Value order = Dictionary{{"endpoint", endpoint}, {"reply", replyToJson(reply)}};
  control("/__control/script", Json::write(order));
}

void KitService::reset() { control("/__control/reset", "{}"); }

std::vector<Value> KitService::requests() const {
  std::vector<Value> out;
  std::ifstream in(logFile_);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    auto value = Json::parse(line);
    if (value) out.push_back(*value);
  }
  return out;
}

std::vector<Value> KitService::requests(const std::string& endpoint) const {
  std::vector<Value> out;
  for (auto& r : requests())
    if (const std::string* e = r["endpoint"].string(); e && *e == endpoint) out.push_back(r);
  return out;
}

std::vector<Value> KitService::requestsSince(std::uint64_t& offset,
                                             const std::string& endpoint) const {
  std::vector<Value> out;
  std::ifstream in(logFile_, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string line;
  // A line still being written has no newline yet: it is read on a later call.
  while (std::getline(in, line) && !in.eof()) {
    offset += line.size() + 1;
    if (line.empty()) continue;
    auto value = Json::parse(line);
    if (!value) continue;
    if (const std::string* e = (*value)["endpoint"].string(); e && *e == endpoint)
      out.push_back(*value);
  }
  return out;
}

}  // namespace tw::test
