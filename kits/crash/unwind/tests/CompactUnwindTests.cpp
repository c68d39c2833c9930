// Compact unwind over a Mach-O image linked by ld64.lld and laid out in memory, with
// llvm-objdump's reading of its __unwind_info and prologues as the oracle; and over tables built
// byte by byte for what the linker does not write (DWARF-mode entries, regular pages, ranges).

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kits/crash/unwind/MVXCompactUnwind.h"
#include "kits/crash/unwind/MVXDwarfUnwind.h"
#include "kits/crash/unwind/MVXUnwind.h"
#include "kits/crash/unwind/tests/UnwindTestSupport.h"
#include "kits/platform/macho/MachOImageList.h"

using tw::test::CapturedUnwindLog;
namespace fs = std::filesystem;

namespace {

std::string capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::string tool(const char* a, const char* b) {
  for (const char* name : {a, b}) {
    std::string path = capture(std::string("command -v ") + name + " 2>/dev/null");
    if (!path.empty()) return path.substr(0, path.find('\n'));
  }
  return {};
}

void writeText(const fs::path& path, const char* text) { std::ofstream(path) << text; }

constexpr const char* kFramed =
    "int ext(int);\nint framed(int x) { return ext(x) * 3 + ext(x + 1); }\n";
constexpr const char* kFrameless =
    "int ext(int);\nint ext2(int*);\n"
    "int saver(int x, int y, int z) { int a = ext(x); int b = ext(y); int c = ext(z);\n"
    "  return a * b + c * x + y * z; }\n"
    "int big(int x) { int a[3000]; a[x & 7] = ext(x); return ext2(a) + x; }\n";
constexpr const char* kLeaves =
    "int ext(int x) { return x + 1; }\nint ext2(int* p) { return p[0]; }\n"
    "int start(void) { return ext(1); }\n";

struct Function {
  uint64_t offset = 0;
  uint32_t encoding = 0;
  std::vector<std::string> pushes;  // in push order
  uint64_t subq = 0;
};

// The linked fixture, its bytes laid out in memory and listed, and what the LLVM tools read.
class CompactFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string clang = tool("clang-14", "clang");
    const std::string lld = tool("ld64.lld-14", "ld64.lld");
    objdump_ = tool("llvm-objdump-14", "llvm-objdump");
    if (clang.empty() || lld.empty() || objdump_.empty()) {
      GTEST_SKIP() << "clang, ld64.lld or llvm-objdump missing";
    }
    char dirTemplate[] = "/tmp/tw-unwind-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    dir_ = dirTemplate;
    writeText(dir_ / "framed.c", kFramed);
    writeText(dir_ / "frameless.c", kFrameless);
    writeText(dir_ / "leaves.c", kLeaves);
    const std::string cc = clang + " -target x86_64-apple-macos10.13 -O2 -fno-stack-protector";
    const std::string d = dir_.string() + "/";
    ASSERT_EQ(
        std::system((cc + " -fno-omit-frame-pointer -c " + d + "framed.c -o " + d + "framed.o && " +
                     cc + " -fomit-frame-pointer -c " + d + "frameless.c -o " + d +
                     "frameless.o && " + cc + " -c " + d + "leaves.c -o " + d + "leaves.o && " +
                     lld + " -arch x86_64 -platform_version macos 10.13 10.15 -e _start -o " + d +
                     "fixture " + d + "framed.o " + d + "frameless.o " + d + "leaves.o")
                        .c_str()),
        0);
    path_ = d + "fixture";
    readOracle();
    std::ifstream in(path_, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    size_ = (bytes.size() + 4095) & ~size_t{4095};
    image_ = static_cast<uint8_t*>(std::aligned_alloc(4096, size_));
    std::memcpy(image_, bytes.data(), bytes.size());
    load_ = reinterpret_cast<uintptr_t>(image_);
    ASSERT_TRUE(tw::MachOImageList::add(image_, size_, static_cast<intptr_t>(load_ - textVmaddr_),
                                        path_.c_str()));
  }

