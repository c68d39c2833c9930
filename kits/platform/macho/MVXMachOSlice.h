#pragma once
// MVXMachOSlice: one architecture slice of a Mach-O image as text and values: its architecture
// name, build UUID, linked dylibs (load-command order) and the minimum OS and linked SDK versions
// of its version-min command. Everything is read once, at construction; a slice of a file keeps
// only the CPU pair afterwards, so it may outlive the MVXMachOBinary it came from.
//
// Owned through std::shared_ptr; immutable, any thread.

#include <memory>
#include <string>
#include <vector>

#include "kits/platform/macho/MVXMachO.h"
#include "platform/foundation/Object.h"

class MVXMachOSlice : public tw::Object {
 public:
  // The running executable's slice (MVXMachOSliceGetCurrent).
  static std::shared_ptr<MVXMachOSlice> runningSlice();
  // initWithSlice:
  explicit MVXMachOSlice(MVXMachOSliceRef slice);

  std::string architectureName() const;
  // 32 lowercase hexadecimal characters; empty for a slice without an LC_UUID command.
  const std::string& uuid() const { return uuid_; }
  const std::vector<std::string>& linkedDylibs() const { return linkedDylibs_; }
  MVXMachOVersion minimumOSVersion() const { return minimumOSVersion_; }
  MVXMachOVersion linkedSDKVersion() const { return linkedSDKVersion_; }

 private:
  MVXMachOSliceRef slice_;
  std::string uuid_;
  std::vector<std::string> linkedDylibs_;
  MVXMachOVersion minimumOSVersion_;
  MVXMachOVersion linkedSDKVersion_;
};
