#include "kits/platform/net/MVXURLSession.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <future>
#include <map>
#include <thread>

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TSYKitQueues.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/UUID.h"

namespace {

std::atomic<std::uint64_t> gNextTaskIdentifier{1};
// Guards gDownloadWrite.
std::mutex gDownloadWriteMutex;
MVXURLSessionDownloadTask::WriteFunction gDownloadWrite;

std::size_t writeDownload(const char* bytes, std::size_t length, std::FILE* file) {
  MVXURLSessionDownloadTask::WriteFunction write;
  {
    std::lock_guard<std::mutex> lock(gDownloadWriteMutex);
    write = gDownloadWrite;
  }
  return write ? write(bytes, length, file) : std::fwrite(bytes, 1, length, file);
}

// Guards gTrustFileForTesting.
std::mutex gTrustFileMutex;
std::filesystem::path gTrustFileForTesting;

// A session's engine thread can still be inside a TLS handshake when the process exits (a kit
// request in flight at quit). OpenSSL's own exit handler would free its tables under that thread
// and crash the ending, so it is told not to register one; the process's end frees the memory.
// This runs while the program's objects are made, before any OpenSSL call can register the
// handler: whichever call initialises OpenSSL first decides.
const bool gOpenSslWithoutExitHandler = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

void ensureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

tw::ErrorPtr urlError(long code, const std::string& url, const std::string& detail = {}) {
  tw::Dictionary info;
  info[tw::NSURLErrorFailingURLStringErrorKey] = url;
  if (!detail.empty()) info[tw::kLocalizedDescriptionKey] = detail;
  return tw::Error::make(tw::NSURLErrorDomain, code, std::move(info));
}

long urlErrorCodeForCurl(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return tw::NSURLErrorTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return tw::NSURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT:
      return tw::NSURLErrorCannotConnectToHost;
    case CURLE_URL_MALFORMAT:
      return tw::NSURLErrorBadURL;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return tw::NSURLErrorUnsupportedURL;
    case CURLE_TOO_MANY_REDIRECTS:
      return tw::NSURLErrorHTTPTooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION:
      return tw::NSURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CLIENTCERT:
      return tw::NSURLErrorClientCertificateRequired;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
      return tw::NSURLErrorSecureConnectionFailed;
    case CURLE_ABORTED_BY_CALLBACK:
      return tw::NSURLErrorCancelled;
    default:
      // Dropped, reset or truncated replies, and anything else on an open connection.
      return tw::NSURLErrorNetworkConnectionLost;
  }
}

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// One running transfer: the curl handle and everything its callbacks fill in. Touched only on the
// session's worker thread.
struct MVXURLSessionTask::Transfer {
  std::shared_ptr<MVXURLSessionTask> task;
  std::shared_ptr<MVXURLSession> session;  // running tasks keep their session alive
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::FILE* upload = nullptr;
  std::FILE* download = nullptr;
  std::filesystem::path downloadPath;
  bool downloadFailed = false;
  bool challengeCancelled = false;
  std::string host;
  tw::Data body;
  tw::Data data;
  tw::URLResponse response;
  bool headersComplete = false;  // the blank line after the reply's head arrived
  bool announced = false;

  ~Transfer() {
    if (easy) curl_easy_cleanup(easy);
    if (headers) curl_slist_free_all(headers);
    if (upload) std::fclose(upload);
    if (download) std::fclose(download);
  }

  void announceResponse();
  // An upload whose reply head arrived whole with a 2xx status.
  bool uploadAccepted() const {
    return task->kind_ == MVXURLSessionTask::Kind::Upload && headersComplete &&
           response.statusCode && *response.statusCode >= 200 && *response.statusCode < 300;
  }
};

