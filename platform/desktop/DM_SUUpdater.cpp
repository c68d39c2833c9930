#include "platform/desktop/DM_SUUpdater.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"

namespace {

struct Download {
  std::string body;
  bool tooLarge = false;
};

size_t collect(char* data, size_t size, size_t count, void* user) {
  auto* download = static_cast<Download*>(user);
  const size_t bytes = size * count;
  if (download->body.size() + bytes > DM_SUUpdater::kMaximumFeedBytes) {
    download->tooLarge = true;
    return 0;  // ends the transfer
  }
  download->body.append(data, bytes);
  return bytes;
}

// The feed's body, or an error text. Runs on the updater's queue.
std::string fetch(const std::string& url, std::string& error) {
  CURL* curl = curl_easy_init();
  if (!curl) {
    error = "the HTTP client could not be started";
    return {};
  }
  Download download;
  char message[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https,http");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS,
                   static_cast<long>(DM_SUUpdater::kRequestTimeoutSeconds * 1000));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (download.tooLarge) {
    error = "the update feed is larger than expected";
  } else if (code != CURLE_OK) {
    error = message[0] ? message : curl_easy_strerror(code);
  } else if (status != 200) {
    error = "the update feed answered with status " + std::to_string(status);
  } else {
    return download.body;
  }
  return {};
}

bool isLoopbackHost(const std::string& url) {
  // http://<host>[:port]/...
  const auto start = url.find("://");
  if (start == std::string::npos) return false;
  std::string host = url.substr(start + 3);
  host = host.substr(0, host.find_first_of("/?#"));
  if (host.find('@') != std::string::npos) return false;
  if (!host.empty() && host.front() == '[') {
    host = host.substr(0, host.find(']') + 1);
  } else {
    host = host.substr(0, host.find(':'));
  }
  return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

std::string lowercasePrefix(const std::string& text, std::size_t length) {
  std::string prefix = text.substr(0, length);
  for (char& c : prefix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return prefix;
}

}  // namespace

std::shared_ptr<DM_SUUpdater> DM_SUUpdater::sharedUpdater() {
  static const auto shared = std::make_shared<DM_SUUpdater>(optionsFromBundle(tw::Bundle::main()),
                                                            tw::UserDefaults::standard());
  return shared;
}

DM_SUUpdater::Options DM_SUUpdater::optionsFromBundle(const tw::Bundle& bundle) {
  Options options;
  const tw::Value& feed = bundle.objectForInfoDictionaryKey(kFeedURLKey);
  if (const std::string* text = feed.string()) options.feedURL = *text;
  options.currentVersion = bundle.shortVersionString();
  const tw::Value& name = bundle.objectForInfoDictionaryKey("CFBundleName");
  options.applicationName = name.string() ? *name.string() : "Tickwell";
  return options;
}

DM_SUUpdater::DM_SUUpdater(Options options, tw::UserDefaults& defaults)
    : options_(std::move(options)),
      defaults_(defaults),
      queue_(tw::DispatchQueue::createSerial("com.velmora.tickwell.updater.check")) {}

DM_SUUpdater::~DM_SUUpdater() = default;

bool DM_SUUpdater::automaticallyChecksForUpdates() const {
  return defaults_.boolForKey(kAutomaticChecksDefaultsKey);
}

void DM_SUUpdater::setAutomaticallyChecksForUpdates(bool value) {
  if (value == automaticallyChecksForUpdates() &&
      !defaults_.objectForKey(kAutomaticChecksDefaultsKey).isNull())
    return;
  tw::ChangeScope change(*this, "automaticallyChecksForUpdates");
  defaults_.setBool(value, kAutomaticChecksDefaultsKey);
}

std::optional<tw::Date> DM_SUUpdater::lastUpdateCheckDate() const {
  const tw::Value value = defaults_.objectForKey(kLastCheckDefaultsKey);
  if (const tw::Date* date = value.date()) return *date;
  return std::nullopt;
}

bool DM_SUUpdater::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "automaticallyChecksForUpdates") {
    out = tw::Value(automaticallyChecksForUpdates());
  } else if (key == "lastUpdateCheckDate") {
    const auto date = lastUpdateCheckDate();
    out = date ? tw::Value(*date) : tw::Value();
  } else {
    return tw::Object::getValueForKey(key, out);
  }
  return true;
}

bool DM_SUUpdater::setValueForKeyImpl(std::string_view key, const tw::Value& value) {
  if (key == "automaticallyChecksForUpdates") {
    setAutomaticallyChecksForUpdates(value.boolValue());
    return true;
  }
  return tw::Object::setValueForKeyImpl(key, value);
}

bool DM_SUUpdater::automaticallyNotifiesObserversForKey(std::string_view key) const {
  if (key == "automaticallyChecksForUpdates" || key == "lastUpdateCheckDate") return false;
  return tw::Object::automaticallyNotifiesObserversForKey(key);
}

void DM_SUUpdater::checkForUpdates(const std::shared_ptr<tw::Object>&) { check(true); }

void DM_SUUpdater::checkForUpdatesInBackground() { check(false); }

bool DM_SUUpdater::checkAtLaunchIfDue() {
  if (!automaticallyChecksForUpdates()) return false;
  if (const auto last = lastUpdateCheckDate()) {
    const double age = tw::clock::wallNow() - last->secondsSince1970;
    // A date in the future (the clock was set back) counts as due.
    if (age >= 0 && age < kAutomaticCheckInterval) return false;
  }
  checkForUpdatesInBackground();
  return true;
}

