#include "kits/crash/unwind/MVXDwarfUnwind.h"

#include <cstring>

#include "kits/crash/unwind/MVXUnwind.h"

namespace {

constexpr int kRememberDepth = 16;

template <typename T>
T readInPlace(uintptr_t* cursor) {
  T value;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): reads memory at an address it was given
  std::memcpy(&value, reinterpret_cast<const void*>(*cursor), sizeof(T));
  *cursor += sizeof(T);
  return value;
}

bool validRegister(uint64_t number) { return number < kMVXDwarfRegisterCount; }

}  // namespace

uint8_t MVXDwarfReadU8(uintptr_t* cursor) { return readInPlace<uint8_t>(cursor); }
uint16_t MVXDwarfReadU16(uintptr_t* cursor) { return readInPlace<uint16_t>(cursor); }
uint32_t MVXDwarfReadU32(uintptr_t* cursor) { return readInPlace<uint32_t>(cursor); }
uint64_t MVXDwarfReadU64(uintptr_t* cursor) { return readInPlace<uint64_t>(cursor); }

// A LEB128 longer than the 10 bytes a 64-bit value needs is malformed (or padded); the bits
// beyond 64 are dropped, but the cursor still moves past the whole value, to the byte after the
// one without the continuation bit, so that the next field is read where it lies. The caller's
// bound on the entry (the instructions' end, the record's length) stops a value that never ends.
uint64_t MVXDwarfReadULEB128(uintptr_t* cursor) {
  uint64_t result = 0;
  unsigned shift = 0;
  uint8_t byte;
  do {
    byte = MVXDwarfReadU8(cursor);
    if (shift < 64) result |= uint64_t(byte & 0x7F) << shift;
    if (shift < 64) shift += 7;
  } while (byte & 0x80);
  return result;
}

int64_t MVXDwarfReadSLEB128(uintptr_t* cursor) {
  uint64_t result = 0;
  unsigned shift = 0;
  uint8_t byte;
  do {
    byte = MVXDwarfReadU8(cursor);
    if (shift < 64) result |= uint64_t(byte & 0x7F) << shift;
    if (shift < 64) shift += 7;
  } while (byte & 0x80);
  if (shift < 64 && (byte & 0x40)) result |= ~uint64_t{0} << shift;
  return static_cast<int64_t>(result);
}

uintptr_t MVXDwarfReadString(uintptr_t* cursor) {
  uintptr_t start = *cursor;
  while (MVXDwarfReadU8(cursor) != 0) {
  }
  return start;
}

uint64_t MVXDwarfReadInitialLength(uintptr_t* cursor) {
  uint32_t length = MVXDwarfReadU32(cursor);
  if (length == 0xFFFFFFFFu) return MVXDwarfReadU64(cursor);
  return length;
}

uintptr_t MVXParseAddressWithEncodingAndAdvance(uintptr_t* cursor, uint8_t encoding) {
  if (encoding == 0xFF) return 0;
  if (!cursor || !MVXIsValidPointer(*cursor)) return kMVXDwarfInvalidAddress;
  uintptr_t fieldAddress = *cursor;
  uint64_t value;
  switch (encoding & 0x0F) {
    case 0x0:
    case 0x4:
    case 0xC:
      value = MVXDwarfReadU64(cursor);
      break;
    case 0x1:
      value = MVXDwarfReadULEB128(cursor);
      break;
    case 0x2:
      value = MVXDwarfReadU16(cursor);
      break;
    case 0x3:
      value = MVXDwarfReadU32(cursor);
      break;
    case 0x9:
      value = static_cast<uint64_t>(MVXDwarfReadSLEB128(cursor));
      break;
    case 0xA:
      value = static_cast<uint64_t>(int64_t(static_cast<int16_t>(MVXDwarfReadU16(cursor))));
      break;
    case 0xB:
      value = static_cast<uint64_t>(int64_t(static_cast<int32_t>(MVXDwarfReadU32(cursor))));
      break;
    default:
      MVX_UNWIND_LOG("WARN  [%s:%d] Unhandled: encoding 0x%02x\n", encoding);
      return kMVXDwarfInvalidAddress;
  }
  switch (encoding & 0x70) {
    case 0x00:
      break;
    case 0x10:
      value += fieldAddress;
      break;
    default:
      MVX_UNWIND_LOG("WARN  [%s:%d] Unhandled: relative encoding 0x%02x\n", encoding);
      return kMVXDwarfInvalidAddress;
  }
  if (encoding & 0x80) {
    if (value == 0) return kMVXDwarfInvalidAddress;
    uint64_t target;
    if (!MVXUnwindReadMemoryUncached(value, &target, sizeof(target))) {
      return kMVXDwarfInvalidAddress;
    }
    value = target;
  }
  return value;
}

namespace {
bool parseCIE(MVXDwarfCIERecord* cie, uintptr_t address, bool resolvePersonality);
}  // namespace

bool MVXDwarfParseCIERecord(MVXDwarfCIERecord* cie, uintptr_t address) {
  return parseCIE(cie, address, true);
}

