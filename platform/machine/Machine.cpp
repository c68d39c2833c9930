#include "platform/machine/Machine.h"

#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace tw::machine {
namespace {

std::atomic<bool> gInitialised{false};
int gCaptureSignal = 0;
int gProbe[2] = {-1, -1};
bool gUseProbe = false;
long gClockTicks = 100;
long gPageSize = 4096;
const char* const* gAbortMessage = nullptr;
std::uintptr_t gMainPhdr = 0;
std::size_t gMainPhnum = 0;
char gExePath[PATH_MAX] = {};

// Capture protocol state: one set at a time. A slot goes 1 (asked) -> 3 (copying) -> 2 (parked);
// the waiter withdraws an unanswered request by 1 -> 0, so a late answer writes nothing.
// gBusy admits one capture at a time; gSet is published only once the set's threads are listed,
// so a handler that finds it reads a whole list.
std::atomic<bool> gBusy{false};
std::atomic<ThreadSet*> gSet{nullptr};
std::atomic<int> gSlot[kMaxThreads];
std::atomic<int> gRelease{0};

long futex(std::atomic<int>* word, int op, int value, const timespec* timeout) {
  return syscall(SYS_futex, reinterpret_cast<int*>(word), op, value, timeout, nullptr, 0);
}

std::int64_t nowMillis() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void captureHandler(int, siginfo_t*, void* uc) {
  const int savedErrno = errno;
  ThreadSet* set = gSet.load(std::memory_order_acquire);
  const pid_t me = currentThreadId();
  if (set != nullptr) {
    for (int i = 0; i < set->count; ++i) {
      if (set->tids[i] != me) continue;
      int expected = 1;
      if (!gSlot[i].compare_exchange_strong(expected, 3)) break;
      const int generation = gRelease.load(std::memory_order_acquire);
      set->contexts[i] = static_cast<ucontext_t*>(uc)->uc_mcontext;
      gSlot[i].store(2, std::memory_order_release);
      futex(&gSlot[i], FUTEX_WAKE_PRIVATE, 1, nullptr);
      while (gRelease.load(std::memory_order_acquire) == generation) {
        futex(&gRelease, FUTEX_WAIT_PRIVATE, generation, nullptr);
      }
      break;
    }
  }
  errno = savedErrno;
}

bool readFile(const char* path, char* buf, std::size_t max, std::size_t* length) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t total = 0;
  while (total + 1 < max) {
    const ssize_t n = read(fd, buf + total, max - 1 - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
  close(fd);
  buf[total] = 0;
  *length = total;
  return true;
}

std::uint64_t parseUnsigned(const char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
  std::uint64_t v = 0;
  while (*p >= '0' && *p <= '9') v = v * 10 + static_cast<std::uint64_t>(*p++ - '0');
  return v;
}

// The value of "Key:" in a /proc key-value text, or 0.
std::uint64_t valueAfter(const char* text, const char* key) {
  const std::size_t keyLength = std::strlen(key);
  for (const char* line = text; *line != 0;) {
    if (std::strncmp(line, key, keyLength) == 0) {
      const char* p = line + keyLength;
      return parseUnsigned(p);
    }
    const char* next = std::strchr(line, '\n');
    if (next == nullptr) break;
    line = next + 1;
  }
  return 0;
}

void hexBuildId(const unsigned char* bytes, std::size_t length, char* out) {
  static const char kDigits[] = "0123456789abcdef";
  if (length > 20) length = 20;
  for (std::size_t i = 0; i < length; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  out[2 * length] = 0;
}

// Fills image from its program headers, all read through readMemory.
bool describeImage(std::uintptr_t bias, std::uintptr_t phdrAddress, std::size_t phnum,
                   ImageInfo* image) {
  image->bias = bias;
  image->base = 0;
  image->size = 0;
  image->ehFrameHdr = 0;
  image->uuid[0] = 0;
  std::uintptr_t textEnd = 0;
  for (std::size_t i = 0; i < phnum && i < 64; ++i) {
    ElfW(Phdr) ph;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): reads the image at an address the loader gave
    if (!readMemory(reinterpret_cast<const void*>(phdrAddress + i * sizeof ph), &ph, sizeof ph)) {
      return false;
    }
    if (ph.p_type == PT_LOAD) {
      if (image->base == 0) image->base = bias + ph.p_vaddr - ph.p_offset;
      if ((ph.p_flags & PF_X) != 0) textEnd = bias + ph.p_vaddr + ph.p_memsz;
    } else if (ph.p_type == PT_GNU_EH_FRAME) {
      image->ehFrameHdr = bias + ph.p_vaddr;
    } else if (ph.p_type == PT_NOTE && image->uuid[0] == 0) {
      unsigned char notes[512];
      const std::size_t length = ph.p_memsz < sizeof notes ? ph.p_memsz : sizeof notes;
      // NOLINTNEXTLINE(performance-no-int-to-ptr): reads the image at an address the loader gave
      if (!readMemory(reinterpret_cast<const void*>(bias + ph.p_vaddr), notes, length)) continue;
      for (std::size_t off = 0; off + sizeof(ElfW(Nhdr)) <= length;) {
        ElfW(Nhdr) note;
        std::memcpy(&note, notes + off, sizeof note);
        const std::size_t nameAt = off + sizeof note;
        const std::size_t descAt = nameAt + ((note.n_namesz + 3) & ~3u);
        const std::size_t next = descAt + ((note.n_descsz + 3) & ~3u);
        if (next > length || next <= off) break;
        if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
            std::memcmp(notes + nameAt, "GNU", 4) == 0) {
          hexBuildId(notes + descAt, note.n_descsz, image->uuid);
          break;
        }
        off = next;
      }
    }
  }
  if (image->base == 0 || textEnd <= image->base) return false;
  image->size = textEnd - image->base;
  return true;
}

struct VisitContext {
  ImageVisitor fn;
  void* user;
};

}  // namespace