struct MVXURLSession::Engine : std::enable_shared_from_this<MVXURLSession::Engine> {
  using Transfer = MVXURLSessionTask::Transfer;
  CURLM* multi = nullptr;
  // Guards adds, cancels, running and the two flags; multi is the engine thread's.
  std::mutex mutex;
  std::vector<std::unique_ptr<Transfer>> adds;
  std::vector<std::shared_ptr<MVXURLSessionTask>> cancels;
  std::map<CURL*, std::unique_ptr<Transfer>> running;
  bool stopping = false;
  bool started = false;

  Engine() {
    ensureCurlGlobalInit();
    multi = curl_multi_init();
  }
  ~Engine() {
    if (multi) curl_multi_cleanup(multi);
  }

  void post(std::unique_ptr<Transfer> transfer) {
    std::lock_guard<std::mutex> lock(mutex);
    adds.push_back(std::move(transfer));
    startLocked();
    curl_multi_wakeup(multi);
  }
  void cancel(std::shared_ptr<MVXURLSessionTask> task) {
    std::lock_guard<std::mutex> lock(mutex);
    cancels.push_back(std::move(task));
    curl_multi_wakeup(multi);
  }
  void stop() {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    if (multi) curl_multi_wakeup(multi);
  }
  void startLocked() {
    if (started) return;
    started = true;
    // The thread owns the engine until it ends; nothing joins it.
    tw::startThread("tw.urlsession", [self = shared_from_this()] { self->loop(); }).detach();
  }
  void loop();
  void finish(std::unique_ptr<Transfer> transfer, CURLcode code, bool cancelled);
};

namespace {
// An idle engine's wait; curl_multi_wakeup ends it early.
constexpr int kIdlePollMs = 24 * 60 * 60 * 1000;
}  // namespace

void MVXURLSession::Engine::loop() {
  for (;;) {
    std::vector<std::unique_ptr<Transfer>> cancelledNow;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto& transfer : adds) {
        CURL* easy = transfer->easy;
        if (curl_multi_add_handle(multi, easy) == CURLM_OK) {
          running.emplace(easy, std::move(transfer));
        } else {
          cancelledNow.push_back(std::move(transfer));
        }
      }
      adds.clear();
      for (auto& task : cancels) {
        for (auto it = running.begin(); it != running.end(); ++it) {
          if (it->second->task == task) {
            curl_multi_remove_handle(multi, it->first);
            cancelledNow.push_back(std::move(it->second));
            running.erase(it);
            break;
          }
        }
      }
      cancels.clear();
      if (stopping && running.empty() && cancelledNow.empty()) return;
    }
    for (auto& transfer : cancelledNow) finish(std::move(transfer), CURLE_OK, true);

    int stillRunning = 0;
    curl_multi_perform(multi, &stillRunning);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      std::unique_ptr<Transfer> transfer;
      {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = running.find(message->easy_handle);
        if (it == running.end()) continue;
        transfer = std::move(it->second);
        running.erase(it);
      }
      const CURLcode result = message->data.result;
      curl_multi_remove_handle(multi, transfer->easy);
      finish(std::move(transfer), result, false);
    }
    // With no transfer there is nothing to time: sleep until post, cancel or stop wakes the
    // multi handle, rather than waking every second for nothing.
    bool idle;
    {
      std::lock_guard<std::mutex> lock(mutex);
      idle = running.empty();
    }
    curl_multi_poll(multi, nullptr, 0, idle ? kIdlePollMs : 1000, nullptr);
  }
}

