#include "kits/platform/AdsKit.h"

std::shared_ptr<AdsKit> AdsKit::sharedInstance() {
  // Never destroyed: the kits' workers may still use it while the exit handlers run.
  static const auto& shared = *new const std::shared_ptr<AdsKit>(std::make_shared<AdsKit>());
  return shared;
}