bool machineInit() {
  bool expected = false;
  if (!gInitialised.compare_exchange_strong(expected, true)) return true;
  gClockTicks = sysconf(_SC_CLK_TCK) > 0 ? sysconf(_SC_CLK_TCK) : 100;
  gPageSize = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
  gMainPhdr = getauxval(AT_PHDR);
  gMainPhnum = getauxval(AT_PHNUM);
  const ssize_t n = readlink("/proc/self/exe", gExePath, sizeof gExePath - 1);
  gExePath[n > 0 ? n : 0] = 0;
  gAbortMessage = reinterpret_cast<const char* const*>(dlsym(RTLD_DEFAULT, "__abort_msg"));
  if (pipe2(gProbe, O_CLOEXEC | O_NONBLOCK) != 0) gProbe[0] = gProbe[1] = -1;
  char probe = 0;
  iovec local{&probe, 1};
  iovec remote{&gCaptureSignal, 1};
  gUseProbe = process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != 1;
  gCaptureSignal = SIGRTMIN + 3;
  struct sigaction action {};
  action.sa_sigaction = captureHandler;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  return sigaction(gCaptureSignal, &action, nullptr) == 0;
}

int captureSignal() { return gCaptureSignal; }

pid_t currentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

int listThreads(pid_t* out, int max) {
  const int fd = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  alignas(8) char buf[4096];
  int count = 0;
  for (;;) {
    const long n = syscall(SYS_getdents64, fd, buf, sizeof buf);
    if (n <= 0) break;
    for (long off = 0; off < n;) {
      struct Dirent {
        std::uint64_t ino;
        std::int64_t off;
        unsigned short reclen;
        unsigned char type;
        char name[1];
      };
      const auto* entry = reinterpret_cast<const Dirent*>(buf + off);
      const char* name = entry->name;
      if (*name >= '0' && *name <= '9' && count < max) {
        out[count++] = static_cast<pid_t>(parseUnsigned(name));
      }
      off += entry->reclen;
    }
  }
  close(fd);
  return count;
}