void MVXURLSession::Engine::finish(std::unique_ptr<Transfer> transfer, CURLcode code,
                                   bool cancelled) {
  auto& t = *transfer;
  const std::string url = t.task->originalRequest().url;
  tw::ErrorPtr error;
  if (cancelled || t.challengeCancelled) {
    error = urlError(tw::NSURLErrorCancelled, url, "cancelled");
  } else if (t.downloadFailed) {
    error = tw::Error::make(MVXURLSessionDownloadTaskErrorDomain, -1);
  } else if (code != CURLE_OK && t.uploadAccepted()) {
    // The service took the upload; what became of its reply's body changes nothing, and
    // sending it again would deliver it twice.
    code = CURLE_OK;
  } else if (code != CURLE_OK) {
    error = urlError(urlErrorCodeForCurl(code), url, curl_easy_strerror(code));
  }
  if (t.easy && !cancelled && code == CURLE_OK) {
    long status = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status > 0) t.response.statusCode = status;
    char* effective = nullptr;
    curl_easy_getinfo(t.easy, CURLINFO_EFFECTIVE_URL, &effective);
    if (effective) t.response.url = effective;
  }
  // The downloaded file is complete and closed before anyone is told of it.
  std::optional<std::filesystem::path> file;
  if (t.download) {
    const bool closed = std::fclose(t.download) == 0;
    t.download = nullptr;
    if (!closed && !error) error = tw::Error::make(MVXURLSessionDownloadTaskErrorDomain, -1);
  }
  if (!t.downloadPath.empty()) {
    if (error) {
      std::error_code ec;
      std::filesystem::remove(t.downloadPath, ec);
    } else {
      file = t.downloadPath;
    }
  }
  if (!error) t.announceResponse();
  auto task = t.task;
  auto session = t.session;
  auto data = std::move(t.data);
  transfer.reset();
  session->completeTask(task, error, std::move(data), std::move(file));
}

void MVXURLSessionTask::Transfer::announceResponse() {
  if (announced || !response.statusCode) return;
  announced = true;
  {
    std::lock_guard<std::mutex> lock(task->mutex_);
    task->response_ = response;
  }
  if (!task->invokesDelegate_) return;
  auto delegate = session->delegate();
  if (!delegate || !delegate->implementsDidReceiveResponse()) return;
  session->deliver([session = session, task = task, response = response, delegate] {
    delegate->URLSessionDataTaskDidReceiveResponse(session, task, response);
  });
}

// --------------------------------------------------------------------------------------------
// curl callbacks

namespace {

using Transfer = MVXURLSessionTask::Transfer;

size_t onHeader(char* buffer, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t length = size * count;
  std::string line(buffer, length);
  if (line.rfind("HTTP/", 0) == 0) {
    // A new reply head (after a redirect or an interim reply) replaces the previous one.
    t->response.headers.clear();
    t->response.statusCode.reset();
    t->headersComplete = false;
    const auto space = line.find(' ');
    if (space != std::string::npos) t->response.statusCode = std::atol(line.c_str() + space + 1);
    return length;
  }
  if (line == "\r\n" || line == "\n") {
    t->headersComplete = true;
    return length;
  }
  const auto colon = line.find(':');
  if (colon != std::string::npos) {
    t->response.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
  }
  return length;
}

size_t onWrite(char* buffer, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t length = size * count;
  t->announceResponse();
  if (t->download) {
    // Every byte must land in the file; anything less fails the task.
    size_t written = 0;
    while (written < length) {
      const size_t n = writeDownload(buffer + written, length - written, t->download);
      if (n == 0) break;
      written += n;
    }
    if (written < length) {
      t->downloadFailed = true;
      return 0;
    }
    return length;
  }
  t->data.insert(t->data.end(), buffer, buffer + length);
  if (t->task->invokesDelegate() && !t->task->hasCompletionHandler()) {
    auto delegate = t->session->delegate();
    if (delegate && delegate->implementsDidReceiveData()) {
      tw::Data chunk(buffer, buffer + length);
      t->session->deliver([session = t->session, task = t->task, chunk, delegate] {
        delegate->URLSessionDataTaskDidReceiveData(session, task, chunk);
      });
    }
  }
  return length;
}

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = std::fread(buffer, size, count, t->upload);
  if (n == 0 && std::ferror(t->upload)) return CURL_READFUNC_ABORT;
  return n;
}

// Resolves a challenge the delegate may answer on another thread; a handler dropped without an
// answer counts as a cancelled challenge.
struct ChallengeAnswer {
  std::promise<tw::URLSessionAuthChallengeDisposition> promise;
  // Guards answered, so the promise is set once.
  std::mutex mutex;
  bool answered = false;
  void answer(tw::URLSessionAuthChallengeDisposition disposition) {
    std::lock_guard<std::mutex> lock(mutex);
    if (answered) return;
    answered = true;
    promise.set_value(disposition);
  }
  ~ChallengeAnswer() {
    answer(tw::URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge);
  }
};

