#include "kits/platform/settings/TSYApplicationIdentiferModel.h"

#include <elf.h>
#include <gnu/libc-version.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "kits/platform/TSYAppInfo.h"

namespace {

constexpr std::uint64_t kMaxNoteBytes = 1 << 20;

MVXMachOVersion parseVersion(const char* text) {
  MVXMachOVersion v;
  if (text) std::sscanf(text, "%u.%u.%u", &v.major, &v.minor, &v.patch);
  return v;
}

std::string architectureName(std::uint16_t machine) {
  switch (machine) {
    case EM_X86_64:
      return "x86_64";
    case EM_AARCH64:
      return "arm64";
    case EM_386:
      return "i386";
    case EM_ARM:
      return "arm";
    default:
      return "elf-" + std::to_string(machine);
  }
}

std::string format(const MVXMachOVersion& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

}  // namespace

std::shared_ptr<TSYApplicationIdentiferModel> TSYApplicationIdentiferModel::create(
    const std::string& installID) {
  return createForExecutable(installID, "/proc/self/exe");
}

std::shared_ptr<TSYApplicationIdentiferModel> TSYApplicationIdentiferModel::createForExecutable(
    const std::string& installID, const std::filesystem::path& executable) {
  auto model = std::make_shared<TSYApplicationIdentiferModel>();
  if (!model->computeExecutableInfo(executable) || !model->computeInstanceIdentifier()) {
    return nullptr;
  }
  model->installID_ = installID;
  model->bundleIdentifier_ = TSYGetEscapedBundleIdentifier();
  return model;
}

std::string TSYApplicationIdentiferModel::builtSDKString() const {
  return MVXMachOFormatVersion(&builtSDK_).value_or(format(builtSDK_));
}

std::string TSYApplicationIdentiferModel::minimumSDKString() const {
  return MVXMachOFormatVersion(&minimumSDK_).value_or(format(minimumSDK_));
}

bool TSYApplicationIdentiferModel::computeExecutableInfo(const std::filesystem::path& executable) {
  std::ifstream in(executable, std::ios::binary);
  char magic[4] = {};
  if (!in.read(magic, 4)) return false;
  if (std::memcmp(magic, ELFMAG, SELFMAG) == 0) return computeELFInfo(executable);
  return computeMachOInfo(executable);
}

// Reads the 64-bit little-endian ELF file's program headers and their notes, checking every
// offset against the file's size: a damaged file gives no model, never a crash.
bool TSYApplicationIdentiferModel::computeELFInfo(const std::filesystem::path& executable) {
  std::ifstream in(executable, std::ios::binary);
  std::error_code ec;
  const auto fileSize = std::filesystem::file_size(executable, ec);
  Elf64_Ehdr header{};
  if (ec || !in.read(reinterpret_cast<char*>(&header), sizeof header)) return false;
  if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
      header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phoff > fileSize ||
      header.e_phnum * sizeof(Elf64_Phdr) > fileSize - header.e_phoff) {
    return false;
  }
  std::map<std::string, std::string> map;
  const std::string arch = architectureName(header.e_machine);
  for (std::uint16_t i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr ph{};
    in.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof ph));
    if (!in.read(reinterpret_cast<char*>(&ph), sizeof ph)) return false;
    if (ph.p_type != PT_NOTE || ph.p_filesz > kMaxNoteBytes || ph.p_offset > fileSize ||
        ph.p_filesz > fileSize - ph.p_offset) {
      continue;
    }
    std::vector<std::uint8_t> notes(ph.p_filesz);
    in.seekg(static_cast<std::streamoff>(ph.p_offset));
    if (!in.read(reinterpret_cast<char*>(notes.data()), static_cast<std::streamsize>(notes.size())))
      return false;
    std::size_t at = 0;
    while (at + sizeof(Elf64_Nhdr) <= notes.size()) {
      Elf64_Nhdr note;
      std::memcpy(&note, notes.data() + at, sizeof note);
      const std::size_t nameAt = at + sizeof note;
      const std::size_t descAt = nameAt + ((note.n_namesz + 3u) & ~3u);
      const std::size_t next = descAt + ((note.n_descsz + 3u) & ~3u);
      if (note.n_namesz > notes.size() || note.n_descsz > notes.size() || next > notes.size()) {
        break;
      }
      const bool gnu = note.n_namesz == 4 && std::memcmp(notes.data() + nameAt, "GNU", 4) == 0;
      if (gnu && note.n_type == NT_GNU_BUILD_ID && note.n_descsz >= 16) {
        std::uint8_t id[16];
        std::memcpy(id, notes.data() + descAt, 16);
        map[arch] = TSYUUIDBytesToHexString(id);
      } else if (gnu && note.n_type == NT_GNU_ABI_TAG && note.n_descsz >= 16) {
        std::uint32_t words[4];
        std::memcpy(words, notes.data() + descAt, sizeof words);
        minimumSDK_ = MVXMachOVersion{words[1], words[2], words[3]};
      }
      at = next;
    }
  }
  builtSDK_ = parseVersion(gnu_get_libc_version());
  architectureUUIDMap_ = std::move(map);
  return true;
}

bool TSYApplicationIdentiferModel::computeMachOInfo(const std::filesystem::path& executable) {
  MVXMachOFile file;
  if (!MVXMachOFileInitWithPath(&file, executable.c_str())) return false;
  std::map<std::string, std::string> map;
  MVXMachOFileEnumerateSlices(&file, [&](MVXMachOSliceRef slice) {
    const char* name = MVXMachOSliceGetArchitectureName(slice);
    const std::string arch = name ? name : "unknown";
    MVXMachOSliceEnumerateLoadCommands(&slice, [&](uint32_t cmd, uint32_t, const void* command) {
      if (cmd == 0x1b) {
        if (const uint8_t* uuid = MVXMachOGetUUID(command))
          map[arch] = TSYUUIDBytesToHexString(uuid);
      } else if (cmd == 0x24 || cmd == 0x25) {
        minimumSDK_ = MVXMachOGetMinimumOSVersion(command);
        builtSDK_ = MVXMachOGetLinkedSDKVersion(command);
      }
    });
  });
  MVXMachOFileDestroy(&file);
  architectureUUIDMap_ = std::move(map);
  return true;
}

bool TSYApplicationIdentiferModel::computeInstanceIdentifier() {
  // std::map walks its keys in ascending byte order, as the hash requires.
  std::string joined;
  for (const auto& [arch, uuid] : architectureUUIDMap_) joined += uuid;
  instanceIdentifier_ = TSYSHA1HexStringForBytes(joined.data(), joined.size());
  return true;
}
