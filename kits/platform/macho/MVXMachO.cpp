#include "kits/platform/macho/MVXMachO.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "kits/platform/macho/MachOImageList.h"

using namespace tw::macho;

namespace {

const uint8_t* bytes(const void* p) { return static_cast<const uint8_t*>(p); }

uint32_t load32(const void* p, size_t offset) {
  uint32_t v;
  std::memcpy(&v, bytes(p) + offset, sizeof v);
  return v;
}

uint64_t load64(const void* p, size_t offset) {
  uint64_t v;
  std::memcpy(&v, bytes(p) + offset, sizeof v);
  return v;
}

uint32_t loadBigEndian32(const void* p, size_t offset) {
  const uint8_t* b = bytes(p) + offset;
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | uint32_t{b[3]};
}

// Whether `length` bytes at `offset` lie inside `available` bytes, without overflow.
bool fits(uint64_t available, uint64_t offset, uint64_t length) {
  return offset <= available && length <= available - offset;
}

struct Header {
  uint32_t headerSize = 0;
  int32_t cpuType = 0;
  int32_t cpuSubtype = 0;
  uint32_t fileType = 0;
  uint32_t ncmds = 0;
  uint32_t sizeofcmds = 0;
};

// Fields are read in host order for all four magic values, as the reader always has.
bool parseHeader(const MVXMachOSliceRef& slice, Header* h) {
  if (!slice.header || slice.size < sizeof(uint32_t)) return false;
  switch (load32(slice.header, 0)) {
    case MH_MAGIC:
    case MH_CIGAM:
      h->headerSize = kHeaderSize32;
      break;
    case MH_MAGIC_64:
    case MH_CIGAM_64:
      h->headerSize = kHeaderSize64;
      break;
    default:
      return false;
  }
  if (slice.size < h->headerSize) return false;
  h->cpuType = static_cast<int32_t>(load32(slice.header, offsetof(MachHeader, cpuType)));
  h->cpuSubtype = static_cast<int32_t>(load32(slice.header, offsetof(MachHeader, cpuSubtype)));
  h->fileType = load32(slice.header, offsetof(MachHeader, fileType));
  h->ncmds = load32(slice.header, offsetof(MachHeader, ncmds));
  h->sizeofcmds = load32(slice.header, offsetof(MachHeader, sizeofcmds));
  return true;
}

// Whether a command of a kind the decoders read is large enough for its layout, so that a
// delivered command never makes a decoder read past its end.
bool wellFormed(uint32_t cmd, uint32_t cmdsize, const void* command) {
  switch (cmd) {
    case LC_SEGMENT:
      return cmdsize >= sizeof(SegmentCommand32) &&
             uint64_t{load32(command, offsetof(SegmentCommand32, nsects))} * sizeof(Section32) <=
                 cmdsize - sizeof(SegmentCommand32);
    case LC_SEGMENT_64:
      return cmdsize >= sizeof(SegmentCommand64) &&
             uint64_t{load32(command, offsetof(SegmentCommand64, nsects))} * sizeof(Section64) <=
                 cmdsize - sizeof(SegmentCommand64);
    case LC_UUID:
      return cmdsize >= sizeof(UUIDCommand);
    case LC_LOAD_DYLIB: {
      if (cmdsize < sizeof(DylibCommand)) return false;
      uint32_t nameOffset = load32(command, offsetof(DylibCommand, nameOffset));
      // The name must start after the fixed fields and end with its zero inside the command.
      return nameOffset >= sizeof(DylibCommand) && nameOffset < cmdsize &&
             std::memchr(bytes(command) + nameOffset, 0, cmdsize - nameOffset) != nullptr;
    }
    case LC_ENCRYPTION_INFO:
      return cmdsize >= sizeof(EncryptionInfoCommand);
    case LC_VERSION_MIN_MACOSX:
    case LC_VERSION_MIN_IPHONEOS:
    case LC_VERSION_MIN_TVOS:
    case LC_VERSION_MIN_WATCHOS:
      return cmdsize >= sizeof(VersionMinCommand);
    default:
      return true;
  }
}

// The load-command walk behind MVXMachOSliceEnumerateLoadCommands, bounded by the header's
// sizeofcmds and the slice's extent; `visit` returns false to stop.
template <class Visit>
void walkCommands(MVXMachOSliceRef* slice, const Header& h, Visit&& visit) {
  uint64_t end = std::min<uint64_t>(slice->size, uint64_t{h.headerSize} + h.sizeofcmds);
  uint64_t offset = h.headerSize;
  for (uint32_t i = 0; i < h.ncmds; ++i) {
    if (!fits(end, offset, sizeof(LoadCommand))) return;
    const void* command = bytes(slice->header) + offset;
    uint32_t cmd = load32(command, offsetof(LoadCommand, cmd));
    uint32_t cmdsize = load32(command, offsetof(LoadCommand, cmdsize));
    if (cmdsize < sizeof(LoadCommand) || !fits(end, offset, cmdsize)) return;
    if (wellFormed(cmd, cmdsize, command) && !visit(cmd, cmdsize, command)) return;
    offset += cmdsize;
  }
}

bool nameEquals(const char* field, const char* name) { return std::strncmp(field, name, 16) == 0; }

struct Architecture {
  int32_t cpuType;
  int32_t cpuSubtype;
  const char* name;
};

// Our architecture table, named as the LLVM tools name the slices.
constexpr Architecture kArchitectures[] = {
    {kCpuTypeX86, 3, "i386"},        {kCpuTypeX86_64, 3, "x86_64"},
    {kCpuTypeX86_64, 8, "x86_64h"},  {CPU_TYPE_ARM, 5, "armv4t"},
    {CPU_TYPE_ARM, 6, "armv6"},      {CPU_TYPE_ARM, 7, "armv5e"},
    {CPU_TYPE_ARM, 8, "xscale"},     {CPU_TYPE_ARM, 9, "armv7"},
    {CPU_TYPE_ARM, 11, "armv7s"},    {CPU_TYPE_ARM, 12, "armv7k"},
    {CPU_TYPE_ARM, 14, "armv6m"},    {CPU_TYPE_ARM, 15, "thumbv7m"},
    {CPU_TYPE_ARM, 16, "thumbv7em"}, {CPU_TYPE_ARM64, 0, "arm64"},
    {CPU_TYPE_ARM64, 2, "arm64e"},   {kCpuTypeArm64_32, 1, "arm64_32"},
    {kCpuTypePowerPC, 0, "ppc"},     {kCpuTypePowerPC64, 0, "ppc64"},
};

const char* tableArchitectureName(int32_t cpuType, int32_t cpuSubtype) {
  // A linker may set capability bits in the subtype's high byte (64-bit libraries, pointer
  // authentication); they do not change the architecture.
  uint32_t subtype = static_cast<uint32_t>(cpuSubtype) & ~kCpuSubtypeCapabilityMask;
  for (const Architecture& a : kArchitectures) {
    if (a.cpuType == cpuType && static_cast<uint32_t>(a.cpuSubtype) == subtype) return a.name;
  }
  return nullptr;
}

MVXMachOSliceRef localArchitecture() {
  MVXMachOSliceRef slice;
#if defined(__x86_64__)
  slice.cpuType = kCpuTypeX86_64;
  slice.cpuSubtype = 3;
#elif defined(__aarch64__)
  slice.cpuType = CPU_TYPE_ARM64;
  slice.cpuSubtype = 0;
#elif defined(__i386__)
  slice.cpuType = kCpuTypeX86;
  slice.cpuSubtype = 3;
#endif
  return slice;
}

MVXMachOVersion decodeVersion(uint32_t word) {
  return {word >> 16, (word >> 8) & 0xff, word & 0xff};
}

}  // namespace