int onVerify(X509_STORE_CTX* ctx, void* user) {
  auto* t = static_cast<Transfer*>(user);
  auto delegate = t->session->delegate();
  if (!delegate || !delegate->implementsDidReceiveChallenge()) return X509_verify_cert(ctx);

  std::vector<std::shared_ptr<tw::Certificate>> chain;
  if (X509* leaf = X509_STORE_CTX_get0_cert(ctx)) {
    X509_up_ref(leaf);
    chain.push_back(std::make_shared<tw::Certificate>(leaf));
  }
  if (STACK_OF(X509)* rest = X509_STORE_CTX_get0_untrusted(ctx)) {
    for (int i = 0; i < sk_X509_num(rest); ++i) {
      X509* cert = sk_X509_value(rest, i);
      if (i == 0 && !chain.empty() && X509_cmp(cert, chain.front()->x509()) == 0) continue;
      X509_up_ref(cert);
      chain.push_back(std::make_shared<tw::Certificate>(cert));
    }
  }
  tw::URLAuthenticationChallenge challenge{
      std::make_shared<const tw::ServerTrust>(t->host, std::move(chain))};
  auto answer = std::make_shared<ChallengeAnswer>();
  auto future = answer->promise.get_future();
  t->session->deliver([session = t->session, delegate, challenge, answer]() mutable {
    tw::ChallengeCompletionHandler handler = [answer](tw::URLSessionAuthChallengeDisposition d,
                                                      const std::shared_ptr<tw::URLCredential>& c) {
      using D = tw::URLSessionAuthChallengeDisposition;
      answer->answer(d == D::UseCredential && !c ? D::CancelAuthenticationChallenge : d);
    };
    answer.reset();
    delegate->URLSessionDidReceiveChallenge(session, challenge, handler);
  });
  answer.reset();
  using D = tw::URLSessionAuthChallengeDisposition;
  switch (future.get()) {
    case D::UseCredential:
      X509_STORE_CTX_set_error(ctx, X509_V_OK);
      return 1;
    case D::CancelAuthenticationChallenge:
      t->challengeCancelled = true;
      X509_STORE_CTX_set_error(ctx, X509_V_ERR_APPLICATION_VERIFICATION);
      return 0;
    default:
      return X509_verify_cert(ctx);
  }
}

CURLcode onSSLContext(CURL*, void* sslContext, void* user) {
  SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), onVerify, user);
  return CURLE_OK;
}

}  // namespace

// --------------------------------------------------------------------------------------------
// Configuration

std::shared_ptr<MVXURLSessionConfiguration>
MVXURLSessionConfiguration::defaultSessionConfiguration() {
  return std::make_shared<MVXURLSessionConfiguration>();
}

std::shared_ptr<MVXURLSessionConfiguration>
MVXURLSessionConfiguration::ephemeralSessionConfiguration() {
  return std::make_shared<MVXURLSessionConfiguration>();
}

std::shared_ptr<MVXURLSessionConfiguration>
MVXURLSessionConfiguration::backgroundSessionConfiguration(const std::string& identifier) {
  return backgroundSessionConfigurationWithIdentifier(identifier);
}

std::shared_ptr<MVXURLSessionConfiguration>
MVXURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(const std::string&) {
  return nullptr;
}

std::shared_ptr<MVXURLSessionConfiguration> MVXURLSessionConfiguration::copy() const {
  return std::make_shared<MVXURLSessionConfiguration>(*this);
}

