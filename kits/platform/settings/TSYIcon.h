#pragma once
// TSYIcon: the application's icon as the onboarding form sends it: PNG bytes, their SHA-1 hash,
// the size in points and whether it is drawn finished. TSYAppIconUtility finds the application's
// icon in the main bundle's resources and keeps it once made. Both are immutable after
// construction apart from the utility's cached icon (guarded); any thread.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

struct TSYIconSize {
  double width = 0;
  double height = 0;
};

class TSYIcon {
 public:
  TSYIcon(tw::Data data, std::string dataHash, TSYIconSize size, bool prerendered);
  // The hash is the SHA-1 of the data, 40 lowercase hexadecimal characters.
  TSYIcon(const tw::Data& data, TSYIconSize size, bool prerendered = true);
  // An image file's bytes: PNG only, its size read from the image header. Anything that is not a
  // whole PNG header gives null (no icon).
  static std::shared_ptr<TSYIcon> initWithImage(const tw::Data& image);

  double surfaceArea() const { return size_.width * size_.height; }
  bool isWithinMaxSurfaceArea() const { return surfaceArea() <= 1048576.0; }
  bool largerThanSize(TSYIconSize size) const { return surfaceArea() > size.width * size.height; }

  const tw::Data& data() const { return data_; }
  const std::string& dataHash() const { return dataHash_; }
  TSYIconSize size() const { return size_; }
  bool prerendered() const { return prerendered_; }

 private:
  tw::Data data_;
  std::string dataHash_;
  TSYIconSize size_;
  bool prerendered_;
};

class TSYAppIconUtility {
 public:
  // The kit main bundle's info dictionary.
  static tw::Dictionary appInfoDictionary();
  // The application's icon image: the PNG named by the "Icon" key of the bundle's desktop entry
  // ("<bundle identifier>.desktop"), else "<bundle identifier>.png", from the bundle's resources.
  static std::optional<tw::Data> mainAppIcon();
  static std::shared_ptr<TSYIcon> fetchApplicationIcon();

  // fetchApplicationIcon on first use, then kept.
  std::shared_ptr<TSYIcon> applicationIcon();
  void setApplicationIcon(std::shared_ptr<TSYIcon> icon);

 private:
  // Guards fetched_ and applicationIcon_.
  std::mutex mutex_;
  bool fetched_ = false;
  std::shared_ptr<TSYIcon> applicationIcon_;
};
