// The crash child: sets up crash capture in a report directory, then fails in the way its
// second argument names. Run by the crash tests, which read the record files it leaves behind.
//   crash_child <report-dir> <mode> [plugin-path]

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kits/crash/capture/MVXBinaryImage.h"
#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/capture/MVXSignal.h"
#include "kits/crash/capture/tests/CrashChildContext.h"
#include "kits/platform/net/MVXURLSession.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/machine/Machine.h"

namespace {

volatile int gZero = 0;
volatile int gOne = 1;
volatile int* volatile gNull = nullptr;
int gForever = 0;
std::atomic<int> gReady{0};

// Blocks in the kernel straight from the calling function, with no library frame on top.
__attribute__((always_inline)) inline void futexWaitForever() {
  for (;;) {
    long ret;
    register long a4 asm("r10") = 0;
    asm volatile("syscall"
                 : "=a"(ret)
                 : "0"(SYS_futex), "D"(&gForever), "S"(FUTEX_WAIT_PRIVATE), "d"(0), "r"(a4)
                 : "rcx", "r11", "memory");
  }
}

#define KNOWN_BLOCKER(n)                                             \
  extern "C" __attribute__((noinline)) void tw_known_blocker_##n() { \
    gReady.fetch_add(1);                                             \
    futexWaitForever();                                              \
  }
KNOWN_BLOCKER(0)
KNOWN_BLOCKER(1)
KNOWN_BLOCKER(2)
KNOWN_BLOCKER(3)
KNOWN_BLOCKER(4)
KNOWN_BLOCKER(5)
KNOWN_BLOCKER(6)

volatile bool gKeepGoing = true;

extern "C" __attribute__((noinline)) int tw_recurse(int depth) {
  volatile char pad[128];
  pad[0] = static_cast<char>(depth);
  if (!gKeepGoing) return 0;
  return tw_recurse(depth + 1) + pad[0];
}

extern "C" __attribute__((noinline)) void tw_write_null() { *gNull = 1; }

// Makes the thread of ours with this name overflow its own stack: a handler that runs on that
// stack (it asks for no alternate one) recurses there. Returns only when no such thread appears.
void overflowThreadNamed(const std::string& name) {
  struct sigaction action {};
  action.sa_handler = [](int) { tw_recurse(0); };
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR1, &action, nullptr);
  for (int attempt = 0; attempt < 10000; ++attempt) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      std::ifstream comm(task.path() / "comm");
      std::string taskName;
      std::getline(comm, taskName);
      if (taskName != name) continue;
      syscall(SYS_tgkill, getpid(), std::stoi(task.path().filename().string()), SIGUSR1);
      for (;;) pause();  // only the crash may end this process
    }
    usleep(1000);
  }
}