bool readMemory(const void* address, void* dest, std::size_t length) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  if (at < 4096 || at + length < at) return false;
  if (length == 0) return true;
  if (!gUseProbe) {
    iovec local{dest, length};
    iovec remote{const_cast<void*>(address), length};
    return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(length);
  }
  if (gProbe[1] < 0) return false;
  // The kernel refuses with EFAULT to write from memory this process cannot read.
  for (std::size_t done = 0; done < length;) {
    const std::size_t chunk = length - done < 4096 ? length - done : 4096;
    const ssize_t written = write(gProbe[1], static_cast<const char*>(address) + done, chunk);
    if (written <= 0) return false;
    const ssize_t got =
        read(gProbe[0], static_cast<char*>(dest) + done, static_cast<std::size_t>(written));
    if (got != written) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

bool suspendOtherThreads(ThreadSet* set, int waitMilliseconds) {
  bool idle = false;
  if (set == nullptr || !gBusy.compare_exchange_strong(idle, true)) return false;
  const int n = listThreads(set->tids, kMaxThreads);
  set->count = n < 0 ? 0 : n;
  const pid_t me = currentThreadId();
  const pid_t pid = getpid();
  for (int i = 0; i < set->count; ++i) {
    set->captured[i] = false;
    std::memset(&set->contexts[i], 0, sizeof set->contexts[i]);
    gSlot[i].store(0);
  }
  gSet.store(set, std::memory_order_release);
  for (int i = 0; i < set->count; ++i) {
    if (set->tids[i] == me || gCaptureSignal == 0) continue;
    gSlot[i].store(1, std::memory_order_release);
    if (syscall(SYS_tgkill, pid, set->tids[i], gCaptureSignal) != 0) gSlot[i].store(0);
  }
  const std::int64_t deadline = nowMillis() + waitMilliseconds;
  bool all = true;
  for (int i = 0; i < set->count; ++i) {
    for (;;) {
      const int state = gSlot[i].load(std::memory_order_acquire);
      if (state == 2) {
        set->captured[i] = true;
        break;
      }
      if (state == 0) break;
      const std::int64_t left = deadline - nowMillis();
      if (left <= 0 && state == 1) {
        int asked = 1;
        if (gSlot[i].compare_exchange_strong(asked, 0)) {
          all = false;
          break;
        }
        continue;
      }
      timespec ts{0, 1000000};
      if (state == 1)
        ts = {static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
      futex(&gSlot[i], FUTEX_WAIT_PRIVATE, state, &ts);
    }
  }
  return all;
}

void resumeThreads(ThreadSet* set) {
  if (set == nullptr) return;
  gRelease.fetch_add(1, std::memory_order_acq_rel);
  futex(&gRelease, FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr);
  for (int i = 0; i < set->count; ++i) gSlot[i].store(0);
  ThreadSet* expected = set;
  if (gSet.compare_exchange_strong(expected, nullptr)) gBusy.store(false);
}

void enumerateImages(ImageVisitor fn, void* user) {
  VisitContext context{fn, user};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) -> int {
        auto* ctx = static_cast<VisitContext*>(data);
        ImageInfo image;
        if (!describeImage(info->dlpi_addr, reinterpret_cast<std::uintptr_t>(info->dlpi_phdr),
                           info->dlpi_phnum, &image)) {
          return 0;
        }
        image.path =
            (info->dlpi_name != nullptr && info->dlpi_name[0] != 0) ? info->dlpi_name : gExePath;
        ctx->fn(image, ctx->user);
        return 0;
      },
      &context);
}

bool findImageInLinkMap(std::uintptr_t address, ImageInfo* out) {
  if (out == nullptr || address < 4096) return false;
  r_debug* debug = nullptr;
  for (const ElfW(Dyn)* dyn = _DYNAMIC; dyn != nullptr && dyn->d_tag != DT_NULL; ++dyn) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the dynamic section holds it as an address
    if (dyn->d_tag == DT_DEBUG) debug = reinterpret_cast<r_debug*>(dyn->d_un.d_ptr);
  }
  if (debug == nullptr) debug = &_r_debug;
  r_debug snapshot;
  if (!readMemory(debug, &snapshot, sizeof snapshot)) return false;
  const link_map* node = snapshot.r_map;
  for (int guard = 0; node != nullptr && guard < 4096; ++guard) {
    link_map entry;
    if (!readMemory(node, &entry, sizeof entry)) return false;
    char first = 0;
    readMemory(entry.l_name, &first, 1);
    ImageInfo image;
    bool described = false;
    if (first == 0 && gMainPhdr != 0) {
      // The executable: its bias is where its program headers lie minus where they say they lie.
      for (std::size_t i = 0; i < gMainPhnum; ++i) {
        ElfW(Phdr) ph;
        // NOLINTNEXTLINE(performance-no-int-to-ptr): reads the image at an address the loader gave
        if (!readMemory(reinterpret_cast<const void*>(gMainPhdr + i * sizeof ph), &ph, sizeof ph))
          break;
        if (ph.p_type == PT_PHDR) {
          described = describeImage(gMainPhdr - ph.p_vaddr, gMainPhdr, gMainPhnum, &image);
          break;
        }
      }
      image.path = gExePath;
    } else {
      ElfW(Ehdr) header;
      // NOLINTNEXTLINE(performance-no-int-to-ptr): reads the image at an address the loader gave
      if (readMemory(reinterpret_cast<const void*>(entry.l_addr), &header, sizeof header) &&
          std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0) {
        described =
            describeImage(entry.l_addr, entry.l_addr + header.e_phoff, header.e_phnum, &image);
      }
      image.path = entry.l_name;
    }
    if (described && address >= image.base && address < image.base + image.size) {
      *out = image;
      return true;
    }
    node = entry.l_next;
  }
  return false;
}