void MVXURLSessionDelegate::URLSessionDidReceiveChallenge(
    const std::shared_ptr<MVXURLSession>&, const tw::URLAuthenticationChallenge&,
    const tw::ChallengeCompletionHandler& handler) {
  if (handler) handler(tw::URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
}

// --------------------------------------------------------------------------------------------
// Tasks

MVXURLSessionTask::MVXURLSessionTask(Kind kind, const std::shared_ptr<MVXURLSession>& session,
                                     tw::URLRequest request)
    : kind_(kind),
      identifier_(gNextTaskIdentifier++),
      session_(session),
      originalRequest_(std::move(request)) {}

MVXURLSessionTask::~MVXURLSessionTask() = default;

void MVXURLSessionTask::resume() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (resumed_ || completed_) return;
    resumed_ = true;
  }
  if (auto session = session_.lock()) session->startTask(shared_from_this());
}

void MVXURLSessionTask::cancel() {
  bool started;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (completed_) return;
    started = resumed_;
    resumed_ = true;  // a cancelled task never starts
  }
  auto session = session_.lock();
  if (!session) return;
  if (started) {
    session->cancelTask(shared_from_this());
  } else {
    session->completeTask(shared_from_this(),
                          urlError(tw::NSURLErrorCancelled, originalRequest_.url, "cancelled"), {},
                          std::nullopt);
  }
}

std::optional<tw::URLResponse> MVXURLSessionTask::response() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return response_;
}

tw::ErrorPtr MVXURLSessionTask::error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

std::string MVXURLSessionTask::taskDescription() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return taskDescription_;
}

void MVXURLSessionTask::setTaskDescription(std::string description) {
  std::lock_guard<std::mutex> lock(mutex_);
  taskDescription_ = std::move(description);
}

std::filesystem::path MVXURLSessionDownloadTask::downloadsDirectory() {
  return tw::paths::cacheHome() / "com.morvex.data" / TSYGetEscapedBundleIdentifier() / "downloads";
}

std::filesystem::path MVXURLSessionDownloadTask::temporaryFileURL() {
  return downloadsDirectory() / ("download-" + tw::makeUUIDString());
}

std::size_t MVXURLSessionDownloadTask::removeDownloadLeftovers() {
  std::size_t removed = 0;
  std::error_code ec;
  std::filesystem::directory_iterator it(downloadsDirectory(), ec), end;
  std::vector<std::filesystem::path> entries;
  for (; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
  for (const auto& path : entries) {
    // A running download holds its file's lock until it is closed.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(path.c_str()) == 0) ++removed;
    ::close(fd);
  }
  return removed;
}

void MVXURLSessionDownloadTask::setDownloadWriteForTesting(WriteFunction write) {
  std::lock_guard<std::mutex> lock(gDownloadWriteMutex);
  gDownloadWrite = std::move(write);
}

// --------------------------------------------------------------------------------------------
// Session

bool MVXURLSession::NSURLSessionShouldBeUsed() { return false; }

std::shared_ptr<MVXURLSession> MVXURLSession::sessionWithConfiguration(
    const std::shared_ptr<MVXURLSessionConfiguration>& configuration) {
  return sessionWithConfiguration(configuration, nullptr, nullptr);
}

std::shared_ptr<MVXURLSession> MVXURLSession::sessionWithConfiguration(
    const std::shared_ptr<MVXURLSessionConfiguration>& configuration,
    const std::shared_ptr<MVXURLSessionDelegate>& delegate,
    std::shared_ptr<tw::OperationQueue> delegateQueue) {
  if (!configuration) return nullptr;
  std::shared_ptr<MVXURLSession> session(new MVXURLSession());
  session->delegate_ = delegate;
  session->delegateQueue_ = delegateQueue ? std::move(delegateQueue) : newDefaultDelegateQueue();
  session->configuration_ = configuration->copy();
  session->engine_ = std::make_shared<Engine>();
  MVXURLSessionDownloadTask::removeDownloadLeftovers();
  return session;
}

std::shared_ptr<tw::OperationQueue> MVXURLSession::newDefaultDelegateQueue() {
  char name[64];
  std::snprintf(name, sizeof name, "MVXURLSession %p",
                static_cast<const void*>(&gNextTaskIdentifier));
  return TSYCreateOperationQueue(name);
}

void MVXURLSession::setSystemTrustFileForTesting(const std::filesystem::path& caFile) {
  std::lock_guard<std::mutex> lock(gTrustFileMutex);
  gTrustFileForTesting = caFile;
}

MVXURLSession::~MVXURLSession() {
  if (engine_) engine_->stop();
}

std::shared_ptr<MVXURLSessionDelegate> MVXURLSession::delegate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delegate_.lock();
}

