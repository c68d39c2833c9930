#include "kits/crash/capture/MVXFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXUtilities.h"

namespace {

bool writeUnbuffered(MVXFile* file, const char* bytes, std::size_t length) {
  std::size_t done = 0;
  for (int attempt = 0; attempt < 50 && done < length; ++attempt) {
    const ssize_t n = write(file->fd, bytes + done, length - done);
    if (n < 1 || static_cast<std::size_t>(n) > length - done) return false;
    done += static_cast<std::size_t>(n);
  }
  if (done < length) return false;
  file->offset += length;
  return true;
}

// Field by field: the buffer's bytes are left as they are.
void reset(MVXFile* file) {
  file->fd = -1;
  file->depth = 0;
  file->needsComma = false;
  file->buffered = false;
  file->bufferCount = 0;
  file->offset = 0;
}

void separator(MVXFile* file) {
  if (file->needsComma) MVXFileWriteBytes(file, ",", 1);
}

void open(MVXFile* file, char bracket) {
  separator(file);
  MVXFileWriteBytes(file, &bracket, 1);
  ++file->depth;
  file->needsComma = false;
}

void closeBracket(MVXFile* file, char bracket) {
  MVXFileWriteBytes(file, &bracket, 1);
  if (file->depth > 0) --file->depth;
  file->needsComma = file->depth > 0;
}

// A JSON string: quote, the bytes with quote, backslash and control bytes escaped, quote.
void writeQuoted(MVXFile* file, const char* text, const char* suffix) {
  char chunk[64];
  std::size_t used = 0;
  auto flush = [&] {
    MVXFileWriteBytes(file, chunk, used);
    used = 0;
  };
  auto put = [&](char c) {
    if (used == sizeof chunk) flush();
    chunk[used++] = c;
  };
  put('"');
  for (const char* p = text; *p != 0; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      put('\\');
      put(static_cast<char>(c));
    } else if (c < 0x20) {
      char hex[2];
      MVXHexEncodeByte(c, hex);
      for (char e : {'\\', 'u', '0', '0', hex[0], hex[1]}) put(e);
    } else {
      put(static_cast<char>(c));
    }
  }
  put('"');
  for (const char* s = suffix; s != nullptr && *s != 0; ++s) put(*s);
  flush();
}

void writeHex(MVXFile* file, const char* bytes, std::size_t length) {
  MVXFileWriteBytes(file, "\"", 1);
  // Byte by byte into a buffer with room for the encoder's terminator.
  char out[33];
  for (std::size_t at = 0; at < length; at += 16) {
    const std::size_t n = length - at < 16 ? length - at : 16;
    MVXHexEncode(bytes + at, n, out);
    MVXFileWriteBytes(file, out, 2 * n);
  }
  MVXFileWriteBytes(file, "\"", 1);
}

void writeUnsigned(MVXFile* file, std::uint64_t value) {
  char buffer[21];
  const char* text = MVXFileFormatUInt64(value, false, buffer);
  MVXFileWriteBytes(file, text, std::strlen(text));
}

}  // namespace

const char* MVXFileFormatUInt64(std::uint64_t value, bool hex, char buffer[21]) {
  std::memset(buffer, 0, 21);
  const unsigned base = hex ? 16 : 10;
  int at = 19;
  do {
    buffer[at--] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0 && at >= 0);
  return buffer + at + 1;
}

bool MVXFileInitWithPathMode(MVXFile* file, const char* path, bool append, bool buffered) {
  if (file == nullptr) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: file is null\n");
    return false;
  }
  reset(file);
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  file->fd = path != nullptr ? ::open(path, flags, 0644) : -1;
  if (file->fd < 0) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: Unable to open file %s\n", path);
    MVXSDKLOG(3, "WARN  [%s:%d] Error: file descriptor invalid\n");
    return false;
  }
  if (append) {
    struct stat info {};
    if (fstat(file->fd, &info) == 0) file->offset = static_cast<std::uint64_t>(info.st_size);
  }
  file->buffered = buffered;
  return true;
}

bool MVXFileInitWithPath(MVXFile* file, const char* path, bool buffered) {
  return MVXFileInitWithPathMode(file, path, true, buffered);
}

bool MVXFileIsOpen(const MVXFile* file) { return file != nullptr && file->fd >= 0; }

bool MVXFileFlush(MVXFile* file) {
  if (!MVXFileIsOpen(file) || !file->buffered || file->bufferCount == 0) return true;
  const bool ok = writeUnbuffered(file, file->buffer, file->bufferCount);
  file->bufferCount = 0;
  return ok;
}

bool MVXFileWriteBytes(MVXFile* file, const char* bytes, std::size_t length) {
  if (!MVXFileIsOpen(file)) return false;
  if (!file->buffered) return writeUnbuffered(file, bytes, length);
  while (length > 0) {
    if (file->bufferCount + length < kMVXFileBufferSize) {
      std::memcpy(file->buffer + file->bufferCount, bytes, length);
      file->bufferCount += length;
      return true;
    }
    const std::size_t room = kMVXFileBufferSize - 1 - file->bufferCount;
    std::memcpy(file->buffer + file->bufferCount, bytes, room);
    file->bufferCount += room;
    bytes += room;
    length -= room;
    if (!MVXFileFlush(file)) return false;
  }
  return true;
}