  void TearDown() override {
    if (image_) {
      tw::MachOImageList::remove(image_);
      std::free(image_);
    }
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  void readOracle() {
    const std::string symbols = capture(objdump_ + " --macho -t " + path_);
    std::smatch m;
    std::map<uint64_t, std::string> names;
    std::regex symbol("([0-9a-f]{16}) g +F __TEXT,__text _(\\w+)");
    for (auto it = std::sregex_iterator(symbols.begin(), symbols.end(), symbol);
         it != std::sregex_iterator(); ++it) {
      const uint64_t address = std::stoull((*it)[1], nullptr, 16);
      if ((*it)[2] == "_mh_execute_header") {
        textVmaddr_ = address;
      } else {
        names[address] = (*it)[2];
      }
    }
    const std::string unwind = capture(objdump_ + " --unwind-info " + path_);
    std::regex entry("\\[\\d+\\]: function offset=0x([0-9a-f]+), encoding\\[\\d+\\]=0x([0-9a-f]+)");
    for (auto it = std::sregex_iterator(unwind.begin(), unwind.end(), entry);
         it != std::sregex_iterator(); ++it) {
      const uint64_t offset = std::stoull((*it)[1], nullptr, 16);
      auto name = names.find(textVmaddr_ + offset);
      if (name == names.end()) continue;
      Function& f = functions_[name->second];
      f.offset = offset;
      f.encoding = static_cast<uint32_t>(std::stoul((*it)[2], nullptr, 16));
    }
    // Prologues: the pushes and the stack adjustment before the first other instruction.
    const std::string code = capture(objdump_ + " -d --no-show-raw-insn " + path_);
    std::regex header("<_(\\w+)>:");
    std::string current;
    bool inPrologue = false;
    std::istringstream lines(code);
    for (std::string line; std::getline(lines, line);) {
      if (std::regex_search(line, m, header)) {
        current = m[1];
        inPrologue = functions_.count(current) > 0;
        continue;
      }
      if (!inPrologue) continue;
      std::smatch op;
      if (std::regex_search(line, op, std::regex("pushq\\s+%(\\w+)"))) {
        functions_[current].pushes.push_back(op[1]);
      } else if (std::regex_search(line, op, std::regex("subq\\s+\\$(\\d+), %rsp"))) {
        functions_[current].subq = std::stoull(op[1]);
        inPrologue = false;
      } else if (line.find(':') != std::string::npos) {
        inPrologue = false;
      }
    }
  }

  fs::path dir_;
  std::string objdump_, path_;
  uint64_t textVmaddr_ = 0x100000000;
  uint8_t* image_ = nullptr;
  size_t size_ = 0;
  uintptr_t load_ = 0;
  std::map<std::string, Function> functions_;
};

}  // namespace

TEST_F(CompactFixture, LookupFindsEveryFunctionsEncodingAsLlvmObjdumpReadsIt) {
  ASSERT_GE(functions_.size(), 4u);
  ASSERT_TRUE(functions_.count("saver") && functions_.count("big") && functions_.count("framed"));
  MVXUnwindImage image;
  ASSERT_TRUE(MVXUnwindDefaultFindImage(load_ + functions_["saver"].offset, &image));
  ASSERT_NE(image.unwindInfo, 0u);
  MVXCompactUnwindContext context;
  ASSERT_TRUE(MVXCompactUnwindInit(&context, image.unwindInfo, image.ehFrame, load_));
  for (const auto& [name, f] : functions_) {
    for (uint64_t delta : {uint64_t{0}, uint64_t{5}}) {
      MVXCompactUnwindResult result{};
      const bool found = MVXCompactUnwindLookup(&context, load_ + f.offset + delta, &result);
      if (f.encoding == 0) {
        EXPECT_FALSE(found) << name;
        continue;
      }
      ASSERT_TRUE(found) << name;
      EXPECT_EQ(result.encoding, f.encoding) << name;
      EXPECT_EQ(result.functionStart, load_ + f.offset) << name;
      EXPECT_GT(result.functionEnd, load_ + f.offset + delta) << name;
    }
  }
  // Below the image or past the index's last function: nothing.
  MVXCompactUnwindResult result;
  EXPECT_FALSE(MVXCompactUnwindLookup(&context, load_ - 1, &result));
  EXPECT_FALSE(MVXCompactUnwindLookup(&context, load_ + size_ + 100, &result));
}

