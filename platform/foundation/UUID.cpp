#include "platform/foundation/UUID.h"

#include <pthread.h>
#include <sys/random.h>
#include <uuid/uuid.h>

#include <atomic>
#include <cstring>

namespace tw {

namespace {

// Random bytes are drawn from the kernel a page at a time: event identifiers are made on hot
// paths, and a draw per identifier costs several system calls. A forked child starts afresh, so
// parent and child never share identifiers.
std::atomic<unsigned> gForkGeneration{0};

struct RandomPool {
  unsigned char bytes[4096];
  std::size_t used = sizeof(bytes);
  unsigned generation = 0;

  bool take(unsigned char* out, std::size_t n) {
    unsigned now = gForkGeneration.load(std::memory_order_relaxed);
    if (generation != now) used = sizeof(bytes);
    if (used + n > sizeof(bytes)) {
      std::size_t got = 0;
      while (got < sizeof(bytes)) {
        ssize_t r = getrandom(bytes + got, sizeof(bytes) - got, 0);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
      }
      used = 0;
      generation = now;
    }
    std::memcpy(out, bytes + used, n);
    // Taken bytes are not kept around.
    std::memset(bytes + used, 0, n);
    used += n;
    return true;
  }
};

[[maybe_unused]] const int kAtForkRegistered = pthread_atfork(
    nullptr, nullptr, [] { gForkGeneration.fetch_add(1, std::memory_order_relaxed); });

}  // namespace

std::string makeUUIDString() {
  thread_local RandomPool pool;
  uuid_t id;
  if (pool.take(id, sizeof(id))) {
    id[6] = static_cast<unsigned char>((id[6] & 0x0F) | 0x40);  // version 4
    id[8] = static_cast<unsigned char>((id[8] & 0x3F) | 0x80);  // RFC 4122 variant
  } else {
    uuid_generate_random(id);
  }
  char text[37];
  uuid_unparse_upper(id, text);
  return std::string(text, 36);
}

}  // namespace tw
