#pragma once
// Binary-image tracking: a lock-free table of the loaded images (base, size, unwind data) in the
// context's writable half, searched by crash-time code, and the "load"/"unload" lines of
// "binary_images.mvxrecord" for symbolication at the next launch. The table is filled at set-up
// from the loader's list and kept current by MVXBinaryImageSync; at crash time an address the
// table misses is looked up in the loader's own link map.
//
// Table changes by compare-and-swap from any thread; file writes only on the binary-images queue.

#include <cstdint>
#include <string>

#include "kits/crash/capture/MVXCrashContext.h"

struct MVXBinaryImageNodeCopy {
  std::uintptr_t base = 0, size = 0, ehFrame = 0, unwindInfo = 0, crashInfo = 0;
};

struct MVXBinaryImageDetails {
  char uuid[41] = {};
  bool encrypted = false;
  MVXBinaryImageNodeCopy node;
  std::string path;
};

void MVXBinaryImageInit();
// Brings the table and the record in line with the loader's current list (after dlopen/dlclose).
void MVXBinaryImageSync();
bool MVXBinaryImageSafeFindImageForAddress(std::uintptr_t address, MVXBinaryImageNodeCopy* out);
bool MVXBinaryImageHasCompactUnwindInfo(const MVXBinaryImageNodeCopy* node);
bool MVXBinaryImageFindImageForUUID(const char* uuid, MVXBinaryImageDetails* out);
bool MVXBinaryImageRecordExecutable(MVXFile* file);
bool MVXBinaryImageOpenIfNeeded(bool* opened);
void MVXBinaryImageCloseFile();
