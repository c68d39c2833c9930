#pragma once
// The crash kit object layer's test fixture: a fresh "process" per test (private XDG folders, a
// main bundle with the Info.plist the test writes, a registry that has not started) and the
// loopback kits' web service, trusted through the registry's debug flag. Test-only.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/MVXURLSession.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/testsupport/TestSupport.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace tw::test {

class CrashKitTest : public ::testing::Test {
 protected:
  static constexpr const char* kApiKey = "0123456789abcdef0123456789abcdef01234567";

  void SetUp() override {
    xdg_ = std::make_unique<ScopedXdg>();
    Tessaly::resetForTesting();
  }

  void TearDown() override {
    ::unsetenv("MorvexBetaEndpoint");
    ::unsetenv("MorvexReportsEndpoint");
    MVXURLSession::setSystemTrustFileForTesting({});
    setKitMainBundleForTesting(nullptr);
    Tessaly::resetForTesting();
    service_.reset();
    xdg_.reset();
  }

  // Starts the loopback service, points the kit's endpoints at it and trusts its test authority
  // (pinning defers to the system's trust while the registry's debug flag is on).
  KitService& startService() {
    service_ = std::make_unique<KitService>(true, kApiKey);
    ::setenv("MorvexBetaEndpoint", service_->baseURL().c_str(), 1);
    ::setenv("MorvexReportsEndpoint", service_->baseURL().c_str(), 1);
    MVXURLSession::setSystemTrustFileForTesting(service_->caFile());
    Tessaly::sharedSDK()->setDebug(true);
    return *service_;
  }

  // The Info.plist of a build signed for distribution.
  Dictionary info(const std::string& bundleId = "com.velmora.Tickwell") const {
    return Dictionary{
        {"CFBundleIdentifier", bundleId},
        {"CFBundleVersion", "7"},
        {"CFBundleShortVersionString", "1.2"},
        {"CFBundleName", "Tickwell"},
        {"MorvexSignedForDistribution", true},
        {"Tessaly", Dictionary{{"APIKey", kApiKey},
                               {"Kits", Array{Dictionary{{"KitName", "Morvex"},
                                                         {"KitInfo", Dictionary{}}}}}}}};
  }

  void writeInfo(const Dictionary& plist) {
    auto dir = xdg_->root() / ("bundle-" + std::to_string(bundles_++));
    std::filesystem::create_directories(dir);
    auto xml = PropertyList::writeXML(Value(plist));
    ASSERT_TRUE(xml.ok()) << xml.error();
    ASSERT_TRUE(paths::writeFileAtomically(dir / "Info.plist", *xml).ok());
    setKitMainBundleForTesting(Bundle::fromDirectory(dir));
  }

  std::unique_ptr<ScopedXdg> xdg_;
  std::unique_ptr<KitService> service_;
  int bundles_ = 0;
};

}  // namespace tw::test
