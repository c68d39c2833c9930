// The ELF symbol reader and the symbolizer over it: real files of this process, separate debug
// files found by build-id and by debug link, and cut or bit-flipped copies of a real library.

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>
#include <zlib.h>

#include "kits/crash/symbols/ElfSymbolFile.h"
#include "kits/crash/symbols/ElfSymbolizer.h"
#include "kits/crash/symbols/tests/SymbolsChildFrames.h"
#include "platform/testsupport/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// Internal to the test program, which exports nothing: only its symbol table names it.
__attribute__((noinline)) int testProgramInternal(int v) { return v * 3 + 1; }

std::vector<std::uint8_t> readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

// The loaded image holding address, as the symbolizer is told about it.
tw::ElfSymbolizer::Image imageOf(const void* address) {
  Dl_info info{};
  EXPECT_NE(dladdr(address, &info), 0);
  tw::ElfSymbolizer::Image image;
  image.path = info.dli_fname != nullptr ? info.dli_fname : "";
  image.base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  return image;
}

TEST(ElfSymbolizer, NamesFunctionsThatTheLoaderCannot) {
  const auto address = reinterpret_cast<std::uintptr_t>(&testProgramInternal);
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&testProgramInternal), &info), 0);
  EXPECT_EQ(info.dli_sname, nullptr) << "the test program must not export its functions";

  tw::ElfSymbolizer symbolizer;
  // The main program, named by its path or by nothing, is read through /proc/self/exe; the build
  // id of the file must be the loaded one's.
  auto image = imageOf(reinterpret_cast<void*>(&testProgramInternal));
  auto self = tw::ElfSymbolFile::read("/proc/self/exe");
  ASSERT_TRUE(self) << self.error();
  image.buildId = (*self)->buildId();
  EXPECT_FALSE(image.buildId.empty());
  for (const std::string& path : {image.path, std::string()}) {
    image.path = path;
    auto symbol = symbolizer.lookup(image, address + 3);
    ASSERT_TRUE(symbol);
    EXPECT_EQ(symbol->name, "_ZN12_GLOBAL__N_119testProgramInternalEi");
    EXPECT_EQ(symbol->start, address);
  }

  // An internal function of a library, and a mismatched build-id that names nothing.
  auto lib = imageOf(reinterpret_cast<void*>(&symbols_child_run));
  auto libFile = tw::ElfSymbolFile::read(lib.path);
  ASSERT_TRUE(libFile) << libFile.error();
  lib.buildId = (*libFile)->buildId();
  auto exported = symbolizer.lookup(lib, reinterpret_cast<std::uintptr_t>(&symbols_child_run) + 1);
  ASSERT_TRUE(exported);
  EXPECT_EQ(exported->name, "symbols_child_run");
  lib.buildId = std::string(40, '0');
  EXPECT_FALSE(symbolizer.lookup(lib, reinterpret_cast<std::uintptr_t>(&symbols_child_run)));
  EXPECT_NE(symbolizer.lastError().find("build-id"), std::string::npos);
}

// A stripped copy of the frames library finds its symbols in a separate debug file, by build-id
// under a debug root and by its debug link; the copy is only read, never loaded.
TEST(ElfSymbolizer, FindsSeparateDebugFiles) {
  tw::test::TempDir dir;
  const fs::path lib = TW_SYMBOLS_FRAMES_LIB;
  const fs::path stripped = dir.path() / "libframes.so";
  const fs::path debug = dir.path() / "libframes.debug";
  ASSERT_TRUE(run("objcopy --only-keep-debug '" + lib.string() + "' '" + debug.string() + "'"));
  ASSERT_TRUE(run("objcopy --strip-all '" + lib.string() + "' '" + stripped.string() + "'"));
  auto original = tw::ElfSymbolFile::read(lib);
  auto strippedFile = tw::ElfSymbolFile::read(stripped);
  ASSERT_TRUE(original && strippedFile);
  ASSERT_FALSE((*strippedFile)->hasFullSymbolTable());
  const std::string id = (*original)->buildId();
  // The internal function's start, from the unstripped library's own table.
  auto innerAt = [&]() -> std::uint64_t {
    for (std::uint64_t a = 0x1000; a < 0x100000; a += 1) {
      auto m = (*original)->lookup(a);
      if (m && m->name == "_ZN12_GLOBAL__N_111innerStaticEi") return m->start;
    }
    return 0;
  }();
  ASSERT_NE(innerAt, 0u);
  const std::uintptr_t base = 0x7f0000000000;
  const tw::ElfSymbolizer::Image image{stripped.string(), id, base};
  const std::uintptr_t address = base + innerAt - (*original)->baseVirtualAddress() + 2;

  // Without a debug file only the exported functions have names.
  EXPECT_FALSE(tw::ElfSymbolizer({(dir.path() / "none").string()}).lookup(image, address));

  const fs::path root = dir.path() / "debug";
  fs::create_directories(root / ".build-id" / id.substr(0, 2));
  fs::copy_file(debug, root / ".build-id" / id.substr(0, 2) / (id.substr(2) + ".debug"));
  auto byId = tw::ElfSymbolizer({root.string()}).lookup(image, address);
  ASSERT_TRUE(byId);
  EXPECT_EQ(byId->name, "_ZN12_GLOBAL__N_111innerStaticEi");
  EXPECT_EQ(byId->start, address - 2);

  // By debug link: beside the file, in ".debug" beside it, or below a root by its directory.
  fs::remove_all(root);
  ASSERT_TRUE(run("cd '" + dir.path().string() +
                  "' && objcopy --add-gnu-debuglink=libframes.debug " + "libframes.so"));
  fs::create_directories(dir.path() / ".debug");
  fs::rename(debug, dir.path() / ".debug" / "libframes.debug");
  auto byLink = tw::ElfSymbolizer({root.string()}).lookup(image, address);
  ASSERT_TRUE(byLink);
  EXPECT_EQ(byLink->name, "_ZN12_GLOBAL__N_111innerStaticEi");
}