// ----- files

bool MVXMachOFileInitWithPath(MVXMachOFile* file, const char* path) {
  if (!file || !path) return false;
  *file = MVXMachOFile{};
  // Non-blocking, so that a FIFO cannot stall the open before the regular-file test below.
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 16) {
    ::close(fd);
    return false;
  }
  void* mapping = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  if (mapping == MAP_FAILED) {
    ::close(fd);
    return false;
  }
  file->fd = fd;
  file->size = st.st_size;
  file->mapping = mapping;
  return true;
}

bool MVXMachOFileInitWithCurrentExecutable(MVXMachOFile* file) {
  MVXMachOSliceRef slice = MVXMachOSliceGetCurrent();
  if (!slice.header) return false;
  const char* path = MVXMachOSliceGetExecutablePath(&slice);
  return path && MVXMachOFileInitWithPath(file, path);
}

void MVXMachOFileDestroy(MVXMachOFile* file) {
  if (!file) return;
  if (file->mapping && file->size > 0) {
    ::munmap(const_cast<void*>(file->mapping), static_cast<size_t>(file->size));
  }
  if (file->fd >= 0) ::close(file->fd);
  *file = MVXMachOFile{};
}

void MVXMachOFileEnumerateSlices(const MVXMachOFile* file, MVXMachOSliceBlock block) {
  if (!file || !file->mapping || file->size <= 0) return;
  MVXMachOEnumerateSlicesAtAddress(file->mapping, block, static_cast<uint64_t>(file->size));
}

