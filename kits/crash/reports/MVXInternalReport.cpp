#include "kits/crash/reports/MVXInternalReport.h"

#include <unistd.h>

#include <filesystem>

#include "kits/crash/capture/MVXFileReader.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"

namespace {

const tw::Value& lineSection(const std::vector<tw::Value>& lines, std::size_t line,
                             const char* section) {
  if (line >= lines.size()) return tw::Value::null();
  return lines[line][section];
}

std::optional<tw::Date> dateFromSeconds(const tw::Value& v) {
  if (auto u = v.uintIfUInt()) return tw::Date{static_cast<double>(*u)};
  if (auto i = v.intIfInt(); i && *i >= 0) return tw::Date{static_cast<double>(*i)};
  return std::nullopt;
}

}  // namespace

std::shared_ptr<MVXInternalReport> MVXInternalReport::create(
    const std::string& path, const std::string& executionIdentifier) {
  if (path.empty() || executionIdentifier.empty()) return nullptr;
  return std::make_shared<MVXInternalReport>(path, executionIdentifier);
}

std::shared_ptr<MVXInternalReport> MVXInternalReport::reportWithPath(const std::string& path) {
  auto report = std::make_shared<MVXInternalReport>(path, std::string());
  auto identifier = report->metadataString(0, "identity", "session_id");
  if (!identifier || identifier->empty()) {
    tw::log(tw::format("[Morvex:Crash] Unable to read identifier at path %@", path));
    return nullptr;
  }
  report->identifier_ = *identifier;
  return report;
}

std::string MVXInternalReport::path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

void MVXInternalReport::setPath(std::string path) {
  std::lock_guard lock(mutex_);
  path_ = std::move(path);
}

std::string MVXInternalReport::directoryName() const {
  return std::filesystem::path(path()).filename().string();
}

std::string MVXInternalReport::pathForContentFile(const std::string& name) const {
  return path() + "/" + name;
}

const std::vector<std::string>& MVXInternalReport::crashFilenames() {
  // Never destroyed, as every constant a worker may read while the exit handlers run.
  static const auto& names = *new const std::vector<std::string>{
      "exception.mvxrecord", "mach_exception.mvxrecord", "signal.mvxrecord"};
  return names;
}

const std::vector<std::string>& MVXInternalReport::submissionFilenames() {
  static const auto& names = *new const std::vector<std::string>{"exception.mvxrecord",
                                                                 "signal.mvxrecord",
                                                                 "custom_exception_a.mvxrecord",
                                                                 "custom_exception_b.mvxrecord",
                                                                 "mach_exception.mvxrecord",
                                                                 "errors_a.mvxrecord",
                                                                 "errors_b.mvxrecord"};
  return names;
}

bool MVXInternalReport::checkExistenceOfAtLeastOnceFileInArray(
    const std::vector<std::string>& names) const {
  for (const std::string& name : names) {
    if (::access(pathForContentFile(name).c_str(), F_OK) == 0) return true;
  }
  return false;
}

bool MVXInternalReport::needsToBeSubmitted() const {
  return checkExistenceOfAtLeastOnceFileInArray(submissionFilenames());
}

bool MVXInternalReport::isCrash() const {
  return checkExistenceOfAtLeastOnceFileInArray(crashFilenames());
}

std::optional<std::vector<tw::Value>> MVXInternalReport::readMVXFileAtPath(
    const std::string& path) {
  // A missing file is an ordinary absence here, not something for the kit log.
  if (::access(path.c_str(), F_OK) != 0) return std::nullopt;
  auto lines = MVXFileReadSections(path, false);
  if (!lines || lines->empty()) return std::nullopt;
  return lines;
}

std::optional<std::vector<tw::Value>> MVXInternalReport::metadataSections() const {
  std::lock_guard lock(mutex_);
  if (!metadataRead_) {
    metadata_ = readMVXFileAtPath(path_ + "/" + kMetadataFile);
    metadataRead_ = true;
  }
  return metadata_;
}

std::optional<std::string> MVXInternalReport::metadataString(std::size_t line, const char* section,
                                                             const char* key) const {
  auto lines = metadataSections();
  if (!lines) return std::nullopt;
  const tw::Value& v = lineSection(*lines, line, section)[key];
  if (const std::string* s = v.string()) return *s;
  return std::nullopt;
}

std::optional<std::string> MVXInternalReport::APIKey() const {
  return metadataString(0, "identity", "api_key");
}
std::optional<std::string> MVXInternalReport::bundleVersion() const {
  return metadataString(2, "application", "build_version");
}
std::optional<std::string> MVXInternalReport::bundleShortVersionString() const {
  return metadataString(2, "application", "display_version");
}
std::optional<std::string> MVXInternalReport::OSVersion() const {
  return metadataString(1, "host", "os_display_version");
}
std::optional<std::string> MVXInternalReport::OSBuildVersion() const {
  return metadataString(1, "host", "os_build_version");
}

std::optional<tw::Date> MVXInternalReport::dateCreated() const {
  auto lines = metadataSections();
  if (!lines) return std::nullopt;
  return dateFromSeconds(lineSection(*lines, 0, "identity")["started_at"]);
}

std::optional<tw::Date> MVXInternalReport::timeFromCrashContentFile(
    const std::string& path, const std::string& sectionName) {
  auto lines = readMVXFileAtPath(path);
  if (!lines) return std::nullopt;
  return dateFromSeconds(lines->front()[sectionName]["time"]);
}

std::optional<tw::Date> MVXInternalReport::crashedOnDate() const {
  if (!isCrash()) return std::nullopt;
  if (auto date = timeFromCrashContentFile(pathForContentFile("mach_exception.mvxrecord"),
                                           "mach_exception"))
    return date;
  return timeFromCrashContentFile(pathForContentFile("signal.mvxrecord"), "signal");
}
