#include "kits/crash/capture/MVXStackWalk.h"

#include <cstdarg>
#include <cstring>

#include "kits/crash/capture/MVXBinaryImage.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXUtilities.h"

namespace {

bool readMemory(uintptr_t address, void* out, size_t length) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): reads memory at an address it was given
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

constexpr std::size_t kMaxArgs = 12;

// One unwinder message as the kit log takes it.
struct Converted {
  MVXLogArg args[kMaxArgs] = {MVXLogArg(0), MVXLogArg(0), MVXLogArg(0), MVXLogArg(0),
                              MVXLogArg(0), MVXLogArg(0), MVXLogArg(0), MVXLogArg(0),
                              MVXLogArg(0), MVXLogArg(0), MVXLogArg(0), MVXLogArg(0)};
  char chars[kMaxArgs][2] = {};
  char format[256];
  std::size_t count = 0;
};

// The unwinder speaks printf; the kit log takes typed arguments and knows no length modifiers, so
// the format is copied without them and each argument fetched by its conversion.
void convert(Converted* out, const char* format, va_list list) {
  std::size_t used = 0;
  char* plain = out->format;
  for (const char* f = format; *f != 0 && used + 3 < sizeof out->format; ++f) {
    plain[used++] = *f;
    if (*f != '%') continue;
    if (f[1] == '%') {
      // The kit log writes a '%' that no conversion letter follows as it stands.
      ++f;
      if (std::strchr("sdupx", f[1]) != nullptr || f[1] == 0) plain[used++] = '%';
      continue;
    }
    int longs = 0;
    while (f[1] == 'l' || f[1] == 'z') longs += *++f == 'z' ? 2 : 1;
    const char spec = f[1];
    if (spec == 0 || out->count == kMaxArgs) break;
    ++f;
    MVXLogArg* arg = &out->args[out->count++];
    switch (spec) {
      case 's':
        *arg = MVXLogArg(va_arg(list, const char*));
        break;
      case 'p':
        *arg = MVXLogArg(va_arg(list, const void*));
        break;
      case 'c': {
        char* text = out->chars[out->count - 1];
        text[0] = static_cast<char>(va_arg(list, int));
        *arg = MVXLogArg(static_cast<const char*>(text));
        plain[used++] = 's';
        continue;
      }
      case 'd':
      case 'i':
        *arg = longs > 0 ? MVXLogArg(va_arg(list, long long)) : MVXLogArg(va_arg(list, int));
        break;
      default:
        *arg = longs > 0 ? MVXLogArg(va_arg(list, unsigned long long))
                         : MVXLogArg(va_arg(list, unsigned));
        break;
    }
    // Unsigned 64-bit values print whole as hexadecimal; the kit log's %u and %x keep 32 bits.
    plain[used++] = longs > 0 && spec != 'd' && spec != 'i' ? 'p' : spec == 'i' ? 'd' : spec;
  }
  plain[used] = 0;
}

void log(const char* format, ...) {
  Converted converted;
  va_list list;
  va_start(list, format);
  convert(&converted, format, list);
  va_end(list);
  MVXSDKLogArgs(MVXStackWalkLogLevel(format), converted.format, converted.args, converted.count);
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

std::size_t MVXStackWalkFormatLog(char* out, std::size_t size, const char* format, ...) {
  Converted converted;
  va_list list;
  va_start(list, format);
  convert(&converted, format, list);
  va_end(list);
  return MVXSDKLogFormat(out, size, converted.format, converted.args, converted.count);
}
