#pragma once
// MVXReport: an MVXInternalReport wrapped for the kit's delegate (MVXCrashReport). Facts are
// read from the internal report on first use and kept; a prefetched report reads them all at
// creation, is read-only and keeps them after its directory moves or goes. Keys are recorded
// into the report directory's own key-value files on the capture core's logging queue; the
// queued work owns the paths and counter it uses, so it never outlives what it reads.
//
// Shared (shared_ptr); any thread (facts and records are guarded by the object's mutex).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "kits/crash/capture/MVXCrashContext.h"
#include "kits/crash/reports/MVXCrashReport.h"
#include "kits/crash/reports/MVXInternalReport.h"

class MVXReport : public MVXCrashReport {
 public:
  MVXReport(std::shared_ptr<MVXInternalReport> internalReport, bool prefetchData = false);

  // One key-value record of this report: its files, limits and write counter.
  struct KVStore {
    std::string incrementalPath;
    std::string compactedPath;
    MVXKVStorage storage;
    std::uint32_t counter = 0;
  };

  const std::shared_ptr<MVXInternalReport>& internalReport() const { return internalReport_; }
  // Storage records with this report's paths and the crash context's limits.
  MVXKVStorage internalKVStorage() const { return internalKV_->storage; }
  MVXKVStorage userKVStorage() const { return userKV_->storage; }
  bool canRecordNewValues() const;
  void recordValueForInternalKey(const std::optional<std::string>& value, const std::string& key);
  void recordValueForUserKey(const std::optional<std::string>& value, const std::string& key);
  tw::Dictionary readCustomKeys() const;

  // MVXCrashReport
  std::string identifier() override;
  tw::Dictionary customKeys() override;
  std::optional<std::string> bundleVersion() override;
  std::optional<std::string> bundleShortVersionString() override;
  std::optional<tw::Date> dateCreated() override;
  std::optional<tw::Date> crashedOnDate() override;
  std::optional<std::string> OSVersion() override;
  std::optional<std::string> OSBuildVersion() override;
  bool isCrash() override;
  void setObjectValue(const std::optional<std::string>& value, const std::string& key) override;
  void setUserIdentifier(const std::optional<std::string>& value) override;
  void setUserName(const std::optional<std::string>& value) override;
  void setUserEmail(const std::optional<std::string>& value) override;

 private:
  void record(const std::shared_ptr<KVStore>& store, const std::optional<std::string>& value,
              const std::string& key);
  void fetchAll();

  std::shared_ptr<MVXInternalReport> internalReport_;
  std::shared_ptr<KVStore> internalKV_;
  std::shared_ptr<KVStore> userKV_;
  const bool readOnly_;

  // Guards the lazily read fields below.
  std::mutex mutex_;
  bool fetched_ = false;
  std::string identifier_;
  std::optional<std::string> bundleVersion_, bundleShortVersionString_, OSVersion_, OSBuildVersion_;
  std::optional<tw::Date> dateCreated_, crashedOnDate_;
  bool isCrash_ = false;
  std::optional<tw::Dictionary> customKeys_;
};
