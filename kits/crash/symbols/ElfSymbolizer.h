#pragma once
// tw::ElfSymbolizer: names an address inside an image loaded in this process from the image's
// own ELF symbol tables, for what the loader's dladdr cannot name (functions that are not
// exported). The symbols come from the fullest table whose build-id matches the loaded image:
// the file itself (the main program through /proc/self/exe), else a separate debug file found
// by build-id under <root>/.build-id/xx/yyyy.debug or by the file's ".gnu_debuglink", else the
// file's own dynamic symbols. Files are read, never loaded.
//
// Owned by one symbol resolver (one report's symbolication); it caches each image's symbol file
// by build-id and path. Not thread-safe: one thread at a time.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kits/crash/symbols/ElfSymbolFile.h"

namespace tw {

class ElfSymbolizer {
 public:
  struct Image {
    std::string path;         // as the loader names it; empty for the main program
    std::string buildId;      // lowercase hex, may be empty
    std::uintptr_t base = 0;  // address of the ELF header in this process
  };
  struct Symbol {
    std::string name;
    std::uintptr_t start = 0;  // in this process
  };

  // Debug roots are searched in order; the default is the system's "/usr/lib/debug".
  explicit ElfSymbolizer(std::vector<std::string> debugRoots = {"/usr/lib/debug"});

  std::optional<Symbol> lookup(const Image& image, std::uintptr_t address);
  // Why the last image's symbols could not be read (for the kit log); empty when they could.
  const std::string& lastError() const { return lastError_; }

 private:
  struct Loaded {
    std::shared_ptr<const ElfSymbolFile> image;    // gives the bias
    std::shared_ptr<const ElfSymbolFile> symbols;  // the table to search
  };
  const Loaded* load(const Image& image);
  std::shared_ptr<const ElfSymbolFile> matching(const std::string& path,
                                                const std::string& buildId);

  std::vector<std::string> debugRoots_;
  std::map<std::string, std::optional<Loaded>> cache_;
  std::string lastError_;
  std::string exePath_;
};

}  // namespace tw
