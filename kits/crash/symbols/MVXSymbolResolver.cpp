#include "kits/crash/symbols/MVXSymbolResolver.h"

#include <dlfcn.h>

#include <algorithm>

#include "kits/crash/capture/MVXFileReader.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"

MVXSymbolResolver::MVXSymbolResolver(std::vector<std::string> debugRoots)
    : elf_(std::move(debugRoots)) {}

bool MVXSymbolResolver::loadBinaryImagesFromFile(const std::string& path) {
  if (path.empty()) return false;
  const auto lines = MVXFileReadSections(path, false);
  if (!lines || lines->empty()) {
    tw::log(tw::format("[Morvex:Crash:SymbolResolver] failed to read binary image file %@", path));
    return false;
  }
  binaryImages_.clear();
  for (const tw::Value& line : *lines) {
    const tw::Value& load = line["load"];
    const tw::Value& base = load["base"];
    const tw::Value& size = load["size"];
    if (load.dictionary() == nullptr || !base.isNumber() || !size.isNumber()) continue;
    RecordedImage image;
    if (const std::string* p = load["path"].string()) image.path = *p;
    if (const std::string* u = load["uuid"].string()) image.uuid = *u;
    image.base = base.unsignedValue();
    image.size = size.unsignedValue();
    binaryImages_.push_back(std::move(image));
  }
  std::stable_sort(binaryImages_.begin(), binaryImages_.end(),
                   [](const RecordedImage& a, const RecordedImage& b) { return a.base < b.base; });
  return true;
}

const MVXSymbolResolver::RecordedImage* MVXSymbolResolver::loadedBinaryImageForPC(
    std::uint64_t pc) const {
  for (const auto& image : binaryImages_) {
    if (image.base <= pc && pc - image.base < image.size) return &image;
  }
  return nullptr;
}

bool MVXSymbolResolver::fillInImageDetails(MVXBinaryImageDetails* details,
                                           const std::string& uuid) {
  // An image without a build-id cannot be told from another build of itself: never matched.
  if (details == nullptr || uuid.empty()) return false;
  auto found = loaded_.find(uuid);
  if (found == loaded_.end()) {
    MVXBinaryImageDetails now;
    std::optional<MVXBinaryImageDetails> entry;
    if (MVXBinaryImageFindImageForUUID(uuid.c_str(), &now)) entry = std::move(now);
    found = loaded_.emplace(uuid, std::move(entry)).first;
  }
  if (!found->second) return false;
  *details = *found->second;
  return true;
}

bool MVXSymbolResolver::lookup(std::uint64_t address, const MVXBinaryImageDetails& image,
                               Named* out) {
  *out = {};
  Dl_info info{};
  // The address is one of this process's, worked out from the recorded one.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  if (dladdr(reinterpret_cast<const void*>(address), &info) == 0) return false;
  if (info.dli_sname != nullptr && info.dli_saddr != nullptr) {
    out->name = info.dli_sname;
    out->start = reinterpret_cast<std::uintptr_t>(info.dli_saddr);
    return true;
  }
  // Not exported: the image's own symbol tables, or a separate debug file of the same build.
  const tw::ElfSymbolizer::Image elfImage{image.path, image.uuid, image.node.base};
  if (auto symbol = elf_.lookup(elfImage, address)) {
    out->name = std::move(symbol->name);
    out->start = symbol->start;
  }
  return true;
}

bool MVXSymbolResolver::updateStackFrame(MVXStackFrame* frame, bool exactAddress) {
  if (frame == nullptr || frame->address() == 0) return false;
  const RecordedImage* image = loadedBinaryImageForPC(frame->address());
  if (image == nullptr) return false;
  MVXBinaryImageDetails details;
  if (!fillInImageDetails(&details, image->uuid)) return false;
  std::uint64_t local = details.node.base + (frame->address() - image->base);
  Named named;
  if (!lookup(local, details, &named)) return false;
  if (!exactAddress && (!named.start || *named.start == local)) {
    // A return address on a function's first byte, or in the padding after a function, follows
    // a call that never returns at the very end of the calling function.
    local -= 2;
    if (!lookup(local, details, &named)) return false;
  }
  if (named.name) {
    frame->setSymbol(named.name);
    frame->setRawSymbol(named.name);
  }
  // Without a symbol start there is nothing to measure an offset from.
  if (named.start && local > *named.start) frame->setOffset(local - *named.start);
  const std::size_t slash = image->path.rfind('/');
  frame->setLibrary(slash == std::string::npos ? image->path : image->path.substr(slash + 1));
  return true;
}

std::shared_ptr<MVXStackFrame> MVXSymbolResolver::frameForAddress(std::uint64_t address,
                                                                  bool exactAddress) {
  auto frame = MVXStackFrame::stackFrameWithAddress(address);
  return updateStackFrame(frame.get(), exactAddress) ? frame : nullptr;
}