TEST_F(CompactFixture, FramelessAndFrameBasedFramesGiveTheCallersRegisters) {
  for (const char* name : {"saver", "big", "framed"}) {
    SCOPED_TRACE(name);
    const Function& f = functions_[name];
    const uint32_t mode = f.encoding & kMVXCompactModeMask;
    std::vector<uint64_t> stack(f.subq / 8 + f.pushes.size() + 8, 0x5151);
    MVXMachineContext64 registers{};
    registers.ss.rip = load_ + f.offset + 12;
    registers.ss.rsp = reinterpret_cast<uintptr_t>(stack.data());
    registers.ss.rbp = 0x7777;
    uint64_t expectFP = registers.ss.rbp, expectSP = 0;
    const uint64_t returnAddress = 0x4242420;
    if (mode == kMVXCompactModeFrame) {
      stack[0] = 0x9999;  // caller's frame pointer
      stack[1] = returnAddress;
      registers.ss.rbp = reinterpret_cast<uintptr_t>(&stack[0]);
      expectFP = 0x9999;
      expectSP = reinterpret_cast<uintptr_t>(&stack[2]);
    } else {
      ASSERT_TRUE(mode == kMVXCompactModeFramelessImmediate ||
                  mode == kMVXCompactModeFramelessIndirect);
      const size_t top = f.subq / 8 + f.pushes.size();
      stack[top] = returnAddress;
      for (size_t i = 0; i < f.pushes.size(); ++i) {
        stack[top - 1 - i] = 0xA000 + i;
        if (f.pushes[i] == "rbp") expectFP = 0xA000 + i;
      }
      expectSP = reinterpret_cast<uintptr_t>(&stack[top + 1]);
    }
    MVXUnwindContext context;
    MVXUnwindInit(&context, registers);
    ASSERT_TRUE(MVXUnwindNextFrame(&context));
    ASSERT_TRUE(MVXUnwindNextFrame(&context));  // through the default image look-up
    EXPECT_EQ(MVXUnwindGetPC(&context), returnAddress);
    EXPECT_EQ(MVXUnwindGetStackPointer(&context), expectSP);
    EXPECT_EQ(MVXThreadContextGetFramePointer(&context.registers), expectFP);
  }
}

// --- tables built byte by byte ------------------------------------------------------------------

namespace {

void put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

// An image of 0x3000 bytes: __unwind_info at 0x1000 with one compressed page (functions at 0x100,
// 0x180 and 0x200, the last ending at the sentinel 0x400) and one regular page (from 0x400),
// __eh_frame at 0x2000 holding one CIE and one FDE for [0x180, 0x200).
struct Synthetic {
  alignas(4096) uint8_t bytes[0x3000] = {};
  uintptr_t base() const { return reinterpret_cast<uintptr_t>(bytes); }
  static constexpr uint32_t kFdeOffset = 0x18;

  Synthetic(uint32_t dwarfEncoding) {
    std::vector<uint8_t> u;
    put32(u, 1);
    put32(u, 28);  // common encodings
    put32(u, 2);
    put32(u, 36);  // personalities
    put32(u, 0);
    put32(u, 36);  // index
    put32(u, 3);
    put32(u, 0x02000000 | (2 << 16));  // common 0: frameless, 16 bytes
    put32(u, 0x01000000);              // common 1: frame based
    // index at 36: three entries of 12 bytes
    const uint32_t page1 = 36 + 36, page2 = page1 + 12 + 12 + 4;
    for (auto [fn, page] : {std::pair{0x100u, page1}, {0x400u, page2}, {0x500u, 0u}}) {
      put32(u, fn);
      put32(u, page);
      put32(u, 0);
    }
    // compressed page: header, 3 entries, 1 page encoding (index 2)
    put32(u, 3);
    put16(u, 12);
    put16(u, 3);
    put16(u, 24);
    put16(u, 1);
    put32(u, (0u << 24) | 0x00);
    put32(u, (2u << 24) | 0x80);
    put32(u, (1u << 24) | 0x100);
    put32(u, dwarfEncoding);
    // regular page
    put32(u, 2);
    put16(u, 8);
    put16(u, 1);
    put32(u, 0x400);
    put32(u, 0x01000000);
    std::memcpy(bytes + 0x1000, u.data(), u.size());

    std::vector<uint8_t> e;
    put32(e, 20);
    put32(e, 0);
    e.insert(e.end(), {1, 'z', 'R', 0, 1, 0x78, 16, 1, 0x1B, 0x0C, 7, 8, 0x90, 1, 0, 0});
    const size_t fde = e.size();  // 0x18
    put32(e, 0);
    put32(e, static_cast<uint32_t>(e.size()));
    const uintptr_t field = base() + 0x2000 + e.size();
    put32(e, static_cast<uint32_t>(base() + 0x180 - field));
    put32(e, 0x80);
    e.insert(e.end(), {0, 0x41, 0x0E, 16, 0x83, 2, 0, 0});
    const uint32_t length = static_cast<uint32_t>(e.size() - fde - 4);
    std::memcpy(&e[fde], &length, 4);
    std::memcpy(bytes + 0x2000, e.data(), e.size());
  }
};

}  // namespace

