#include "kits/platform/net/OutputStream.h"

namespace tw {

bool FileOutputStream::open() {
  if (file_) return true;
  file_ = std::fopen(path_.c_str(), "wb");
  failed_ = file_ == nullptr;
  return file_ != nullptr;
}

long FileOutputStream::write(const std::uint8_t* bytes, std::size_t length) {
  if (!file_ || failed_) return -1;
  std::size_t written = std::fwrite(bytes, 1, length, file_);
  if (written < length) failed_ = true;
  return static_cast<long>(written);
}

bool FileOutputStream::closeChecked() {
  if (!file_) return !failed_;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

}  // namespace tw
