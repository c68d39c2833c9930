#include "kits/platform/macho/MVXdSYM.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

std::shared_ptr<MVXdSYM> MVXdSYM::dSYMWithURL(const fs::path& url) { return createWithURL(url); }

std::shared_ptr<MVXdSYM> MVXdSYM::createWithURL(const fs::path& url) {
  std::error_code ec;
  if (!fs::is_directory(url, ec)) return nullptr;
  fs::path dwarf = url / "Contents" / "Resources" / "DWARF";
  if (!fs::is_directory(dwarf, ec)) return nullptr;
  // Directory order is arbitrary here; sorted, the first entry is the same on every run.
  std::vector<fs::path> entries;
  for (fs::recursive_directory_iterator it(dwarf, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  if (ec || entries.empty()) return nullptr;
  auto binary = MVXMachOBinary::createWithURL(*std::min_element(entries.begin(), entries.end()));
  if (!binary) return nullptr;
  return std::make_shared<MVXdSYM>(tw::Bundle::fromDirectory(url / "Contents"), std::move(binary));
}

std::optional<std::string> MVXdSYM::infoString(const char* key) const {
  if (const std::string* s = bundle_->objectForInfoDictionaryKey(key).string()) return *s;
  return std::nullopt;
}

std::optional<std::string> MVXdSYM::bundleIdentifier() const {
  static constexpr std::string_view kPrefix = "com.apple.xcode.dsym.";
  auto identifier = infoString("CFBundleIdentifier");
  if (identifier && identifier->starts_with(kPrefix)) identifier->erase(0, kPrefix.size());
  return identifier;
}

std::optional<std::string> MVXdSYM::bundleVersion() const { return infoString("CFBundleVersion"); }

std::optional<std::string> MVXdSYM::shortBundleVersion() const {
  return infoString("CFBundleShortVersionString");
}
