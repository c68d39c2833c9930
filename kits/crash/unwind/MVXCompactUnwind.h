#pragma once
// Compact unwind: the x86_64 __TEXT,__unwind_info table of a Mach-O image laid out in memory. Finds
// the encoding of the function that holds a PC (compressed second-level pages only) and computes
// the caller's registers from it, handing DWARF-mode entries to the __eh_frame reader. The index
// and pages are read in place, the header and stack memory through MVXUnwindReadMemory.
//
// Crash-time code; the context is scratch inside MVXUnwindContext, owned by its walker.

#include <cstdint>

struct MVXUnwindContext;

struct MVXCompactUnwindHeader {
  uint32_t version;
  uint32_t commonEncodingsArraySectionOffset;
  uint32_t commonEncodingsArrayCount;
  uint32_t personalityArraySectionOffset;
  uint32_t personalityArrayCount;
  uint32_t indexSectionOffset;
  uint32_t indexCount;
};
static_assert(sizeof(MVXCompactUnwindHeader) == 28);

struct MVXCompactUnwindFirstLevelEntry {
  uint32_t functionOffset;
  uint32_t secondLevelPagesSectionOffset;
  uint32_t lsdaIndexArraySectionOffset;
};

struct MVXCompactUnwindContext {
  uintptr_t unwindInfo;
  uintptr_t ehFrame;
  uintptr_t loadAddress;
  MVXCompactUnwindHeader header;
  MVXCompactUnwindFirstLevelEntry firstLevelEntry;
  uint32_t nextFunctionOffset;
};

struct MVXCompactUnwindResult {
  uint32_t encoding;
  uintptr_t functionStart;
  uintptr_t functionEnd;
};

inline constexpr uint32_t kMVXCompactModeMask = 0x0F000000;
inline constexpr uint32_t kMVXCompactModeFrame = 0x01000000;
inline constexpr uint32_t kMVXCompactModeFramelessImmediate = 0x02000000;
inline constexpr uint32_t kMVXCompactModeFramelessIndirect = 0x03000000;
inline constexpr uint32_t kMVXCompactModeDwarf = 0x04000000;
inline constexpr uint32_t kMVXCompactMaxRegisters = 6;

bool MVXCompactUnwindInit(MVXCompactUnwindContext* context, uintptr_t unwindInfo, uintptr_t ehFrame,
                          uintptr_t loadAddress);
bool MVXCompactUnwindLookupAndCompute(MVXCompactUnwindContext* context,
                                      MVXUnwindContext* unwindContext);
bool MVXCompactUnwindLookup(MVXCompactUnwindContext* context, uintptr_t pc,
                            MVXCompactUnwindResult* result);
bool MVXCompactUnwindLookupSecondLevel(MVXCompactUnwindContext* context, uintptr_t pc,
                                       MVXCompactUnwindResult* result);
bool MVXCompactUnwindLookupSecondLevelCompressed(MVXCompactUnwindContext* context, uintptr_t pc,
                                                 uintptr_t pageAddress,
                                                 MVXCompactUnwindResult* result);
bool MVXCompactUnwindLookupSecondLevelRegular(MVXCompactUnwindContext* context, uintptr_t pc,
                                              uintptr_t pageAddress,
                                              MVXCompactUnwindResult* result);
uint32_t MVXCompactUnwindGetTargetAddress(const MVXCompactUnwindContext* context, uintptr_t pc);

bool MVXCompactUnwindComputeRegisters(MVXCompactUnwindContext* context,
                                      const MVXCompactUnwindResult* result,
                                      MVXUnwindContext* unwindContext);
bool MVXCompactUnwindBPFrame(MVXCompactUnwindContext* context, const MVXCompactUnwindResult* result,
                             MVXUnwindContext* unwindContext);
bool MVXCompactUnwindFrameless(MVXCompactUnwindContext* context,
                               const MVXCompactUnwindResult* result,
                               MVXUnwindContext* unwindContext);
bool MVXCompactUnwindComputeStackSize(uint32_t encoding, uintptr_t functionStart,
                                      uint32_t* stackSize);
bool MVXCompactUnwindDecompressPermutation(uint32_t encoding, uint32_t values[6]);
bool MVXCompactUnwindRemapRegisters(const uint32_t values[6], uint32_t count,
                                    uint32_t registers[6]);
bool MVXCompactUnwindRestoreRegisters(MVXUnwindContext* unwindContext, uint32_t encoding,
                                      const uint32_t registers[6], uint32_t count,
                                      uintptr_t* location);
bool MVXCompactUnwindDwarfFrame(MVXCompactUnwindContext* context, uint32_t fdeOffset,
                                MVXUnwindContext* unwindContext);
