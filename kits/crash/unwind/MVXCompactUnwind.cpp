#include "kits/crash/unwind/MVXCompactUnwind.h"

#include <cstring>

#include "kits/crash/unwind/MVXDwarfUnwind.h"
#include "kits/crash/unwind/MVXUnwind.h"

namespace {

template <typename T>
T inPlace(uintptr_t address) {
  T value;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): reads memory at an address it was given
  std::memcpy(&value, reinterpret_cast<const void*>(address), sizeof(T));
  return value;
}

bool validUnwind(const MVXUnwindContext* context) {
  return MVXIsValidPointer(reinterpret_cast<uintptr_t>(context));
}

}  // namespace

bool MVXCompactUnwindInit(MVXCompactUnwindContext* context, uintptr_t unwindInfo, uintptr_t ehFrame,
                          uintptr_t loadAddress) {
  if (!MVXIsValidPointer(reinterpret_cast<uintptr_t>(context))) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: invalid context passed to compact unwind init");
    return false;
  }
  if (!MVXIsValidPointer(unwindInfo)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: invalid unwind info passed to compact unwind init");
    return false;
  }
  if (!MVXIsValidPointer(loadAddress)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: invalid load address passed to compact unwind init");
    return false;
  }
  std::memset(context, 0, sizeof(*context));
  if (!MVXUnwindReadMemory(unwindInfo, &context->header, sizeof(context->header))) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: could not read memory contents of unwindInfo\n");
    return false;
  }
  if (context->header.version != 1) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: bad unwind_info structure version (%d != %d)\n",
                   int(context->header.version), 1);
    return false;
  }
  context->unwindInfo = unwindInfo;
  context->ehFrame = ehFrame;
  context->loadAddress = loadAddress;
  return true;
}

uint32_t MVXCompactUnwindGetTargetAddress(const MVXCompactUnwindContext* context, uintptr_t pc) {
  const uintptr_t base = context->loadAddress + context->firstLevelEntry.functionOffset;
  if (pc <= base) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: PC is invalid\n");
    return 0;
  }
  return static_cast<uint32_t>(pc - base);
}

bool MVXCompactUnwindLookupSecondLevelRegular(MVXCompactUnwindContext*, uintptr_t, uintptr_t,
                                              MVXCompactUnwindResult*) {
  MVX_UNWIND_LOG("WARN  [%s:%d] Encountered a regular second-level page\n");
  return false;
}

bool MVXCompactUnwindLookupSecondLevelCompressed(MVXCompactUnwindContext* context, uintptr_t pc,
                                                 uintptr_t page, MVXCompactUnwindResult* result) {
  const uint16_t entryPageOffset = inPlace<uint16_t>(page + 4);
  const uint16_t entryCount = inPlace<uint16_t>(page + 6);
  const uint16_t encodingsPageOffset = inPlace<uint16_t>(page + 8);
  const uint16_t encodingsCount = inPlace<uint16_t>(page + 10);
  if (entryCount == 0) return false;
  const uint32_t target = MVXCompactUnwindGetTargetAddress(context, pc);
  const uintptr_t entries = page + entryPageOffset;
  auto offsetOf = [&](uint32_t index) {
    return inPlace<uint32_t>(entries + uintptr_t{4} * index) & 0xFFFFFF;
  };
  // The last entry whose offset is at most target.
  uint32_t low = 0, high = entryCount;
  while (high - low > 1) {
    uint32_t mid = low + (high - low) / 2;
    if (offsetOf(mid) <= target) {
      low = mid;
    } else {
      high = mid;
    }
  }
  if (offsetOf(low) > target) {
    MVX_UNWIND_LOG("INFO  [%s:%d] Unable to find PC in second level\n");
    return false;
  }
  const uintptr_t base = context->loadAddress + context->firstLevelEntry.functionOffset;
  result->functionStart = base + offsetOf(low);
  result->functionEnd = low + 1 < entryCount ? base + offsetOf(low + 1)
                                             : context->loadAddress + context->nextFunctionOffset;
  if (result->functionStart > pc || result->functionEnd <= pc) {
    MVX_UNWIND_LOG("WARN  [%s:%d] PC does not match computed function range\n");
    return false;
  }
  const uint32_t index = inPlace<uint32_t>(entries + uintptr_t{4} * low) >> 24;
  const uint32_t commonCount = context->header.commonEncodingsArrayCount;
  if (index < commonCount) {
    result->encoding =
        inPlace<uint32_t>(context->unwindInfo + context->header.commonEncodingsArraySectionOffset +
                          uintptr_t{4} * index);
  } else if (index - commonCount < encodingsCount) {
    result->encoding =
        inPlace<uint32_t>(page + encodingsPageOffset + uintptr_t{4} * (index - commonCount));
  } else {
    return false;
  }
  if (result->encoding == 0) {
    MVX_UNWIND_LOG("INFO  [%s:%d] Entry has has no unwind info\n");
    return false;
  }
  return true;
}

