#pragma once
// Helpers of the Mach-O reader's tests: the fixtures folder, the LLVM tools' readings of each
// fixture, and images built byte by byte. Test-only.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tw::test {

const std::filesystem::path& machoFixtures();
// oracle.json; an empty object when the fixtures could not be built (the tests then skip).
const nlohmann::json& machoOracle();
std::vector<uint8_t> readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Little-endian words appended to or patched into a byte image.
inline void put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void putBig32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void patch32(std::vector<uint8_t>& b, size_t offset, uint32_t v) {
  std::memcpy(b.data() + offset, &v, 4);
}
inline uint32_t get32(const std::vector<uint8_t>& b, size_t offset) {
  uint32_t v;
  std::memcpy(&v, b.data() + offset, 4);
  return v;
}

// A 64-bit x86_64 header followed by the given load commands (ncmds and sizeofcmds filled in).
std::vector<uint8_t> image64(const std::vector<std::vector<uint8_t>>& commands,
                             uint32_t fileType = 2);

// Runs every reader function over `bytes` (slices, walk, decoders, sections, the object layer
// over a file copy when `path` is given); returns how many commands were delivered.
size_t exerciseReader(const std::vector<uint8_t>& bytes, const std::filesystem::path* path);

}  // namespace tw::test