namespace {
bool parseCIE(MVXDwarfCIERecord* cie, uintptr_t address, bool resolvePersonality) {
  if (!cie || !MVXIsValidPointer(address)) return false;
  std::memset(cie, 0, sizeof(*cie));
  cie->pointerEncoding = 0;
  cie->lsdaEncoding = 0xFF;
  cie->personalityEncoding = 0xFF;
  uintptr_t cursor = address;
  cie->length = MVXDwarfReadInitialLength(&cursor);
  if (cie->length == 0) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: CIE length invalid\n");
    return false;
  }
  const uintptr_t end = cursor + cie->length;
  if (MVXDwarfReadU32(&cursor) != 0) MVX_UNWIND_LOG("WARN  [%s:%d] Error: CIE flag not found\n");
  cie->version = MVXDwarfReadU8(&cursor);
  const bool versionOk = cie->version == 1 || cie->version == 3;
  if (!versionOk) MVX_UNWIND_LOG("WARN  [%s:%d] Error: CIE version %u unsupported\n", cie->version);
  cie->augmentation = MVXDwarfReadString(&cursor);
  cie->codeAlignmentFactor = MVXDwarfReadULEB128(&cursor);
  cie->dataAlignmentFactor = MVXDwarfReadSLEB128(&cursor);
  cie->returnAddressRegister =
      cie->version == 1 ? MVXDwarfReadU8(&cursor) : MVXDwarfReadULEB128(&cursor);
  // NOLINTNEXTLINE(performance-no-int-to-ptr): reads memory at an address it was given
  const char* augmentation = reinterpret_cast<const char*>(cie->augmentation);
  if (augmentation[0] == 'z') {
    uint64_t dataLength = MVXDwarfReadULEB128(&cursor);
    const uintptr_t dataEnd = cursor + dataLength;
    for (const char* c = augmentation + 1; *c; ++c) {
      // 'S' carries no data; every other entry reads inside the augmentation data.
      if (*c != 'S' && cursor >= dataEnd) return false;
      switch (*c) {
        case 'L':
          cie->lsdaEncoding = MVXDwarfReadU8(&cursor);
          break;
        case 'P':
          cie->personalityEncoding = MVXDwarfReadU8(&cursor);
          // Without resolving, an indirect routine costs no read of its pointer's slot.
          cie->personality = MVXParseAddressWithEncodingAndAdvance(
              &cursor,
              resolvePersonality ? cie->personalityEncoding : cie->personalityEncoding & 0x7F);
          if (cie->personality == kMVXDwarfInvalidAddress) {
            MVX_UNWIND_LOG("WARN  [%s:%d] Error: Found an invalid start address\n");
            return false;
          }
          if (!resolvePersonality && (cie->personalityEncoding & 0x80)) cie->personality = 0;
          break;
        case 'R':
          cie->pointerEncoding = MVXDwarfReadU8(&cursor);
          break;
        case 'S':
          cie->signalFrame = true;
          break;
        default:
          MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unhandled augmentation string entry %c\n", *c);
          return false;
      }
    }
    if (cursor > dataEnd) return false;
    cursor = dataEnd;
  } else if (augmentation[0] != '\0') {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unimplemented: augmentation string %s\n", augmentation);
    return false;
  }
  if (cursor > end) return false;
  cie->instructions = cursor;
  cie->instructionsLength = static_cast<uint32_t>(end - cursor);
  if (!versionOk) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: CIE version %u unsupported\n", cie->version);
    return false;
  }
  return true;
}
}  // namespace

bool MVXDwarfParseFDERecord(MVXDwarfFDERecord* fde, bool parseCIE, MVXDwarfCIERecord* cie,
                            uintptr_t address) {
  if (!fde || !cie || !MVXIsValidPointer(address)) return false;
  std::memset(fde, 0, sizeof(*fde));
  uintptr_t cursor = address;
  fde->length = MVXDwarfReadInitialLength(&cursor);
  if (fde->length == 0) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: FDE has zero length\n");
    return false;
  }
  const uintptr_t end = cursor + fde->length;
  const uintptr_t ciePointerField = cursor;
  fde->ciePointer = MVXDwarfReadU32(&cursor);
  if (fde->ciePointer == 0) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: CIE offset invalid\n");
    return false;
  }
  if (parseCIE && !MVXDwarfParseCIERecord(cie, ciePointerField - fde->ciePointer)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unable to parse CIE record\n");
    return false;
  }
  if (cie->length == 0 || (cie->version != 1 && cie->version != 3)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: CIE invalid\n");
    return false;
  }
  fde->pcBegin = MVXParseAddressWithEncodingAndAdvance(&cursor, cie->pointerEncoding);
  if (fde->pcBegin == kMVXDwarfInvalidAddress) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: Found an invalid start address\n");
    return false;
  }
  fde->addressRange = MVXParseAddressWithEncodingAndAdvance(&cursor, cie->pointerEncoding & 0x0F);
  if (fde->addressRange == kMVXDwarfInvalidAddress) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: Found an invalid address range\n");
    return false;
  }
  // NOLINTNEXTLINE(performance-no-int-to-ptr): reads the augmentation string where it lies
  if (reinterpret_cast<const char*>(cie->augmentation)[0] == 'z') {
    uint64_t dataLength = MVXDwarfReadULEB128(&cursor);
    cursor += dataLength;
  }
  if (cursor > end) return false;
  fde->instructions = cursor;
  fde->instructionsLength = end - cursor;
  return true;
}

