#pragma once
// MVXSymbolResolver: names the recorded return addresses of an earlier run. An address is
// placed in the image that held it at crash time ("binary_images.mvxrecord"), that image is
// found loaded in this process by its build-id, and the address, moved to where the image lies
// now, is named by the loader (dladdr) or, for functions the loader cannot name, by the image's
// ELF symbol tables (tw::ElfSymbolizer). Images are never loaded for this.
//
// Made for one report by the reports controller and used on its work queue; one thread at a
// time (it caches the loaded images and symbol files it has looked at).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kits/crash/capture/MVXBinaryImage.h"
#include "kits/crash/symbols/ElfSymbolizer.h"
#include "kits/crash/symbols/MVXStackFrame.h"

class MVXSymbolResolver {
 public:
  // One "load" line of the binary-image record.
  struct RecordedImage {
    std::string path;
    std::string uuid;
    std::uint64_t base = 0;
    std::uint64_t size = 0;
  };

  MVXSymbolResolver() = default;
  // The ELF reader's debug roots (tests point them at their own folders).
  explicit MVXSymbolResolver(std::vector<std::string> debugRoots);

  bool loadBinaryImagesFromFile(const std::string& path);
  const std::vector<RecordedImage>& binaryImages() const { return binaryImages_; }
  const RecordedImage* loadedBinaryImageForPC(std::uint64_t pc) const;
  // The image loaded now with that build-id (cached per build-id).
  bool fillInImageDetails(MVXBinaryImageDetails* details, const std::string& uuid);
  std::shared_ptr<MVXStackFrame> frameForAddress(std::uint64_t address, bool exactAddress = false);
  // exactAddress: the frame is a thread's current instruction, not a return address, so it is
  // named as it stands; a return address that names nothing or the first byte of a function is
  // looked up two bytes earlier, in the calling function.
  bool updateStackFrame(MVXStackFrame* frame, bool exactAddress = false);

 private:
  struct Named {
    std::optional<std::string> name;
    std::optional<std::uint64_t> start;
  };
  // False when no loaded image holds the address.
  bool lookup(std::uint64_t address, const MVXBinaryImageDetails& image, Named* out);

  std::vector<RecordedImage> binaryImages_;
  std::map<std::string, std::optional<MVXBinaryImageDetails>> loaded_;
  tw::ElfSymbolizer elf_;
};
