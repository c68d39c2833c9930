#pragma once
// AdsKit: the stub kit that stands for an outside advertising product in the kit list. It has
// an identity and nothing else. Registered by the kit registry under the name "AdsKit".
// Any thread.

#include <memory>
#include <string>

class AdsKit {
 public:
  static constexpr const char* kClassName = "AdsKit";
  // The advertising product's own class name, looked up at run time.
  static constexpr const char* kProductClassName = "PavomarkAds";

  static std::shared_ptr<AdsKit> sharedInstance();
  static std::string bundleIdentifier() { return "com.pavomark.ads"; }
  static std::string kitDisplayVersion() { return "0.0.0"; }
};