bool MVXCompactUnwindLookupSecondLevel(MVXCompactUnwindContext* context, uintptr_t pc,
                                       MVXCompactUnwindResult* result) {
  const uintptr_t page =
      context->unwindInfo + context->firstLevelEntry.secondLevelPagesSectionOffset;
  bool found = false;
  switch (inPlace<uint32_t>(page)) {
    case 3:
      MVX_UNWIND_LOG("INFO  [%s:%d] Found a second level compressed header\n");
      found = MVXCompactUnwindLookupSecondLevelCompressed(context, pc, page, result);
      break;
    case 2:
      MVX_UNWIND_LOG("INFO  [%s:%d] Found a second level regular header\n");
      found = MVXCompactUnwindLookupSecondLevelRegular(context, pc, page, result);
      break;
    default:
      MVX_UNWIND_LOG("ERROR [%s:%d] Unrecognized header kind - unable to continue\n");
      break;
  }
  if (!found) MVX_UNWIND_LOG("INFO  [%s:%d] Second-level PC lookup failed\n");
  return found;
}

bool MVXCompactUnwindLookup(MVXCompactUnwindContext* context, uintptr_t pc,
                            MVXCompactUnwindResult* result) {
  if (!context || !result) return false;
  const MVXCompactUnwindHeader& header = context->header;
  if (header.indexCount < 2 || context->loadAddress > pc) return false;
  const uint64_t target = pc - context->loadAddress;
  const uintptr_t index = context->unwindInfo + header.indexSectionOffset;
  for (uint32_t i = 0; i + 1 < header.indexCount; ++i) {
    const auto entry = inPlace<MVXCompactUnwindFirstLevelEntry>(index + uintptr_t{12} * i);
    const uint32_t next = inPlace<uint32_t>(index + uintptr_t{12} * (i + 1));
    if (entry.functionOffset <= target && target < next) {
      context->firstLevelEntry = entry;
      context->nextFunctionOffset = next;
      MVX_UNWIND_LOG("DEBUG [%s:%d] Found first level (second => %u)\n",
                     entry.secondLevelPagesSectionOffset);
      return MVXCompactUnwindLookupSecondLevel(context, pc, result);
    }
  }
  MVX_UNWIND_LOG("WARN  [%s:%d] Unable to find pc in first level\n");
  return false;
}

