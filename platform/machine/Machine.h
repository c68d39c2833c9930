#pragma once
// platform/machine: what crash-time code needs from the kernel and the loader, on Linux.
// Threads come from /proc/self/task (read with raw getdents64), another thread's registers from
// a real-time capture signal whose handler parks the thread on a futex until it is released;
// memory is read through the kernel (process_vm_readv on our own pid, a pipe probe where that is
// refused); loaded images from dl_iterate_phdr and, at crash time, the loader's r_debug link map.
//
// Owned by nobody: plain functions over static storage prepared by machineInit(). Every function
// marked "signal-safe" allocates nothing, takes no lock and may run inside a signal handler on any
// thread; the others run in ordinary code.

#include <sys/types.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>

namespace tw::machine {

constexpr int kMaxThreads = 256;
constexpr int kMaxImages = 512;

// Set-up: the capture signal's handler and the memory-read probe. Idempotent; ordinary code.
bool machineInit();
// The real-time signal that freezes a thread (0 before machineInit).
int captureSignal();

// Signal-safe.
pid_t currentThreadId();
// Thread ids of this process, at most max of them; -1 when /proc/self/task cannot be read.
int listThreads(pid_t* out, int max);
// Copies what the kernel lets this process read at address into dest. False for any address
// below 4096 and for unmapped memory, without faulting.
bool readMemory(const void* address, void* dest, std::size_t length);

// A frozen set of the other threads: each answered the capture signal, left its registers in
// `contexts` and waits until resumeThreads(). `captured[i]` is false for a thread that did not
// answer within the bounded wait (its registers are unknown). Signal-safe; one set at a time.
struct ThreadSet {
  int count = 0;
  pid_t tids[kMaxThreads];
  bool captured[kMaxThreads];
  mcontext_t contexts[kMaxThreads];
};
// Lists every thread (the caller included, not captured) and freezes the others.
// waitMilliseconds bounds the wait for all of them together.
bool suspendOtherThreads(ThreadSet* set, int waitMilliseconds = 250);
void resumeThreads(ThreadSet* set);

// A loaded image. Signal-safe readers fill it from copies only.
struct ImageInfo {
  std::uintptr_t base = 0;  // address of the ELF header
  std::uintptr_t size = 0;  // up to the end of the last executable segment
  std::uintptr_t ehFrameHdr = 0;
  std::uintptr_t bias = 0;
  char uuid[41] = {};          // GNU build-id, lowercase hex (up to 20 bytes)
  const char* path = nullptr;  // the loader's string; may be empty for the executable
};
// Ordinary code: calls fn for every loaded image (dl_iterate_phdr).
using ImageVisitor = void (*)(const ImageInfo& image, void* user);
void enumerateImages(ImageVisitor fn, void* user);
// Signal-safe: the image holding address, found by walking the loader's link map (r_debug).
bool findImageInLinkMap(std::uintptr_t address, ImageInfo* out);

// /proc and statfs facts; signal-safe (raw reads into stack buffers).
struct ProcessStats {
  std::uint64_t virtualBytes = 0, residentBytes = 0;
  std::uint64_t userMicros = 0, systemMicros = 0;
  std::uint64_t activeBytes = 0, inactiveBytes = 0, wiredBytes = 0, freeBytes = 0;
};
bool readProcessStats(ProcessStats* out);
bool readStorage(const char* path, std::uint64_t* freeBytes, std::uint64_t* totalBytes);
// True when another process traces this one (TracerPid in /proc/self/status is not 0).
bool tracerAttached();
// The thread's own name (/proc/self/task/<tid>/comm, newline removed), at most max-1 bytes.
bool threadName(pid_t tid, char* out, std::size_t max);
// The abort message glibc keeps for assertion failures, or nullptr.
const char* abortMessage();

}  // namespace tw::machine
