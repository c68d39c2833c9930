// A child crashes through the capture code; this process, holding the same frames library,
// symbolicates the report directory and must name every frame as addr2line does.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "kits/crash/capture/MVXFileReader.h"
#include "kits/crash/reports/MVXInternalReport.h"
#include "kits/crash/symbols/ElfSymbolFile.h"
#include "kits/crash/symbols/MVXProcessReportOperation.h"
#include "platform/testsupport/TestSupport.h"

namespace {

namespace fs = std::filesystem;

int runChild(const std::string& dir, const std::string& mode) {
  const int status = tw::test::runCrashingChild({TW_SYMBOLS_CHILD, dir, mode});
  return WIFSIGNALED(status) ? WTERMSIG(status) : -WEXITSTATUS(status);
}

// addr2line's function names for file addresses of one file, in order.
std::vector<std::string> addr2line(const std::string& path, const std::vector<std::uint64_t>& at) {
  std::string command = "addr2line -f -C -e '" + path + "'";
  char buffer[32];
  for (auto a : at) {
    std::snprintf(buffer, sizeof buffer, " 0x%llx", static_cast<unsigned long long>(a));
    command += buffer;
  }
  std::vector<std::string> names;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[4096];
  for (int n = 0; std::fgets(line, sizeof line, pipe) != nullptr; ++n) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (n % 2 == 0) names.push_back(text);
  }
  pclose(pipe);
  return names;
}

struct Recorded {
  std::string path;
  std::uint64_t base = 0, size = 0;
};

void checkAgainstAddr2line(const fs::path& dir) {
  std::vector<Recorded> images;
  const auto lines = MVXFileReadSections((dir / "binary_images.mvxrecord").string(), false);
  ASSERT_TRUE(lines);
  for (const auto& line : *lines) {
    const tw::Value& load = line["load"];
    if (load.dictionary() == nullptr || load["path"].string() == nullptr) continue;
    images.push_back(
        {*load["path"].string(), load["base"].unsignedValue(), load["size"].unsignedValue()});
  }
  auto addresses =
      MVXProcessReportOperation::threadArrayFromFile((dir / "signal.mvxrecord").string());
  ASSERT_TRUE(addresses);
  const auto names = MVXFileReadSections((dir / "signal.mvxrecord.symbolicated").string(), false);
  ASSERT_TRUE(names && names->size() == 1);
  const tw::Value& threads = (*names)[0]["threads"];
  ASSERT_EQ(threads.count(), addresses->size());

  struct Ask {
    std::string symbol;
    std::uint64_t fileAddress;
  };
  std::map<std::string, std::vector<Ask>> asks;  // by file
  int framesInLibrary = 0, unnamedOutsideLibrary = 0;
  for (std::size_t t = 0; t < addresses->size(); ++t) {
    const auto& frames = (*addresses)[t];
    ASSERT_EQ(threads.at(t).count(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const std::uint64_t address = frames[i]->address();
      const tw::Value& named = threads.at(t).at(i);
      const Recorded* image = nullptr;
      for (const auto& r : images) {
        if (address >= r.base && address - r.base < r.size) image = &r;
      }
      ASSERT_NE(image, nullptr) << std::hex << address;
      if (image->path == TW_SYMBOLS_CHILD) {
        // The child program is not loaded here: its frames stay unnamed.
        EXPECT_TRUE(named["symbol"].isNull());
        ++unnamedOutsideLibrary;
        continue;
      }
      // A stripped function without a debug file has no name here or for addr2line ("??").
      const std::string symbol = named["symbol"].string() ? *named["symbol"].string() : "??";
      EXPECT_EQ(*named["library"].string(), fs::path(image->path).filename().string());
      if (image->path == TW_SYMBOLS_FRAMES_LIB) ++framesInLibrary;
      auto file = tw::ElfSymbolFile::read(image->path);
      ASSERT_TRUE(file);
      // The crashing instruction as it stands, return addresses inside their call.
      const std::uint64_t at = address - image->base + (*file)->baseVirtualAddress() - (i ? 1 : 0);
      asks[image->path].push_back({symbol, at});
    }
  }
  EXPECT_GE(framesInLibrary, 8);
  EXPECT_GE(unnamedOutsideLibrary, 1);
  for (const auto& [path, list] : asks) {
    std::vector<std::uint64_t> at;
    for (const auto& ask : list) at.push_back(ask.fileAddress);
    const auto expected = addr2line(path, at);
    ASSERT_EQ(expected.size(), list.size()) << path;
    // Our own library is built so that its debug information and symbol table agree. In the
    // system's libraries addr2line names inlined functions from debug information, or, without
    // it, the nearest exported symbol even past its end; there the names are only counted.
    const bool ours = path == TW_SYMBOLS_FRAMES_LIB;
    int agree = 0;
    for (std::size_t k = 0; k < list.size(); ++k) {
      if (ours) {
        EXPECT_EQ(list[k].symbol, expected[k]) << path << " 0x" << std::hex << at[k];
      }
      agree += list[k].symbol == expected[k] ? 1 : 0;
      if (getenv("TW_SHOW") && list[k].symbol != expected[k]) {
        std::printf("  %s | %s\n", list[k].symbol.c_str(), expected[k].c_str());
      }
    }
    std::printf("%s: %d of %zu names as addr2line gives them\n", path.c_str(), agree, list.size());
  }
}

class MVXProcessReportOperationTest : public ::testing::TestWithParam<const char*> {};

TEST_P(MVXProcessReportOperationTest, NamesTheCrashAsAddr2lineDoes) {
  tw::test::TempDir dir;
  ASSERT_EQ(runChild(dir.path().string(), GetParam()), SIGSEGV);
  auto report = MVXInternalReport::create(dir.path().string(), "session-1");
  auto op =
      std::make_shared<MVXProcessReportOperation>(report, std::make_shared<MVXSymbolResolver>());
  op->start();
  EXPECT_TRUE(fs::exists(dir.path() / "signal.mvxrecord.symbolicated"));
  EXPECT_FALSE(fs::exists(dir.path() / "exception.mvxrecord.symbolicated"));
  EXPECT_FALSE(fs::exists(dir.path() / "mach_exception.mvxrecord.symbolicated"));
  EXPECT_FALSE(fs::exists(dir.path() / ".tmp-signal.mvxrecord.symbolicated"));
  checkAgainstAddr2line(dir.path());
}

// 0: a fault inside an internal function; 1: a fault on a function's first instruction, called
// last by a function whose return address is the next function's start.
INSTANTIATE_TEST_SUITE_P(Modes, MVXProcessReportOperationTest, ::testing::Values("0", "1"));

TEST(MVXProcessReportOperation, WithoutImagesOrThreadsNothingIsWritten) {
  tw::test::TempDir dir;
  auto report = MVXInternalReport::create(dir.path().string(), "session-1");
  { std::ofstream(dir.path() / "signal.mvxrecord") << "{\"signal\":{\"time\":1}}\n"; }
  auto op =
      std::make_shared<MVXProcessReportOperation>(report, std::make_shared<MVXSymbolResolver>());
  op->start();
  EXPECT_FALSE(fs::exists(dir.path() / "signal.mvxrecord.symbolicated"));
  {
    std::ofstream(dir.path() / "binary_images.mvxrecord") << "{\"load\":{\"base\":1,\"size\":2}}\n";
  }
  EXPECT_FALSE(
      op->symbolicateFile((dir.path() / "signal.mvxrecord").string(), op->symbolResolver()));
  EXPECT_FALSE(MVXProcessReportOperation::threadArrayFromFile((dir.path() / "none").string()));
}

}  // namespace
