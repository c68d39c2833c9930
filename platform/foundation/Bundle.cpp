#include "platform/foundation/Bundle.h"

#include <cerrno>
#include <cstdlib>

#include <fmt/format.h>

#include "platform/foundation/Localization.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"

namespace fs = std::filesystem;

namespace tw {

namespace {

constexpr const char* kDefaultIdentifier = "com.velmora.Tickwell";

fs::path mainBundleDirectory() {
  if (const char* dir = std::getenv("TICKWELL_BUNDLE_DIR"); dir && *dir) return fs::path(dir);
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec);
  fs::path exeDir = exe.parent_path();
  fs::path installed = exeDir / ".." / "share" / "Tickwell";
  if (fs::is_directory(installed, ec)) return installed.lexically_normal();
  return (exeDir / ".." / "resources").lexically_normal();
}

std::string stringOr(const Value& v, const char* fallback) {
  if (const std::string* s = v.string(); s && !s->empty()) return *s;
  return fallback;
}

}  // namespace

Bundle& Bundle::main() {
  static Bundle* shared = new Bundle(mainBundleDirectory());  // lives through exit
  return *shared;
}

std::shared_ptr<Bundle> Bundle::fromDirectory(fs::path directory) {
  return std::make_shared<Bundle>(std::move(directory));
}

Bundle::Bundle(fs::path directory) : directory_(std::move(directory)) {
  fs::path infoFile = directory_ / "Info.plist";
  int err = 0;
  auto bytes = paths::readFile(infoFile, &err);
  if (bytes) {
    auto value = PropertyList::read(*bytes);
    if (value && value->dictionary())
      info_ = *value->dictionary();
    else
      log(LogLevel::Error, fmt::format("Bundle: ignoring {}: {}", infoFile.string(),
                                       value ? "not a dictionary" : value.error()));
  } else if (err != ENOENT) {
    log(LogLevel::Error, fmt::format("Bundle: ignoring {}: {}", infoFile.string(), bytes.error()));
  }
  identifier_ = stringOr(objectForInfoDictionaryKey("CFBundleIdentifier"), kDefaultIdentifier);
}

const Value& Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  auto it = info_.find(key);
  return it == info_.end() ? Value::null() : it->second;
}

std::string Bundle::shortVersionString() const {
  return stringOr(objectForInfoDictionaryKey("CFBundleShortVersionString"), "1.0");
}

std::string Bundle::bundleVersion() const {
  return stringOr(objectForInfoDictionaryKey("CFBundleVersion"), "1");
}

std::string Bundle::developmentRegion() const {
  return stringOr(objectForInfoDictionaryKey("CFBundleDevelopmentRegion"), "en");
}

std::optional<fs::path> Bundle::pathForResource(std::string_view name, std::string_view ext) const {
  if (name.empty()) return std::nullopt;
  std::string file(name);
  if (!ext.empty()) {
    if (ext.front() != '.') file += '.';
    file += ext;
  }
  std::error_code ec;
  fs::path direct = directory_ / file;
  if (fs::exists(direct, ec)) return direct;
  for (const std::string& lang : localizationSearchOrder(*this)) {
    fs::path localized = directory_ / (lang + ".lproj") / file;
    if (fs::exists(localized, ec)) return localized;
  }
  return std::nullopt;
}

}  // namespace tw
