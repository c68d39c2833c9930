#pragma once
// MVXdSYM: a debug-symbol bundle ("<name>.dSYM") with its information dictionary and the Mach-O
// DWARF file inside it ("Contents/Resources/DWARF/<name>"), opened as an MVXMachOBinary.
//
// Owned through std::shared_ptr; immutable, any thread.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kits/platform/macho/MVXMachOBinary.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Object.h"

class MVXdSYM : public tw::Object {
 public:
  static std::shared_ptr<MVXdSYM> dSYMWithURL(const std::filesystem::path& url);
  // initWithURL:; nullptr unless the URL is a bundle folder holding a DWARF file that opens.
  static std::shared_ptr<MVXdSYM> createWithURL(const std::filesystem::path& url);

  // The bundle's identifier without the prefix the debug-symbol tools put before the
  // application's own; nullopt when the bundle has none.
  std::optional<std::string> bundleIdentifier() const;
  const std::filesystem::path& executableURL() const { return binary_->URL(); }
  std::string executablePath() const { return binary_->path(); }
  // CFBundleVersion and CFBundleShortVersionString; nullopt when absent.
  std::optional<std::string> bundleVersion() const;
  std::optional<std::string> shortBundleVersion() const;
  void enumerateUUIDs(const std::function<void(const std::string& uuid,
                                               const std::string& architectureName)>& block) const {
    binary_->enumerateUUIDs(block);
  }
  const std::shared_ptr<MVXMachOBinary>& binary() const { return binary_; }
  // The information dictionary is the one in "Contents".
  const std::shared_ptr<tw::Bundle>& bundle() const { return bundle_; }

  // Use createWithURL; public for std::make_shared.
  MVXdSYM(std::shared_ptr<tw::Bundle> bundle, std::shared_ptr<MVXMachOBinary> binary)
      : bundle_(std::move(bundle)), binary_(std::move(binary)) {}

 private:
  std::optional<std::string> infoString(const char* key) const;

  std::shared_ptr<tw::Bundle> bundle_;
  std::shared_ptr<MVXMachOBinary> binary_;
};
