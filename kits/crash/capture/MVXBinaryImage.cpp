#include "kits/crash/capture/MVXBinaryImage.h"

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXUtilities.h"
#include "platform/machine/Machine.h"

namespace {

std::vector<MVXBinaryImageDetails> currentImages() {
  std::vector<MVXBinaryImageDetails> images;
  tw::machine::enumerateImages(
      [](const tw::machine::ImageInfo& image, void* user) {
        MVXBinaryImageDetails d;
        std::memcpy(d.uuid, image.uuid, sizeof d.uuid);
        d.node.base = image.base;
        d.node.size = image.size;
        d.node.ehFrame = image.ehFrameHdr;
        d.path = image.path != nullptr ? image.path : "";
        static_cast<std::vector<MVXBinaryImageDetails>*>(user)->push_back(std::move(d));
      },
      &images);
  return images;
}

void recordSlice(const MVXBinaryImageDetails& d, const char* kind) {
  bool opened = false;
  if (!MVXBinaryImageOpenIfNeeded(&opened)) return;
  MVXFile* file = &gMVXContext.writable->binaryImageFile;
  MVXFileWriteSectionStart(file, kind);
  MVXFileWriteHashStart(file);
  MVXFileWriteHashEntryString(file, "path", d.path.c_str());
  MVXFileWriteHashEntryString(file, "uuid", d.uuid);
  MVXFileWriteHashEntryUint64(file, "base", d.node.base);
  MVXFileWriteHashEntryUint64(file, "size", d.node.size);
  MVXFileWriteHashEnd(file);
  MVXFileWriteSectionEnd(file);
  if (opened) MVXBinaryImageCloseFile();
}

// The details of each tracked image by base, so that its unload is recorded under the path and
// build-id of its load: the loader has forgotten both by then. Never used at crash time.
// Guards trackedImages().
std::mutex gTrackedMutex;
std::map<std::uintptr_t, MVXBinaryImageDetails>& trackedImages() {
  // Never destroyed: a late unload may still look here while the process ends.
  static auto* images = new std::map<std::uintptr_t, MVXBinaryImageDetails>();
  return *images;
}

// Load: claims the first free node. Unload: clears the node's words before freeing its base, so a
// reader at crash time never matches an address against a half-released node.
void storeNode(const MVXBinaryImageDetails& d, bool load) {
  MVXWritableContext* rw = gMVXContext.writable;
  if (rw == nullptr) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: Writable context is NULL\n");
  } else {
    bool stored = false;
    for (auto& node : rw->images) {
      std::uintptr_t expected = load ? 0 : d.node.base;
      if (node.base.load() != expected) continue;
      if (load) {
        if (!node.base.compare_exchange_strong(expected, d.node.base)) continue;
        node.ehFrame.store(d.node.ehFrame);
        node.unwindInfo.store(0);
        node.crashInfo.store(0);
        node.size.store(d.node.size, std::memory_order_release);
      } else {
        node.size.store(0, std::memory_order_release);
        node.ehFrame.store(0);
        node.unwindInfo.store(0);
        node.crashInfo.store(0);
        if (!node.base.compare_exchange_strong(expected, 0)) {
          MVXSDKLOG(3, "WARN  [%s:%d] Error: Failed to swap during image unload\n");
          break;
        }
      }
      stored = true;
      break;
    }
    if (!stored) {
      MVXSDKLOG(3, "WARN  [%s:%d] Error: Unable to track a %s node %p\n",
                // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                load ? "loaded" : "unloaded", reinterpret_cast<const void*>(d.node.base));
    }
  }
  {
    std::lock_guard lock(gTrackedMutex);
    if (load) {
      trackedImages()[d.node.base] = d;
    } else {
      trackedImages().erase(d.node.base);
    }
  }
  auto queue = MVXContextBinaryImagesQueue();
  if (queue) queue->async([d, load] { recordSlice(d, load ? "load" : "unload"); });
}

MVXBinaryImageDetails trackedDetails(std::uintptr_t base, std::uintptr_t size) {
  std::lock_guard lock(gTrackedMutex);
  const auto found = trackedImages().find(base);
  if (found != trackedImages().end()) return found->second;
  MVXBinaryImageDetails unknown;
  unknown.node.base = base;
  unknown.node.size = size;
  return unknown;
}

}  // namespace

