#include "kits/platform/settings/TSYIcon.h"

#include <array>
#include <sstream>

#include "kits/platform/TSYAppInfo.h"
#include "platform/foundation/Paths.h"

namespace {

std::uint32_t bigEndian32(const tw::Data& data, std::size_t at) {
  return std::uint32_t(data[at]) << 24 | std::uint32_t(data[at + 1]) << 16 |
         std::uint32_t(data[at + 2]) << 8 | std::uint32_t(data[at + 3]);
}

// The "Icon" value of a desktop entry's main group, empty when there is none.
std::string desktopEntryIcon(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  bool mainGroup = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      mainGroup = line == "[Desktop Entry]";
    } else if (mainGroup && line.rfind("Icon=", 0) == 0) {
      return line.substr(5);
    }
  }
  return {};
}

}  // namespace

TSYIcon::TSYIcon(tw::Data data, std::string dataHash, TSYIconSize size, bool prerendered)
    : data_(std::move(data)),
      dataHash_(std::move(dataHash)),
      size_(size),
      prerendered_(prerendered) {}

TSYIcon::TSYIcon(const tw::Data& data, TSYIconSize size, bool prerendered)
    : TSYIcon(data, TSYSHA1HexStringForData(data), size, prerendered) {}

std::shared_ptr<TSYIcon> TSYIcon::initWithImage(const tw::Data& image) {
  // Signature, then the IHDR chunk: length 13, type, width, height.
  static constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P',  'N',  'G',
                                                          '\r', '\n', 0x1a, '\n'};
  if (image.size() < 33 || !std::equal(kSignature.begin(), kSignature.end(), image.begin()) ||
      bigEndian32(image, 8) != 13 ||
      std::string(image.begin() + 12, image.begin() + 16) != "IHDR") {
    return nullptr;
  }
  const std::uint32_t width = bigEndian32(image, 16);
  const std::uint32_t height = bigEndian32(image, 20);
  if (width == 0 || height == 0) return nullptr;
  return std::make_shared<TSYIcon>(image, TSYIconSize{double(width), double(height)});
}

tw::Dictionary TSYAppIconUtility::appInfoDictionary() {
  auto bundle = tw::kitMainBundle();
  return bundle ? bundle->infoDictionary() : tw::Dictionary{};
}

std::optional<tw::Data> TSYAppIconUtility::mainAppIcon() {
  auto bundle = tw::kitMainBundle();
  if (!bundle) return std::nullopt;
  std::string name = bundle->bundleIdentifier();
  if (auto entry = bundle->pathForResource(bundle->bundleIdentifier(), "desktop")) {
    if (auto text = tw::paths::readTextFile(*entry, nullptr, 1 << 20)) {
      const std::string icon = desktopEntryIcon(*text);
      // Only a plain name is looked up: a path would reach outside the bundle.
      if (!icon.empty() && icon.find('/') == std::string::npos) name = icon;
    }
  }
  auto path = bundle->pathForResource(name, "png");
  if (!path) return std::nullopt;
  auto bytes = tw::paths::readFile(*path, nullptr, 16u << 20);
  if (!bytes) return std::nullopt;
  return std::move(bytes).value();
}

std::shared_ptr<TSYIcon> TSYAppIconUtility::fetchApplicationIcon() {
  auto image = mainAppIcon();
  return image ? TSYIcon::initWithImage(*image) : nullptr;
}

std::shared_ptr<TSYIcon> TSYAppIconUtility::applicationIcon() {
  std::lock_guard lock(mutex_);
  if (!fetched_) {
    applicationIcon_ = fetchApplicationIcon();
    fetched_ = true;
  }
  return applicationIcon_;
}

void TSYAppIconUtility::setApplicationIcon(std::shared_ptr<TSYIcon> icon) {
  std::lock_guard lock(mutex_);
  applicationIcon_ = std::move(icon);
  fetched_ = true;
}
