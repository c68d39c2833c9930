#pragma once
// Record files (".mvxrecord"): one section per line, each line a one-key JSON object. The writer
// runs inside signal handlers, so it uses only open, write, fstat and close and its own number and
// hex formatting; strings are escaped for JSON (paths may hold quotes or control bytes) and free
// text is hex-encoded. The reader, in ordinary code, is MVXFileReader.h.
//
// An MVXFile belongs to one writer at a time.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

constexpr std::size_t kMVXFileBufferSize = 1000;

struct MVXFile {
  int fd = -1;
  int depth = 0;
  bool needsComma = false;
  bool buffered = false;
  // A buffered file's bytes wait here: the writer never allocates.
  char buffer[kMVXFileBufferSize];
  std::uint64_t bufferCount = 0;
  std::uint64_t offset = 0;
};

bool MVXFileInitWithPathMode(MVXFile* file, const char* path, bool append, bool buffered);
bool MVXFileInitWithPath(MVXFile* file, const char* path, bool buffered);
// Closes for good: whatever close returns, the descriptor is gone afterwards.
bool MVXFileCloseWithOffset(MVXFile* file, std::uint64_t* offset);
bool MVXFileClose(MVXFile* file);
bool MVXFileIsOpen(const MVXFile* file);
bool MVXFileFlush(MVXFile* file);
bool MVXFileWriteBytes(MVXFile* file, const char* bytes, std::size_t length);

void MVXFileWriteSectionStart(MVXFile* file, const char* name);
void MVXFileWriteSectionEnd(MVXFile* file);
void MVXFileWriteHashStart(MVXFile* file);
void MVXFileWriteHashEnd(MVXFile* file);
void MVXFileWriteArrayStart(MVXFile* file);
void MVXFileWriteArrayEnd(MVXFile* file);
void MVXFileWriteHashKey(MVXFile* file, const char* key);
void MVXFileWriteHashEntryUint64(MVXFile* file, const char* key, std::uint64_t value);
void MVXFileWriteHashEntryInt64(MVXFile* file, const char* key, std::int64_t value);
void MVXFileWriteHashEntryString(MVXFile* file, const char* key, const char* text);
void MVXFileWriteHashEntryNSString(MVXFile* file, const char* key,
                                   const std::optional<std::string>& text);
void MVXFileWriteHashEntryNSStringUnlessNilOrEmpty(MVXFile* file, const char* key,
                                                   const std::optional<std::string>& text);
void MVXFileWriteHashEntryHexEncodedString(MVXFile* file, const char* key, const char* text);
void MVXFileWriteHashEntryHexEncodedBytes(MVXFile* file, const char* key, const char* bytes,
                                          std::size_t length);
void MVXFileWriteHashEntryBoolean(MVXFile* file, const char* key, bool value);
void MVXFileWriteHashEntryNull(MVXFile* file, const char* key);
void MVXFileWriteArrayEntryUint64(MVXFile* file, std::uint64_t value);
void MVXFileWriteArrayEntryString(MVXFile* file, const char* text);
void MVXFileWriteArrayEntryHexEncodedString(MVXFile* file, const char* text);

void MVXFileFDWriteUInt64(int fd, std::uint64_t value, bool hex);
void MVXFileFDWriteInt64(int fd, std::int64_t value);
// Figures of value into the 21-byte buffer; returns where the text starts.
const char* MVXFileFormatUInt64(std::uint64_t value, bool hex, char buffer[21]);
