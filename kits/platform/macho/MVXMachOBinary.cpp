#include "kits/platform/macho/MVXMachOBinary.h"

#include <openssl/evp.h>

#include <algorithm>

MVXMachOBinary::MVXMachOBinary(std::filesystem::path url) : url_(std::move(url)) {}

MVXMachOBinary::~MVXMachOBinary() { MVXMachOFileDestroy(&file_); }

std::shared_ptr<MVXMachOBinary> MVXMachOBinary::MachOBinaryWithPath(
    const std::filesystem::path& path) {
  return createWithURL(path);
}

std::shared_ptr<MVXMachOBinary> MVXMachOBinary::createWithURL(const std::filesystem::path& url) {
  auto binary = std::make_shared<MVXMachOBinary>(url);
  if (!MVXMachOFileInitWithPath(&binary->file_, binary->url_.c_str())) return nullptr;
  MVXMachOFileEnumerateSlices(&binary->file_, [&](MVXMachOSliceRef slice) {
    binary->slices_.push_back(std::make_shared<MVXMachOSlice>(slice));
  });
  return binary;
}

std::string MVXMachOBinary::instanceIdentifier() const {
  std::call_once(identifierOnce_, [this] {
    std::vector<std::pair<std::string, const MVXMachOSlice*>> named;
    for (const auto& slice : slices_) named.emplace_back(slice->architectureName(), slice.get());
    std::stable_sort(named.begin(), named.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string joined;
    for (const auto& [name, slice] : named) joined += slice->uuid();
    instanceIdentifier_ = hashNSString(joined);
  });
  return instanceIdentifier_;
}

void MVXMachOBinary::enumerateUUIDs(
    const std::function<void(const std::string&, const std::string&)>& block) const {
  if (!block) return;
  for (const auto& slice : slices_) block(slice->uuid(), slice->architectureName());
}

std::shared_ptr<MVXMachOSlice> MVXMachOBinary::sliceForArchitecture(std::string_view name) const {
  for (const auto& slice : slices_) {
    if (slice->architectureName() == name) return slice;
  }
  return nullptr;
}

std::string MVXMachOBinary::hashNSString(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xf];
  }
  return hex;
}