bool DM_SUUpdater::isAllowedFeedURL(const std::string& url) {
  if (lowercasePrefix(url, 8) == "https://") return url.size() > 8;
  return lowercasePrefix(url, 7) == "http://" && isLoopbackHost(url);
}

void DM_SUUpdater::check(bool userInitiated) {
  const std::string& name = options_.applicationName;
  if (options_.feedURL.empty()) {
    tw::log("<DM_SUUpdater> No update feed configured: updates come from the package manager");
    if (userInitiated)
      tell(tw::localized("Updates come from your package manager"),
           tw::localizedFormat("%@ is installed and kept up to date by your system's package "
                               "manager. Use it to look for a newer version.",
                               name));
    return;
  }
  if (!isAllowedFeedURL(options_.feedURL)) {
    tw::logf("<DM_SUUpdater> The update feed address is not an https address: %@",
             options_.feedURL);
    if (userInitiated)
      tell(tw::localized("Update check failed"),
           tw::localized("The update feed address of this build is not valid."));
    return;
  }
  if (checking_) return;
  checking_ = true;
  std::weak_ptr<DM_SUUpdater> weak = std::static_pointer_cast<DM_SUUpdater>(shared_from_this());
  const std::string url = options_.feedURL;
  queue_->async([weak, url, userInitiated] {
    std::string error;
    std::string body = fetch(url, error);
    tw::DispatchQueue::main()->async([weak, userInitiated, body = std::move(body), error] {
      if (auto self = weak.lock()) self->finishCheck(userInitiated, body, error);
    });
  });
}

void DM_SUUpdater::finishCheck(bool userInitiated, const std::string& body,
                               const std::string& fetchError) {
  checking_ = false;
  std::string error = fetchError;
  std::optional<FeedEntry> entry;
  if (error.empty()) entry = parseFeed(body, &error);
  if (!entry) {
    tw::logf("<DM_SUUpdater> Update check failed: %@: %@", options_.feedURL, error);
    // The address is in the message, so the user can try it elsewhere or report it.
    if (userInitiated)
      tell(tw::localized("Update check failed"),
           fetchError.empty()
               ? error
               : tw::localizedFormat("%@ could not reach %@: %@.", options_.applicationName,
                                     options_.feedURL, fetchError));
    return;
  }
  {
    tw::ChangeScope change(*this, "lastUpdateCheckDate");
    defaults_.setObject(tw::Value(tw::Date{tw::clock::wallNow()}), kLastCheckDefaultsKey);
  }
  const std::string& name = options_.applicationName;
  if (compareVersions(entry->version, options_.currentVersion) > 0) {
    tw::logf("<DM_SUUpdater> Version %@ is available", entry->version);
    tell(tw::localizedFormat("%@ %@ is available", name, entry->version),
         tw::localizedFormat("You have version %@. Get the new version from %@.",
                             options_.currentVersion, entry->url));
  } else if (userInitiated) {
    tell(tw::localized("You're up to date!"),
         tw::localizedFormat("%@ %@ is the newest version available.", name,
                             options_.currentVersion));
  }
}

void DM_SUUpdater::tell(const std::string& title, const std::string& message) {
  if (auto delegate = delegate_.lock()) {
    delegate->updaterShowMessage(*this, title, message);
  } else {
    tw::logf("<DM_SUUpdater> %@: %@", title, message);
  }
}

std::optional<DM_SUUpdater::FeedEntry> DM_SUUpdater::parseFeed(const std::string& body,
                                                               std::string* error) {
  auto fail = [&](const std::string& text) -> std::optional<FeedEntry> {
    if (error) *error = text;
    return std::nullopt;
  };
  const auto json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded() || !json.is_object()) return fail("the update feed is not a JSON object");
  const auto version = json.find("version");
  if (version == json.end() || !version->is_string() || version->get<std::string>().empty())
    return fail("the update feed names no version");
  FeedEntry entry;
  entry.version = version->get<std::string>();
  if (const auto url = json.find("url"); url != json.end() && url->is_string())
    entry.url = url->get<std::string>();
  return entry;
}

int DM_SUUpdater::compareVersions(const std::string& a, const std::string& b) {
  auto parts = [](const std::string& text) {
    std::vector<std::string> out;
    std::string part;
    for (char c : text) {
      if (c == '.') {
        out.push_back(part);
        part.clear();
      } else {
        part += c;
      }
    }
    out.push_back(part);
    return out;
  };
  auto isNumber = [](const std::string& text) {
    return !text.empty() && text.size() < 19 && std::all_of(text.begin(), text.end(), [](char c) {
      return std::isdigit(static_cast<unsigned char>(c));
    });
  };
  const auto left = parts(a), right = parts(b);
  for (std::size_t n = 0; n < std::max(left.size(), right.size()); ++n) {
    const std::string l = n < left.size() ? left[n] : "0";
    const std::string r = n < right.size() ? right[n] : "0";
    int order = 0;
    if (isNumber(l) && isNumber(r)) {
      const long long x = std::stoll(l), y = std::stoll(r);
      order = x < y ? -1 : (x > y ? 1 : 0);
    } else {
      order = l.compare(r) < 0 ? -1 : (l.compare(r) > 0 ? 1 : 0);
    }
    if (order != 0) return order;
  }
  return 0;
}