bool readProcessStats(ProcessStats* out) {
  if (out == nullptr) return false;
  char buf[4096];
  std::size_t length = 0;
  if (!readFile("/proc/self/stat", buf, sizeof buf, &length)) return false;
  const char* p = std::strrchr(buf, ')');
  if (p == nullptr) return false;
  ++p;
  // Fields after the command name start at field 3 (state).
  std::uint64_t fields[25] = {};
  for (int field = 3; field <= 24 && *p != 0; ++field) {
    while (*p == ' ') ++p;
    const char* q = p;
    fields[field] = parseUnsigned(q);
    while (*p != ' ' && *p != 0) ++p;
  }
  const auto ticks = static_cast<std::uint64_t>(gClockTicks);
  out->userMicros = fields[14] * 1000000 / ticks;
  out->systemMicros = fields[15] * 1000000 / ticks;
  out->virtualBytes = fields[23];
  out->residentBytes = fields[24] * static_cast<std::uint64_t>(gPageSize);
  if (!readFile("/proc/meminfo", buf, sizeof buf, &length)) return false;
  out->activeBytes = valueAfter(buf, "Active:") * 1024;
  out->inactiveBytes = valueAfter(buf, "Inactive:") * 1024;
  out->wiredBytes = valueAfter(buf, "Unevictable:") * 1024;
  out->freeBytes = valueAfter(buf, "MemFree:") * 1024;
  return true;
}

bool readStorage(const char* path, std::uint64_t* freeBytes, std::uint64_t* totalBytes) {
  struct statfs info {};
  if (path == nullptr || statfs(path, &info) != 0) return false;
  *freeBytes = static_cast<std::uint64_t>(info.f_bsize) * info.f_bavail;
  *totalBytes = static_cast<std::uint64_t>(info.f_bsize) * info.f_blocks;
  return true;
}

bool tracerAttached() {
  char buf[4096];
  std::size_t length = 0;
  if (!readFile("/proc/self/status", buf, sizeof buf, &length)) return false;
  return valueAfter(buf, "TracerPid:") != 0;
}

bool threadName(pid_t tid, char* out, std::size_t max) {
  if (out == nullptr || max == 0) return false;
  out[0] = 0;
  char path[64] = "/proc/self/task/";
  char digits[16];
  int d = 0;
  auto value = static_cast<unsigned>(tid);
  do {
    digits[d++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && d < 15);
  std::size_t at = std::strlen(path);
  while (d > 0) path[at++] = digits[--d];
  std::memcpy(path + at, "/comm", 6);
  std::size_t length = 0;
  char buf[80];
  if (!readFile(path, buf, sizeof buf, &length)) return false;
  if (length > 0 && buf[length - 1] == '\n') buf[--length] = 0;
  if (length >= max) length = max - 1;
  std::memcpy(out, buf, length);
  out[length] = 0;
  return true;
}

const char* abortMessage() {
  if (gAbortMessage == nullptr) return nullptr;
  const char* message = nullptr;
  if (!readMemory(gAbortMessage, &message, sizeof message) || message == nullptr) return nullptr;
  // glibc keeps { unsigned size; char text[]; }.
  return message + sizeof(unsigned);
}

}  // namespace tw::machine
