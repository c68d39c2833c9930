#pragma once
// The crash context: everything the fatal handlers need, placed at set-up in the crash
// allocator's mapping so that nothing is allocated, looked up or formatted while the process dies.
// The read-only half is write-protected once set-up ends; the writable half holds the kit log
// descriptor, the crash-once gate, the binary-image table and the user-logging state.
//
// Owned by MVXContextInitialize (created once, never freed). Read from any thread, including
// signal handlers; each set-up block writes only its own fields.

#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <exception>

#include "kits/crash/capture/MVXFile.h"

struct MVXAllocator;

constexpr int kMVXSignalCount = 7;
constexpr int kMVXImageSlots = 512;
constexpr std::size_t kMVXAlternateStackSize = 0x40000;

// Told after a fatal exception record; the controller passes none.
class MVXImmediateDeliveryDelegate {
 public:
  virtual ~MVXImmediateDeliveryDelegate() = default;
  virtual void potentiallySubmittableCrashOccurred() = 0;
};
// Told synchronously at the end of every crash capture, on the crashing thread.
class MVXCrashCallbackTarget {
 public:
  virtual ~MVXCrashCallbackTarget() = default;
  virtual void deliverCrashDelegateCallback() = 0;
};

struct MVXABFiles {
  const char* pathA = nullptr;
  const char* pathB = nullptr;
  std::uint32_t maxSize = 0;
  std::uint32_t maxEntries = 0;
  bool limitBySize = false;
  std::atomic<std::uint32_t>* counter = nullptr;
};

struct MVXKVStorage {
  const char* incrementalPath = nullptr;
  const char* compactedPath = nullptr;
  std::uint32_t compactionThreshold = 64;
  std::uint32_t maxKeys = 0;
};

struct MVXSignalContext {
  const char* path = nullptr;
  struct sigaction previous[kMVXSignalCount];
  stack_t previousStack;
  bool hasPreviousStack = false;
};

struct MVXExceptionContext {
  const char* path = nullptr;
  std::terminate_handler previousTerminate = nullptr;
  std::uint32_t maxCustomExceptions = 0;
};

struct MVXHostContext {
  const char* cachesPath = nullptr;
  std::uint64_t pageSize = 4096;
};

struct MVXUserLoggingContext {
  MVXKVStorage user;
  MVXKVStorage internal;
  MVXABFiles logs;
  MVXABFiles errors;
  MVXABFiles customExceptions;
};

struct MVXReadOnlyContext {
  std::atomic<bool> initialized{false};
  bool debuggerAttached = false;
  const char* logPath = nullptr;
  void* alternateStack = nullptr;
  MVXImmediateDeliveryDelegate* immediateDelegate = nullptr;
  MVXCrashCallbackTarget* crashCallbackTarget = nullptr;
  const char* binaryImagesPath = nullptr;
  MVXExceptionContext exception;
  MVXSignalContext signal;
  MVXHostContext host;
  MVXUserLoggingContext logging;
};

// One node of the image table; base 0 marks a free node. Only the base word is raced on.
struct MVXBinaryImageNode {
  std::atomic<std::uintptr_t> base{0};
  std::atomic<std::uintptr_t> size{0};
  std::atomic<std::uintptr_t> ehFrame{0};
  std::atomic<std::uintptr_t> unwindInfo{0};
  std::atomic<std::uintptr_t> crashInfo{0};
};

struct MVXWritableContext {
  // Opened on the first line; threads that log (or crash) together race to open it, and the
  // first to publish its descriptor wins.
  std::atomic<int> logFd{-1};
  std::atomic<int> logThreshold{1};
  // The crash-once gate: 0 open, otherwise the id of the thread that is recording.
  std::atomic<pid_t> crashedBy{0};
  // Bytes the kit log wrote since the gate closed; capped so a deep walk cannot fill the disk.
  std::atomic<std::uint64_t> logBytesAfterCrash{0};
  MVXFile binaryImageFile;
  MVXBinaryImageNode images[kMVXImageSlots];
  // User logging: current file of each A/B pair (0 = A), counters.
  std::atomic<int> currentLog{0}, currentError{0}, currentCustomException{0};
  std::atomic<std::uint32_t> userKVCount{0}, internalKVCount{0};
  std::atomic<std::uint32_t> errorCount{0}, customExceptionCount{0};
};

struct MVXCrashContext {
  MVXReadOnlyContext* readonly = nullptr;
  MVXWritableContext* writable = nullptr;
  MVXAllocator* allocator = nullptr;
};

// The process's one context; empty until set-up starts.
extern MVXCrashContext gMVXContext;

// Async-signal-safe, any thread.
bool MVXContextIsInitialized();
// True when a crash is already being (or was) recorded: the caller must not record. The first
// caller gets false and owns the recording; one atomic exchange decides, from the first step of
// set-up on.
bool MVXContextMarkCrashed();
// The thread that passed the gate, or 0.
pid_t MVXContextCrashingThread();