TEST(CompactTables, DwarfModeRangesAndUnsupportedPages) {
  auto table = std::make_unique<Synthetic>(0x04000000 | Synthetic::kFdeOffset);
  const uintptr_t base = table->base();
  MVXCompactUnwindContext context;
  ASSERT_TRUE(MVXCompactUnwindInit(&context, base + 0x1000, base + 0x2000, base));

  MVXCompactUnwindResult result{};
  ASSERT_TRUE(MVXCompactUnwindLookup(&context, base + 0x250, &result));  // last entry of the page
  EXPECT_EQ(result.functionStart, base + 0x200);
  EXPECT_EQ(result.functionEnd, base + 0x400);
  EXPECT_EQ(result.encoding, 0x01000000u);
  ASSERT_TRUE(MVXCompactUnwindLookup(&context, base + 0x100, &result));
  EXPECT_EQ(result.encoding, 0x02020000u);
  EXPECT_EQ(result.functionEnd, base + 0x180);

  // DWARF mode: the FDE at the encoded offset; CFA rsp+16, rbx at CFA-16, return at CFA-8.
  uint64_t stack[3] = {0x1111, 0x401000, 0};
  MVXMachineContext64 registers{};
  registers.ss.rip = base + 0x190;
  registers.ss.rsp = reinterpret_cast<uintptr_t>(&stack[0]);
  MVXUnwindContext unwind;
  MVXUnwindInit(&unwind, registers);
  ASSERT_TRUE(MVXCompactUnwindLookupAndCompute(&context, &unwind));
  EXPECT_EQ(unwind.registers.ss.rip, 0x401000u);
  EXPECT_EQ(unwind.registers.ss.rbx, 0x1111u);
  EXPECT_EQ(unwind.registers.ss.rsp, reinterpret_cast<uintptr_t>(&stack[2]));

  CapturedUnwindLog log;
  // A regular page is never used.
  EXPECT_FALSE(MVXCompactUnwindLookup(&context, base + 0x410, &result));
  EXPECT_NE(log.text().find("Encountered a regular second-level page"), std::string::npos);
  // An FDE offset of 0 is rejected and the context stays as it was.
  auto zero = std::make_unique<Synthetic>(0x04000000);
  ASSERT_TRUE(
      MVXCompactUnwindInit(&context, zero->base() + 0x1000, zero->base() + 0x2000, zero->base()));
  registers.ss.rip = zero->base() + 0x190;
  MVXUnwindInit(&unwind, registers);
  EXPECT_FALSE(MVXCompactUnwindLookupAndCompute(&context, &unwind));
  EXPECT_EQ(unwind.registers.ss.rip, zero->base() + 0x190);
  // Fewer than two index entries find nothing; a wrong version is refused.
  context.header.indexCount = 1;
  EXPECT_FALSE(MVXCompactUnwindLookup(&context, zero->base() + 0x190, &result));
  zero->bytes[0x1000] = 2;
  EXPECT_FALSE(MVXCompactUnwindInit(&context, zero->base() + 0x1000, 0, zero->base()));
  EXPECT_NE(log.text().find("bad unwind_info structure version (2 != 1)"), std::string::npos);
}

TEST(CompactTables, PermutationsDecodeAndRemapAsTheLinkerEncodesThem) {
  uint32_t values[6], registers[6];
  // Six saved registers: rbx, r12, r13, r14, r15, rbp in push order is permutation 0.
  ASSERT_TRUE(MVXCompactUnwindDecompressPermutation(0x02000000 | (6 << 10) | 0, values));
  ASSERT_TRUE(MVXCompactUnwindRemapRegisters(values, 6, registers));
  EXPECT_EQ(std::vector<uint32_t>(registers, registers + 6),
            (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
  ASSERT_TRUE(MVXCompactUnwindDecompressPermutation(0x02000000 | (3 << 10) | 43, values));
  ASSERT_TRUE(MVXCompactUnwindRemapRegisters(values, 3, registers));
  // 43 = 2*20 + 0*4 + 3: third free (r13), first free (rbx), fourth still free (rbp).
  EXPECT_EQ(std::vector<uint32_t>(registers, registers + 3), (std::vector<uint32_t>{3, 1, 6}));
  EXPECT_FALSE(MVXCompactUnwindDecompressPermutation(0x02000000 | (7 << 10), values));
  EXPECT_FALSE(MVXCompactUnwindRemapRegisters(values, 7, registers));
}
