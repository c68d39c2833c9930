#include "kits/platform/AdsKit.h"

std::shared_ptr<AdsKit> AdsKit::sharedInstance() {
  static const std::shared_ptr<AdsKit> shared = std::make_shared<AdsKit>();
  return shared;
}