bool MVXDwarfInitFDEFromEhFrame(MVXDwarfCIEFDEPair* pair, uintptr_t ehFrame, uint64_t offset) {
  if (!pair || ehFrame == 0 || offset == 0 || ehFrame + offset == 0) return false;
  return MVXDwarfParseFDERecord(&pair->fde, true, &pair->cie, ehFrame + offset);
}

namespace {
// The CIE of the FDE at address, through the walk's cache. The FDE's own parse checks the rest.
bool cachedCIE(uintptr_t fdeAddress, MVXDwarfCIECache* cache, MVXDwarfCIERecord* cie) {
  uintptr_t cursor = fdeAddress;
  if (MVXDwarfReadInitialLength(&cursor) == 0) return false;
  const uintptr_t ciePointerField = cursor;
  const uint32_t ciePointer = MVXDwarfReadU32(&cursor);
  if (ciePointer == 0) return false;
  const uintptr_t address = ciePointerField - ciePointer;
  for (uint32_t i = 0; i < kMVXDwarfCIECacheSize; ++i) {
    if (cache->addresses[i] == address) {
      *cie = cache->records[i];
      return true;
    }
  }
  if (!parseCIE(cie, address, false)) return false;
  const uint32_t slot = cache->next++ % kMVXDwarfCIECacheSize;
  cache->addresses[slot] = address;
  cache->records[slot] = *cie;
  return true;
}
}  // namespace

bool MVXDwarfFindFDE(uintptr_t ehFrameHdr, uintptr_t pc, MVXDwarfCIEFDEPair* pair,
                     MVXDwarfCIECache* cieCache) {
  if (!pair || !MVXIsValidPointer(ehFrameHdr)) return false;
  uintptr_t cursor = ehFrameHdr;
  const uint8_t version = MVXDwarfReadU8(&cursor);
  const uint8_t ehFramePtrEncoding = MVXDwarfReadU8(&cursor);
  const uint8_t countEncoding = MVXDwarfReadU8(&cursor);
  const uint8_t tableEncoding = MVXDwarfReadU8(&cursor);
  // Every linker writes the table as pairs of 4-byte signed offsets from the header; nothing
  // else is searched.
  if (version != 1 || tableEncoding != 0x3B) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: unsupported eh_frame_hdr (version %u, table 0x%02x)\n",
                   version, tableEncoding);
    return false;
  }
  if (MVXParseAddressWithEncodingAndAdvance(&cursor, ehFramePtrEncoding) ==
      kMVXDwarfInvalidAddress) {
    return false;
  }
  const uintptr_t count = MVXParseAddressWithEncodingAndAdvance(&cursor, countEncoding);
  if (count == 0 || count == kMVXDwarfInvalidAddress || count > (uint64_t{1} << 28)) return false;
  struct Entry {
    int32_t initialLocation;
    int32_t fde;
  };
  // NOLINTNEXTLINE(performance-no-int-to-ptr): reads memory at an address it was given
  const auto* table = reinterpret_cast<const Entry*>(cursor);
  const int64_t target = static_cast<int64_t>(pc - ehFrameHdr);
  uintptr_t low = 0, high = count;
  while (high - low > 1) {
    uintptr_t mid = low + (high - low) / 2;
    Entry entry;
    std::memcpy(&entry, &table[mid], sizeof(entry));
    if (entry.initialLocation <= target) {
      low = mid;
    } else {
      high = mid;
    }
  }
  Entry entry;
  std::memcpy(&entry, &table[low], sizeof(entry));
  if (entry.initialLocation > target) return false;
  const uintptr_t fdeAddress = ehFrameHdr + entry.fde;
  if (cieCache) {
    if (!cachedCIE(fdeAddress, cieCache, &pair->cie) ||
        !MVXDwarfParseFDERecord(&pair->fde, false, &pair->cie, fdeAddress)) {
      return false;
    }
  } else if (!MVXDwarfParseFDERecord(&pair->fde, true, &pair->cie, fdeAddress)) {
    return false;
  }
  return pc >= pair->fde.pcBegin && pc - pair->fde.pcBegin < pair->fde.addressRange;
}

namespace {

bool setRule(MVXDwarfState* state, uint64_t reg, uint32_t kind, uint64_t value,
             const char* errorFormat) {
  if (!validRegister(reg)) {
    if (::tw::unwind_detail::gLog) ::tw::unwind_detail::gLog(errorFormat, "setRule", __LINE__);
    return false;
  }
  state->registers[reg] = {kind, value};
  return true;
}

}  // namespace

