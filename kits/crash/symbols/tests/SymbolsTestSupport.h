#pragma once
// Test helpers of the symbolication tests: binary-image records of this process's own images.
// Test-only.

#include <cstdint>
#include <string>

namespace tw::test {

// Writes "binary_images.mvxrecord" at path with a "load" line for every image loaded now, each
// recorded `shift` bytes above where it lies (as if the earlier run had loaded it there).
void writeLoadedImagesRecord(const std::string& path, std::uint64_t shift = 0);

}  // namespace tw::test