bool MVXCompactUnwindLookupAndCompute(MVXCompactUnwindContext* context,
                                      MVXUnwindContext* unwindContext) {
  if (!context || !validUnwind(unwindContext)) return false;
  const uintptr_t pc = MVXUnwindGetPC(unwindContext);
  if (pc < context->loadAddress) return false;
  MVXCompactUnwindResult result;
  if (!MVXCompactUnwindLookup(context, pc, &result)) {
    MVX_UNWIND_LOG("INFO  [%s:%d] Unable to lookup compact unwind for pc %p\n",
                   // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                   reinterpret_cast<void*>(pc));
    return false;
  }
  if (!MVXCompactUnwindComputeRegisters(context, &result, unwindContext)) {
    MVX_UNWIND_LOG("ERROR [%s:%d] Failed to compute registers\n");
    return false;
  }
  return true;
}

bool MVXCompactUnwindComputeRegisters(MVXCompactUnwindContext* context,
                                      const MVXCompactUnwindResult* result,
                                      MVXUnwindContext* unwindContext) {
  if (!context || !result || !validUnwind(unwindContext)) {
    MVX_UNWIND_LOG("ERROR [%s:%d] invalid inputs\n");
    return false;
  }
  MVX_UNWIND_LOG("DEBUG [%s:%d] Computing registers for encoding %x\n", result->encoding);
  switch (result->encoding & kMVXCompactModeMask) {
    case kMVXCompactModeFrame:
      return MVXCompactUnwindBPFrame(context, result, unwindContext);
    case kMVXCompactModeFramelessImmediate:
    case kMVXCompactModeFramelessIndirect:
      return MVXCompactUnwindFrameless(context, result, unwindContext);
    case kMVXCompactModeDwarf:
      return MVXCompactUnwindDwarfFrame(context, result->encoding & 0x00FFFFFF, unwindContext);
    default:
      MVX_UNWIND_LOG("ERROR [%s:%d] Invalid encoding %x\n", result->encoding);
      return false;
  }
}

bool MVXCompactUnwindBPFrame(MVXCompactUnwindContext*, const MVXCompactUnwindResult*,
                             MVXUnwindContext* unwindContext) {
  if (!MVXUnwindFramePointerStep(&unwindContext->registers)) return false;
  unwindContext->pcIsExact = false;
  return true;
}

bool MVXCompactUnwindComputeStackSize(uint32_t encoding, uintptr_t functionStart,
                                      uint32_t* stackSize) {
  const uint32_t field = (encoding >> 16) & 0xFF;
  if ((encoding & kMVXCompactModeMask) == kMVXCompactModeFramelessImmediate) {
    *stackSize = field * 8;
    return true;
  }
  uint32_t immediate = 0;
  if (!MVXUnwindReadMemory(functionStart + field, &immediate, sizeof(immediate))) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to read subl value\n");
    return false;
  }
  *stackSize = immediate + ((encoding >> 13) & 0x7) * 8;
  return true;
}

bool MVXCompactUnwindDecompressPermutation(uint32_t encoding, uint32_t values[6]) {
  const uint32_t count = (encoding >> 10) & 0x7;
  uint32_t p = encoding & 0x3FF;
  std::memset(values, 0, 6 * sizeof(uint32_t));
  switch (count) {
    case 0:
      break;
    case 1:
      values[0] = p;
      break;
    case 2:
      values[0] = p / 5;
      values[1] = p % 5;
      break;
    case 3:
      values[0] = p / 20;
      values[1] = (p % 20) / 4;
      values[2] = p % 4;
      break;
    case 4:
      values[0] = p / 60;
      p %= 60;
      values[1] = p / 12;
      p %= 12;
      values[2] = p / 3;
      values[3] = p % 3;
      break;
    case 5:
    case 6:
      values[0] = p / 120;
      p %= 120;
      values[1] = p / 24;
      p %= 24;
      values[2] = p / 6;
      p %= 6;
      values[3] = p / 2;
      values[4] = p % 2;
      values[5] = 0;
      break;
    default:
      MVX_UNWIND_LOG(
          "WARN  [%s:%d] Error: unhandled number of register permutations for encoding %x\n",
          encoding);
      return false;
  }
  return true;
}

bool MVXCompactUnwindRemapRegisters(const uint32_t values[6], uint32_t count,
                                    uint32_t registers[6]) {
  if (count > kMVXCompactMaxRegisters) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: invalid register number count %d\n", int(count));
    return false;
  }
  bool taken[7] = {};
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t remaining = values[i];
    registers[i] = 0;
    for (uint32_t reg = 1; reg <= 6; ++reg) {
      if (taken[reg]) continue;
      if (remaining == 0) {
        registers[i] = reg;
        taken[reg] = true;
        break;
      }
      --remaining;
    }
    if (registers[i] == 0) return false;
  }
  return true;
}

