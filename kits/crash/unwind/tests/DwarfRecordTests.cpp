// Hand-built CIE/FDE records and expressions: pointer encodings, the row rule at and around row
// starts, remembered state, register computation and the expression machine's limits.

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "kits/crash/unwind/MVXDwarfUnwind.h"
#include "kits/crash/unwind/MVXUnwind.h"
#include "kits/crash/unwind/tests/UnwindTestSupport.h"

using tw::test::CapturedUnwindLog;

namespace {

void put(std::vector<uint8_t>& b, std::initializer_list<uint8_t> bytes) {
  b.insert(b.end(), bytes);
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void patch32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

// One CIE ("zR", pointer encoding pc-relative sdata4, CFA rsp+8, return address at CFA-8) and
// one FDE for [target, target + 32) with the given instructions, laid out in `b`.
// The records sit in this program's own data, beside the code they describe: a pc-relative
// field spans at most 2 GiB, and the heap (a sanitizer's above all) may lie further away.
struct Records {
  static constexpr size_t kSize = 256;
  std::vector<uint8_t> b;
  uint8_t* home = nullptr;
  size_t fde = 0;
  uintptr_t address(size_t offset) const { return reinterpret_cast<uintptr_t>(home) + offset; }
};

Records build(uintptr_t target, std::initializer_list<uint8_t> instructions,
              uint8_t encoding = 0x1B) {
  alignas(16) static uint8_t slots[4][Records::kSize];
  static size_t next = 0;
  Records r;
  r.home = slots[next++ % 4];
  auto& b = r.b;
  put32(b, 0);  // length, patched
  put32(b, 0);  // CIE id
  put(b, {1, 'z', 'R', 0, 1, 0x78, 16, 1, encoding});
  put(b, {0x0C, 7, 8, 0x90, 1});
  while (b.size() % 4) b.push_back(0);
  patch32(b, 0, static_cast<uint32_t>(b.size() - 4));
  r.fde = b.size();
  put32(b, 0);
  put32(b, static_cast<uint32_t>(b.size()));  // CIE pointer back to offset 0
  const size_t pcField = b.size();
  put32(b, static_cast<uint32_t>(target - r.address(pcField)));
  put32(b, 32);
  b.push_back(0);  // augmentation data length
  b.insert(b.end(), instructions);
  while (b.size() % 4) b.push_back(0);
  patch32(b, r.fde, static_cast<uint32_t>(b.size() - r.fde - 4));
  EXPECT_LE(b.size(), Records::kSize);
  std::memcpy(r.home, b.data(), std::min(b.size(), Records::kSize));
  return r;
}

uint64_t cfaOffsetAt(const MVXDwarfCIEFDEPair& pair, uintptr_t pc) {
  MVXDwarfState state;
  EXPECT_TRUE(MVXDwarfComputeStateForPC(&pair, pc, &state));
  return state.cfaOffset;
}

}  // namespace

TEST(DwarfRecords, RowsApplyFromTheirOwnLocationWithRememberedState) {
  alignas(16) static uint8_t code[64];
  const uintptr_t target = reinterpret_cast<uintptr_t>(code);
  Records r = build(target, {
                                0x0E, 16,    // at 0: CFA rsp+16
                                0x44,        // advance 4
                                0x0E, 24,    // CFA rsp+24
                                0x83, 3,     // rbx at CFA-24
                                0x0A,        // remember
                                0x42,        // advance 2 (6)
                                0x0E, 8,     // CFA rsp+8
                                0xC3,        // restore rbx to the CIE's rule
                                0x42,        // advance 2 (8)
                                0x0B,        // restore remembered state
                                0x2E, 0x10,  // args size, no effect on the rules
                            });
  MVXDwarfCIEFDEPair pair;
  ASSERT_TRUE(MVXDwarfParseFDERecord(&pair.fde, true, &pair.cie, r.address(r.fde)));
  EXPECT_EQ(pair.fde.pcBegin, target);  // pc-relative: the field's own address + its value
  EXPECT_EQ(pair.fde.addressRange, 32u);
  EXPECT_EQ(pair.cie.dataAlignmentFactor, -8);

  EXPECT_EQ(cfaOffsetAt(pair, target), 16u);  // rows at location 0 apply at the first byte
  EXPECT_EQ(cfaOffsetAt(pair, target + 3), 16u);
  EXPECT_EQ(cfaOffsetAt(pair, target + 4), 24u);  // and every row at its own first byte
  EXPECT_EQ(cfaOffsetAt(pair, target + 6), 8u);
  MVXDwarfState state;
  ASSERT_TRUE(MVXDwarfComputeStateForPC(&pair, target + 7, &state));
  EXPECT_EQ(state.registers[3].kind, kMVXDwarfRuleUnchanged);
  ASSERT_TRUE(MVXDwarfComputeStateForPC(&pair, target + 20, &state));
  EXPECT_EQ(state.cfaOffset, 24u);
  EXPECT_EQ(state.registers[3].kind, kMVXDwarfRuleOffset);
  EXPECT_EQ(static_cast<int64_t>(state.registers[3].value), -24);
  EXPECT_EQ(state.registers[16].kind, kMVXDwarfRuleOffset);

  CapturedUnwindLog log;
  EXPECT_FALSE(MVXDwarfComputeStateForPC(&pair, target - 1, &state));
  EXPECT_NE(log.text().find("pcOffset value cannot be negative"), std::string::npos);
  // The table search refuses what it cannot read.
  EXPECT_FALSE(MVXDwarfFindFDE(0, target, &pair));
  EXPECT_FALSE(MVXDwarfInitFDEFromEhFrame(&pair, r.address(0), 0));
  EXPECT_TRUE(MVXDwarfInitFDEFromEhFrame(&pair, r.address(0), r.fde));
}

// The operand 0x7F reads as -1 signed and 127 unsigned, 0x7E/0x7D as -2/-3: each rule below comes
// out different if its operation reads the wrong kind of number or skips the data factor (-8).
TEST(DwarfRecords, SignedFactoredAndNegatedOperandsGiveTheirOwnRules) {
  alignas(16) static uint8_t code[64];
  const uintptr_t target = reinterpret_cast<uintptr_t>(code);
  Records r = build(target, {
                                0x13, 0x7E,      // def_cfa_offset_sf: -2 * -8 = 16
                                0x41,            // advance 1
                                0x12, 6, 0x7D,   // def_cfa_sf: rbp, -3 * -8 = 24
                                0x11, 3, 0x7F,   // offset_extended_sf: rbx at CFA+8
                                0x14, 12, 0x7F,  // val_offset: r12 = CFA + 127 * -8
                                0x15, 13, 0x7F,  // val_offset_sf: r13 = CFA+8
                                0x2F, 14, 2,     // GNU negative_offset_extended: r14 at CFA+16
                            });
  MVXDwarfCIEFDEPair pair;
  ASSERT_TRUE(MVXDwarfInitFDEFromEhFrame(&pair, r.address(0), r.fde));
  MVXDwarfState state;
  ASSERT_TRUE(MVXDwarfComputeStateForPC(&pair, target, &state));
  EXPECT_EQ(state.cfaRegister, 7u);
  EXPECT_EQ(static_cast<int64_t>(state.cfaOffset), 16);

  ASSERT_TRUE(MVXDwarfComputeStateForPC(&pair, target + 1, &state));
  EXPECT_EQ(state.cfaRegister, 6u);
  EXPECT_EQ(static_cast<int64_t>(state.cfaOffset), 24);
  const struct {
    int reg;
    uint32_t kind;
    int64_t value;
  } rules[] = {{3, kMVXDwarfRuleOffset, 8},
               {12, kMVXDwarfRuleValOffset, -1016},
               {13, kMVXDwarfRuleValOffset, 8},
               {14, kMVXDwarfRuleOffset, 16}};
  for (const auto& rule : rules) {
    SCOPED_TRACE(rule.reg);
    EXPECT_EQ(state.registers[rule.reg].kind, rule.kind);
    EXPECT_EQ(static_cast<int64_t>(state.registers[rule.reg].value), rule.value);
  }
}

TEST(DwarfRecords, CallerRegistersComeFromTheStackAndBadRulesFailTheFrame) {
  alignas(16) static uint8_t code[64];
  const uintptr_t target = reinterpret_cast<uintptr_t>(code);
  Records r = build(target, {0x44, 0x0E, 24, 0x83, 3, 0x44, 0x0E, 0});
  MVXDwarfCIEFDEPair pair;
  ASSERT_TRUE(MVXDwarfInitFDEFromEhFrame(&pair, r.address(0), r.fde));

  uint64_t stack[4] = {0x1111, 0x2222, 0x401000, 0};
  MVXUnwindContext context;
  MVXMachineContext64 registers{};
  registers.ss.rip = target + 5;
  registers.ss.rsp = reinterpret_cast<uintptr_t>(&stack[0]);
  registers.ss.rbx = 7;
  registers.ss.r12 = 9;
  ASSERT_TRUE(MVXUnwindInit(&context, registers));
  ASSERT_TRUE(MVXDwarfUnwindComputeRegisters(&pair, &context));
  EXPECT_EQ(context.registers.ss.rip, 0x401000u);
  EXPECT_EQ(context.registers.ss.rbx, 0x1111u);
  EXPECT_EQ(context.registers.ss.rsp, reinterpret_cast<uintptr_t>(&stack[3]));
  EXPECT_EQ(context.registers.ss.r12, 9u);
  EXPECT_FALSE(context.pcIsExact);

  // CFA rsp+0: the stack pointer would not move; the context stays as it was.
  CapturedUnwindLog log;
  ASSERT_TRUE(MVXUnwindInit(&context, registers));
  context.registers.ss.rip = target + 9;
  EXPECT_FALSE(MVXDwarfUnwindComputeRegisters(&pair, &context));
  EXPECT_EQ(context.registers.ss.rip, target + 9);
  EXPECT_NE(log.text().find("Stack pointer hasn't changed"), std::string::npos);

  // An unknown instruction and a register number past the table fail the run.
  MVXDwarfState state{};
  const uint8_t unknown[] = {0x2D};
  EXPECT_FALSE(MVXDwarfInstructionsEnumerate({reinterpret_cast<uintptr_t>(unknown), 1}, &pair.cie,
                                             &state, 100));
  const uint8_t badRegister[] = {0x05, 40, 1};
  EXPECT_FALSE(MVXDwarfInstructionsEnumerate({reinterpret_cast<uintptr_t>(badRegister), 3},
                                             &pair.cie, &state, 100));
  EXPECT_NE(log.text().find("Failed to execute dwarf instruction"), std::string::npos);
}

TEST(DwarfRecords, LEB128ValuesOfAnyLengthLeaveTheCursorAfterTheirLastByte) {
  const auto read = [](std::vector<uint8_t> bytes, bool isSigned, size_t* consumed) {
    bytes.push_back(0xAB);  // the next field
    uintptr_t cursor = reinterpret_cast<uintptr_t>(bytes.data());
    const uint64_t value = isSigned ? static_cast<uint64_t>(MVXDwarfReadSLEB128(&cursor))
                                    : MVXDwarfReadULEB128(&cursor);
    *consumed = cursor - reinterpret_cast<uintptr_t>(bytes.data());
    EXPECT_EQ(MVXDwarfReadU8(&cursor), 0xAB);
    return value;
  };
  size_t consumed = 0;
  EXPECT_EQ(read({0xE5, 0x8E, 0x26}, false, &consumed), 624485u);
  EXPECT_EQ(consumed, 3u);
  EXPECT_EQ(static_cast<int64_t>(read({0xC0, 0xBB, 0x78}, true, &consumed)), -123456);
  EXPECT_EQ(consumed, 3u);
  // The longest well-formed 64-bit values: ten bytes.
  EXPECT_EQ(read({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, false, &consumed),
            ~uint64_t{0});
  EXPECT_EQ(consumed, 10u);
  // Padded far beyond that: the value is what its first 64 bits say, and the cursor passes all
  // of it.
  std::vector<uint8_t> padded = {0xFF};
  padded.insert(padded.end(), 22, 0x80);
  padded.push_back(0x00);
  EXPECT_EQ(read(padded, false, &consumed), 0x7Fu);
  EXPECT_EQ(consumed, 24u);
  std::vector<uint8_t> minusOne(20, 0xFF);
  minusOne.push_back(0x7F);
  EXPECT_EQ(static_cast<int64_t>(read(minusOne, true, &consumed)), -1);
  EXPECT_EQ(consumed, 21u);
}

TEST(DwarfRecords, PointerEncodings) {
  const uint8_t bytes[] = {0xFE, 0xFF, 0xFF, 0xFF, 0x80, 0x01, 0x7F};
  uintptr_t cursor = reinterpret_cast<uintptr_t>(bytes);
  EXPECT_EQ(MVXParseAddressWithEncodingAndAdvance(&cursor, 0x0B), uintptr_t(-2));  // sdata4
  EXPECT_EQ(MVXParseAddressWithEncodingAndAdvance(&cursor, 0x01), 128u);           // uleb128
  EXPECT_EQ(MVXParseAddressWithEncodingAndAdvance(&cursor, 0x09), uintptr_t(-1));  // sleb128
  EXPECT_EQ(cursor, reinterpret_cast<uintptr_t>(bytes) + sizeof bytes);
  EXPECT_EQ(MVXParseAddressWithEncodingAndAdvance(&cursor, 0xFF), 0u);
  EXPECT_EQ(MVXParseAddressWithEncodingAndAdvance(nullptr, 0x03), kMVXDwarfInvalidAddress);
  cursor = reinterpret_cast<uintptr_t>(bytes);
  EXPECT_EQ(MVXParseAddressWithEncodingAndAdvance(&cursor, 0x07), kMVXDwarfInvalidAddress);
  EXPECT_EQ(MVXParseAddressWithEncodingAndAdvance(&cursor, 0x33), kMVXDwarfInvalidAddress);
}

namespace {
bool evaluate(std::vector<uint8_t> block, const MVXThreadState64& registers, uint64_t initial,
              uint64_t* out) {
  std::vector<uint8_t> withLength;
  withLength.push_back(static_cast<uint8_t>(block.size()));  // all blocks here are short
  withLength.insert(withLength.end(), block.begin(), block.end());
  return MVXDwarfEvalulateExpression(reinterpret_cast<uintptr_t>(withLength.data()), &registers,
                                     initial, out);
}
}  // namespace

TEST(DwarfExpressions, StackMachine) {
  uint64_t memory[2] = {0xAAAA, 0xBBBB};
  MVXThreadState64 registers{};
  registers.rsp = reinterpret_cast<uintptr_t>(&memory[0]);
  registers.rip = 0x40100D;
  uint64_t result = 0;
  // rsp+8, deref, +0x10.
  ASSERT_TRUE(evaluate({0x77, 8, 0x06, 0x23, 0x10}, registers, 0, &result));
  EXPECT_EQ(result, 0xBBBBu + 0x10);
  // The lazy-binding stub's CFA: rsp + 8 + (((rip & 15) >= 11) << 3).
  ASSERT_TRUE(evaluate({0x77, 8, 0x80, 0, 0x3F, 0x1A, 0x3B, 0x2A, 0x33, 0x24, 0x22}, registers, 0,
                       &result));
  EXPECT_EQ(result, registers.rsp + 16);
  // The initial value is on the stack; dup/swap/and/ne/deref_size as the tables use them.
  ASSERT_TRUE(evaluate({0x12, 0x16, 0x2E}, registers, 5, &result));
  EXPECT_EQ(result, 0u);
  ASSERT_TRUE(evaluate({0x94, 4}, registers, registers.rsp, &result));
  EXPECT_EQ(result, 0xAAAAu);

  CapturedUnwindLog log;
  EXPECT_FALSE(evaluate(std::vector<uint8_t>(100, 0x31), registers, 0, &result));  // 101 values
  EXPECT_FALSE(evaluate({0x13}, registers, 0, &result));                           // empty stack
  EXPECT_FALSE(evaluate({0x94, 3}, registers, registers.rsp, &result));
  EXPECT_FALSE(evaluate({0x81, 0}, registers, 0, &result));  // breg17
  EXPECT_FALSE(evaluate({0x06}, registers, 16, &result));    // unreadable address
  EXPECT_FALSE(evaluate({0xE0}, registers, 0, &result));
  EXPECT_FALSE(evaluate({0x28, 0xFD, 0xFF}, registers, 1, &result));  // branch before the block
  EXPECT_FALSE(MVXDwarfEvalulateExpression(100, &registers, 0, &result));
  EXPECT_NE(log.text().find("Unrecognized DWARF expression opcode 0xe0"), std::string::npos);
}

TEST(DwarfRecords, TheWalksCIECacheGivesTheSameRecordsWithoutTheirPersonalityRoutine) {
  // libstdc++'s code carries CIEs with an indirect personality routine.
  void* pc = dlsym(RTLD_DEFAULT, "_ZSt9terminatev");
  ASSERT_NE(pc, nullptr);
  dl_find_object found;
  ASSERT_EQ(_dl_find_object(pc, &found), 0);
  const auto hdr = reinterpret_cast<uintptr_t>(found.dlfo_eh_frame);
  MVXDwarfCIEFDEPair plain, first, again;
  MVXDwarfCIECache cache{};
  ASSERT_TRUE(MVXDwarfFindFDE(hdr, reinterpret_cast<uintptr_t>(pc), &plain));
  ASSERT_TRUE(MVXDwarfFindFDE(hdr, reinterpret_cast<uintptr_t>(pc), &first, &cache));
  ASSERT_TRUE(MVXDwarfFindFDE(hdr, reinterpret_cast<uintptr_t>(pc), &again, &cache));
  EXPECT_EQ(cache.next, 1u);  // parsed once, then found
  for (const MVXDwarfCIEFDEPair* cached : {&first, &again}) {
    EXPECT_EQ(cached->fde.pcBegin, plain.fde.pcBegin);
    EXPECT_EQ(cached->fde.addressRange, plain.fde.addressRange);
    EXPECT_EQ(cached->fde.instructions, plain.fde.instructions);
    EXPECT_EQ(cached->cie.instructions, plain.cie.instructions);
    EXPECT_EQ(cached->cie.pointerEncoding, plain.cie.pointerEncoding);
    EXPECT_EQ(cached->cie.dataAlignmentFactor, plain.cie.dataAlignmentFactor);
    EXPECT_EQ(cached->cie.personality,
              (plain.cie.personalityEncoding & 0x80) ? 0 : plain.cie.personality);
  }
}