bool MVXDwarfInstructionsEnumerate(MVXDwarfInstructions instructions, const MVXDwarfCIERecord* cie,
                                   MVXDwarfState* state, int64_t pcOffset,
                                   const MVXDwarfState* initial, uintptr_t pcBegin) {
  if (!cie || !state) return false;
  uintptr_t cursor = instructions.data;
  const uintptr_t end = instructions.data + instructions.length;
  MVX_UNWIND_LOG("WARN  [%s:%d] Running instructions from %p to %p\n",
                 // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                 reinterpret_cast<void*>(cursor), reinterpret_cast<void*>(end));
  if (instructions.length == 0 || pcOffset < 0) return true;
  if (!MVXIsValidPointer(cursor)) return false;

  MVXDwarfState remembered[kRememberDepth];
  int rememberDepth = 0;
  uint64_t location = 0;
  const uint64_t limit = static_cast<uint64_t>(pcOffset);
  const uint64_t caf = cie->codeAlignmentFactor;
  const int64_t daf = cie->dataAlignmentFactor;

  // A row applies from its location on: an advance that would move past pcOffset ends the run.
  auto advance = [&](uint64_t delta) {
    location += delta * caf;
    return location <= limit;
  };

  while (cursor < end) {
    const uint8_t opcode = MVXDwarfReadU8(&cursor);
    const uint8_t operand = opcode & 0x3F;
    bool ok = true;
    switch (opcode & 0xC0) {
      case 0x40:
        MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_advance_loc %u\n", operand);
        if (!advance(operand)) return true;
        continue;
      case 0x80: {
        const int64_t offset = static_cast<int64_t>(MVXDwarfReadULEB128(&cursor)) * daf;
        MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_offset %u, %lld\n", operand, (long long)offset);
        ok = setRule(state, operand, kMVXDwarfRuleOffset, static_cast<uint64_t>(offset),
                     "WARN  [%s:%d] Error: Found an invalid DW_CFA_offset register number\n");
        break;
      }
      case 0xC0:
        MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_restore %u\n", operand);
        if (!validRegister(operand)) {
          ok = false;
          MVX_UNWIND_LOG("WARN  [%s:%d] Error: Found an invalid DW_CFA_restore register number\n");
        } else {
          state->registers[operand] =
              initial ? initial->registers[operand] : MVXDwarfRegisterRule{0, 0};
        }
        break;
      default:
        switch (opcode) {
          case 0x00:  // nop
            break;
          case 0x01: {
            uintptr_t address =
                MVXParseAddressWithEncodingAndAdvance(&cursor, cie->pointerEncoding);
            // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_set_loc %p\n", reinterpret_cast<void*>(address));
            if (address == kMVXDwarfInvalidAddress) return false;
            // The operand is an address; rows count from the function's start.
            location = address - pcBegin;
            if (location > limit) return true;
            break;
          }
          case 0x02:
            if (!advance(MVXDwarfReadU8(&cursor))) return true;
            break;
          case 0x03:
            if (!advance(MVXDwarfReadU16(&cursor))) return true;
            break;
          case 0x04:
            if (!advance(MVXDwarfReadU32(&cursor))) return true;
            break;
          case 0x05:
          case 0x11:
          case 0x14:
          case 0x15:
          case 0x2F: {
            const uint64_t reg = MVXDwarfReadULEB128(&cursor);
            const bool isSigned = opcode == 0x11 || opcode == 0x15;
            int64_t offset = isSigned ? MVXDwarfReadSLEB128(&cursor)
                                      : static_cast<int64_t>(MVXDwarfReadULEB128(&cursor));
            offset *= daf;
            if (opcode == 0x2F) offset = -offset;
            const uint32_t kind =
                (opcode == 0x14 || opcode == 0x15) ? kMVXDwarfRuleValOffset : kMVXDwarfRuleOffset;
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_offset_extended 0x%x %llu, %lld\n", opcode,
                           (unsigned long long)reg, (long long)offset);
            ok = setRule(state, reg, kind, static_cast<uint64_t>(offset),
                         "WARN  [%s:%d] Error: Found an invalid DW_CFA_offset register number\n");
            break;
          }
          case 0x06: {
            const uint64_t reg = MVXDwarfReadULEB128(&cursor);
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_restore_extended %llu\n", (unsigned long long)reg);
            ok = validRegister(reg);
            if (ok) {
              state->registers[reg] =
                  initial ? initial->registers[reg] : MVXDwarfRegisterRule{0, 0};
            } else {
              MVX_UNWIND_LOG(
                  "WARN  [%s:%d] Error: Found an invalid DW_CFA_restore register number\n");
            }
            break;
          }
          case 0x07: {
            const uint64_t reg = MVXDwarfReadULEB128(&cursor);
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_undefined %llu\n", (unsigned long long)reg);
            ok =
                setRule(state, reg, kMVXDwarfRuleUndefined, 0,
                        "WARN  [%s:%d] Error: Found an invalid DW_CFA_undefined register number\n");
            break;
          }
          case 0x08: {
            const uint64_t reg = MVXDwarfReadULEB128(&cursor);
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_same_value %llu\n", (unsigned long long)reg);
            ok = setRule(
                state, reg, kMVXDwarfRuleUnchanged, 0,
                "WARN  [%s:%d] Error: Found an invalid DW_CFA_same_value register number\n");
            break;
          }
          case 0x09: {
            const uint64_t reg = MVXDwarfReadULEB128(&cursor);
            const uint64_t source = MVXDwarfReadULEB128(&cursor);
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_register %llu, %llu\n", (unsigned long long)reg,
                           (unsigned long long)source);
            if (!validRegister(source)) {
              MVX_UNWIND_LOG("WARN  [%s:%d] Error: Found an invalid DW_CFA_register value\n");
              ok = false;
            } else {
              ok = setRule(state, reg, kMVXDwarfRuleRegister, source,
                           "WARN  [%s:%d] Error: Found an invalid DW_CFA_register number\n");
            }
            break;
          }
          case 0x0A:
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_remember_state\n");
            if (rememberDepth == kRememberDepth) {
              ok = false;
            } else {
              remembered[rememberDepth++] = *state;
            }
            break;
          case 0x0B:
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_restore_state\n");
            if (rememberDepth == 0) {
              ok = false;
            } else {
              *state = remembered[--rememberDepth];
            }
            break;
          case 0x0C:
          case 0x12: {
            const uint64_t reg = MVXDwarfReadULEB128(&cursor);
            const uint64_t offset = opcode == 0x0C
                                        ? MVXDwarfReadULEB128(&cursor)
                                        : static_cast<uint64_t>(MVXDwarfReadSLEB128(&cursor) * daf);
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_def_cfa %llu, %lld\n", (unsigned long long)reg,
                           (long long)offset);
            if (!validRegister(reg)) {
              MVX_UNWIND_LOG(
                  "WARN  [%s:%d] Error: Found an invalid DW_CFA_def_cfa register number\n");
              ok = false;
            } else {
              state->cfaRegister = reg;
              state->cfaOffset = offset;
              state->cfaExpression = 0;
            }
            break;
          }
          case 0x0D: {
            const uint64_t reg = MVXDwarfReadULEB128(&cursor);
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_def_cfa_register %llu\n", (unsigned long long)reg);
            if (!validRegister(reg)) {
              MVX_UNWIND_LOG(
                  "WARN  [%s:%d] Error: Found an invalid DW_CFA_def_cfa_register register "
                  "number\n");
              ok = false;
            } else {
              state->cfaRegister = reg;
              state->cfaExpression = 0;
            }
            break;
          }
          case 0x0E:
          case 0x13: {
            const uint64_t offset = opcode == 0x0E
                                        ? MVXDwarfReadULEB128(&cursor)
                                        : static_cast<uint64_t>(MVXDwarfReadSLEB128(&cursor) * daf);
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_def_cfa_offset %lld\n", (long long)offset);
            state->cfaOffset = offset;
            break;
          }
          case 0x0F: {
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_def_cfa_expression\n");
            state->cfaRegister = kMVXDwarfCFAExpressionRegister;
            state->cfaExpression = cursor;
            const uint64_t length = MVXDwarfReadULEB128(&cursor);
            cursor += length;
            break;
          }
          case 0x10:
          case 0x16: {
            const uint64_t reg = MVXDwarfReadULEB128(&cursor);
            const uintptr_t block = cursor;
            const uint64_t length = MVXDwarfReadULEB128(&cursor);
            cursor += length;
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_expression 0x%x %llu\n", opcode,
                           (unsigned long long)reg);
            ok = setRule(
                state, reg, opcode == 0x10 ? kMVXDwarfRuleExpression : kMVXDwarfRuleValExpression,
                block,
                opcode == 0x10
                    ? "WARN  [%s:%d] Error: Found an invalid DW_CFA_expression register number\n"
                    : "WARN  [%s:%d] Error: Found an invalid DW_CFA_val_expression register "
                      "number\n");
            break;
          }
          case 0x2E: {
            const uint64_t size = MVXDwarfReadULEB128(&cursor);
            MVX_UNWIND_LOG("WARN  [%s:%d] DW_CFA_GNU_args_size %llu\n", (unsigned long long)size);
            break;
          }
          case 0x2D:
            MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unimplemented DWARF instruction 0x%x\n", opcode);
            return false;
          default:
            MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unrecognized DWARF instruction 0x%x\n", opcode);
            ok = false;
            break;
        }
    }
    if (!ok) {
      MVX_UNWIND_LOG("WARN  [%s:%d] Error: Failed to execute dwarf instruction 0x%x\n", opcode);
      return false;
    }
  }
  return true;
}

