#pragma once
// The Mach-O reader: plain functions over Mach-O files mapped read-only from disk (thin or fat)
// and over Mach-O images laid out in this process's memory (see tw::MachOImageList). They give
// the slices of a file by architecture, walk load commands and decode the few commands the kits
// need.
//
// Bytes from a file are untrusted: every slice, load command, section and name is bounded by the
// mapping, a command smaller than 8 bytes ends the walk, and a command of a decoded kind that is
// too small for its layout (or whose name does not end inside it) is not handed to the block, so
// the decoders below never read past a command the walk delivered.
//
// No shared state, no locks. The functions on slices, the walk and the command decoders allocate
// nothing and may run while the process is crashing; the text formatters and the architecture
// lookup are for normal running. Records are owned by the caller; any thread.

#include <cstdint>
#include <optional>
#include <string>

#include "kits/platform/macho/FunctionRef.h"

// ----- on-disk constants that decide the reader's branches

inline constexpr uint32_t FAT_MAGIC = 0xcafebabe;
inline constexpr uint32_t FAT_CIGAM = 0xbebafeca;
inline constexpr uint32_t MH_MAGIC = 0xfeedface;
inline constexpr uint32_t MH_CIGAM = 0xcefaedfe;
inline constexpr uint32_t MH_MAGIC_64 = 0xfeedfacf;
inline constexpr uint32_t MH_CIGAM_64 = 0xcffaedfe;

inline constexpr int32_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr int32_t CPU_TYPE_ARM = 12;
inline constexpr int32_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;

inline constexpr uint32_t LC_SEGMENT = 0x1;
inline constexpr uint32_t LC_LOAD_DYLIB = 0xc;
inline constexpr uint32_t LC_SEGMENT_64 = 0x19;
inline constexpr uint32_t LC_UUID = 0x1b;
inline constexpr uint32_t LC_ENCRYPTION_INFO = 0x21;
inline constexpr uint32_t LC_VERSION_MIN_MACOSX = 0x24;
inline constexpr uint32_t LC_VERSION_MIN_IPHONEOS = 0x25;
inline constexpr uint32_t LC_VERSION_MIN_TVOS = 0x2f;
inline constexpr uint32_t LC_VERSION_MIN_WATCHOS = 0x30;

namespace tw::macho {

// The rest of the format this reader needs, with the layouts it reads. Every field is read with
// memcpy at its offset (slices and commands in a file need not be aligned).
inline constexpr int32_t kCpuTypeX86 = 7;
inline constexpr int32_t kCpuTypeX86_64 = kCpuTypeX86 | CPU_ARCH_ABI64;
inline constexpr int32_t kCpuTypeArm64_32 = CPU_TYPE_ARM | 0x02000000;
inline constexpr int32_t kCpuTypePowerPC = 18;
inline constexpr int32_t kCpuTypePowerPC64 = kCpuTypePowerPC | CPU_ARCH_ABI64;
// The high byte of a subtype carries capability bits (pointer authentication, 64-bit libraries).
inline constexpr uint32_t kCpuSubtypeCapabilityMask = 0xff000000;
inline constexpr uint32_t kFileTypeObject = 0x1;  // MH_OBJECT: all sections in one segment

struct FatHeader {  // big-endian
  uint32_t magic;
  uint32_t nfatArch;
};
struct FatArch {  // big-endian
  int32_t cpuType;
  int32_t cpuSubtype;
  uint32_t offset;
  uint32_t size;
  uint32_t align;
};
struct MachHeader {  // host order; the 64-bit header adds a reserved word
  uint32_t magic;
  int32_t cpuType;
  int32_t cpuSubtype;
  uint32_t fileType;
  uint32_t ncmds;
  uint32_t sizeofcmds;
  uint32_t flags;
};
inline constexpr uint32_t kHeaderSize32 = 28;
inline constexpr uint32_t kHeaderSize64 = 32;

struct LoadCommand {
  uint32_t cmd;
  uint32_t cmdsize;
};
struct SegmentCommand32 {
  uint32_t cmd, cmdsize;
  char segname[16];
  uint32_t vmaddr, vmsize, fileoff, filesize;
  int32_t maxprot, initprot;
  uint32_t nsects, flags;
};
struct SegmentCommand64 {
  uint32_t cmd, cmdsize;
  char segname[16];
  uint64_t vmaddr, vmsize, fileoff, filesize;
  int32_t maxprot, initprot;
  uint32_t nsects, flags;
};
struct Section32 {
  char sectname[16];
  char segname[16];
  uint32_t addr, size, offset, align, reloff, nreloc, flags, reserved1, reserved2;
};
struct Section64 {
  char sectname[16];
  char segname[16];
  uint64_t addr, size;
  uint32_t offset, align, reloff, nreloc, flags, reserved1, reserved2, reserved3;
};
struct UUIDCommand {
  uint32_t cmd, cmdsize;
  uint8_t uuid[16];
};
struct DylibCommand {
  uint32_t cmd, cmdsize;
  uint32_t nameOffset;  // from the start of the command
  uint32_t timestamp, currentVersion, compatibilityVersion;
};
struct EncryptionInfoCommand {
  uint32_t cmd, cmdsize;
  uint32_t cryptoff, cryptsize, cryptid;
};
struct VersionMinCommand {
  uint32_t cmd, cmdsize;
  uint32_t version, sdk;  // packed major.minor.patch: 16.8.8 bits
};

static_assert(sizeof(FatArch) == 20 && sizeof(MachHeader) == kHeaderSize32);
static_assert(sizeof(SegmentCommand32) == 56 && sizeof(SegmentCommand64) == 72);
static_assert(sizeof(Section32) == 68 && sizeof(Section64) == 80);
static_assert(sizeof(UUIDCommand) == 24 && sizeof(DylibCommand) == 24);
static_assert(sizeof(EncryptionInfoCommand) == 20 && sizeof(VersionMinCommand) == 16);

// Bytes readable from a slice's header when the slice is an image laid out in memory rather than
// a part of a mapped file: the walk then trusts the header's own sizes.
inline constexpr uint64_t kUnboundedSize = UINT64_MAX;

}  // namespace tw::macho

