#include "kits/crash/symbols/ElfSymbolFile.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tw {

// Bounded reads from a file descriptor or from memory: a range that does not lie wholly inside
// the input is refused, so no offset from the file is ever followed unchecked.
class ElfSymbolFile::Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes), size_(bytes.size()) {}
  Reader(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  std::uint64_t size() const { return size_; }
  bool contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  bool read(std::uint64_t offset, std::uint64_t length, void* dest) const {
    if (!contains(offset, length)) return false;
    if (fd_ < 0) {
      if (length > 0) std::memcpy(dest, bytes_.data() + offset, length);
      return true;
    }
    auto* out = static_cast<char*>(dest);
    for (std::uint64_t done = 0; done < length;) {
      const ssize_t n = pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // cut under us, or an I/O error
      done += static_cast<std::uint64_t>(n);
    }
    return true;
  }
  bool readBytes(std::uint64_t offset, std::uint64_t length, std::string* out) const {
    if (!contains(offset, length)) return false;
    out->resize(length);
    return read(offset, length, out->data());
  }

 private:
  std::span<const std::uint8_t> bytes_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

namespace {

using Result = Expected<std::shared_ptr<const ElfSymbolFile>>;

constexpr std::uint64_t kMaxPhnum = 4096;
constexpr std::uint64_t kMaxNoteBytes = 1 << 20;

std::string hex(const std::uint8_t* bytes, std::size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (std::size_t i = 0; i < length; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

// The GNU build-id among the notes of one section or segment, or empty.
std::string buildIdFromNotes(const std::string& notes) {
  std::size_t off = 0;
  while (off + sizeof(Elf64_Nhdr) <= notes.size()) {
    Elf64_Nhdr note;
    std::memcpy(&note, notes.data() + off, sizeof note);
    const std::uint64_t nameAt = off + sizeof note;
    const std::uint64_t descAt = nameAt + ((std::uint64_t{note.n_namesz} + 3) & ~std::uint64_t{3});
    const std::uint64_t next = descAt + ((std::uint64_t{note.n_descsz} + 3) & ~std::uint64_t{3});
    if (descAt > notes.size() || note.n_descsz > notes.size() - descAt) break;
    if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
        std::memcmp(notes.data() + nameAt, "GNU", 4) == 0 && note.n_descsz > 0 &&
        note.n_descsz <= 64) {
      return hex(reinterpret_cast<const std::uint8_t*>(notes.data()) + descAt, note.n_descsz);
    }
    off = next;
  }
  return {};
}

std::uint8_t rankOf(unsigned char info) {
  switch (ELF64_ST_BIND(info)) {
    case STB_GLOBAL:
      return 0;
    case STB_WEAK:
      return 1;
    default:
      return 2;
  }
}

}  // namespace

Result ElfSymbolFile::read(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Result::failure(path + ": " + std::strerror(errno));
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return Result::failure(path + ": not a regular file");
  }
  Reader reader(fd, static_cast<std::uint64_t>(st.st_size));
  Result result = parseWith(reader);
  close(fd);
  if (!result) return Result::failure(path + ": " + result.error());
  return result;
}

Result ElfSymbolFile::parse(std::span<const std::uint8_t> bytes) {
  Reader reader(bytes);
  return parseWith(reader);
}

Result ElfSymbolFile::parseWith(Reader& reader) {
  Elf64_Ehdr eh;
  if (!reader.read(0, sizeof eh, &eh)) return Result::failure("too short for an ELF header");
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) return Result::failure("not an ELF file");
  if (eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_ident[EI_DATA] != ELFDATA2LSB) {
    return Result::failure("not a 64-bit little-endian ELF file");
  }
  auto file = std::make_shared<ElfSymbolFile>();

  // Section 0 carries the real counts when they do not fit the header's fields.
  Elf64_Shdr first{};
  const bool haveSections = eh.e_shoff != 0;
  if (haveSections) {
    if (eh.e_shentsize < sizeof(Elf64_Shdr)) return Result::failure("bad section header size");
    if (!reader.read(eh.e_shoff, sizeof first, &first)) {
      return Result::failure("section headers lie outside the file");
    }
  }
  std::uint64_t phnum = eh.e_phnum;
  if (phnum == PN_XNUM && haveSections) phnum = first.sh_info;
  if (phnum > 0 && eh.e_phentsize >= sizeof(Elf64_Phdr) && phnum <= kMaxPhnum) {
    std::string notes;
    for (std::uint64_t i = 0; i < phnum; ++i) {
      Elf64_Phdr ph;
      if (!reader.read(eh.e_phoff + i * eh.e_phentsize, sizeof ph, &ph)) {
        return Result::failure("program headers lie outside the file");
      }
      if (ph.p_type == PT_LOAD && !file->hasLoad_) {
        file->hasLoad_ = true;
        file->baseVirtualAddress_ = ph.p_vaddr - ph.p_offset;
      } else if (ph.p_type == PT_NOTE && file->buildId_.empty() && ph.p_filesz <= kMaxNoteBytes &&
                 reader.readBytes(ph.p_offset, ph.p_filesz, &notes)) {
        file->buildId_ = buildIdFromNotes(notes);
      }
    }
  }
  if (!haveSections) {
    // Sections stripped away: the build-id may still come from a note segment, but no symbols.
    return std::shared_ptr<const ElfSymbolFile>(std::move(file));
  }

  std::uint64_t shnum = eh.e_shnum != 0 ? eh.e_shnum : first.sh_size;
  std::uint64_t shstrndx = eh.e_shstrndx == SHN_XINDEX ? first.sh_link : eh.e_shstrndx;
  if (shnum > reader.size() / eh.e_shentsize ||
      !reader.contains(eh.e_shoff, shnum * eh.e_shentsize)) {
    return Result::failure("section headers lie outside the file");
  }
  std::vector<Elf64_Shdr> sections(shnum);
  for (std::uint64_t i = 0; i < shnum; ++i) {
    if (!reader.read(eh.e_shoff + i * eh.e_shentsize, sizeof(Elf64_Shdr), &sections[i])) {
      return Result::failure("section headers lie outside the file");
    }
  }
  std::string sectionNames;
  if (shstrndx < shnum && sections[shstrndx].sh_type == SHT_STRTAB &&
      !reader.readBytes(sections[shstrndx].sh_offset, sections[shstrndx].sh_size, &sectionNames)) {
    return Result::failure("section names lie outside the file");
  }
  auto nameOf = [&](const Elf64_Shdr& s) -> std::string_view {
    // A std::string ends in a NUL of its own, so a name missing its terminator stops there.
    if (s.sh_name >= sectionNames.size()) return {};
    return std::string_view(sectionNames.c_str() + s.sh_name);
  };

  const Elf64_Shdr* symtab = nullptr;
  const Elf64_Shdr* dynsym = nullptr;
  for (const auto& s : sections) {
    if (s.sh_type == SHT_SYMTAB && symtab == nullptr) symtab = &s;
    if (s.sh_type == SHT_DYNSYM && dynsym == nullptr) dynsym = &s;
    if (s.sh_type == SHT_NOTE && file->buildId_.empty() && s.sh_size <= kMaxNoteBytes) {
      std::string notes;
      if (reader.readBytes(s.sh_offset, s.sh_size, &notes))
        file->buildId_ = buildIdFromNotes(notes);
    }
    if (s.sh_type == SHT_PROGBITS && nameOf(s) == ".gnu_debuglink" && s.sh_size <= 4096) {
      std::string link;
      if (!reader.readBytes(s.sh_offset, s.sh_size, &link)) {
        return Result::failure(".gnu_debuglink lies outside the file");
      }
      const std::size_t nul = link.find('\0');
      const std::size_t crcAt = (nul + 4) & ~std::size_t{3};
      if (nul != std::string::npos && nul > 0 && crcAt + 4 <= link.size() &&
          link.find('/') > nul) {  // the CRC after the name may hold any byte
        DebugLink debugLink{link.substr(0, nul), 0};
        std::memcpy(&debugLink.crc, link.data() + crcAt, 4);
        file->debugLink_ = std::move(debugLink);
      }
    }
  }

  const Elf64_Shdr* table = symtab != nullptr ? symtab : dynsym;
  if (table == nullptr) return std::shared_ptr<const ElfSymbolFile>(std::move(file));
  file->fullTable_ = table == symtab;
  if (table->sh_link >= shnum || sections[table->sh_link].sh_type != SHT_STRTAB) {
    return Result::failure("symbol table without a string table");
  }
  if (table->sh_entsize != sizeof(Elf64_Sym)) return Result::failure("bad symbol entry size");
  const Elf64_Shdr& strings = sections[table->sh_link];
  if (!reader.readBytes(strings.sh_offset, strings.sh_size, &file->names_)) {
    return Result::failure("symbol names lie outside the file");
  }
  std::string raw;
  if (!reader.readBytes(table->sh_offset, table->sh_size, &raw)) {
    return Result::failure("symbol table lies outside the file");
  }
  const std::size_t count = raw.size() / sizeof(Elf64_Sym);
  file->symbols_.reserve(count);
  const auto& names = file->names_;
  for (std::size_t i = 0; i < count; ++i) {
    Elf64_Sym sym;
    std::memcpy(&sym, raw.data() + i * sizeof sym, sizeof sym);
    const unsigned type = ELF64_ST_TYPE(sym.st_info);
    if ((type != STT_FUNC && type != STT_GNU_IFUNC) || sym.st_shndx == SHN_UNDEF ||
        sym.st_value == 0 || sym.st_name == 0 || sym.st_name >= names.size() ||
        names[sym.st_name] == '\0') {
      continue;
    }
    // Among aliases of one binding, the name with the fewest leading underscores reads best
    // ("clone3" over "__GI___clone3").
    std::size_t underscores = 0;
    while (names[sym.st_name + underscores] == '_' && underscores < 15) ++underscores;
    const auto rank =
        static_cast<std::uint8_t>(std::size_t{rankOf(sym.st_info)} * 16 + underscores);
    file->symbols_.push_back({sym.st_value, sym.st_size, sym.st_name, rank});
  }
  auto& symbols = file->symbols_;
  std::sort(symbols.begin(), symbols.end(), [](const Symbol& a, const Symbol& b) {
    return a.start != b.start ? a.start < b.start : a.rank < b.rank;
  });
  // One entry per address: the best-ranked alias, with the largest size any alias gives.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    if (kept > 0 && symbols[kept - 1].start == symbols[i].start) {
      symbols[kept - 1].size = std::max(symbols[kept - 1].size, symbols[i].size);
      continue;
    }
    symbols[kept++] = symbols[i];
  }
  symbols.resize(kept);
  return std::shared_ptr<const ElfSymbolFile>(std::move(file));
}

std::optional<ElfSymbolFile::Match> ElfSymbolFile::lookup(std::uint64_t address) const {
  auto it = std::upper_bound(symbols_.begin(), symbols_.end(), address,
                             [](std::uint64_t a, const Symbol& s) { return a < s.start; });
  // A few steps back cover a function nested in a larger one's range (cold parts, aliases).
  for (int steps = 0; it != symbols_.begin() && steps < 16; ++steps) {
    --it;
    const bool inside = it->size == 0 ? address == it->start : address - it->start < it->size;
    if (inside) return Match{std::string_view(names_.data() + it->nameOffset), it->start};
  }
  return std::nullopt;
}

}  // namespace tw