bool MVXDwarfComputeStateForPC(const MVXDwarfCIEFDEPair* pair, uintptr_t pc, MVXDwarfState* state) {
  if (!pair || !state) return false;
  std::memset(state, 0, sizeof(*state));
  if (!MVXDwarfInstructionsEnumerate({pair->cie.instructions, pair->cie.instructionsLength},
                                     &pair->cie, state, INT64_MAX)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unable to run CIE instructions\n");
    return false;
  }
  const int64_t pcOffset = static_cast<int64_t>(pc - pair->fde.pcBegin);
  if (pcOffset < 0) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: The FDE pcOffset value cannot be negative\n");
    return false;
  }
  const MVXDwarfState initial = *state;
  if (!MVXDwarfInstructionsEnumerate({pair->fde.instructions, pair->fde.instructionsLength},
                                     &pair->cie, state, pcOffset, &initial, pair->fde.pcBegin)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unable to run FDE instructions\n");
    return false;
  }
  return true;
}

bool MVXDwarfGetCFA(const MVXDwarfState* state, const MVXThreadState64* registers, uint64_t* out) {
  if (!state || !registers || !out) return false;
  if (state->cfaRegister != kMVXDwarfCFAExpressionRegister) {
    if (!validRegister(state->cfaRegister)) return false;
    *out = MVXDwarfUnwindGetRegisterValue(registers, state->cfaRegister) + state->cfaOffset;
    return true;
  }
  if (!MVXDwarfEvalulateExpression(state->cfaExpression, registers, 0, out)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: failed to compute CFA expression\n");
    return false;
  }
  return true;
}

