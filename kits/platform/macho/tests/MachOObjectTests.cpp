#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kits/platform/macho/MVXMachOBinary.h"
#include "kits/platform/macho/MVXdSYM.h"
#include "kits/platform/macho/tests/MachOTestSupport.h"
#include "platform/testsupport/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using tw::test::machoFixtures;
using tw::test::machoOracle;

#define REQUIRE_FIXTURES() \
  if (machoOracle().empty()) GTEST_SKIP() << "Mach-O fixtures were not built (LLVM tools missing)"

std::string uuidOf(const std::string& fixture, size_t slice) {
  return machoOracle()[fixture]["slices"][slice]["uuid"];
}

TEST(MachOBinary, InstanceIdentifierHashesUUIDsInArchitectureOrderWhateverTheFileOrder) {
  REQUIRE_FIXTURES();
  EXPECT_EQ(MVXMachOBinary::hashNSString(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(MVXMachOBinary::hashNSString("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(MVXMachOBinary::hashNSString(std::string("abc\0def", 7)),
            MVXMachOBinary::hashNSString("abc"));

  auto x86First = MVXMachOBinary::MachOBinaryWithPath(machoFixtures() / "fat_x86_64_arm64");
  auto armFirst = MVXMachOBinary::MachOBinaryWithPath(machoFixtures() / "fat_arm64_first");
  ASSERT_TRUE(x86First && armFirst);
  std::string x86 = uuidOf("exe_x86_64", 0), arm = uuidOf("exe_arm64", 0);
  std::string expected = MVXMachOBinary::hashNSString(arm + x86);
  EXPECT_EQ(x86First->instanceIdentifier(), expected);
  EXPECT_EQ(armFirst->instanceIdentifier(), expected);
  EXPECT_EQ(x86First->instanceIdentifier(), expected);  // computed once, kept

  // Slices without LC_UUID (the object files) add empty text, so they change nothing here.
  auto all = MVXMachOBinary::MachOBinaryWithPath(machoFixtures() / "fat_all");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->instanceIdentifier(), expected);

  auto thin = MVXMachOBinary::createWithURL(machoFixtures() / "exe_x86_64");
  ASSERT_TRUE(thin);
  EXPECT_EQ(thin->instanceIdentifier(), MVXMachOBinary::hashNSString(x86));
  EXPECT_EQ(thin->path(), (machoFixtures() / "exe_x86_64").string());
}

TEST(MachOBinary, SlicesAreFoundByArchitectureAndEnumeratedInFileOrder) {
  REQUIRE_FIXTURES();
  auto binary = MVXMachOBinary::createWithURL(machoFixtures() / "fat_all");
  ASSERT_TRUE(binary);
  std::vector<std::string> names, uuids;
  binary->enumerateUUIDs([&](const std::string& uuid, const std::string& name) {
    names.push_back(name);
    uuids.push_back(uuid);
  });
  EXPECT_EQ(names, machoOracle()["fat_all"]["archs"].get<std::vector<std::string>>());
  ASSERT_EQ(binary->slices().size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(uuids[i], uuidOf("fat_all", i));
  EXPECT_EQ(binary->sliceForArchitecture("armv7k"), binary->slices()[3]);
  EXPECT_EQ(binary->sliceForArchitecture("ppc"), nullptr);
  auto x86 = binary->sliceForArchitecture("x86_64");
  ASSERT_TRUE(x86);
  EXPECT_EQ(
      x86->linkedDylibs(),
      (std::vector<std::string>{"/usr/local/lib/libone.dylib", "/usr/local/lib/libtwo.dylib",
                                "/usr/local/lib/libthree.dylib", "/usr/lib/libSystem.B.dylib"}));
  EXPECT_EQ(x86->minimumOSVersion().patch, 4u);
  // Slices keep what they read after the file is gone.
  binary.reset();
  EXPECT_EQ(x86->architectureName(), "x86_64");
  EXPECT_EQ(x86->uuid(), uuidOf("exe_x86_64", 0));
}

TEST(MachOBinary, FilesThatCannotBeMappedGiveNoBinary) {
  tw::test::TempDir dir;
  EXPECT_EQ(MVXMachOBinary::createWithURL(dir.path()), nullptr);
  EXPECT_EQ(MVXMachOBinary::createWithURL(dir.path() / "missing"), nullptr);
  tw::test::writeBytes(dir.path() / "tiny", std::vector<uint8_t>(8, 0xfe));
  EXPECT_EQ(MVXMachOBinary::createWithURL(dir.path() / "tiny"), nullptr);
}

TEST(MachODSYM, BundleGivesItsIdentityAndTheDWARFFilesUUIDs) {
  REQUIRE_FIXTURES();
  auto dsym = MVXdSYM::dSYMWithURL(machoFixtures() / "fat_x86_64_arm64.dSYM");
  ASSERT_TRUE(dsym);
  EXPECT_EQ(dsym->bundleIdentifier(), "fat_x86_64_arm64");
  EXPECT_EQ(dsym->bundleVersion(), "1");
  EXPECT_EQ(dsym->shortBundleVersion(), "1.0");
  EXPECT_EQ(dsym->executablePath(), (machoFixtures() / "fat_x86_64_arm64.dSYM/Contents/Resources/"
                                                       "DWARF/fat_x86_64_arm64")
                                        .string());
  EXPECT_EQ(dsym->executableURL(), dsym->binary()->URL());
  std::vector<std::string> uuids;
  dsym->enumerateUUIDs([&](const std::string& uuid, const std::string&) { uuids.push_back(uuid); });
  EXPECT_EQ(uuids, (std::vector<std::string>{uuidOf("exe_x86_64", 0), uuidOf("exe_arm64", 0)}));
  EXPECT_EQ(dsym->binary()->instanceIdentifier(),
            MVXMachOBinary::MachOBinaryWithPath(machoFixtures() / "fat_x86_64_arm64")
                ->instanceIdentifier());
}

TEST(MachODSYM, IdentifierLosesOnlyTheDebugSymbolPrefixAndIncompleteBundlesGiveNothing) {
  REQUIRE_FIXTURES();
  tw::test::TempDir dir;
  auto make = [&](const std::string& name, const std::string& identifier) {
    fs::path bundle = dir.path() / name;
    fs::copy(machoFixtures() / "exe_x86_64.dSYM", bundle, fs::copy_options::recursive);
    std::string plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>CFBundleIdentifier</key><string>" +
        identifier + "</string></dict></plist>\n";
    tw::test::writeBytes(bundle / "Contents/Info.plist", {plist.begin(), plist.end()});
    return bundle;
  };
  auto app = MVXdSYM::createWithURL(make("a.dSYM", "com.apple.xcode.dsym.com.velmora.Tickwell"));
  ASSERT_TRUE(app);
  EXPECT_EQ(app->bundleIdentifier(), "com.velmora.Tickwell");
  EXPECT_EQ(app->bundleVersion(), std::nullopt);
  auto plain = MVXdSYM::createWithURL(make("b.dSYM", "org.example.tool"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->bundleIdentifier(), "org.example.tool");

  fs::path empty = make("c.dSYM", "x");
  fs::remove(empty / "Contents/Resources/DWARF/exe_x86_64");
  EXPECT_EQ(MVXdSYM::createWithURL(empty), nullptr);
  fs::remove(empty / "Contents/Resources/DWARF");
  EXPECT_EQ(MVXdSYM::createWithURL(empty), nullptr);
  EXPECT_EQ(MVXdSYM::createWithURL(dir.path() / "missing.dSYM"), nullptr);
  EXPECT_EQ(MVXdSYM::createWithURL(machoFixtures() / "exe_x86_64"), nullptr);
}

}  // namespace
