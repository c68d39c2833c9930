#include "kits/crash/capture/MVXSDKLog.h"

#include <fcntl.h>
#include <unistd.h>

#include "kits/crash/capture/MVXCrashContext.h"

namespace {

struct Out {
  char* p;
  std::size_t size;
  std::size_t used = 0;
  void put(char c) {
    if (used + 1 < size) p[used++] = c;
  }
  void puts(const char* s) {
    while (*s != 0) put(*s++);
  }
  void number(std::uint64_t v, unsigned base) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = "0123456789abcdef"[v % base];
      v /= base;
    } while (v != 0);
    while (n > 0) put(digits[--n]);
  }
};

}  // namespace

std::size_t MVXSDKLogFormat(char* out, std::size_t size, const char* format, const MVXLogArg* args,
                            std::size_t count) {
  if (out == nullptr || size == 0) return 0;
  Out o{out, size};
  std::size_t next = 0;
  for (const char* f = format; f != nullptr && *f != 0; ++f) {
    if (*f != '%' || f[1] == 0) {
      o.put(*f);
      continue;
    }
    const char spec = *++f;
    const bool known = spec == 's' || spec == 'd' || spec == 'u' || spec == 'x' || spec == 'p';
    if (!known || next >= count) {
      o.put('%');
      o.put(spec);
      continue;
    }
    const MVXLogArg& a = args[next++];
    switch (spec) {
      case 's':
        o.puts(a.kind == MVXLogArg::Kind::String && a.text != nullptr ? a.text : "(null)");
        break;
      case 'd': {
        const auto v = static_cast<std::int32_t>(a.s);
        if (v < 0) o.put('-');
        o.number(v < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(v))
                       : static_cast<std::uint64_t>(v),
                 10);
        break;
      }
      case 'u':
        o.number(static_cast<std::uint32_t>(a.u), 10);
        break;
      case 'x':
        o.number(static_cast<std::uint32_t>(a.u), 16);
        break;
      default:
        o.puts("0x");
        o.number(a.u, 16);
        break;
    }
  }
  out[o.used] = 0;
  return o.used;
}

void MVXSDKLogArgs(int level, const char* format, const MVXLogArg* args, std::size_t count) {
  MVXReadOnlyContext* ro = gMVXContext.readonly;
  MVXWritableContext* rw = gMVXContext.writable;
  if (ro == nullptr || rw == nullptr || ro->logPath == nullptr) return;
  if (level < rw->logThreshold.load(std::memory_order_relaxed)) return;
  char line[512];
  const std::size_t length = MVXSDKLogFormat(line, sizeof line, format, args, count);
  if (rw->crashedBy.load(std::memory_order_relaxed) != 0 &&
      rw->logBytesAfterCrash.fetch_add(length, std::memory_order_relaxed) + length >
          kMVXSDKLogCrashCap) {
    return;
  }
  int fd = rw->logFd.load(std::memory_order_acquire);
  if (fd < 0) {
    const int opened = open(ro->logPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (opened < 0) return;
    int expected = -1;
    if (rw->logFd.compare_exchange_strong(expected, opened, std::memory_order_acq_rel)) {
      fd = opened;
    } else {
      close(opened);
      fd = expected;
    }
  }
  for (std::size_t done = 0; done < length;) {
    const ssize_t n = write(fd, line + done, length - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}