bool MVXFileCloseWithOffset(MVXFile* file, std::uint64_t* offset) {
  if (!MVXFileIsOpen(file)) return false;
  MVXFileFlush(file);
  if (offset != nullptr) *offset = file->offset;
  const int fd = file->fd;
  // Linux releases the descriptor even when close fails: never use it again.
  reset(file);
  if (::close(fd) != 0) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: Unable to close file %s\n", "record");
    return false;
  }
  return true;
}

bool MVXFileClose(MVXFile* file) { return MVXFileCloseWithOffset(file, nullptr); }

void MVXFileWriteSectionStart(MVXFile* file, const char* name) {
  open(file, '{');
  writeQuoted(file, name, ":");
}

void MVXFileWriteSectionEnd(MVXFile* file) {
  closeBracket(file, '}');
  MVXFileWriteBytes(file, "\n", 1);
  file->needsComma = false;
  file->depth = 0;
}

void MVXFileWriteHashStart(MVXFile* file) { open(file, '{'); }
void MVXFileWriteHashEnd(MVXFile* file) { closeBracket(file, '}'); }
void MVXFileWriteArrayStart(MVXFile* file) { open(file, '['); }
void MVXFileWriteArrayEnd(MVXFile* file) { closeBracket(file, ']'); }

void MVXFileWriteHashKey(MVXFile* file, const char* key) {
  separator(file);
  writeQuoted(file, key, ":");
  file->needsComma = false;
}

void MVXFileWriteHashEntryUint64(MVXFile* file, const char* key, std::uint64_t value) {
  MVXFileWriteHashKey(file, key);
  writeUnsigned(file, value);
  file->needsComma = true;
}

void MVXFileWriteHashEntryInt64(MVXFile* file, const char* key, std::int64_t value) {
  MVXFileWriteHashKey(file, key);
  if (value < 0) MVXFileWriteBytes(file, "-", 1);
  writeUnsigned(
      file, value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value));
  file->needsComma = true;
}

void MVXFileWriteHashEntryString(MVXFile* file, const char* key, const char* text) {
  MVXFileWriteHashKey(file, key);
  if (text == nullptr) {
    MVXFileWriteBytes(file, "null", 4);
  } else {
    writeQuoted(file, text, nullptr);
  }
  file->needsComma = true;
}

void MVXFileWriteHashEntryNSString(MVXFile* file, const char* key,
                                   const std::optional<std::string>& text) {
  MVXFileWriteHashEntryString(file, key, text ? text->c_str() : nullptr);
}

void MVXFileWriteHashEntryNSStringUnlessNilOrEmpty(MVXFile* file, const char* key,
                                                   const std::optional<std::string>& text) {
  if (text && !text->empty()) MVXFileWriteHashEntryString(file, key, text->c_str());
}

void MVXFileWriteHashEntryHexEncodedBytes(MVXFile* file, const char* key, const char* bytes,
                                          std::size_t length) {
  MVXFileWriteHashKey(file, key);
  if (bytes == nullptr) {
    MVXFileWriteBytes(file, "null", 4);
  } else {
    writeHex(file, bytes, length);
  }
  file->needsComma = true;
}

void MVXFileWriteHashEntryHexEncodedString(MVXFile* file, const char* key, const char* text) {
  MVXFileWriteHashEntryHexEncodedBytes(file, key, text, text != nullptr ? std::strlen(text) : 0);
}

void MVXFileWriteHashEntryBoolean(MVXFile* file, const char* key, bool value) {
  MVXFileWriteHashKey(file, key);
  MVXFileWriteBytes(file, value ? "true" : "false", value ? 4 : 5);
  file->needsComma = true;
}

void MVXFileWriteHashEntryNull(MVXFile* file, const char* key) {
  MVXFileWriteHashKey(file, key);
  MVXFileWriteBytes(file, "null", 4);
  file->needsComma = true;
}

void MVXFileWriteArrayEntryUint64(MVXFile* file, std::uint64_t value) {
  separator(file);
  writeUnsigned(file, value);
  file->needsComma = true;
}

void MVXFileWriteArrayEntryString(MVXFile* file, const char* text) {
  separator(file);
  if (text == nullptr) {
    MVXFileWriteBytes(file, "null", 4);
  } else {
    writeQuoted(file, text, nullptr);
  }
  file->needsComma = true;
}

void MVXFileWriteArrayEntryHexEncodedString(MVXFile* file, const char* text) {
  separator(file);
  if (text == nullptr) {
    MVXFileWriteBytes(file, "null", 4);
  } else {
    writeHex(file, text, std::strlen(text));
  }
  file->needsComma = true;
}

void MVXFileFDWriteUInt64(int fd, std::uint64_t value, bool hex) {
  char buffer[21];
  const char* text = MVXFileFormatUInt64(value, hex, buffer);
  if (write(fd, text, std::strlen(text)) < 0) return;
}

void MVXFileFDWriteInt64(int fd, std::int64_t value) {
  if (value < 0 && write(fd, "-", 1) < 0) return;
  MVXFileFDWriteUInt64(
      fd, value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value),
      false);
}
