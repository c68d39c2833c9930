#pragma once
// Capture utilities: kernel-checked memory and string reads, hex routines, host facts cached at
// set-up, unlinking and symbol look-up, monotonic profiling marks.
//
// Plain functions. Those marked "signal-safe" run in handlers on any thread; the rest run in
// ordinary code (set-up and the object layer).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct MVXFile;
struct MVXHostContext;

// Signal-safe.
bool MVXReadMemory(const void* address, void* destination, std::size_t length);
bool MVXReadString(const char* address, const char** result, std::size_t maximum);
void MVXHexEncodeByte(std::uint8_t byte, char out[2]);
// out must hold 2 * length + 1 bytes.
void MVXHexEncode(const void* bytes, std::size_t length, char* out);
std::uint8_t MVXHexDecodeCharacter(char c);
bool MVXUnlinkIfExists(const char* path);

// Set-up and ordinary code.
const char* MVXDuplicateString(const char* text);
void MVXHostInit(MVXHostContext* host);
std::uint64_t MVXHostGetPageSize();
long MVXHostGetOSVersionNumber();
bool MVXHostRecordMetadata(MVXFile* file);
std::optional<std::string> MVXApplicationExtensionPointIdentifier();
// True inside an application extension (an extension point identifier is declared).
bool MVXApplicationIsExtension();

// A process activity: with bit 0x4000 (sudden termination disabled) or 0x8000 (automatic
// termination disabled) in its options, the application's ending waits for it
// (tw::TerminationActivities). The token ends it once; any thread.
struct MVXApplicationActivityToken {
  std::uint64_t options = 0;
  std::string reason;
  std::uint64_t activity = 0;  // 0 once ended, or when nothing was counted
};
MVXApplicationActivityToken MVXApplicationBeginActivity(std::uint64_t options,
                                                        const std::string& reason);
void MVXApplicationEndActivity(MVXApplicationActivityToken& token);
// Runs block between the two, ending the activity also when it throws.
void MVXApplicationActivity(std::uint64_t options, const std::string& reason,
                            const std::function<void()>& block);
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
