#pragma once
// tw::ElfSymbolFile: the function symbols of one ELF file (.symtab, else .dynsym), its GNU
// build-id and its ".gnu_debuglink" entry, read for symbolication at the next launch. The file is
// read with pread into memory of our own (never mapped, never loaded), so a file cut or changed
// under us gives an error, not a fault. Every offset, size and name from the file is checked
// against what was read; bad data gives a failure with a message, never a crash.
//
// Immutable once read; owned by its reader (tw::ElfSymbolizer caches them); any thread may read it.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Expected.h"

namespace tw {

class ElfSymbolFile {
 public:
  struct Symbol {
    std::uint64_t start = 0;  // file virtual address
    std::uint64_t size = 0;
    std::uint32_t nameOffset = 0;  // into the file's names
    std::uint8_t rank = 0;         // among aliases: global, weak, local; then fewer leading "_"
  };
  struct Match {
    std::string_view name;
    std::uint64_t start = 0;  // file virtual address
  };
  struct DebugLink {
    std::string name;
    std::uint32_t crc = 0;
  };

  // Reads the file at path; fails with a message naming the path and what is wrong.
  static Expected<std::shared_ptr<const ElfSymbolFile>> read(const std::string& path);
  // The same over bytes already in memory (tests).
  static Expected<std::shared_ptr<const ElfSymbolFile>> parse(std::span<const std::uint8_t> bytes);

  // Lowercase hex, empty when the file has none.
  const std::string& buildId() const { return buildId_; }
  const std::optional<DebugLink>& debugLink() const { return debugLink_; }
  // The full table (.symtab) was found; a file with only .dynsym names exported functions.
  bool hasFullSymbolTable() const { return fullTable_; }
  std::size_t symbolCount() const { return symbols_.size(); }
  // The virtual address of the first loaded byte of the file minus its file offset: a loaded
  // image's bias is its base (ELF header address) minus this.
  std::uint64_t baseVirtualAddress() const { return baseVirtualAddress_; }
  bool hasLoadSegments() const { return hasLoad_; }

  // The function whose bytes hold the file virtual address (a zero-sized one only at its start).
  std::optional<Match> lookup(std::uint64_t address) const;

 private:
  class Reader;
  static Expected<std::shared_ptr<const ElfSymbolFile>> parseWith(Reader& reader);

  std::string buildId_;
  std::optional<DebugLink> debugLink_;
  bool fullTable_ = false;
  bool hasLoad_ = false;
  std::uint64_t baseVirtualAddress_ = 0;
  std::vector<Symbol> symbols_;  // by start, then rank
  // The string table of the chosen symbol table. A name is read up to its NUL, at the latest the
  // one std::string keeps after its last byte, so a table cut without a terminator stays safe.
  std::string names_;
};

}  // namespace tw
