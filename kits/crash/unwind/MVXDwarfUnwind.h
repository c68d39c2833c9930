#pragma once
// DWARF call-frame information read in place from a loaded image: the .eh_frame_hdr search table,
// CIE and FDE records, the call-frame instruction interpreter and the expression stack machine.
// From a PC it computes the caller's registers. Crash-time code: no allocation, no locks; stack
// memory is read only through MVXUnwindReadMemory, the image's own tables in place.
//
// Plain functions over caller-owned records; any thread.

#include <cstdint>

#include "kits/crash/unwind/MVXUnwindContext.h"

struct MVXUnwindContext;

// --- Byte readers over a cursor (each read advances the cursor) ------------------------------
uint8_t MVXDwarfReadU8(uintptr_t* cursor);
uint16_t MVXDwarfReadU16(uintptr_t* cursor);
uint32_t MVXDwarfReadU32(uintptr_t* cursor);
uint64_t MVXDwarfReadU64(uintptr_t* cursor);
uint64_t MVXDwarfReadULEB128(uintptr_t* cursor);
int64_t MVXDwarfReadSLEB128(uintptr_t* cursor);
uintptr_t MVXDwarfReadString(uintptr_t* cursor);  // the string's address; cursor past its NUL
uint64_t MVXDwarfReadInitialLength(uintptr_t* cursor);

// Reads a pointer with a DW_EH_PE encoding; all ones on failure, 0 for the omit encoding.
inline constexpr uintptr_t kMVXDwarfInvalidAddress = ~uintptr_t{0};
uintptr_t MVXParseAddressWithEncodingAndAdvance(uintptr_t* cursor, uint8_t encoding);

struct MVXDwarfCIERecord {
  uint64_t length;
  uint8_t version;
  uintptr_t augmentation;
  uintptr_t personality;
  uint64_t codeAlignmentFactor;
  int64_t dataAlignmentFactor;
  uint64_t returnAddressRegister;
  bool signalFrame;
  uint32_t instructionsLength;
  uintptr_t instructions;
  uint8_t pointerEncoding;
  uint8_t lsdaEncoding;
  uint8_t personalityEncoding;
};

struct MVXDwarfFDERecord {
  uint64_t length;
  uint32_t ciePointer;
  uintptr_t pcBegin;
  uint64_t addressRange;
  uint64_t instructionsLength;
  uintptr_t instructions;
};

struct MVXDwarfCIEFDEPair {
  MVXDwarfCIERecord cie;
  MVXDwarfFDERecord fde;
};

// Rule kinds of a register. Kinds 2 and 7 are what Debian's own libraries need beyond the rest.
enum : uint32_t {
  kMVXDwarfRuleUnchanged = 0,      // same value (also the default)
  kMVXDwarfRuleOffset = 1,         // saved at CFA + value
  kMVXDwarfRuleValOffset = 2,      // the value is CFA + value
  kMVXDwarfRuleRegister = 3,       // held in register `value`
  kMVXDwarfRuleExpression = 4,     // saved at the address the expression at `value` computes
  kMVXDwarfRuleValExpression = 5,  // the value the expression at `value` computes
  kMVXDwarfRuleUndefined = 7,      // not recoverable; for the return address: the end of the stack
};

inline constexpr uint64_t kMVXDwarfCFAExpressionRegister = 17;

struct MVXDwarfRegisterRule {
  uint32_t kind;
  uint64_t value;
};

struct MVXDwarfState {
  uint64_t cfaRegister;
  uint64_t cfaOffset;  // signed offsets are kept in two's complement
  uintptr_t cfaExpression;
  MVXDwarfRegisterRule registers[kMVXDwarfRegisterCount];
};

struct MVXDwarfInstructions {
  uintptr_t data;
  uint64_t length;
};

bool MVXDwarfParseCIERecord(MVXDwarfCIERecord* cie, uintptr_t address);
bool MVXDwarfParseFDERecord(MVXDwarfFDERecord* fde, bool parseCIE, MVXDwarfCIERecord* cie,
                            uintptr_t address);