// ----- records

struct MVXMachOFile {
  int32_t fd = -1;                // negative: none
  int64_t size = 0;               // the file's length
  const void* mapping = nullptr;  // read-only shared mapping of the whole file
};

struct MVXMachOSliceRef {
  const void* header = nullptr;  // mach_header or mach_header_64
  int32_t cpuType = 0;
  int32_t cpuSubtype = 0;
  // Bytes readable from `header`: the slice's extent inside a mapped file, or
  // tw::macho::kUnboundedSize for an image laid out in memory.
  uint64_t size = 0;
};

struct MVXMachOSection {
  uint64_t addr = 0;
  uint64_t size = 0;
  uint32_t offset = 0;
};

struct MVXMachOSegment {
  char segname[16] = {};  // as in the command, not necessarily terminated
  uint64_t vmaddr = 0;
  uint64_t vmsize = 0;
};

struct MVXMachOVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
};

using MVXMachOSliceBlock = tw::FunctionRef<void(MVXMachOSliceRef slice)>;
using MVXMachOLoadCommandBlock =
    tw::FunctionRef<void(uint32_t cmd, uint32_t cmdsize, const void* command)>;

// ----- files

bool MVXMachOFileInitWithPath(MVXMachOFile* file, const char* path);
bool MVXMachOFileInitWithCurrentExecutable(MVXMachOFile* file);
void MVXMachOFileDestroy(MVXMachOFile* file);
void MVXMachOFileEnumerateSlices(const MVXMachOFile* file, MVXMachOSliceBlock block);
// `size`: bytes readable from `start` (kUnboundedSize for an image laid out in memory).
void MVXMachOEnumerateSlicesAtAddress(const void* start, MVXMachOSliceBlock block,
                                      uint64_t size = tw::macho::kUnboundedSize);
MVXMachOSliceRef MVXMachOFileSliceForArchitectureName(const MVXMachOFile* file, const char* name);

// ----- slices

void MVXMachOSliceReadHeader(MVXMachOSliceRef* slice, const void** firstCommand, uint32_t* ncmds);
const char* MVXMachOSliceGetArchitectureName(MVXMachOSliceRef slice);
MVXMachOSliceRef MVXMachOSliceGetCurrent();
const char* MVXMachOSliceGetExecutablePath(const MVXMachOSliceRef* slice);
MVXMachOSliceRef MVXMachOSliceWithHeader(const void* header);
bool MVXMachOSliceIs64Bit(const MVXMachOSliceRef* slice);
void MVXMachOSliceEnumerateLoadCommands(MVXMachOSliceRef* slice, MVXMachOLoadCommandBlock block);
bool MVXMachOSliceGetSectionByName(const MVXMachOSliceRef* slice, const char* segname,
                                   const char* sectname, MVXMachOSection* section);
bool MVXMachOSliceGetSectionData(const MVXMachOSliceRef* slice, const char* segname,
                                 const char* sectname, const void** data);
void MVXMachOSliceGetUnwindInformation(const MVXMachOSliceRef* slice, uintptr_t* ehFrame,
                                       uintptr_t* unwindInfo);

// ----- command decoders (for commands the walk delivered)

const uint8_t* MVXMachOGetUUID(const void* command);
const char* MVXMachOGetDylibName(const void* command);
bool MVXMachOIsEncrypted(const void* command);
MVXMachOVersion MVXMachOGetMinimumOSVersion(const void* command);
MVXMachOVersion MVXMachOGetLinkedSDKVersion(const void* command);
MVXMachOSegment MVXMachOGetSegmentInfo(const void* command);

// ----- text (normal running only)

std::string MVXMachOFormatUUID(const uint8_t* uuid);
std::optional<std::string> MVXMachOFormatVersion(const MVXMachOVersion* version);
