#pragma once
// tw::MachOImageList: the list of Mach-O images laid out in this process's memory, which the
// reader's loaded-image functions search (the executable's slice, an image's path, its slide for
// the unwind sections). The process's own images are ELF and tracked elsewhere; Mach-O images get
// here when whoever lays one out in memory adds it, and leave when it removes it.
//
// A fixed table of kCapacity entries in static storage. Adding and removing are serialised by a
// lock; the readers take no lock and allocate nothing, so they may run while the process is
// crashing. Any thread.

#include <cstddef>
#include <cstdint>

namespace tw {

struct MachOImage {
  const void* header = nullptr;
  uint64_t size = 0;           // bytes of the image from its header
  intptr_t slide = 0;          // where the image lies minus where its segments ask to lie
  const char* path = nullptr;  // the image's file; static storage, valid while the image is listed
  bool mainExecutable = false;
};

class MachOImageList {
 public:
  static constexpr size_t kCapacity = 64;
  static constexpr size_t kMaxPath = 1024;

  MachOImageList() = delete;

  // False when the table is full, the header is null or already listed, or the path is too long.
  static bool add(const void* header, uint64_t size, intptr_t slide, const char* path,
                  bool mainExecutable = false);
  static void remove(const void* header);

  // The listed images by index, in the order of the table (free slots skipped).
  static size_t count();
  static bool imageAt(size_t index, MachOImage* image);
  // The listed image whose bytes hold `address`.
  static bool imageContaining(const void* address, MachOImage* image);
  static bool mainExecutable(MachOImage* image);
};

}  // namespace tw