uint64_t MVXDwarfGetSavedRegister(const MVXThreadState64* registers, uint64_t cfa,
                                  MVXDwarfRegisterRule rule) {
  MVX_UNWIND_LOG("WARN  [%s:%d] Getting register %x\n", rule.kind);
  uint64_t value = 0;
  switch (rule.kind) {
    case kMVXDwarfRuleOffset:
      if (!MVXUnwindReadMemory(cfa + rule.value, &value, sizeof(value))) {
        MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unable to read CFA value\n");
        return 0;
      }
      return value;
    case kMVXDwarfRuleValOffset:
      return cfa + rule.value;
    case kMVXDwarfRuleRegister:
      return MVXDwarfUnwindGetRegisterValue(registers, rule.value);
    case kMVXDwarfRuleExpression:
    case kMVXDwarfRuleValExpression: {
      uint64_t result = 0;
      if (!MVXDwarfEvalulateExpression(rule.value, registers, cfa, &result)) {
        MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to evaluate expression\n");
        return 0;
      }
      if (rule.kind == kMVXDwarfRuleValExpression) return result;
      if (!MVXUnwindReadMemory(result, &value, sizeof(value))) {
        MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unable to read memory computed from expression\n");
        return 0;
      }
      return value;
    }
    case kMVXDwarfRuleUndefined:
      return 0;
    default:
      MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unrecognized register save location 0x%x\n", rule.kind);
      return 0;
  }
}

bool MVXDwarfUnwindAssignRegisters(const MVXDwarfState* state, const MVXThreadState64* registers,
                                   uint64_t cfa, MVXThreadState64* out) {
  if (!state || !registers || !out) return false;
  MVXThreadState64 result = *registers;
  for (uint64_t reg = 0; reg < kMVXDwarfRegisterCount; ++reg) {
    const MVXDwarfRegisterRule rule = state->registers[reg];
    if (rule.kind == kMVXDwarfRuleUnchanged) continue;
    MVXDwarfUnwindSetRegisterValue(&result, reg, MVXDwarfGetSavedRegister(registers, cfa, rule));
  }
  if (!MVXDwarfUnwindSetRegisterValue(&result, 7, cfa)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unable to restore SP value\n");
    return false;
  }
  if (result.rsp == registers->rsp) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: Stack pointer hasn't changed\n");
    return false;
  }
  // An undefined return address is the outermost frame: the walk ends there, quietly.
  if (result.rip == registers->rip && state->registers[16].kind != kMVXDwarfRuleUndefined) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: PC hasn't changed\n");
    return false;
  }
  *out = result;
  return true;
}

bool MVXDwarfUnwindComputeRegisters(const MVXDwarfCIEFDEPair* pair, MVXUnwindContext* context) {
  if (!pair || !context) return false;
  MVXDwarfState state;
  if (!MVXDwarfComputeStateForPC(pair, context->registers.ss.rip, &state)) return false;
  return MVXDwarfUnwindApplyState(&state, pair->cie.signalFrame, context);
}

bool MVXDwarfUnwindApplyState(const MVXDwarfState* rules, bool signalFrame,
                              MVXUnwindContext* context) {
  if (!rules || !context) return false;
  const MVXDwarfState& state = *rules;
  const MVXThreadState64 incoming = context->registers.ss;
  uint64_t cfa = 0;
  if (!MVXDwarfGetCFA(&state, &incoming, &cfa)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: failed to get CFA\n");
    return false;
  }
  MVXThreadState64 result;
  if (!MVXDwarfUnwindAssignRegisters(&state, &incoming, cfa, &result)) {
    MVX_UNWIND_LOG("ERROR [%s:%d] Error: Unable to assign DWARF registers\n");
    return false;
  }
  context->registers.ss = result;
  context->pcIsExact = signalFrame;
  return true;
}

// --- Expressions -----------------------------------------------------------------------------

namespace {

bool push(MVXDwarfExpressionMachine* m, uint64_t value) {
  if (m->stackPointer < 0 || m->stackPointer >= kMVXDwarfExpressionStackSize) {
    m->stackPointer = -1;
    return false;
  }
  m->stack[m->stackPointer++] = value;
  return true;
}

bool pop(MVXDwarfExpressionMachine* m, uint64_t* value) {
  if (m->stackPointer <= 0) {
    m->stackPointer = -1;
    return false;
  }
  *value = m->stack[--m->stackPointer];
  return true;
}

bool peek(MVXDwarfExpressionMachine* m, int depth, uint64_t* value) {
  if (m->stackPointer <= depth) {
    m->stackPointer = -1;
    return false;
  }
  *value = m->stack[m->stackPointer - 1 - depth];
  return true;
}

}  // namespace

bool MVXDwarfExpressionMachineInit(MVXDwarfExpressionMachine* machine, uintptr_t address,
                                   const MVXThreadState64* registers, uint64_t initialValue) {
  if (!machine || !MVXIsValidPointer(address)) return false;
  machine->stackPointer = 0;
  machine->cursor = address;
  machine->start = address;
  machine->end = 0;
  machine->registers = registers;
  return push(machine, initialValue);
}

bool MVXDwarfExpressionMachinePrepareForExecution(MVXDwarfExpressionMachine* machine) {
  if (!machine) return false;
  const uint64_t length = MVXDwarfReadULEB128(&machine->cursor);
  if (length == 0) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: DWARF expression length is zero\n");
    return false;
  }
  machine->start = machine->cursor;
  machine->end = machine->cursor + length;
  return true;
}

