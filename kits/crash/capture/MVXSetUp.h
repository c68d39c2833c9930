#pragma once
// Capture set-up: host facts cached when the kit starts, the host section of a report file, the
// application-extension check, string copies into the kit's crash-time allocator, symbol look-up
// and monotonic profiling marks. They use
// the object layer (the main bundle, the kit platform's host information), so they never run in
// a handler: set-up and the object layer only, any thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct MVXFile;
struct MVXHostContext;

// A copy in the crash context's allocator, readable from a handler later; null for null.
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
