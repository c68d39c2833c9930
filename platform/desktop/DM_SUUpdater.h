#pragma once
// DM_SUUpdater: the application's software updater. Tickwell on Linux is installed and updated
// by the system's package manager, so by default there is nothing to check: a check then makes
// no network request, records no date and, when the user asked for it, says where updates come
// from. A build may name an update feed in its Info.plist (key "TickwellUpdateFeedURL": an
// https address, or http on the loopback interface); a check then fetches the feed (a JSON
// object {"version": "1.2", "url": "https://..."}), compares its version with the bundle's
// short version and tells the user of a newer one. Only a check that got an answer records
// lastUpdateCheckDate.
//
// automaticallyChecksForUpdates (off unless the user turns it on) and lastUpdateCheckDate are
// kept in the user defaults and are observable keys ("automaticallyChecksForUpdates",
// "lastUpdateCheckDate": a date, or null before the first real check). When automatic checks
// are on, checkAtLaunchIfDue checks at most once a day.
//
// sharedUpdater() lives for the process; tests make their own. Main thread only; the feed is
// fetched on a background queue and the result comes back on the main queue.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

namespace tw {
class Bundle;
class DispatchQueue;
class UserDefaults;
}  // namespace tw

class DM_SUUpdater;

// The application's side of the updater: two questions, and the messages a check has for the
// user (the application shows them; without a delegate they are logged).
class DM_SUUpdaterDelegate {
 public:
  virtual ~DM_SUUpdaterDelegate() = default;
  virtual bool isUpdaterInTestMode(DM_SUUpdater&) { return false; }
  virtual bool updaterShouldCheckForBetaUpdates(DM_SUUpdater&) { return false; }
  virtual void updaterShowMessage(DM_SUUpdater&, const std::string& title,
                                  const std::string& message) = 0;
};

class DM_SUUpdater : public tw::Object {
 public:
  static constexpr const char* kFeedURLKey = "TickwellUpdateFeedURL";
  static constexpr const char* kAutomaticChecksDefaultsKey = "UpdaterAutomaticallyChecks";
  static constexpr const char* kLastCheckDefaultsKey = "UpdaterLastCheckDate";
  static constexpr double kAutomaticCheckInterval = 24 * 60 * 60;
  static constexpr double kRequestTimeoutSeconds = 20;
  static constexpr std::size_t kMaximumFeedBytes = std::size_t{64} * 1024;

  static std::shared_ptr<DM_SUUpdater> sharedUpdater();

  struct Options {
    std::string feedURL;         // empty: no feed, nothing to fetch
    std::string currentVersion;  // the application's short version
    std::string applicationName;
  };
  // The shared updater's options: the main bundle's feed key, version and name.
  static Options optionsFromBundle(const tw::Bundle& bundle);
  DM_SUUpdater(Options options, tw::UserDefaults& defaults);
  ~DM_SUUpdater() override;

  bool automaticallyChecksForUpdates() const;
  void setAutomaticallyChecksForUpdates(bool value);
  std::optional<tw::Date> lastUpdateCheckDate() const;

  // A check the user asked for: the outcome is always told.
  void checkForUpdates(const std::shared_ptr<tw::Object>& sender = nullptr);
  // A check nobody asked for: only a newer version is told.
  void checkForUpdatesInBackground();
  // At launch: a background check when automatic checks are on and the last check is a day
  // old or older (or never ran). Returns whether a check started.
  bool checkAtLaunchIfDue();
  bool isCheckingForUpdates() const { return checking_; }

  std::shared_ptr<DM_SUUpdaterDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<DM_SUUpdaterDelegate> delegate) {
    delegate_ = std::move(delegate);
  }

  // -1, 0, 1 as `a` is older than, the same as or newer than `b` ("1.10" > "1.9"; a missing
  // part counts as 0; parts that are not numbers compare as text).
  static int compareVersions(const std::string& a, const std::string& b);
  // The version and download address of a feed document; an error text when it is not one.
  struct FeedEntry {
    std::string version;
    std::string url;
  };
  static std::optional<FeedEntry> parseFeed(const std::string& body, std::string* error);
  // Whether `url` may be fetched: https anywhere, http only on the loopback interface.
  static bool isAllowedFeedURL(const std::string& url);

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;
  bool automaticallyNotifiesObserversForKey(std::string_view key) const override;

 private:
  void check(bool userInitiated);
  void finishCheck(bool userInitiated, const std::string& body, const std::string& error);
  void tell(const std::string& title, const std::string& message);

  Options options_;
  tw::UserDefaults& defaults_;
  std::weak_ptr<DM_SUUpdaterDelegate> delegate_;
  std::shared_ptr<tw::DispatchQueue> queue_;
  bool checking_ = false;
};
