#pragma once
// TSYApplicationIdentiferModel: describes the running build of the host application to the kits'
// web service: each architecture's build identifier, one instance identifier derived from them,
// the minimum and built-with system versions, the installation identifier and the escaped bundle
// identifier. Made once per run by the settings flow, then read only (any thread).
//
// On this system the running executable is ELF: the build identifier is the first 16 bytes of
// its GNU build-id note (32 lowercase hex digits), the architecture comes from e_machine, the
// minimum system version from the GNU ABI-tag note and the built-with version from the C
// library's version. Mach-O files are read with the Mach-O reader (computeExecutableInfoAtPath).

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "kits/platform/macho/MVXMachO.h"

class TSYApplicationIdentiferModel {
 public:
  // nullptr when the executable cannot be read.
  static std::shared_ptr<TSYApplicationIdentiferModel> create(const std::string& installID);
  // The same over a given executable (ELF or Mach-O); for tools and tests.
  static std::shared_ptr<TSYApplicationIdentiferModel> createForExecutable(
      const std::string& installID, const std::filesystem::path& executable);

  std::string builtSDKString() const;
  std::string minimumSDKString() const;

  const std::map<std::string, std::string>& architectureUUIDMap() const {
    return architectureUUIDMap_;
  }
  void setArchitectureUUIDMap(std::map<std::string, std::string> map) {
    architectureUUIDMap_ = std::move(map);
  }
  const std::string& installID() const { return installID_; }
  const std::string& bundleIdentifier() const { return bundleIdentifier_; }
  const std::string& instanceIdentifier() const { return instanceIdentifier_; }
  void setInstanceIdentifier(std::string id) { instanceIdentifier_ = std::move(id); }
  MVXMachOVersion builtSDK() const { return builtSDK_; }
  MVXMachOVersion minimumSDK() const { return minimumSDK_; }

  bool computeExecutableInfo(const std::filesystem::path& executable);
  bool computeInstanceIdentifier();

 private:
  bool computeELFInfo(const std::filesystem::path& executable);
  bool computeMachOInfo(const std::filesystem::path& executable);

  std::map<std::string, std::string> architectureUUIDMap_;
  std::string installID_;
  std::string bundleIdentifier_;
  std::string instanceIdentifier_;
  MVXMachOVersion builtSDK_;
  MVXMachOVersion minimumSDK_;
};