void MVXMachOEnumerateSlicesAtAddress(const void* start, MVXMachOSliceBlock block, uint64_t size) {
  if (!start || !block) return;
  uint32_t magic = size >= sizeof(uint32_t) ? load32(start, 0) : 0;
  if (magic == FAT_MAGIC || magic == FAT_CIGAM) {
    if (!fits(size, 0, sizeof(FatHeader))) return;
    uint32_t count = loadBigEndian32(start, offsetof(FatHeader, nfatArch));
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t record = sizeof(FatHeader) + uint64_t{i} * sizeof(FatArch);
      if (!fits(size, record, sizeof(FatArch))) return;
      uint32_t offset = loadBigEndian32(start, record + offsetof(FatArch, offset));
      // A record pointing outside the file names no bytes that could be read.
      if (offset >= size) continue;
      MVXMachOSliceRef slice;
      slice.header = bytes(start) + offset;
      slice.cpuType = static_cast<int32_t>(loadBigEndian32(start, record));
      slice.cpuSubtype =
          static_cast<int32_t>(loadBigEndian32(start, record + offsetof(FatArch, cpuSubtype)));
      slice.size = std::min<uint64_t>(loadBigEndian32(start, record + offsetof(FatArch, size)),
                                      size - offset);
      block(slice);
    }
    return;
  }
  MVXMachOSliceRef slice;
  slice.header = start;
  slice.size = size;
  Header h;
  if (parseHeader(slice, &h)) {
    slice.cpuType = h.cpuType;
    slice.cpuSubtype = h.cpuSubtype;
  }
  block(slice);
}

MVXMachOSliceRef MVXMachOFileSliceForArchitectureName(const MVXMachOFile* file, const char* name) {
  MVXMachOSliceRef found;
  if (!file || !name) return found;
  MVXMachOFileEnumerateSlices(file, [&](MVXMachOSliceRef slice) {
    if (std::strcmp(MVXMachOSliceGetArchitectureName(slice), name) == 0) found = slice;
  });
  return found;
}

// ----- slices

void MVXMachOSliceReadHeader(MVXMachOSliceRef* slice, const void** firstCommand, uint32_t* ncmds) {
  if (firstCommand) *firstCommand = nullptr;
  if (ncmds) *ncmds = 0;
  Header h;
  if (!slice || !parseHeader(*slice, &h)) return;
  slice->cpuType = h.cpuType;
  slice->cpuSubtype = h.cpuSubtype;
  if (firstCommand) *firstCommand = bytes(slice->header) + h.headerSize;
  if (ncmds) *ncmds = h.ncmds;
}

const char* MVXMachOSliceGetArchitectureName(MVXMachOSliceRef slice) {
  // The four names the kits report for their own builds, compared on the whole subtype.
  if (slice.cpuType == CPU_TYPE_ARM) {
    if (slice.cpuSubtype == 11) return "armv7s";
    if (slice.cpuSubtype == 12) return "armv7k";
  } else if (slice.cpuType == CPU_TYPE_ARM64) {
    if (slice.cpuSubtype == 0) return "arm64";
    if (slice.cpuSubtype == 2) return "arm64e";
  }
  const char* name = tableArchitectureName(slice.cpuType, slice.cpuSubtype);
  return name ? name : "unknown";
}

