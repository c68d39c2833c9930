#include "kits/crash/capture/MVXBinaryImage.h"

#include "kits/crash/capture/MVXCrashContext.h"
#include "platform/machine/Machine.h"

bool MVXBinaryImageSafeFindImageForAddress(std::uintptr_t address, MVXBinaryImageNodeCopy* out) {
  MVXWritableContext* rw = gMVXContext.writable;
  if (!MVXContextIsInitialized() || rw == nullptr || address == 0 || out == nullptr) return false;
  for (auto& node : rw->images) {
    const std::uintptr_t base = node.base.load(std::memory_order_acquire);
    const std::uintptr_t size = node.size.load(std::memory_order_acquire);
    if (base != 0 && address >= base && address < base + size) {
      *out = {base, size, node.ehFrame.load(), node.unwindInfo.load(), node.crashInfo.load()};
      return true;
    }
  }
  // Loaded after the table was last brought up to date: ask the loader's link map.
  tw::machine::ImageInfo image;
  if (!tw::machine::findImageInLinkMap(address, &image)) return false;
  *out = {image.base, image.size, image.ehFrameHdr, 0, 0};
  return true;
}

bool MVXBinaryImageHasCompactUnwindInfo(const MVXBinaryImageNodeCopy* node) {
  return node != nullptr && node->unwindInfo != 0;
}
