#include "kits/crash/capture/MVXUtilities.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

#include "platform/machine/Machine.h"

bool MVXReadMemory(const void* address, void* destination, std::size_t length) {
  return tw::machine::readMemory(address, destination, length);
}

bool MVXReadString(const char* address, const char** result, std::size_t maximum) {
  if (reinterpret_cast<std::uintptr_t>(address) < 4096 || result == nullptr) return false;
  for (std::size_t i = 0; i < maximum; ++i) {
    char c = 0;
    if (!MVXReadMemory(address + i, &c, 1)) return false;
    if (c == 0) {
      *result = address;
      return true;
    }
  }
  // Readable over the whole verified range but no terminator in it: refuse, so no caller reads on.
  return false;
}

void MVXHexEncodeByte(std::uint8_t byte, char out[2]) {
  static const char kDigits[] = "0123456789abcdef";
  out[0] = kDigits[byte >> 4];
  out[1] = kDigits[byte & 15];
}

void MVXHexEncode(const void* bytes, std::size_t length, char* out) {
  std::memset(out, 0, 2 * length + 1);
  const auto* b = static_cast<const std::uint8_t*>(bytes);
  for (std::size_t i = 0; i < length; ++i) MVXHexEncodeByte(b[i], out + 2 * i);
}

std::uint8_t MVXHexDecodeCharacter(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return 255;
}

bool MVXUnlinkIfExists(const char* path) {
  if (path == nullptr) return false;
  return unlink(path) == 0 || errno == ENOENT;
}