std::string MVXURLSession::sessionDescription() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessionDescription_;
}

void MVXURLSession::setSessionDescription(std::string description) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessionDescription_ = std::move(description);
}

void MVXURLSession::configureTask(const std::shared_ptr<MVXURLSessionTask>& task) {
  for (const auto& [name, value] : configuration_->HTTPAdditionalHeaders) {
    task->originalRequest_.addValue(value, name);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  tasks_.insert(task);
}

std::shared_ptr<MVXURLSessionDataTask> MVXURLSession::dataTaskWithRequest(
    const tw::URLRequest& request, DataCompletion completion) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (invalidated_) return nullptr;
  }
  std::shared_ptr<MVXURLSessionDataTask> task(
      new MVXURLSessionDataTask(MVXURLSessionTask::Kind::Data, shared_from_this(), request));
  if (completion) {
    task->completionHandler_ = std::move(completion);
    task->invokesDelegate_ = false;
  }
  configureTask(task);
  return task;
}

std::shared_ptr<MVXURLSessionUploadTask> MVXURLSession::uploadTaskWithRequest(
    const tw::URLRequest& request, const std::filesystem::path& fromFile,
    DataCompletion completion) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (invalidated_) return nullptr;
  }
  tw::URLRequest upload = request;
  upload.body.clear();
  upload.bodyFile = fromFile;
  std::shared_ptr<MVXURLSessionUploadTask> task(
      new MVXURLSessionUploadTask(MVXURLSessionTask::Kind::Upload, shared_from_this(), upload));
  if (completion) {
    task->completionHandler_ = std::move(completion);
    task->invokesDelegate_ = false;
  }
  configureTask(task);
  return task;
}

std::shared_ptr<MVXURLSessionDownloadTask> MVXURLSession::downloadTaskWithRequest(
    const tw::URLRequest& request, DownloadCompletion completion) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (invalidated_) return nullptr;
  }
  std::shared_ptr<MVXURLSessionDownloadTask> task(new MVXURLSessionDownloadTask(
      MVXURLSessionTask::Kind::Download, shared_from_this(), request));
  if (completion) {
    task->downloadCompletionHandler_ = std::move(completion);
    task->invokesDelegate_ = false;
  }
  configureTask(task);
  return task;
}

std::shared_ptr<MVXURLSessionDownloadTask> MVXURLSession::downloadTaskWithURL(
    const std::string& url) {
  tw::URLRequest request;
  request.url = url;
  return downloadTaskWithRequest(request);
}

