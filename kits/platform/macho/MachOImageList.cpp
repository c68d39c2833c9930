#include "kits/platform/macho/MachOImageList.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace tw {

namespace {

// An entry is published by storing its header last (release) and withdrawn by clearing the header
// first, so a reader that sees a header sees the fields written before it.
struct Entry {
  std::atomic<const void*> header{nullptr};
  std::atomic<uint64_t> size{0};
  std::atomic<intptr_t> slide{0};
  std::atomic<bool> mainExecutable{false};
  char path[MachOImageList::kMaxPath] = {};
};

Entry gEntries[MachOImageList::kCapacity];
// One writer of gEntries at a time; readers (also at crash time) take no lock.
std::mutex gWriters;

bool read(const Entry& e, MachOImage* image) {
  const void* header = e.header.load(std::memory_order_acquire);
  if (!header) return false;
  if (image) {
    image->header = header;
    image->size = e.size.load(std::memory_order_relaxed);
    image->slide = e.slide.load(std::memory_order_relaxed);
    image->mainExecutable = e.mainExecutable.load(std::memory_order_relaxed);
    image->path = e.path;
  }
  return true;
}

}  // namespace

bool MachOImageList::add(const void* header, uint64_t size, intptr_t slide, const char* path,
                         bool mainExecutable) {
  if (!header || !path || std::strlen(path) >= kMaxPath) return false;
  std::lock_guard lock(gWriters);
  Entry* freeEntry = nullptr;
  for (Entry& e : gEntries) {
    const void* h = e.header.load(std::memory_order_relaxed);
    if (h == header) return false;
    if (!h && !freeEntry) freeEntry = &e;
  }
  if (!freeEntry) return false;
  std::strcpy(freeEntry->path, path);
  freeEntry->size.store(size, std::memory_order_relaxed);
  freeEntry->slide.store(slide, std::memory_order_relaxed);
  freeEntry->mainExecutable.store(mainExecutable, std::memory_order_relaxed);
  freeEntry->header.store(header, std::memory_order_release);
  return true;
}

void MachOImageList::remove(const void* header) {
  if (!header) return;
  std::lock_guard lock(gWriters);
  for (Entry& e : gEntries) {
    if (e.header.load(std::memory_order_relaxed) == header) {
      e.header.store(nullptr, std::memory_order_release);
      return;
    }
  }
}

size_t MachOImageList::count() {
  size_t n = 0;
  for (const Entry& e : gEntries) n += read(e, nullptr) ? 1 : 0;
  return n;
}

bool MachOImageList::imageAt(size_t index, MachOImage* image) {
  for (const Entry& e : gEntries) {
    MachOImage found;
    if (!read(e, &found)) continue;
    if (index-- == 0) {
      if (image) *image = found;
      return true;
    }
  }
  return false;
}

bool MachOImageList::imageContaining(const void* address, MachOImage* image) {
  auto a = reinterpret_cast<uintptr_t>(address);
  for (const Entry& e : gEntries) {
    MachOImage found;
    if (!read(e, &found)) continue;
    auto base = reinterpret_cast<uintptr_t>(found.header);
    if (a >= base && a - base < found.size) {
      if (image) *image = found;
      return true;
    }
  }
  return false;
}

bool MachOImageList::mainExecutable(MachOImage* image) {
  for (const Entry& e : gEntries) {
    MachOImage found;
    if (read(e, &found) && found.mainExecutable) {
      if (image) *image = found;
      return true;
    }
  }
  return false;
}

}  // namespace tw
