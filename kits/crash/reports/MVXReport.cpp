#include "kits/crash/reports/MVXReport.h"

#include <limits>

#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/capture/MVXUserLogging.h"

namespace {

std::shared_ptr<MVXReport::KVStore> makeStore(const MVXInternalReport& report,
                                              const char* incremental, const char* compacted,
                                              bool user) {
  auto store = std::make_shared<MVXReport::KVStore>();
  store->incrementalPath = report.pathForContentFile(incremental);
  store->compactedPath = report.pathForContentFile(compacted);
  if (MVXContextIsInitialized()) {
    const MVXUserLoggingContext& logging = gMVXContext.readonly->logging;
    store->storage = user ? logging.user : logging.internal;
  }
  store->storage.incrementalPath = store->incrementalPath.c_str();
  store->storage.compactedPath = store->compactedPath.c_str();
  return store;
}

}  // namespace

MVXReport::MVXReport(std::shared_ptr<MVXInternalReport> internalReport, bool prefetchData)
    : internalReport_(std::move(internalReport)),
      internalKV_(makeStore(*internalReport_, "internal_incremental_kv.mvxrecord",
                            "internal_compacted_kv.mvxrecord", false)),
      userKV_(makeStore(*internalReport_, "user_incremental_kv.mvxrecord",
                        "user_compacted_kv.mvxrecord", true)),
      readOnly_(prefetchData) {
  if (prefetchData) {
    fetchAll();
    customKeys_ = readCustomKeys();
  }
}

bool MVXReport::canRecordNewValues() const { return !readOnly_ && MVXContextIsInitialized(); }

void MVXReport::record(const std::shared_ptr<KVStore>& store,
                       const std::optional<std::string>& value, const std::string& key) {
  if (!canRecordNewValues()) return;
  auto queue = MVXContextLoggingQueue();
  if (!queue) return;
  // The write and, when due, the compaction run in one block that holds the store: nothing
  // queued later reads a record or counter that may be gone by then.
  queue->sync([store, value, key] {
    MVXKVStorage writeOnly = store->storage;
    writeOnly.compactionThreshold = std::numeric_limits<std::uint32_t>::max();
    std::atomic<std::uint32_t> unused{0};
    MVXUserLoggingWriteKeyValue(key.c_str(), value, &writeOnly, &unused);
    if (++store->counter >= store->storage.compactionThreshold) {
      MVXUserLoggingCompactKVEntries(&store->storage);
      store->counter = 0;
    }
  });
  std::lock_guard lock(mutex_);
  if (store == userKV_) customKeys_.reset();
}

void MVXReport::recordValueForInternalKey(const std::optional<std::string>& value,
                                          const std::string& key) {
  record(internalKV_, value, key);
}

void MVXReport::recordValueForUserKey(const std::optional<std::string>& value,
                                      const std::string& key) {
  record(userKV_, value, key);
}

tw::Dictionary MVXReport::readCustomKeys() const {
  tw::Dictionary out;
  auto entries = MVXUserLoggingGetCompactedKVEntries(&userKV_->storage, true);
  if (!entries) return out;
  for (const auto& [key, value] : *entries) {
    if (value) out.emplace(key, *value);
  }
  return out;
}

void MVXReport::fetchAll() {
  std::lock_guard lock(mutex_);
  if (fetched_) return;
  const MVXInternalReport& r = *internalReport_;
  identifier_ = r.identifier();
  bundleVersion_ = r.bundleVersion();
  bundleShortVersionString_ = r.bundleShortVersionString();
  dateCreated_ = r.dateCreated();
  crashedOnDate_ = r.crashedOnDate();
  OSVersion_ = r.OSVersion();
  OSBuildVersion_ = r.OSBuildVersion();
  isCrash_ = r.isCrash();
  fetched_ = true;
}

std::string MVXReport::identifier() {
  fetchAll();
  return identifier_;
}
tw::Dictionary MVXReport::customKeys() {
  {
    std::lock_guard lock(mutex_);
    if (customKeys_ || readOnly_) return customKeys_.value_or(tw::Dictionary{});
  }
  tw::Dictionary keys = readCustomKeys();
  std::lock_guard lock(mutex_);
  customKeys_ = keys;
  return keys;
}
std::optional<std::string> MVXReport::bundleVersion() {
  fetchAll();
  return bundleVersion_;
}
std::optional<std::string> MVXReport::bundleShortVersionString() {
  fetchAll();
  return bundleShortVersionString_;
}
std::optional<tw::Date> MVXReport::dateCreated() {
  fetchAll();
  return dateCreated_;
}
std::optional<tw::Date> MVXReport::crashedOnDate() {
  fetchAll();
  return crashedOnDate_;
}
std::optional<std::string> MVXReport::OSVersion() {
  fetchAll();
  return OSVersion_;
}
std::optional<std::string> MVXReport::OSBuildVersion() {
  fetchAll();
  return OSBuildVersion_;
}
bool MVXReport::isCrash() {
  fetchAll();
  return isCrash_;
}

void MVXReport::setObjectValue(const std::optional<std::string>& value, const std::string& key) {
  recordValueForUserKey(value, key);
}
void MVXReport::setUserIdentifier(const std::optional<std::string>& value) {
  recordValueForInternalKey(value, "com.morvex.user-id");
}
void MVXReport::setUserName(const std::optional<std::string>& value) {
  recordValueForInternalKey(value, "com.morvex.user-name");
}
void MVXReport::setUserEmail(const std::optional<std::string>& value) {
  recordValueForInternalKey(value, "com.morvex.user-email");
}