// The FDE at ehFrame + offset (the compact unwind table's way in); fails for a null start, a zero
// offset or a zero sum.
bool MVXDwarfInitFDEFromEhFrame(MVXDwarfCIEFDEPair* pair, uintptr_t ehFrame, uint64_t offset);

// CIEs already parsed during one walk, by address: most frames share a handful of CIEs. A walk
// never calls personality routines, so these records leave an indirect one unresolved
// (personality 0) instead of reading its slot. Zeroed means empty.
inline constexpr uint32_t kMVXDwarfCIECacheSize = 4;
struct MVXDwarfCIECache {
  uintptr_t addresses[kMVXDwarfCIECacheSize];
  MVXDwarfCIERecord records[kMVXDwarfCIECacheSize];
  uint32_t next;
};

// Binary search of the .eh_frame_hdr table for the FDE that covers pc; parses it and its CIE
// (taken from and added to cieCache when one is given). False when the table is absent or
// malformed or no FDE covers pc.
bool MVXDwarfFindFDE(uintptr_t ehFrameHdr, uintptr_t pc, MVXDwarfCIEFDEPair* pair,
                     MVXDwarfCIECache* cieCache = nullptr);

// Runs call-frame instructions on state. Every row whose location is at most pcOffset applies;
// the run stops at the first advance past pcOffset. `initial` holds the rules after the CIE (for
// DW_CFA_restore); null while running the CIE itself. pcBegin turns DW_CFA_set_loc's address
// into a location.
bool MVXDwarfInstructionsEnumerate(MVXDwarfInstructions instructions, const MVXDwarfCIERecord* cie,
                                   MVXDwarfState* state, int64_t pcOffset,
                                   const MVXDwarfState* initial = nullptr, uintptr_t pcBegin = 0);

// The rules in force at pc (CIE, then FDE up to pc - pcBegin).
bool MVXDwarfComputeStateForPC(const MVXDwarfCIEFDEPair* pair, uintptr_t pc, MVXDwarfState* state);

bool MVXDwarfGetCFA(const MVXDwarfState* state, const MVXThreadState64* registers, uint64_t* out);
bool MVXDwarfUnwindAssignRegisters(const MVXDwarfState* state, const MVXThreadState64* registers,
                                   uint64_t cfa, MVXThreadState64* out);
uint64_t MVXDwarfGetSavedRegister(const MVXThreadState64* registers, uint64_t cfa,
                                  MVXDwarfRegisterRule rule);
// Computes the caller's registers for the unwind context's current PC from the pair and writes
// them into the context only on success. Sets the context's exact-PC flag for a signal frame.
bool MVXDwarfUnwindComputeRegisters(const MVXDwarfCIEFDEPair* pair, MVXUnwindContext* context);
// The same from rules already computed for the context's current PC; signalFrame as the CIE says.
bool MVXDwarfUnwindApplyState(const MVXDwarfState* state, bool signalFrame,
                              MVXUnwindContext* context);

// --- Expressions -----------------------------------------------------------------------------
inline constexpr int kMVXDwarfExpressionStackSize = 100;

struct MVXDwarfExpressionMachine {
  uint64_t stack[kMVXDwarfExpressionStackSize];
  int stackPointer;  // next free slot; -1 once invalid
  uintptr_t cursor;
  uintptr_t start;  // first opcode: branches may not leave [start, end]
  uintptr_t end;
  const MVXThreadState64* registers;
};

bool MVXDwarfExpressionMachineInit(MVXDwarfExpressionMachine* machine, uintptr_t address,
                                   const MVXThreadState64* registers, uint64_t initialValue);
bool MVXDwarfExpressionMachinePrepareForExecution(MVXDwarfExpressionMachine* machine);
bool MVXDwarfExpressionMachineIsFinished(const MVXDwarfExpressionMachine* machine);
bool MVXDwarfExpressionMachineExecuteNextOpcode(MVXDwarfExpressionMachine* machine);
bool MVXDwarfExpressionMachineGetResult(const MVXDwarfExpressionMachine* machine, uint64_t* out);
// `address` points at the block's ULEB length.
bool MVXDwarfEvalulateExpression(uintptr_t address, const MVXThreadState64* registers,
                                 uint64_t initialValue, uint64_t* out);
