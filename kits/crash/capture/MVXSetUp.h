#pragma once
// Capture set-up: host facts cached when the kit starts, the host section of a report file, the
// application-extension check, and string copies into the kit's crash-time allocator. They use
// the object layer (the main bundle, the kit platform's host information), so they never run in
// a handler: set-up and the object layer only, any thread.

#include <cstdint>
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
