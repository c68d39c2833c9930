#pragma once
// Crash-time utilities: kernel-checked memory and string reads, hex routines and unlinking. What
// set-up and the object layer use (symbol look-up, profiling marks) lives apart, in MVXSetUp.h.
//
// Plain functions, all signal-safe: they run in handlers on any thread.

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
