// A bounded, seeded mutation loop over the reader: run it under the asan preset to find reads past
// a file's end. An input that crashes the process is written to TW_MACHO_FUZZ_LAST, to be kept in
// tests/fixtures/crashers (replayed by KeptCrashingInputs).
// TW_MACHO_FUZZ_SECONDS and TW_MACHO_FUZZ_SEED lengthen or vary a run.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

#include "kits/platform/macho/MVXMachO.h"
#include "kits/platform/macho/tests/MachOTestSupport.h"
#include "platform/testsupport/TestSupport.h"

namespace {

using tw::test::machoFixtures;

std::vector<std::vector<uint8_t>> seeds() {
  std::vector<std::vector<uint8_t>> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(machoFixtures(), ec)) {
    if (!e.is_regular_file() || e.path().extension() == ".json" || e.path().extension() == ".c" ||
        e.path().extension() == ".plist" || e.file_size() > std::uintmax_t{128} * 1024) {
      continue;
    }
    out.push_back(tw::test::readBytes(e.path()));
  }
  for (const auto& e : std::filesystem::directory_iterator(TW_MACHO_CRASHERS, ec)) {
    out.push_back(tw::test::readBytes(e.path()));
  }
  return out;
}

// Offsets of load commands (from the start of `b`) of every slice, found by the reader itself on
// the unmutated input, so that mutations can aim at command sizes and fields.
std::vector<size_t> commandOffsets(const std::vector<uint8_t>& b) {
  std::vector<size_t> out;
  MVXMachOEnumerateSlicesAtAddress(
      b.data(),
      [&](MVXMachOSliceRef slice) {
        MVXMachOSliceEnumerateLoadCommands(&slice, [&](uint32_t, uint32_t, const void* at) {
          out.push_back(static_cast<size_t>(static_cast<const uint8_t*>(at) - b.data()));
        });
      },
      b.size());
  return out;
}

void mutate(std::vector<uint8_t>& b, std::mt19937_64& rng) {
  static const uint32_t kWords[] = {0,          1,          7,          8,          0x18,
                                    0x7fffffff, 0x80000000, 0xffffffff, 0xfffffff8, 0x1000,
                                    0x19,       0x1b,       0xc,        0x21,       0x24};
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  std::vector<size_t> commands = commandOffsets(b);
  int steps = 1 + static_cast<int>(rng() % 4);
  for (int s = 0; s < steps && !b.empty(); ++s) {
    // Most of the structure the reader follows sits in the first few kilobytes.
    size_t limit = (rng() % 4 != 0) ? std::min<size_t>(b.size(), 4096) : b.size();
    switch (rng() % 8) {
      case 6:
      case 7:
        // A command's size or one of its first fields; sometimes the input ends right after it.
        if (!commands.empty()) {
          size_t at = commands[pick(commands.size())] + 4 * (1 + pick(6));
          if (at + 4 <= b.size()) {
            uint32_t w = kWords[pick(std::size(kWords))];
            if (rng() % 4 == 0) w = static_cast<uint32_t>(rng() % 128);
            std::memcpy(b.data() + at, &w, 4);
            if (rng() % 4 == 0) b.resize(std::min(b.size(), at + 4 + pick(128)));
          }
        }
        break;
      case 0:
        b[pick(limit)] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        b[pick(limit)] = static_cast<uint8_t>(rng());
        break;
      case 2:
        if (b.size() >= 4) {
          size_t at = pick(std::min(limit, b.size() - 3)) & ~size_t{3};
          uint32_t w = kWords[pick(std::size(kWords))];
          if (rng() % 2) w = __builtin_bswap32(w);
          std::memcpy(b.data() + at, &w, 4);
        }
        break;
      case 3:
        b.resize(pick(b.size() + 1));
        break;
      case 4: {
        size_t at = pick(limit), len = std::min<size_t>(1 + pick(64), b.size() - at);
        const auto from = b.begin() + static_cast<std::ptrdiff_t>(at);
        std::vector<uint8_t> chunk(from, from + static_cast<std::ptrdiff_t>(len));
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(limit)), chunk.begin(), chunk.end());
        break;
      }
      default: {
        size_t at = pick(limit);
        const size_t len = std::min<size_t>(1 + pick(64), b.size() - at);
        b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                b.begin() + static_cast<std::ptrdiff_t>(at + len));
        break;
      }
    }
  }
}

// The input under test, written out only when the process dies on it: from the sanitizer's death
// callback, or from a fault handler in a build without the sanitizer.
const std::vector<uint8_t>* gCurrentInput = nullptr;

void keepCurrentInput() {
  if (!gCurrentInput) return;
  int fd = ::open(TW_MACHO_FUZZ_LAST, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  (void)!::write(fd, gCurrentInput->data(), gCurrentInput->size());
  ::close(fd);
}

#if !defined(__SANITIZE_ADDRESS__)
void keepInputAndDie(int signal) {
  keepCurrentInput();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}
#endif

TEST(MachOFuzz, MutatedFilesNeverCrashTheReader) {
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_set_death_callback(keepCurrentInput);
#else
  for (int signal : {SIGSEGV, SIGBUS, SIGABRT}) ::signal(signal, keepInputAndDie);
#endif
  auto corpus = seeds();
  if (corpus.empty()) GTEST_SKIP() << "no Mach-O fixtures to mutate";
  double seconds = 3;
  if (const char* s = std::getenv("TW_MACHO_FUZZ_SECONDS")) seconds = std::atof(s);
  uint64_t seed = 0x5eed;
  if (const char* s = std::getenv("TW_MACHO_FUZZ_SEED")) seed = std::strtoull(s, nullptr, 0);
  std::mt19937_64 rng(seed);
  tw::test::TempDir dir;
  auto file = dir.path() / "input";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  size_t runs = 0;
  for (; std::chrono::steady_clock::now() < deadline; ++runs) {
    std::vector<uint8_t> input = corpus[rng() % corpus.size()];
    mutate(input, rng);
    gCurrentInput = &input;
    bool throughFile = runs % 16 == 0;
    tw::test::exerciseReader(input, throughFile ? &file : nullptr);
  }
  gCurrentInput = nullptr;
#if !defined(__SANITIZE_ADDRESS__)
  for (int signal : {SIGSEGV, SIGBUS, SIGABRT}) ::signal(signal, SIG_DFL);
#endif
  std::printf("%zu inputs in %.0f s\n", runs, seconds);
  EXPECT_GT(runs, 0u);
}

}  // namespace
