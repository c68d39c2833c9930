#pragma once
// MVXMachOBinary: a Mach-O file on disk (thin or fat) with one MVXMachOSlice per architecture, in
// file order, and an identifier of the build derived from the slices' UUIDs. The file stays mapped
// read-only for the object's life.
//
// Owned through std::shared_ptr. The slices never change; the identifier is computed once, under
// a lock, so every method may be called from any thread.

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kits/platform/macho/MVXMachO.h"
#include "kits/platform/macho/MVXMachOSlice.h"
#include "platform/foundation/Object.h"

class MVXMachOBinary : public tw::Object {
 public:
  // A file URL is its path here.
  static std::shared_ptr<MVXMachOBinary> MachOBinaryWithPath(const std::filesystem::path& path);
  // initWithURL:; nullptr when the path is no regular file of at least 16 bytes, or cannot be
  // opened or mapped.
  static std::shared_ptr<MVXMachOBinary> createWithURL(const std::filesystem::path& url);
  ~MVXMachOBinary() override;

  const std::filesystem::path& URL() const { return url_; }
  std::string path() const { return url_.string(); }
  // SHA-1 (hexadecimal) of the slices' UUID texts joined in the order of their architecture names.
  std::string instanceIdentifier() const;
  // block(uuid, architecture name) per slice, file order.
  void enumerateUUIDs(const std::function<void(const std::string& uuid,
                                               const std::string& architectureName)>& block) const;
  std::shared_ptr<MVXMachOSlice> sliceForArchitecture(std::string_view name) const;
  // SHA-1 of the text's UTF-8 bytes up to its first zero byte, 40 lowercase hexadecimal digits.
  static std::string hashNSString(std::string_view text);
  const std::vector<std::shared_ptr<MVXMachOSlice>>& slices() const { return slices_; }

  // Use createWithURL; public for std::make_shared.
  explicit MVXMachOBinary(std::filesystem::path url);

 private:
  std::filesystem::path url_;
  MVXMachOFile file_;
  std::vector<std::shared_ptr<MVXMachOSlice>> slices_;
  mutable std::once_flag identifierOnce_;
  mutable std::string instanceIdentifier_;
};