bool MVXDwarfExpressionMachineIsFinished(const MVXDwarfExpressionMachine* machine) {
  if (!machine) return true;
  if (!MVXIsValidPointer(machine->cursor) || !MVXIsValidPointer(machine->end)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: DWARF machine pointers invalid\n");
    return true;
  }
  if (machine->stackPointer < 0) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: DWARF machine stack invalid\n");
    return true;
  }
  return machine->cursor >= machine->end;
}

bool MVXDwarfExpressionMachineExecuteNextOpcode(MVXDwarfExpressionMachine* m) {
  if (!m) return false;
  const uint8_t opcode = MVXDwarfReadU8(&m->cursor);
  uint64_t a = 0, b = 0, c = 0;
  if (opcode >= 0x30 && opcode <= 0x4F) {
    MVX_UNWIND_LOG("WARN  [%s:%d] DW_OP_lit%u\n", opcode - 0x30);
    return push(m, opcode - 0x30);
  }
  if (opcode >= 0x70 && opcode <= 0x8F) {
    const uint64_t reg = opcode - 0x70;
    const int64_t offset = MVXDwarfReadSLEB128(&m->cursor);
    MVX_UNWIND_LOG("WARN  [%s:%d] DW_OP_breg%u %lld\n", unsigned(reg), (long long)offset);
    if (!validRegister(reg) || !m->registers) {
      MVX_UNWIND_LOG("WARN  [%s:%d] Error: DW_OP_breg invalid register number\n");
      return false;
    }
    return push(m, MVXDwarfUnwindGetRegisterValue(m->registers, reg) + offset);
  }
  auto binary = [&](auto op) {
    if (!pop(m, &b) || !pop(m, &a)) return false;
    return push(m, op(a, b));
  };
  switch (opcode) {
    case 0x03:  // addr
      return push(m, MVXDwarfReadU64(&m->cursor));
    case 0x06:
      MVX_UNWIND_LOG("WARN  [%s:%d] DW_OP_deref\n");
      if (!pop(m, &a)) return false;
      if (!MVXUnwindReadMemory(a, &b, sizeof(b))) {
        MVX_UNWIND_LOG("WARN  [%s:%d] Error: DW_OP_deref failed to read memory\n");
        return false;
      }
      return push(m, b);
    case 0x08:
      return push(m, MVXDwarfReadU8(&m->cursor));
    case 0x09:
      return push(m,
                  static_cast<uint64_t>(int64_t(static_cast<int8_t>(MVXDwarfReadU8(&m->cursor)))));
    case 0x0A:
      return push(m, MVXDwarfReadU16(&m->cursor));
    case 0x0B:
      return push(
          m, static_cast<uint64_t>(int64_t(static_cast<int16_t>(MVXDwarfReadU16(&m->cursor)))));
    case 0x0C:
      return push(m, MVXDwarfReadU32(&m->cursor));
    case 0x0D:
      return push(
          m, static_cast<uint64_t>(int64_t(static_cast<int32_t>(MVXDwarfReadU32(&m->cursor)))));
    case 0x0E:
    case 0x0F:
      return push(m, MVXDwarfReadU64(&m->cursor));
    case 0x10:
      return push(m, MVXDwarfReadULEB128(&m->cursor));
    case 0x11:
      return push(m, static_cast<uint64_t>(MVXDwarfReadSLEB128(&m->cursor)));
    case 0x12:
      MVX_UNWIND_LOG("WARN  [%s:%d] DW_OP_dup\n");
      return peek(m, 0, &a) && push(m, a);
    case 0x13:
      return pop(m, &a);
    case 0x14:
      return peek(m, 1, &a) && push(m, a);
    case 0x15: {
      const uint8_t index = MVXDwarfReadU8(&m->cursor);
      return peek(m, index, &a) && push(m, a);
    }
    case 0x16:
      MVX_UNWIND_LOG("WARN  [%s:%d] DW_OP_swap\n");
      if (!pop(m, &a) || !pop(m, &b)) return false;
      return push(m, a) && push(m, b);
    case 0x17:  // rot: top three, the top moves to third
      if (!pop(m, &a) || !pop(m, &b) || !pop(m, &c)) return false;
      return push(m, a) && push(m, c) && push(m, b);
    case 0x19:
      if (!pop(m, &a)) return false;
      return push(m, static_cast<int64_t>(a) < 0 ? -a : a);
    case 0x1A:
      MVX_UNWIND_LOG("WARN  [%s:%d] DW_OP_and\n");
      return binary([](uint64_t x, uint64_t y) { return x & y; });
    case 0x1B:
      if (!pop(m, &b) || !pop(m, &a) || b == 0) return false;
      return push(m, static_cast<uint64_t>(static_cast<int64_t>(a) / static_cast<int64_t>(b)));
    case 0x1C:
      return binary([](uint64_t x, uint64_t y) { return x - y; });
    case 0x1D:
      if (!pop(m, &b) || !pop(m, &a) || b == 0) return false;
      return push(m, a % b);
    case 0x1E:
      return binary([](uint64_t x, uint64_t y) { return x * y; });
    case 0x1F:
      if (!pop(m, &a)) return false;
      return push(m, -a);
    case 0x20:
      if (!pop(m, &a)) return false;
      return push(m, ~a);
    case 0x21:
      return binary([](uint64_t x, uint64_t y) { return x | y; });
    case 0x22:
      MVX_UNWIND_LOG("WARN  [%s:%d] DW_OP_plus\n");
      return binary([](uint64_t x, uint64_t y) { return x + y; });
    case 0x23:
      MVX_UNWIND_LOG("WARN  [%s:%d] DW_OP_plus_uconst\n");
      if (!pop(m, &a)) return false;
      return push(m, a + MVXDwarfReadULEB128(&m->cursor));
    case 0x24:
      return binary([](uint64_t x, uint64_t y) { return y < 64 ? x << y : 0; });
    case 0x25:
      return binary([](uint64_t x, uint64_t y) { return y < 64 ? x >> y : 0; });
    case 0x26:
      return binary([](uint64_t x, uint64_t y) {
        return static_cast<uint64_t>(static_cast<int64_t>(x) >> (y < 64 ? y : 63));
      });
    case 0x27:
      return binary([](uint64_t x, uint64_t y) { return x ^ y; });
    case 0x28: {  // bra
      const int16_t skip = static_cast<int16_t>(MVXDwarfReadU16(&m->cursor));
      if (!pop(m, &a)) return false;
      if (a != 0) m->cursor += skip;
      return m->cursor >= m->start && m->cursor <= m->end;
    }
    case 0x29:
      return binary([](uint64_t x, uint64_t y) -> uint64_t { return int64_t(x) == int64_t(y); });
    case 0x2A:
      return binary([](uint64_t x, uint64_t y) -> uint64_t { return int64_t(x) >= int64_t(y); });
    case 0x2B:
      return binary([](uint64_t x, uint64_t y) -> uint64_t { return int64_t(x) > int64_t(y); });
    case 0x2C:
      return binary([](uint64_t x, uint64_t y) -> uint64_t { return int64_t(x) <= int64_t(y); });
    case 0x2D:
      return binary([](uint64_t x, uint64_t y) -> uint64_t { return int64_t(x) < int64_t(y); });
    case 0x2E:
      MVX_UNWIND_LOG("WARN  [%s:%d] DW_OP_ne\n");
      return binary([](uint64_t x, uint64_t y) -> uint64_t { return x != y; });
    case 0x2F: {  // skip
      const int16_t skip = static_cast<int16_t>(MVXDwarfReadU16(&m->cursor));
      m->cursor += skip;
      return m->cursor >= m->start && m->cursor <= m->end;
    }
    case 0x94: {
      MVX_UNWIND_LOG("WARN  [%s:%d] DW_OP_deref_size\n");
      if (!pop(m, &a)) return false;
      const uint8_t size = MVXDwarfReadU8(&m->cursor);
      if (size != 1 && size != 2 && size != 4 && size != 8) {
        MVX_UNWIND_LOG("WARN  [%s:%d] Error: unrecognized DW_OP_deref_size argument %x\n", size);
        return false;
      }
      b = 0;
      if (!MVXUnwindReadMemory(a, &b, size)) {
        MVX_UNWIND_LOG("WARN  [%s:%d] Error: DW_OP_deref failed to read memory\n");
        return false;
      }
      return push(m, b);
    }
    case 0x96:  // nop
      return true;
    default:
      MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unrecognized DWARF expression opcode 0x%x\n", opcode);
      return false;
  }
}

