#include "kits/crash/capture/MVXStackWalk.h"

#include <cstdarg>
#include <cstring>

#include "kits/crash/capture/MVXBinaryImage.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXUtilities.h"

namespace {

bool readMemory(uintptr_t address, void* out, size_t length) {
  return MVXReadMemory(reinterpret_cast<const void*>(address), out, length);
}

// The kit's table holds every ELF image with its PT_GNU_EH_FRAME address and falls back to the
// loader's link map without taking its lock. Images it does not know (Mach-O images laid out in
// memory) go to the unwinder's own look-up, which is lock-free as well.
bool findImage(uintptr_t address, MVXUnwindImage* image) {
  MVXBinaryImageNodeCopy node;
  if (MVXBinaryImageSafeFindImageForAddress(address, &node)) {
    *image = MVXUnwindImage{};
    image->start = image->loadAddress = node.base;
    image->end = node.base + node.size;
    image->ehFrameHdr = node.ehFrame;
    return true;
  }
  return MVXUnwindDefaultFindImage(address, image);
}

// The unwinder speaks printf; the kit log takes typed arguments and knows no length modifiers, so
// the format is copied without them and each argument fetched by its conversion.
void log(const char* format, ...) {
  const int level = MVXStackWalkLogLevel(format);
  constexpr std::size_t kMaxArgs = 12;
  MVXLogArg args[kMaxArgs] = {MVXLogArg(0), MVXLogArg(0), MVXLogArg(0), MVXLogArg(0),
                              MVXLogArg(0), MVXLogArg(0), MVXLogArg(0), MVXLogArg(0),
                              MVXLogArg(0), MVXLogArg(0), MVXLogArg(0), MVXLogArg(0)};
  char chars[kMaxArgs][2] = {};
  char plain[256];
  std::size_t used = 0, count = 0;
  va_list list;
  va_start(list, format);
  for (const char* f = format; *f != 0 && used + 3 < sizeof plain; ++f) {
    plain[used++] = *f;
    if (*f != '%') continue;
    if (f[1] == '%') {
      plain[used++] = *++f;
      continue;
    }
    int longs = 0;
    while (f[1] == 'l' || f[1] == 'z') longs += *++f == 'z' ? 2 : 1;
    const char spec = f[1];
    if (spec == 0 || count == kMaxArgs) break;
    ++f;
    switch (spec) {
      case 's':
        args[count++] = MVXLogArg(va_arg(list, const char*));
        break;
      case 'p':
        args[count++] = MVXLogArg(va_arg(list, const void*));
        break;
      case 'c':
        chars[count][0] = static_cast<char>(va_arg(list, int));
        args[count] = MVXLogArg(static_cast<const char*>(chars[count]));
        ++count;
        plain[used++] = 's';
        continue;
      case 'd':
      case 'i':
        args[count++] =
            longs > 0 ? MVXLogArg(va_arg(list, long long)) : MVXLogArg(va_arg(list, int));
        break;
      default:
        args[count++] = longs > 0 ? MVXLogArg(va_arg(list, unsigned long long))
                                  : MVXLogArg(va_arg(list, unsigned));
        break;
    }
    // 64-bit values print whole as pointers; the kit log's %u and %x keep 32 bits.
    plain[used++] = longs > 0 && spec != 's' ? (spec == 'd' ? 'd' : 'p') : spec;
  }
  va_end(list);
  plain[used] = 0;
  MVXSDKLogArgs(level, plain, args, count);
}

}  // namespace

int MVXStackWalkLogLevel(const char* format) {
  // The unwinder traces every frame and call-frame instruction under its warning word: those are
  // debug lines here, and only its errors reach the kit log's error level.
  if (format != nullptr && std::strncmp(format, "ERROR", 5) == 0) return 4;
  return 1;
}

void MVXStackWalkConnect() {
  MVXUnwindSetReadMemory(&readMemory);
  MVXUnwindSetFindImage(&findImage);
  MVXUnwindSetLog(&log);
}

void MVXStackWalkRecordThreadStack() {
  if (!MVXUnwindRecordCurrentThreadStack()) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to find this thread's stack\n");
  }
}

bool MVXStackWalkInit(MVXUnwindContext* walk, const mcontext_t* context) {
  if (walk == nullptr || context == nullptr) return false;
  ucontext_t wrapped;
  std::memset(&wrapped, 0, sizeof wrapped);
  wrapped.uc_mcontext = *context;
  wrapped.uc_mcontext.fpregs = nullptr;  // never read by the walk; may point at a gone frame
  MVXMachineContext64 registers;
  if (!MVXMachineContextFromUContext(&wrapped, &registers)) return false;
  return registers.ss.rip != 0 && MVXUnwindInit(walk, registers);
}
