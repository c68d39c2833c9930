#include "kits/platform/macho/tests/MachOTestSupport.h"

#include <fstream>
#include <iterator>
#include <memory>

#include "kits/platform/macho/MVXMachO.h"
#include "kits/platform/macho/MVXMachOBinary.h"

namespace tw::test {

const std::filesystem::path& machoFixtures() {
  static const std::filesystem::path dir = TW_MACHO_FIXTURES;
  return dir;
}

const nlohmann::json& machoOracle() {
  static const nlohmann::json oracle = [] {
    std::ifstream in(machoFixtures() / "oracle.json");
    if (!in) return nlohmann::json::object();
    return nlohmann::json::parse(in);
  }();
  return oracle;
}

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> image64(const std::vector<std::vector<uint8_t>>& commands, uint32_t fileType) {
  std::vector<uint8_t> b;
  uint32_t sizeofcmds = 0;
  for (const auto& c : commands) sizeofcmds += static_cast<uint32_t>(c.size());
  put32(b, MH_MAGIC_64);
  put32(b, static_cast<uint32_t>(tw::macho::kCpuTypeX86_64));
  put32(b, 3);
  put32(b, fileType);
  put32(b, static_cast<uint32_t>(commands.size()));
  put32(b, sizeofcmds);
  put32(b, 0);
  put32(b, 0);
  for (const auto& c : commands) b.insert(b.end(), c.begin(), c.end());
  return b;
}

namespace {

size_t exerciseSlice(MVXMachOSliceRef slice) {
  size_t delivered = 0;
  volatile uint64_t sink = 0;
  (void)MVXMachOSliceGetArchitectureName(slice);
  MVXMachOSliceEnumerateLoadCommands(
      &slice, [&](uint32_t cmd, uint32_t cmdsize, const void* original) {
        ++delivered;
        // Decoded from an exact-size copy, so that a read past the command's end is seen too.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[cmdsize]);
        std::memcpy(copy.get(), original, cmdsize);
        const void* command = copy.get();
        MVXMachOSegment segment = MVXMachOGetSegmentInfo(command);
        sink = sink + segment.vmaddr + segment.vmsize + static_cast<uint8_t>(segment.segname[15]);
        switch (cmd) {
          case LC_UUID:
            sink = sink + MVXMachOFormatUUID(MVXMachOGetUUID(command)).size();
            break;
          case LC_LOAD_DYLIB:
            sink = sink + std::string(MVXMachOGetDylibName(command)).size();
            break;
          case LC_ENCRYPTION_INFO:
            sink = sink + MVXMachOIsEncrypted(command);
            break;
          case LC_VERSION_MIN_MACOSX:
          case LC_VERSION_MIN_IPHONEOS:
          case LC_VERSION_MIN_TVOS:
          case LC_VERSION_MIN_WATCHOS: {
            MVXMachOVersion v = MVXMachOGetMinimumOSVersion(command);
            MVXMachOVersion s = MVXMachOGetLinkedSDKVersion(command);
            sink = sink + v.major + s.patch + MVXMachOFormatVersion(&v)->size();
            break;
          }
          default:
            break;
        }
      });
  static const char* kSections[][2] = {{"__TEXT", "__text"},
                                       {"__TEXT", "__unwind_info"},
                                       {"__TEXT", "__eh_frame"},
                                       {"__DATA", "__data"},
                                       {"__DWARF", "__debug_info"}};
  for (const auto& names : kSections) {
    const void* data = nullptr;
    MVXMachOSection section;
    if (MVXMachOSliceGetSectionData(&slice, names[0], names[1], &data) &&
        MVXMachOSliceGetSectionByName(&slice, names[0], names[1], &section) && section.size > 0) {
      // The section's bytes must be readable: touch the first and the last.
      const auto* p = static_cast<const uint8_t*>(data);
      sink = sink + p[0] + p[section.size - 1];
    }
  }
  return delivered;
}

}  // namespace

size_t exerciseReader(const std::vector<uint8_t>& bytes, const std::filesystem::path* path) {
  // An exact-size heap copy, so that the address sanitizer sees any read past the end.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  size_t delivered = 0;
  MVXMachOEnumerateSlicesAtAddress(
      copy.get(), [&](MVXMachOSliceRef slice) { delivered += exerciseSlice(slice); }, bytes.size());
  if (path) {
    writeBytes(*path, bytes);
    if (auto binary = MVXMachOBinary::createWithURL(*path)) {
      (void)binary->instanceIdentifier();
      for (const auto& slice : binary->slices()) (void)slice->linkedDylibs().size();
    }
  }
  return delivered;
}

}  // namespace tw::test