MVXMachOSliceRef MVXMachOSliceGetCurrent() {
  MVXMachOSliceRef slice = localArchitecture();
  tw::MachOImage image;
  if (tw::MachOImageList::mainExecutable(&image)) {
    slice.header = image.header;
    slice.size = image.size;
  }
  return slice;
}

const char* MVXMachOSliceGetExecutablePath(const MVXMachOSliceRef* slice) {
  if (!slice || !slice->header) return nullptr;
  tw::MachOImage image;
  if (tw::MachOImageList::imageContaining(slice->header, &image)) return image.path;
  Dl_info info;
  if (::dladdr(slice->header, &info) != 0 && info.dli_fname) return info.dli_fname;
  return nullptr;
}

MVXMachOSliceRef MVXMachOSliceWithHeader(const void* header) {
  MVXMachOSliceRef slice;
  slice.header = header;
  slice.size = kUnboundedSize;
  // A listed image bounds its own walk.
  tw::MachOImage image;
  if (header && tw::MachOImageList::imageContaining(header, &image)) {
    slice.size = image.size - (bytes(header) - bytes(image.header));
  }
  return slice;
}

bool MVXMachOSliceIs64Bit(const MVXMachOSliceRef* slice) {
  return slice && (slice->cpuType & CPU_ARCH_ABI64) != 0;
}

void MVXMachOSliceEnumerateLoadCommands(MVXMachOSliceRef* slice, MVXMachOLoadCommandBlock block) {
  if (!slice || !block || !slice->header) return;
  const void* first = nullptr;
  uint32_t count = 0;
  MVXMachOSliceReadHeader(slice, &first, &count);
  Header h;
  if (!first || count == 0 || !parseHeader(*slice, &h)) return;
  walkCommands(slice, h, [&](uint32_t cmd, uint32_t cmdsize, const void* command) {
    block(cmd, cmdsize, command);
    return true;
  });
}

bool MVXMachOSliceGetSectionByName(const MVXMachOSliceRef* slice, const char* segname,
                                   const char* sectname, MVXMachOSection* section) {
  if (!slice || !section || !slice->header) return false;
  *section = MVXMachOSection{};
  if (!segname || !sectname) return false;
  Header h;
  if (!parseHeader(*slice, &h)) return false;
  // A slice made from a bare header has no CPU pair until its header is read; its magic then
  // tells the width, so the look-up does not fail for want of a walk beforehand.
  bool is64 = slice->cpuType == 0 ? h.headerSize == kHeaderSize64 : MVXMachOSliceIs64Bit(slice);
  uint32_t segmentCommand = is64 ? LC_SEGMENT_64 : LC_SEGMENT;
  // An object file keeps all its sections in one unnamed segment: there the section's own
  // segment name decides.
  bool anySegment = h.fileType == kFileTypeObject;
  bool found = false;
  MVXMachOSliceRef walked = *slice;
  walkCommands(&walked, h, [&](uint32_t cmd, uint32_t, const void* command) {
    if (cmd != segmentCommand) return true;
    size_t commandSize = is64 ? sizeof(SegmentCommand64) : sizeof(SegmentCommand32);
    size_t sectionSize = is64 ? sizeof(Section64) : sizeof(Section32);
    size_t nsectsAt =
        is64 ? offsetof(SegmentCommand64, nsects) : offsetof(SegmentCommand32, nsects);
    const char* segmentName = reinterpret_cast<const char*>(command) + 8;
    if (!anySegment && !nameEquals(segmentName, segname)) return true;
    uint32_t nsects = load32(command, nsectsAt);
    for (uint32_t i = 0; i < nsects; ++i) {
      const uint8_t* s = bytes(command) + commandSize + size_t{i} * sectionSize;
      if (!nameEquals(reinterpret_cast<const char*>(s), sectname) ||
          !nameEquals(reinterpret_cast<const char*>(s) + 16, segname)) {
        continue;
      }
      if (is64) {
        section->addr = load64(s, offsetof(Section64, addr));
        section->size = load64(s, offsetof(Section64, size));
        section->offset = load32(s, offsetof(Section64, offset));
      } else {
        section->addr = load32(s, offsetof(Section32, addr));
        section->size = load32(s, offsetof(Section32, size));
        section->offset = load32(s, offsetof(Section32, offset));
      }
      found = true;
      return false;
    }
    return true;
  });
  return found;
}

