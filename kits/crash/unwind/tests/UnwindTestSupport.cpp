#include "kits/crash/unwind/tests/UnwindTestSupport.h"

#include <cstdarg>
#include <cstdio>

namespace tw::test {

namespace {
char gLogBuffer[1 << 16];
size_t gLogLength = 0;

void captureLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(gLogBuffer + gLogLength, sizeof gLogBuffer - gLogLength, format, args);
  va_end(args);
  if (n > 0) gLogLength = std::min(sizeof gLogBuffer - 1, gLogLength + static_cast<size_t>(n));
}
}  // namespace

size_t walkInto(const MVXMachineContext64& start, uintptr_t* frames, size_t capacity) {
  MVXUnwindContext context;
  MVXUnwindInit(&context, start);
  size_t count = 0;
  while (count < capacity && MVXUnwindNextFrame(&context))
    frames[count++] = MVXUnwindGetPC(&context);
  return count;
}

CapturedUnwindLog::CapturedUnwindLog() {
  clear();
  MVXUnwindSetLog(&captureLog);
}
CapturedUnwindLog::~CapturedUnwindLog() { MVXUnwindSetLog(nullptr); }
std::string CapturedUnwindLog::text() const { return std::string(gLogBuffer, gLogLength); }
void CapturedUnwindLog::clear() {
  gLogLength = 0;
  gLogBuffer[0] = 0;
}

}  // namespace tw::test
