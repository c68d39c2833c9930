#include "kits/crash/symbols/ElfSymbolizer.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <filesystem>

namespace tw {

namespace {

// The CRC-32 that ".gnu_debuglink" records, of the whole file; nullopt when it cannot be read.
std::optional<std::uint32_t> fileCrc(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  uLong crc = crc32(0, nullptr, 0);
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer), static_cast<uInt>(n));
  }
  close(fd);
  return static_cast<std::uint32_t>(crc);
}

}  // namespace

ElfSymbolizer::ElfSymbolizer(std::vector<std::string> debugRoots)
    : debugRoots_(std::move(debugRoots)) {
  std::error_code ec;
  exePath_ = std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

std::shared_ptr<const ElfSymbolFile> ElfSymbolizer::matching(const std::string& path,
                                                             const std::string& buildId) {
  auto file = ElfSymbolFile::read(path);
  if (!file) return nullptr;
  if (!buildId.empty() && (*file)->buildId() != buildId) return nullptr;
  return *file;
}

const ElfSymbolizer::Loaded* ElfSymbolizer::load(const Image& image) {
  const std::string key = image.buildId + "\n" + image.path;
  auto found = cache_.find(key);
  if (found != cache_.end()) return found->second ? &*found->second : nullptr;
  std::optional<Loaded>& slot = cache_[key];
  lastError_.clear();

  // The main program is read through /proc/self/exe: its path may name a newer file by now.
  const bool mainProgram = image.path.empty() || image.path == exePath_;
  const std::string path = mainProgram ? std::string("/proc/self/exe") : image.path;
  auto own = ElfSymbolFile::read(path);
  if (!own) {
    lastError_ = own.error();
    return nullptr;
  }
  if (!image.buildId.empty() && (*own)->buildId() != image.buildId) {
    lastError_ = path + ": build-id differs from the loaded image";
    return nullptr;
  }
  Loaded loaded{*own, *own};
  if (!(*own)->hasFullSymbolTable()) {
    std::shared_ptr<const ElfSymbolFile> debug;
    const std::string& id = image.buildId;
    for (const auto& root : debugRoots_) {
      if (debug || id.size() < 3) break;
      debug = matching(root + "/.build-id/" + id.substr(0, 2) + "/" + id.substr(2) + ".debug", id);
    }
    if (!debug && (*own)->debugLink()) {
      const auto& link = *(*own)->debugLink();
      const std::string dir = std::filesystem::path(image.path).parent_path().string();
      std::vector<std::string> candidates = {dir + "/" + link.name, dir + "/.debug/" + link.name};
      for (const auto& root : debugRoots_) candidates.push_back(root + dir + "/" + link.name);
      for (const auto& candidate : candidates) {
        if (candidate == image.path) continue;
        if (!id.empty()) {
          debug = matching(candidate, id);
        } else if (fileCrc(candidate) == link.crc) {
          auto file = ElfSymbolFile::read(candidate);
          if (file) debug = *file;
        }
        if (debug) break;
      }
    }
    if (debug && debug->symbolCount() > 0) loaded.symbols = debug;
  }
  slot = std::move(loaded);
  return &*slot;
}

std::optional<ElfSymbolizer::Symbol> ElfSymbolizer::lookup(const Image& image,
                                                           std::uintptr_t address) {
  const Loaded* loaded = load(image);
  if (loaded == nullptr || address < image.base) return std::nullopt;
  // The image's base is its first loaded byte; the file places that byte at baseVirtualAddress.
  const std::uint64_t bias = image.base - loaded->image->baseVirtualAddress();
  const auto match = loaded->symbols->lookup(address - bias);
  if (!match) return std::nullopt;
  return Symbol{std::string(match->name), static_cast<std::uintptr_t>(match->start + bias)};
}

}  // namespace tw