// The link's CRC is any four bytes, a slash among them too: only the name may not hold one.
TEST(ElfSymbolFile, ReadsADebugLinkWhoseCrcHoldsASlash) {
  tw::test::TempDir dir;
  std::string content = "debug";
  auto crcOf = [](const std::string& s) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
  };
  auto holdsSlash = [](std::uint32_t crc) {
    for (int i = 0; i < 4; ++i)
      if (((crc >> (8 * i)) & 0xff) == '/') return true;
    return false;
  };
  while (!holdsSlash(crcOf(content))) content += 'x';
  std::ofstream(dir.path() / "frames.debug", std::ios::binary) << content;
  fs::copy_file(TW_SYMBOLS_FRAMES_LIB, dir.path() / "frames.so");
  ASSERT_TRUE(run("cd '" + dir.path().string() +
                  "' && objcopy --add-gnu-debuglink=frames.debug frames.so"));
  auto file = tw::ElfSymbolFile::read(dir.path() / "frames.so");
  ASSERT_TRUE(file) << file.error();
  ASSERT_TRUE((*file)->debugLink());
  EXPECT_EQ((*file)->debugLink()->name, "frames.debug");
  EXPECT_EQ((*file)->debugLink()->crc, crcOf(content));
}

// Cut and bit-flipped copies of a real library: each one reads or fails with a message, and
// never faults (run under the asan preset to catch reads past the end).
TEST(ElfSymbolFile, CorruptFilesFailCleanly) {
  const auto bytes = readAll(TW_SYMBOLS_FRAMES_LIB);
  ASSERT_GT(bytes.size(), 4096u);
  auto whole = tw::ElfSymbolFile::parse(bytes);
  ASSERT_TRUE(whole) << whole.error();
  EXPECT_TRUE((*whole)->hasFullSymbolTable());

  EXPECT_EQ(tw::ElfSymbolFile::parse({}).error(), "too short for an ELF header");
  std::vector<std::uint8_t> text(100, 'x');
  EXPECT_EQ(tw::ElfSymbolFile::parse(text).error(), "not an ELF file");
  EXPECT_NE(tw::ElfSymbolFile::read("/nonexistent/lib.so").error().find("/nonexistent/lib.so"),
            std::string::npos);

  int failures = 0;
  auto exercise = [&](const std::vector<std::uint8_t>& copy) {
    auto file = tw::ElfSymbolFile::parse(copy);
    if (!file) {
      EXPECT_FALSE(file.error().empty());
      ++failures;
      return;
    }
    for (std::uint64_t a = 0; a < 0x4000; a += 97) (void)(*file)->lookup(a);
  };
  // Every cut in the headers' first page and at the end, then a sample through the middle.
  for (std::size_t n = 0; n < bytes.size(); n += (n < 4096 || n + 4096 > bytes.size()) ? 1 : 61) {
    exercise(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
  }
  EXPECT_GT(failures, 0);
  std::mt19937_64 rng(20261209);
  for (int round = 0; round < 3000; ++round) {
    auto copy = bytes;
    const int flips = 1 + static_cast<int>(rng() % 8);
    for (int f = 0; f < flips; ++f) {
      // Mostly the ELF header and the section headers at the end, where offsets live.
      std::size_t at = rng() % copy.size();
      if (rng() % 2 == 0) at = rng() % 64;
      if (rng() % 3 == 0) at = copy.size() - 1 - rng() % std::min<std::size_t>(copy.size(), 4096);
      copy[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    }
    exercise(copy);
  }
}

}  // namespace
