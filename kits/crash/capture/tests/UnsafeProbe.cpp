// A library made only to be refused by the crash-time symbol check: it calls what a signal
// handler must not (the heap, the locale's error texts, a lock) beside what it may.
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {
pthread_mutex_t gLock = PTHREAD_MUTEX_INITIALIZER;
}  // namespace

// NOLINTNEXTLINE(misc-use-internal-linkage): exported so that the library keeps it
extern "C" std::size_t twUnsafeProbe(int error) {
  pthread_mutex_lock(&gLock);
  const std::string text = std::strerror(error);
  auto* block = static_cast<char*>(std::malloc(text.size()));
  if (block == nullptr) return 0;
  text.copy(block, text.size());
  const ssize_t written = write(2, block, text.size());
  std::free(block);
  pthread_mutex_unlock(&gLock);
  return static_cast<std::size_t>(written);
}