// The comparators run inside the C library's sort, whose frames keep no frame pointers: the walk
// from them back to main goes through the library's unwind tables.
extern "C" __attribute__((noinline)) int tw_compare_then_crash(const void* a, const void* b) {
  *gNull = 1;
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

extern "C" __attribute__((noinline)) int tw_compare_then_block(const void* a, const void* b) {
  gReady.fetch_add(1);
  for (;;) pause();
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

extern "C" __attribute__((noinline)) int tw_sort(int (*compare)(const void*, const void*)) {
  int values[] = {3, 1, 2};
  qsort(values, 3, sizeof values[0], compare);
  return values[0] + gOne;  // keeps this frame: no tail call into the sort
}

extern "C" __attribute__((noinline)) void tw_blocked_sorter() { tw_sort(tw_compare_then_block); }

void ownHandler(int, siginfo_t*, void*) {
  static const char kMarker[] = "own handler ran\n";
  if (write(STDOUT_FILENO, kMarker, sizeof kMarker - 1) < 0) _exit(2);
  _exit(42);
}

void startBlockers() {
  void (*blockers[])() = {tw_known_blocker_0, tw_known_blocker_1, tw_known_blocker_2,
                          tw_known_blocker_3, tw_known_blocker_4, tw_known_blocker_5,
                          tw_known_blocker_6};
  for (int i = 0; i < 7; ++i) {
    std::thread t(blockers[i]);
    const std::string name = "blocker-" + std::to_string(i);
    pthread_setname_np(t.native_handle(), name.c_str());
    t.detach();
  }
  while (gReady.load() < 7) std::this_thread::yield();
}

bool kitHandlerInstalled() {
  struct sigaction current {};
  sigaction(SIGSEGV, nullptr, &current);
  return (current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == MVXSignalHandler;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[2];
  if (mode == "previous-handler") {
    struct sigaction own {};
    own.sa_sigaction = ownHandler;
    own.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &own, nullptr);
  }
  if (mode == "traced") {
    // A tracer of our own: the kit must see it and install nothing.
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
    const pid_t parent = getpid();
    const pid_t tracer = fork();
    if (tracer == 0) {
      if (ptrace(PTRACE_SEIZE, parent, nullptr, nullptr) != 0) _exit(3);
      pause();
      _exit(0);
    }
    while (!tw::machine::tracerAttached()) usleep(1000);
    MVXContextSettings settings;
    settings.reportDirectory = argv[1];
    MVXContextInitialize(&settings);
    std::printf("handlers:%d\n", kitHandlerInstalled() ? 1 : 0);
    std::fflush(stdout);
    kill(tracer, SIGKILL);
    waitpid(tracer, nullptr, 0);
    return 0;
  }

  if (!tw::test::startCrashChildContext(argv[1])) return 3;
  pthread_setname_np(pthread_self(), "crash-main");

  if (mode == "segv") tw_write_null();
  if (mode == "bus") {
    char path[] = "/tmp/tw-bus-XXXXXX";
    const int fd = mkstemp(path);
    unlink(path);
    auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
    return page[0];
  }
  if (mode == "fpe") return gOne / gZero;
  if (mode == "sent-segv" || mode == "queued-bus") {
    // Another process sends the fatal signal; once it has ended, the signal has been handled.
    const pid_t parent = getpid();
    const pid_t sender = fork();
    if (sender == 0) {
      if (mode == "sent-segv") {
        kill(parent, SIGSEGV);
      } else {
        sigqueue(parent, SIGBUS, sigval{});
      }
      _exit(0);
    }
    while (waitpid(sender, nullptr, 0) < 0 && errno == EINTR) {
    }
    return 5;  // the handler came back instead of ending the process
  }
  if (mode == "ill") __builtin_trap();
  if (mode == "abort") std::abort();
  if (mode == "sys") raise(SIGSYS);
  if (mode == "trap") asm volatile("int3");
  if (mode == "overflow-main") return tw_recurse(0);
  if (mode == "overflow-worker") {
    std::thread worker([] {
      tw::crash::installThreadAlternateStack();
      tw_recurse(0);
    });
    worker.join();
  }
  if (mode == "overflow-queue") {
    // A queue's thread, started after set-up, without any call of its own.
    auto queue = tw::DispatchQueue::createSerial("com.velmora.crash-child.deep");
    queue->async([] { tw_recurse(0); });
    for (;;) pause();  // freezing interrupts sleeps: only the crash may end this process
  }
  if (mode == "overflow-urlsession") {
    // The session's transfer thread starts with its first task.
    auto session = MVXURLSession::sessionWithConfiguration(
        MVXURLSessionConfiguration::defaultSessionConfiguration());
    tw::URLRequest request;
    request.url = "http://127.0.0.1:9/";
    session->dataTaskWithRequest(request)->resume();
    overflowThreadNamed("tw.urlsession");
    return 5;
  }
  if (mode == "overflow-autosave") {
    tw::UserDefaults defaults(std::string(argv[1]) + "/defaults.plist");
    defaults.setAutosaveDelay(600);
    overflowThreadNamed("tw.autosave");
    return 5;
  }
  if (mode == "dlopen") {
    void* plugin = dlopen(argv[3], RTLD_NOW);
    if (plugin == nullptr) return 4;
    MVXBinaryImageSync();
    auto fn = reinterpret_cast<void (*)(volatile int*)>(dlsym(plugin, "tw_plugin_write_null"));
    fn(nullptr);
  }
  if (mode == "cxx") {
    std::thread thrower([] {
      pthread_setname_np(pthread_self(), "thrower");
      throw std::runtime_error("tickwell \"boom\"\n");
    });
    thrower.join();
  }
  if (mode == "qsort") {
    std::thread blocked(tw_blocked_sorter);
    pthread_setname_np(blocked.native_handle(), "sort-blocker");
    blocked.detach();
    while (gReady.load() < 1) std::this_thread::yield();
    return tw_sort(tw_compare_then_crash);
  }
  if (mode == "threads") {
    startBlockers();
    tw_write_null();
  }
  if (mode == "previous-handler") tw_write_null();
  if (mode == "double") {
    // Two threads fault at once: one report, never two interleaved.
    startBlockers();
    std::atomic<int> go{0};
    std::thread other([&] {
      go.fetch_add(1);
      while (go.load() < 2) {
      }
      tw_write_null();
    });
    go.fetch_add(1);
    while (go.load() < 2) {
    }
    tw_write_null();
    other.join();
  }
  return 5;
}