bool MVXBinaryImageOpenIfNeeded(bool* opened) {
  MVXWritableContext* rw = gMVXContext.writable;
  if (opened != nullptr) *opened = false;
  if (rw == nullptr || gMVXContext.readonly == nullptr) return false;
  if (MVXFileIsOpen(&rw->binaryImageFile)) return true;
  if (!MVXFileInitWithPath(&rw->binaryImageFile, gMVXContext.readonly->binaryImagesPath, true)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: unable to open binary image log file\n");
    return false;
  }
  if (opened != nullptr) *opened = true;
  return true;
}

void MVXBinaryImageCloseFile() {
  if (gMVXContext.writable != nullptr) MVXFileClose(&gMVXContext.writable->binaryImageFile);
}

void MVXBinaryImageInit() {
  MVXWritableContext* rw = gMVXContext.writable;
  if (rw == nullptr) return;
  rw->binaryImageFile = MVXFile{};
  for (auto& node : rw->images) {
    node.base.store(0);
    node.size.store(0);
  }
  {
    std::lock_guard lock(gTrackedMutex);
    trackedImages().clear();
  }
  auto queue = MVXContextBinaryImagesQueue();
  if (queue) {
    const char* const function = __func__;  // the lambda below logs under this name
    queue->async([function] {
      const char* path = gMVXContext.readonly->binaryImagesPath;
      if (!MVXUnlinkIfExists(path)) {
        MVXSDKLOG_IN(function, 3, "WARN  [%s:%d] Unable to reset the binary image log file %s\n",
                     path);
      }
      if (!MVXFileInitWithPath(&gMVXContext.writable->binaryImageFile, path, true)) {
        MVXSDKLOG_IN(function, 3,
                     "WARN  [%s:%d] Error: Unable to open the binary image log file during init\n");
      }
    });
  }
  for (const auto& image : currentImages()) storeNode(image, true);
  if (queue) {
    queue->async([] { MVXBinaryImageCloseFile(); });
    // Set-up waits for the first records, so a crash right after start still finds its images.
    queue->sync([] {});
  }
}

void MVXBinaryImageSync() {
  MVXWritableContext* rw = gMVXContext.writable;
  if (rw == nullptr) return;
  const auto images = currentImages();
  for (auto& node : rw->images) {
    const std::uintptr_t base = node.base.load();
    if (base == 0) continue;
    bool present = false;
    for (const auto& image : images) present = present || image.node.base == base;
    if (!present) storeNode(trackedDetails(base, node.size.load()), false);
  }
  for (const auto& image : images) {
    bool known = false;
    for (auto& node : rw->images) known = known || node.base.load() == image.node.base;
    if (!known) storeNode(image, true);
  }
  // The records are on disk before the caller goes on to use the new image.
  if (auto queue = MVXContextBinaryImagesQueue()) queue->sync([] {});
}

bool MVXBinaryImageFindImageForUUID(const char* uuid, MVXBinaryImageDetails* out) {
  if (uuid == nullptr || out == nullptr) {
    MVXSDKLOG(3, "WARN  [%s:%d] null input\n");
    return false;
  }
  for (auto& image : currentImages()) {
    if (std::strcmp(image.uuid, uuid) == 0) {
      *out = std::move(image);
      return true;
    }
  }
  return false;
}

bool MVXBinaryImageRecordExecutable(MVXFile* file) {
  const auto images = currentImages();
  if (images.empty()) return false;
  // dl_iterate_phdr lists the executable first.
  const MVXBinaryImageDetails& exe = images.front();
  MVXFileWriteSectionStart(file, "executable");
  MVXFileWriteHashStart(file);
  MVXFileWriteHashEntryString(file, "architecture", "x86_64");
  MVXFileWriteHashEntryString(file, "uuid", exe.uuid);
  MVXFileWriteHashEntryUint64(file, "base", exe.node.base);
  MVXFileWriteHashEntryUint64(file, "size", exe.node.size);
  MVXFileWriteHashEntryBoolean(file, "encrypted", false);
  // ELF images carry no minimum or linked SDK version.
  MVXFileWriteHashEntryString(file, "minimum_sdk_version", nullptr);
  MVXFileWriteHashEntryString(file, "built_sdk_version", nullptr);
  MVXFileWriteHashEnd(file);
  MVXFileWriteSectionEnd(file);
  return true;
}