bool MVXMachOSliceGetSectionData(const MVXMachOSliceRef* slice, const char* segname,
                                 const char* sectname, const void** data) {
  MVXMachOSection section;
  if (!data || !MVXMachOSliceGetSectionByName(slice, segname, sectname, &section)) return false;
  // Section bytes named by a file must lie inside the slice.
  if (!fits(slice->size, section.offset, section.size)) return false;
  *data = bytes(slice->header) + section.offset;
  return true;
}

void MVXMachOSliceGetUnwindInformation(const MVXMachOSliceRef* slice, uintptr_t* ehFrame,
                                       uintptr_t* unwindInfo) {
  if ((!ehFrame && !unwindInfo) || !slice || !slice->header) return;
  tw::MachOImage image;
  bool listed = false;
  for (size_t i = 0; tw::MachOImageList::imageAt(i, &image); ++i) {
    if (image.header == slice->header) {
      listed = true;
      break;
    }
  }
  if (!listed) return;
  MVXMachOSection section;
  if (unwindInfo && MVXMachOSliceGetSectionByName(slice, "__TEXT", "__unwind_info", &section)) {
    *unwindInfo = static_cast<uintptr_t>(image.slide) + static_cast<uintptr_t>(section.addr);
  }
  if (ehFrame && MVXMachOSliceGetSectionByName(slice, "__TEXT", "__eh_frame", &section)) {
    *ehFrame = static_cast<uintptr_t>(image.slide) + static_cast<uintptr_t>(section.addr);
  }
}

// ----- command decoders

const uint8_t* MVXMachOGetUUID(const void* command) {
  return command ? bytes(command) + offsetof(UUIDCommand, uuid) : nullptr;
}

const char* MVXMachOGetDylibName(const void* command) {
  if (!command) return nullptr;
  return reinterpret_cast<const char*>(command) +
         load32(command, offsetof(DylibCommand, nameOffset));
}

bool MVXMachOIsEncrypted(const void* command) {
  return command && load32(command, offsetof(EncryptionInfoCommand, cryptid)) != 0;
}

MVXMachOVersion MVXMachOGetMinimumOSVersion(const void* command) {
  return command ? decodeVersion(load32(command, offsetof(VersionMinCommand, version)))
                 : MVXMachOVersion{};
}

MVXMachOVersion MVXMachOGetLinkedSDKVersion(const void* command) {
  return command ? decodeVersion(load32(command, offsetof(VersionMinCommand, sdk)))
                 : MVXMachOVersion{};
}

MVXMachOSegment MVXMachOGetSegmentInfo(const void* command) {
  MVXMachOSegment segment;
  if (!command) return segment;
  uint32_t cmd = load32(command, offsetof(LoadCommand, cmd));
  if (cmd == LC_SEGMENT_64) {
    std::memcpy(segment.segname, bytes(command) + offsetof(SegmentCommand64, segname), 16);
    segment.vmaddr = load64(command, offsetof(SegmentCommand64, vmaddr));
    segment.vmsize = load64(command, offsetof(SegmentCommand64, vmsize));
  } else if (cmd == LC_SEGMENT) {
    std::memcpy(segment.segname, bytes(command) + offsetof(SegmentCommand32, segname), 16);
    segment.vmaddr = load32(command, offsetof(SegmentCommand32, vmaddr));
    segment.vmsize = load32(command, offsetof(SegmentCommand32, vmsize));
  }
  return segment;
}

// ----- text

std::string MVXMachOFormatUUID(const uint8_t* uuid) {
  if (!uuid) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(32, '0');
  for (size_t i = 0; i < 16; ++i) {
    text[2 * i] = kHex[uuid[i] >> 4];
    text[2 * i + 1] = kHex[uuid[i] & 0xf];
  }
  return text;
}

std::optional<std::string> MVXMachOFormatVersion(const MVXMachOVersion* version) {
  if (!version) return std::nullopt;
  return std::to_string(version->major) + "." + std::to_string(version->minor) + "." +
         std::to_string(version->patch);
}
