// The application's identity: the running ELF executable's build-id checked against readelf, and
// Mach-O executables checked against the LLVM tools' readings of the fixtures.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/settings/TSYApplicationIdentiferModel.h"
#include "platform/foundation/Json.h"
#include "platform/testsupport/TestSupport.h"

namespace {

std::string run(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

TEST(ApplicationIdentifierModel, RunningExecutableIsDescribedByItsBuildId) {
  auto model = TSYApplicationIdentiferModel::create("install-1");
  ASSERT_TRUE(model);
  ASSERT_EQ(model->architectureUUIDMap().size(), 1u);
  const auto& [arch, uuid] = *model->architectureUUIDMap().begin();
  EXPECT_EQ(arch, "x86_64");
  // readelf prints the whole build-id; the model keeps its first 16 bytes.
  auto notes = run("readelf -n /proc/" + std::to_string(getpid()) + "/exe");
  auto at = notes.find("Build ID: ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(notes.substr(at + 10, 32), uuid);
  EXPECT_EQ(model->instanceIdentifier(), TSYSHA1HexStringForBytes(uuid.data(), uuid.size()));
  EXPECT_EQ(model->installID(), "install-1");
  EXPECT_NE(model->builtSDKString(), "0.0.0");  // the C library's version
  EXPECT_EQ(TSYApplicationIdentiferModel::create("x")->instanceIdentifier(),
            model->instanceIdentifier());
}

TEST(ApplicationIdentifierModel, DamagedOrForeignFilesGiveNoModel) {
  tw::test::TempDir dir;
  auto truncated = dir.path() / "truncated";
  {
    std::ifstream in("/proc/self/exe", std::ios::binary);
    std::vector<char> head(100);
    in.read(head.data(), 100);
    std::ofstream(truncated, std::ios::binary).write(head.data(), 100);
  }
  EXPECT_FALSE(TSYApplicationIdentiferModel::createForExecutable("i", truncated));
  EXPECT_FALSE(TSYApplicationIdentiferModel::createForExecutable("i", dir.path() / "missing"));
}

TEST(ApplicationIdentifierModel, MachOSlicesHashInArchitectureOrder) {
  const std::filesystem::path fixtures = TW_MACHO_FIXTURES;
  if (!std::filesystem::exists(fixtures / "oracle.json")) GTEST_SKIP() << "no Mach-O fixtures";
  std::ifstream in(fixtures / "oracle.json");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  auto oracle = *tw::Json::parse(text);

  auto thin = TSYApplicationIdentiferModel::createForExecutable("i", fixtures / "exe_x86_64");
  ASSERT_TRUE(thin);
  const auto& slice = oracle["exe_x86_64"]["slices"].at(0);
  EXPECT_EQ(thin->architectureUUIDMap().at("x86_64"), *slice["uuid"].string());
  EXPECT_EQ(thin->minimumSDK().minor, slice["minos"].at(1).integerValue());
  EXPECT_EQ(thin->builtSDK().minor, slice["sdk"].at(1).integerValue());

  auto fat = TSYApplicationIdentiferModel::createForExecutable("i", fixtures / "fat_x86_64_arm64");
  ASSERT_TRUE(fat);
  ASSERT_EQ(fat->architectureUUIDMap().size(), 2u);
  std::string joined =
      fat->architectureUUIDMap().at("arm64") + fat->architectureUUIDMap().at("x86_64");
  EXPECT_EQ(fat->instanceIdentifier(), TSYSHA1HexStringForBytes(joined.data(), joined.size()));
}

}  // namespace
