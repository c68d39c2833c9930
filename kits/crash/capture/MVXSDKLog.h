#pragma once
// The crash kit's own diagnostic log "sdk.log" in the report directory. Async-signal-safe: each
// message is assembled in a stack buffer without the C library's formatting and written with
// one write; the descriptor is opened on first use. Type-safe and variadic: the arguments are
// wrapped in MVXLogArg, and the format's %s, %d, %u, %x and %p pick them up in order.
//
// State lives in the crash context (path in the read-only half, descriptor and threshold in the
// writable half). Any thread, signal handlers included; concurrent writers may interleave lines.

#include <cstddef>
#include <cstdint>

struct MVXLogArg {
  enum class Kind { String, Signed, Unsigned, Pointer };
  Kind kind;
  union {
    const char* text;
    std::int64_t s;
    std::uint64_t u;
  };
  MVXLogArg(const char* t) : kind(Kind::String), text(t) {}
  MVXLogArg(int v) : kind(Kind::Signed), s(v) {}
  MVXLogArg(long v) : kind(Kind::Signed), s(v) {}
  MVXLogArg(long long v) : kind(Kind::Signed), s(v) {}
  MVXLogArg(unsigned v) : kind(Kind::Unsigned), u(v) {}
  MVXLogArg(unsigned long v) : kind(Kind::Unsigned), u(v) {}
  MVXLogArg(unsigned long long v) : kind(Kind::Unsigned), u(v) {}
  MVXLogArg(const void* p) : kind(Kind::Pointer), u(reinterpret_cast<std::uintptr_t>(p)) {}
};

// Bytes the kit log may write after the crash-once gate closed.
constexpr std::uint64_t kMVXSDKLogCrashCap = std::uint64_t{256} * 1024;

void MVXSDKLogArgs(int level, const char* format, const MVXLogArg* args, std::size_t count);
// Formats into out (NUL-terminated, cut at size); the length written. For tests and the logger.
std::size_t MVXSDKLogFormat(char* out, std::size_t size, const char* format, const MVXLogArg* args,
                            std::size_t count);

template <typename... Args>
void MVXSDKLog(int level, const char* format, const Args&... args) {
  const MVXLogArg list[] = {MVXLogArg(args)..., MVXLogArg(0)};
  MVXSDKLogArgs(level, format, list, sizeof...(Args));
}

// The writing function and line come first, as every format's "[%s:%d]" expects.
#define MVXSDKLOG(level, format, ...) MVXSDKLog(level, format, __func__, __LINE__, ##__VA_ARGS__)
// Inside a lambda __func__ names the call operator: the enclosing function keeps its own name
// in a local the lambda captures, and the lambda logs with this one.
#define MVXSDKLOG_IN(function, level, format, ...) \
  MVXSDKLog(level, format, function, __LINE__, ##__VA_ARGS__)