bool MVXCompactUnwindRestoreRegisters(MVXUnwindContext* unwindContext, uint32_t,
                                      const uint32_t registers[6], uint32_t count,
                                      uintptr_t* location) {
  for (uint32_t i = 0; i < count; ++i, *location += 8) {
    if (registers[i] != 6) {
      MVX_UNWIND_LOG("WARN  [%s:%d] Error: skipping a restore of register %d at %p\n",
                     // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                     int(registers[i]), reinterpret_cast<void*>(*location));
      continue;
    }
    uint64_t value = 0;
    if (!MVXUnwindReadMemory(*location, &value, sizeof(value))) {
      MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to read memory to set register\n");
      return false;
    }
    if (!MVXThreadContextSetFramePointer(&unwindContext->registers, value)) {
      MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to set FP\n");
      return false;
    }
  }
  return true;
}

bool MVXCompactUnwindFrameless(MVXCompactUnwindContext*, const MVXCompactUnwindResult* result,
                               MVXUnwindContext* unwindContext) {
  const uint32_t encoding = result->encoding;
  MVX_UNWIND_LOG("WARN  [%s:%d] Frameless unwind encountered with encoding %x\n", encoding);
  uint32_t stackSize = 0;
  if (!MVXCompactUnwindComputeStackSize(encoding, result->functionStart, &stackSize)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to compute stack size for encoding %x\n", encoding);
    return false;
  }
  const uint32_t count = (encoding >> 10) & 0x7;
  uint32_t values[6];
  if (!MVXCompactUnwindDecompressPermutation(encoding, values)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to decompress registers %x\n", encoding);
    return false;
  }
  uint32_t registers[6];
  if (!MVXCompactUnwindRemapRegisters(values, count, registers)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to remap registers %x\n", encoding);
    return false;
  }
  const uintptr_t sp = MVXThreadContextGetStackPointer(&unwindContext->registers);
  uintptr_t location = sp + stackSize - 8 - uintptr_t{8} * count;
  if (!MVXCompactUnwindRestoreRegisters(unwindContext, encoding, registers, count, &location)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to restore registers\n");
    return false;
  }
  // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
  MVX_UNWIND_LOG("WARN  [%s:%d] SP is %p and we are reading %p\n", reinterpret_cast<void*>(sp),
                 // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                 reinterpret_cast<void*>(location));
  uint64_t pc = 0;
  if (!MVXUnwindReadMemory(location, &pc, sizeof(pc))) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to read memory to set register\n");
    return false;
  }
  // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
  MVX_UNWIND_LOG("WARN  [%s:%d] Read PC to be %p\n", reinterpret_cast<void*>(pc));
  if (!MVXIsValidPointer(pc)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: computed PC is invalid\n");
    return false;
  }
  MVXThreadContextSetPC(&unwindContext->registers, pc);
  MVXThreadContextSetStackPointer(&unwindContext->registers, location + 8);
  unwindContext->pcIsExact = false;
  return true;
}

bool MVXCompactUnwindDwarfFrame(MVXCompactUnwindContext* context, uint32_t fdeOffset,
                                MVXUnwindContext* unwindContext) {
  MVX_UNWIND_LOG("INFO  [%s:%d] Trying to read dwarf data with offset %lx\n",
                 (unsigned long)fdeOffset);
  MVXDwarfCIEFDEPair pair;
  if (!MVXDwarfInitFDEFromEhFrame(&pair, context->ehFrame, fdeOffset)) {
    MVX_UNWIND_LOG("ERROR [%s:%d] Unable to init FDE\n");
    return false;
  }
  if (!MVXDwarfUnwindComputeRegisters(&pair, unwindContext)) {
    MVX_UNWIND_LOG("ERROR [%s:%d] Failed to compute DWARF registers\n");
    return false;
  }
  return true;
}
