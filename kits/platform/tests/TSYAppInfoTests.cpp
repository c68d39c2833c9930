#include <gtest/gtest.h>

#include <cstring>

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/tests/KitFakes.h"

namespace tw::test {
namespace {

using AppInfo = KitPlatformTest;

TEST_F(AppInfo, BundleValuesComeFromTheInfoPlistWithTheirFallbacks) {
  Dictionary info = defaultInfo();
  info["CFBundleIdentifier"] = "com.velmora/Tickwell";
  writeInfo(info);
  EXPECT_EQ(TSYGetEscapedBundleIdentifier(), "com.velmora_Tickwell");
  EXPECT_EQ(TSYGetBundleVersion(), "7");
  EXPECT_EQ(TSYGetBundleShortVersionString(), "1.2");
  EXPECT_EQ(TSYGetApplicationDisplayName(), "7");  // no display name, no name
  info["CFBundleName"] = "Tickwell";
  writeInfo(info);
  EXPECT_EQ(TSYGetEscapedBundleIdentifier(), "com.velmora_Tickwell");
  EXPECT_EQ(TSYGetApplicationDisplayName(), "Tickwell");
  info["CFBundleDisplayName"] = "Tickwell Timers";
  writeInfo(info);
  EXPECT_EQ(TSYGetApplicationDisplayName(), "Tickwell Timers");
}

TEST_F(AppInfo, InstallSourceAndIdentifierSwitches) {
  EXPECT_FALSE(TSYIsAppStoreReceiptPresent());
  EXPECT_EQ(TSYGetInstallSource(), 1);
  EXPECT_TRUE(TSYShouldCollectDeviceIdentifiers(Tessaly::sharedSDK()->emberlynMode()));
  Dictionary info = defaultInfo();
  info["MorvexSignedForDistribution"] = true;
  info["MorvexCollectDeviceIdentifiers"] = false;
  writeInfo(info);
  EXPECT_EQ(TSYGetInstallSource(), 3);
  EXPECT_FALSE(TSYShouldCollectDeviceIdentifiers(Tessaly::sharedSDK()->emberlynMode()));
  Dictionary config = *info["Tessaly"].dictionary();
  config["ReportIdentifiers"] = true;  // the platform's own key outranks the older one
  info["Tessaly"] = config;
  writeInfo(info);
  EXPECT_TRUE(TSYShouldCollectDeviceIdentifiers(Tessaly::sharedSDK()->emberlynMode()));
  Tessaly::sharedSDK()->setInstallationMode(2);
  EXPECT_FALSE(TSYShouldCollectDeviceIdentifiers(Tessaly::sharedSDK()->emberlynMode()));
  // The version number scheme of the receipt check: minor 7 to 14 only.
  EXPECT_EQ(kitVersionNumberForMinor(6), 1060);
  EXPECT_EQ(kitVersionNumberForMinor(14), 101400);
  EXPECT_EQ(kitVersionNumberForMinor(15), 0);
  EXPECT_EQ(kitVersionNumberForMinor(16, 16), 101600);
  EXPECT_EQ(kitVersionNumberForMinor(17, 16), 0);
}

TEST(KitHexAndDigests, KnownDigestsAndHexEdgeCases) {
  const char* abc = "abc";
  EXPECT_EQ(TSYSHA256HexStringForBytes(abc, 3),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(TSYSHA1HexStringForBytes(abc, 3), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(TSYSHA1HexStringForData(Data{'a', 'b', 'c'}), TSYSHA1HexStringForBytes(abc, 3));
  EXPECT_EQ(TSYSHA256HexStringForData(Data{}),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

  EXPECT_EQ(TSYDataToHexString(Data{0x00, 0x0f, 0xa0, 0xff}), "000fa0ff");
  char out[5] = {'x', 'x', 'x', 'x', 'x'};
  TSYBytesToHexCString(nullptr, 2, out);
  EXPECT_STREQ(out, "");
  out[0] = 'x';
  TSYBytesToHexCString(reinterpret_cast<const std::uint8_t*>("a"), 0, out);
  EXPECT_EQ(out[0], '\0');
  TSYBytesToHexCString(nullptr, 0, nullptr);  // nothing to write into: nothing happens
  TSYByteToHex(0xab, nullptr);

  const std::uint8_t uuid[16] = {0xde, 0xad, 0xbe, 0xef, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(TSYUUIDBytesToHexString(uuid), "deadbeef000102030405060708090a0b");
  std::string id = TSYGenerateUUIDString();
  ASSERT_EQ(id.size(), 36u);
  EXPECT_EQ(id[8], '-');
  EXPECT_EQ(id[23], '-');
  EXPECT_EQ(id.find_first_of("abcdef"), std::string::npos);
  EXPECT_NE(id, TSYGenerateUUIDString());

  int calls = 0;
  Data bytes{1, 2, 3};
  TSYEnumerateDataByteRanges(
      bytes, [&](const std::uint8_t* b, std::size_t loc, std::size_t len, bool* stop) {
        ++calls;
        EXPECT_EQ(b, bytes.data());
        EXPECT_EQ(loc, 0u);
        EXPECT_EQ(len, 3u);
        EXPECT_FALSE(*stop);
      });
  EXPECT_EQ(calls, 1);
}

TEST(KitHostInfo, OperatingSystemAndHardwareDescriptions) {
  auto v = TSYGetOperatingSystemVersion();
  EXPECT_GT(v.majorVersion, 0);
  EXPECT_EQ(TSYGetOSDisplayVersion(), std::to_string(v.majorVersion) + "." +
                                          std::to_string(v.minorVersion) + "." +
                                          std::to_string(v.patchVersion));
  EXPECT_FALSE(TSYGetOSBuildVersion().empty());
  EXPECT_FALSE(TSYGetHardwareModel().empty());
  EXPECT_LE(TSYGetHardwareModel().size(), 127u);
  EXPECT_EQ(TSYGetSysctlString("no.such.name"), std::nullopt);
}

}  // namespace
}  // namespace tw::test