void MVXURLSession::startTask(const std::shared_ptr<MVXURLSessionTask>& task) {
  auto transfer = std::make_unique<MVXURLSessionTask::Transfer>();
  auto& t = *transfer;
  t.task = task;
  t.session = shared_from_this();
  const tw::URLRequest& request = task->originalRequest_;
  auto fail = [&](long code, const std::string& detail) {
    completeTask(task, urlError(code, request.url, detail), {}, std::nullopt);
  };

  t.easy = curl_easy_init();
  // Without a multi handle the engine's wait would return at once, forever: fail instead.
  if (!t.easy || !engine_->multi)
    return fail(tw::NSURLErrorCannotConnectToHost, "no transfer handle");
  if (CURLU* parsed = curl_url()) {
    char* host = nullptr;
    if (curl_url_set(parsed, CURLUPART_URL, request.url.c_str(), 0) != CURLUE_OK) {
      curl_url_cleanup(parsed);
      return fail(tw::NSURLErrorBadURL, "bad URL");
    }
    if (curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK && host) {
      t.host = host;
      if (t.host.size() > 2 && t.host.front() == '[') t.host = t.host.substr(1, t.host.size() - 2);
      curl_free(host);
    }
    char* scheme = nullptr;
    std::string schemeText;
    if (curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && scheme) {
      schemeText = scheme;
      curl_free(scheme);
    }
    curl_url_cleanup(parsed);
    if (schemeText != "http" && schemeText != "https") {
      return fail(tw::NSURLErrorUnsupportedURL, "unsupported URL");
    }
  }

  CURL* e = t.easy;
  curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 16L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onWrite);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, onSSLContext);
  curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, &t);
  if (auto d = delegate(); d && d->implementsDidReceiveChallenge()) {
    // Every connection must meet the delegate: no resumed TLS sessions skip the challenge.
    curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  }
  {
    std::lock_guard<std::mutex> lock(gTrustFileMutex);
    if (!gTrustFileForTesting.empty()) {
      curl_easy_setopt(e, CURLOPT_CAINFO, gTrustFileForTesting.c_str());
    }
  }
  // The request time-out is an idle time-out: the task fails when no byte moves for that long.
  double idle = configuration_->timeoutIntervalForRequest;
  if (request.timeoutInterval > 0 && (idle <= 0 || request.timeoutInterval < idle)) {
    idle = request.timeoutInterval;
  }
  if (idle > 0) {
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idle * 1000));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, std::max(1L, static_cast<long>(std::ceil(idle))));
  }
  if (configuration_->timeoutIntervalForResource > 0) {
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(configuration_->timeoutIntervalForResource * 1000));
  }

  const std::string method = request.method.empty() ? "GET" : request.method;
  bool hasBody = false;
  if (request.bodyFile) {
    t.upload = std::fopen(request.bodyFile->c_str(), "rb");
    std::error_code ec;
    const auto size = std::filesystem::file_size(*request.bodyFile, ec);
    if (!t.upload || ec) return fail(tw::NSURLErrorCannotConnectToHost, "cannot read body file");
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, onRead);
    curl_easy_setopt(e, CURLOPT_READDATA, &t);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method == "GET" ? "POST" : method.c_str());
    hasBody = true;
  } else if (!request.body.empty() || (method != "GET" && method != "HEAD")) {
    t.body = request.body;
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.body.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS,
                     t.body.empty() ? "" : reinterpret_cast<const char*>(t.body.data()));
    if (method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    hasBody = true;
  } else if (method == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  }

  // The request's headers go out as given; the body's length is always curl's exact count.
  for (const auto& [name, value] : request.headers) {
    if (strcasecmp(name.c_str(), "Content-Length") == 0) continue;
    std::string line = name;
    line += value.empty() ? ";" : ": ";
    line += value;
    t.headers = curl_slist_append(t.headers, line.c_str());
  }
  t.headers = curl_slist_append(t.headers, "Expect:");
  if (!request.valueForHTTPHeaderField("Accept"))
    t.headers = curl_slist_append(t.headers, "Accept:");
  if (hasBody && !request.valueForHTTPHeaderField("Content-Type")) {
    t.headers = curl_slist_append(t.headers, "Content-Type:");
  }
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers);

  if (task->kind_ == MVXURLSessionTask::Kind::Download) {
    t.downloadPath = MVXURLSessionDownloadTask::temporaryFileURL();
    (void)tw::paths::createDirectories(t.downloadPath.parent_path());  // fopen says what fails
    t.download = std::fopen(t.downloadPath.c_str(), "wbe");
    if (!t.download) return fail(tw::NSURLErrorCannotCreateFile, "cannot create download file");
    // Held until the file is closed, so a start elsewhere leaves it alone.
    ::flock(::fileno(t.download), LOCK_EX | LOCK_NB);
  }
  curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
  engine_->post(std::move(transfer));
}