bool MVXDwarfExpressionMachineGetResult(const MVXDwarfExpressionMachine* machine, uint64_t* out) {
  if (!machine || !out) return false;
  if (machine->cursor != machine->end) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: DWARF expression hasn't completed execution\n");
    return false;
  }
  if (machine->stackPointer <= 0) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: failed to get DWARF expression result\n");
    return false;
  }
  *out = machine->stack[machine->stackPointer - 1];
  return true;
}

bool MVXDwarfEvalulateExpression(uintptr_t address, const MVXThreadState64* registers,
                                 uint64_t initialValue, uint64_t* out) {
  MVX_UNWIND_LOG("WARN  [%s:%d] starting at %p with initial value %lx\n",
                 // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                 reinterpret_cast<void*>(address), (unsigned long)initialValue);
  if (!MVXIsValidPointer(address) || !MVXIsValidPointer(reinterpret_cast<uintptr_t>(out))) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: inputs invalid\n");
    return false;
  }
  MVXDwarfExpressionMachine machine;
  if (!MVXDwarfExpressionMachineInit(&machine, address, registers, initialValue)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to init DWARF expression machine\n");
    return false;
  }
  if (!MVXDwarfExpressionMachinePrepareForExecution(&machine)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: unable to prepare for execution\n");
    return false;
  }
  // A backward branch can loop; no expression in a call-frame table runs this long.
  for (int steps = 0; !MVXDwarfExpressionMachineIsFinished(&machine); ++steps) {
    if (steps > 100000 || !MVXDwarfExpressionMachineExecuteNextOpcode(&machine)) {
      MVX_UNWIND_LOG("WARN  [%s:%d] Error: failed to execute DWARF machine opcode\n");
      return false;
    }
  }
  if (!MVXDwarfExpressionMachineGetResult(&machine, out)) return false;
  MVX_UNWIND_LOG("WARN  [%s:%d] successfully computed expression result\n");
  return true;
}
