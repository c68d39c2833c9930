#include "kits/platform/macho/MVXMachOSlice.h"

std::shared_ptr<MVXMachOSlice> MVXMachOSlice::runningSlice() {
  return std::make_shared<MVXMachOSlice>(MVXMachOSliceGetCurrent());
}

MVXMachOSlice::MVXMachOSlice(MVXMachOSliceRef slice) : slice_(slice) {
  MVXMachOSliceEnumerateLoadCommands(&slice_, [this](uint32_t cmd, uint32_t, const void* command) {
    switch (cmd) {
      case LC_VERSION_MIN_MACOSX:
      case LC_VERSION_MIN_IPHONEOS:
      case LC_VERSION_MIN_TVOS:
      case LC_VERSION_MIN_WATCHOS:
        minimumOSVersion_ = MVXMachOGetMinimumOSVersion(command);
        linkedSDKVersion_ = MVXMachOGetLinkedSDKVersion(command);
        break;
      case LC_LOAD_DYLIB:
        linkedDylibs_.emplace_back(MVXMachOGetDylibName(command));
        break;
      case LC_UUID:
        uuid_ = MVXMachOFormatUUID(MVXMachOGetUUID(command));
        break;
      default:
        break;
    }
  });
  // Nothing reads the image through the slice after this.
  slice_.header = nullptr;
  slice_.size = 0;
}

std::string MVXMachOSlice::architectureName() const {
  return MVXMachOSliceGetArchitectureName(slice_);
}