void MVXURLSession::cancelTask(const std::shared_ptr<MVXURLSessionTask>& task) {
  engine_->cancel(task);
}

void MVXURLSession::deliver(std::function<void()> block) {
  delegateQueue_->addOperationWithBlock(std::move(block));
}

void MVXURLSession::completeTask(const std::shared_ptr<MVXURLSessionTask>& task,
                                 const tw::ErrorPtr& error, tw::Data data,
                                 std::optional<std::filesystem::path> file) {
  std::optional<tw::URLResponse> response;
  {
    std::lock_guard<std::mutex> lock(task->mutex_);
    if (task->completed_) {
      if (file) {
        std::error_code ec;
        std::filesystem::remove(*file, ec);
      }
      return;
    }
    task->completed_ = true;
    task->error_ = error;
    if (error) task->response_.reset();
    response = task->response_;
  }
  auto self = shared_from_this();
  auto delegate = this->delegate();
  deliver([self, task, error, data = std::move(data), file, response, delegate] {
    auto removeFile = [&] {
      if (!file) return;
      std::error_code ec;
      std::filesystem::remove(*file, ec);
    };
    if (task->completionHandler_) {
      task->completionHandler_(data, response, error);
    } else if (task->downloadCompletionHandler_) {
      task->downloadCompletionHandler_(file, response, error);
      removeFile();
    } else if (delegate) {
      if (file && delegate->implementsDidFinishDownloading()) {
        delegate->URLSessionDownloadTaskDidFinishDownloadingToURL(self, task, *file);
      }
      removeFile();
      if (delegate->implementsDidComplete()) {
        delegate->URLSessionTaskDidCompleteWithError(self, task, error);
      }
    } else {
      removeFile();
    }
    task->completionHandler_ = nullptr;
    task->downloadCompletionHandler_ = nullptr;
    self->removeTaskFromSet(task);
  });
}

void MVXURLSession::removeTaskFromSet(const std::shared_ptr<MVXURLSessionTask>& task) {
  std::shared_ptr<MVXURLSessionDelegate> announceTo;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.erase(task);
    if (invalidated_ && tasks_.empty() && !invalidationAnnounced_) {
      invalidationAnnounced_ = true;
      announceTo = delegate_.lock();
      delegate_.reset();
    }
  }
  if (announceTo) announceTo->URLSessionDidBecomeInvalidWithError(shared_from_this(), nullptr);
}

void MVXURLSession::invalidateAndCancel() {
  std::vector<std::shared_ptr<MVXURLSessionTask>> running;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    invalidated_ = true;
    running.assign(tasks_.begin(), tasks_.end());
  }
  for (auto& task : running) task->cancel();
  finishTasksAndInvalidate();
}

void MVXURLSession::finishTasksAndInvalidate() {
  std::shared_ptr<MVXURLSessionDelegate> announceTo;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    invalidated_ = true;
    if (tasks_.empty() && !invalidationAnnounced_) {
      invalidationAnnounced_ = true;
      announceTo = delegate_.lock();
      delegate_.reset();
    }
  }
  if (announceTo) {
    auto self = shared_from_this();
    deliver([self, announceTo] { announceTo->URLSessionDidBecomeInvalidWithError(self, nullptr); });
  }
}

void MVXURLSession::getTasksWithCompletionHandler(std::function<void(const TaskLists&)> handler) {
  if (!handler) return;
  auto self = shared_from_this();
  deliver([self, handler = std::move(handler)] {
    TaskLists lists;
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      for (const auto& task : self->tasks_) {
        switch (task->kind()) {
          case MVXURLSessionTask::Kind::Data:
            lists.dataTasks.push_back(task);
            break;
          case MVXURLSessionTask::Kind::Upload:
            lists.uploadTasks.push_back(task);
            break;
          case MVXURLSessionTask::Kind::Download:
            lists.downloadTasks.push_back(task);
            break;
        }
      }
    }
    // Outside the lock: a handler may start a task on this session.
    handler(lists);
  });
}
