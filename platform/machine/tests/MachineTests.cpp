#include "platform/machine/Machine.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/testsupport/Sanitizers.h"

using namespace tw::machine;

namespace {

std::atomic<int> gParked{0};

volatile bool gStopFlag = false;

// Spins without calling anything, so its registers are always inside it (also unoptimised).
__attribute__((noinline)) void spinInKnownFunction() {
  gParked.fetch_add(1);
  while (!gStopFlag) {
    asm volatile("" ::: "memory");
  }
}

TEST(Machine, ThreadsAreListedFrozenWithTheirRegistersAndReleased) {
  if (tw::test::kThreadSanitizer) GTEST_SKIP() << "the thread sanitizer holds the freezing signal";
  ASSERT_TRUE(machineInit());
  gStopFlag = false;
  gParked = 0;
  std::vector<std::thread> workers;
  workers.reserve(4);
  for (int i = 0; i < 4; ++i) workers.emplace_back(spinInKnownFunction);
  while (gParked.load() < 4) std::this_thread::yield();
  pthread_setname_np(workers[0].native_handle(), "frozen-worker");

  static ThreadSet set;
  ASSERT_TRUE(suspendOtherThreads(&set));
  EXPECT_GE(set.count, 5);
  int inKnown = 0;
  bool sawSelf = false;
  bool sawName = false;
  for (int i = 0; i < set.count; ++i) {
    if (set.tids[i] == currentThreadId()) {
      sawSelf = true;
      EXPECT_FALSE(set.captured[i]);
      continue;
    }
    EXPECT_TRUE(set.captured[i]);
    const auto rip = static_cast<std::uintptr_t>(set.contexts[i].gregs[REG_RIP]);
    const auto start = reinterpret_cast<std::uintptr_t>(&spinInKnownFunction);
    if (rip >= start && rip < start + 512) ++inKnown;  // instrumented builds run longer
    char name[64];
    if (threadName(set.tids[i], name, sizeof name) && std::string(name) == "frozen-worker") {
      sawName = true;
    }
  }
  resumeThreads(&set);
  gStopFlag = true;
  for (auto& t : workers) t.join();
  EXPECT_TRUE(sawSelf);
  EXPECT_TRUE(sawName);
  EXPECT_EQ(inKnown, 4);
}

TEST(Machine, AThreadWithTheCaptureSignalBlockedIsLeftOutAfterTheBoundedWait) {
  if (tw::test::kThreadSanitizer) GTEST_SKIP() << "the thread sanitizer holds the freezing signal";
  ASSERT_TRUE(machineInit());
  std::atomic<bool> ready{false}, stop{false};
  std::thread deaf([&] {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    ready = true;
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (!ready) std::this_thread::yield();
  static ThreadSet set;
  EXPECT_FALSE(suspendOtherThreads(&set, 50));
  int missing = 0;
  for (int i = 0; i < set.count; ++i)
    missing += set.tids[i] != currentThreadId() && !set.captured[i];
  EXPECT_EQ(missing, 1);
  resumeThreads(&set);
  stop = true;
  deaf.join();
}

TEST(Machine, MemoryReadsRefuseLowAndUnmappedAddresses) {
  ASSERT_TRUE(machineInit());
  const char text[] = "tickwell";
  char copy[sizeof text] = {};
  EXPECT_TRUE(readMemory(text, copy, sizeof text));
  EXPECT_STREQ(copy, "tickwell");
  EXPECT_FALSE(readMemory(reinterpret_cast<void*>(16), copy, 1));
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  EXPECT_FALSE(readMemory(page, copy, 1));
  munmap(page, 4096);
}

TEST(Machine, ImagesCarryBuildIdsAndTheLinkMapFindsTheSameImage) {
  ASSERT_TRUE(machineInit());
  struct Found {
    ImageInfo self;
    int count = 0;
  } found;
  enumerateImages(
      [](const ImageInfo& image, void* user) {
        auto* f = static_cast<Found*>(user);
        ++f->count;
        const auto at = reinterpret_cast<std::uintptr_t>(&readMemory);
        if (at >= image.base && at < image.base + image.size) f->self = image;
      },
      &found);
  EXPECT_GT(found.count, 3);
  ASSERT_NE(found.self.base, 0u);
  EXPECT_EQ(std::strlen(found.self.uuid), 40u);  // GNU build-id: 20 bytes
  EXPECT_NE(found.self.ehFrameHdr, 0u);
  // The machine layer is linked into the program that uses it.
  EXPECT_NE(std::string(found.self.path).find("machine_tests"), std::string::npos);

  ImageInfo fromMap;
  ASSERT_TRUE(findImageInLinkMap(reinterpret_cast<std::uintptr_t>(&readMemory), &fromMap));
  EXPECT_EQ(fromMap.base, found.self.base);
  EXPECT_STREQ(fromMap.uuid, found.self.uuid);
  // The executable itself is in the map too.
  ImageInfo exe;
  EXPECT_TRUE(findImageInLinkMap(reinterpret_cast<std::uintptr_t>(&spinInKnownFunction), &exe));
  EXPECT_FALSE(findImageInLinkMap(8, &exe));
}

TEST(Machine, ProcessFactsComeFromProc) {
  ASSERT_TRUE(machineInit());
  ProcessStats stats;
  ASSERT_TRUE(readProcessStats(&stats));
  EXPECT_GT(stats.residentBytes, 0u);
  EXPECT_GT(stats.virtualBytes, stats.residentBytes);
  EXPECT_GT(stats.freeBytes, 0u);
  std::uint64_t freeBytes = 0, total = 0;
  EXPECT_TRUE(readStorage("/", &freeBytes, &total));
  EXPECT_GT(total, 0u);
  EXPECT_FALSE(readStorage("/no/such/dir", &freeBytes, &total));
  EXPECT_FALSE(tracerAttached());
  pid_t tids[8];
  EXPECT_GE(listThreads(tids, 8), 1);
}

}  // namespace
