#pragma once
// Crash-time utilities: kernel-checked memory and string reads, hex routines, unlinking, symbol
// look-up and monotonic profiling marks. What set-up and the object layer use lives apart, in
// MVXSetUp.h.
//
// Plain functions. Those marked "signal-safe" run in handlers on any thread; the symbol look-up
// and profiling marks run in ordinary code.

#include <cstddef>
#include <cstdint>

// Signal-safe.
bool MVXReadMemory(const void* address, void* destination, std::size_t length);
bool MVXReadString(const char* address, const char** result, std::size_t maximum);
void MVXHexEncodeByte(std::uint8_t byte, char out[2]);
// out must hold 2 * length + 1 bytes.
void MVXHexEncode(const void* bytes, std::size_t length, char* out);
std::uint8_t MVXHexDecodeCharacter(char c);
bool MVXUnlinkIfExists(const char* path);

// Ordinary code.
// Calls fn with the symbol name and image path of address; both null when it is in no image.
template <typename Fn>
void MVXSymbolInfoForAddress(std::uintptr_t address, Fn&& fn);
std::uint64_t MVXProfileMark();
double MVXProfileElapsedMilliseconds(std::uint64_t mark);

bool MVXSymbolLookup(std::uintptr_t address, const char** symbol, const char** image);
template <typename Fn>
void MVXSymbolInfoForAddress(std::uintptr_t address, Fn&& fn) {
  const char* symbol = nullptr;
  const char* image = nullptr;
  MVXSymbolLookup(address, &symbol, &image);
  fn(symbol, image);
}
