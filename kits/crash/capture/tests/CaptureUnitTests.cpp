// Unit tests of the capture core's pieces that run in ordinary code: the kit log's formatting,
// the record writer and reader, the allocator and the user-logging files.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>
#include <vector>

#include "kits/crash/capture/MVXAllocator.h"
#include "kits/crash/capture/MVXBinaryImage.h"
#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/capture/MVXFile.h"
#include "kits/crash/capture/MVXFileReader.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXSignal.h"
#include "kits/crash/capture/MVXStackWalk.h"
#include "kits/crash/capture/MVXUserLogging.h"
#include "kits/crash/capture/MVXUtilities.h"
#include "platform/testsupport/TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) { return tw::test::fileText(p); }

template <typename... Args>
std::string format(const char* f, const Args&... args) {
  const MVXLogArg list[] = {MVXLogArg(args)..., MVXLogArg(0)};
  char out[256];
  MVXSDKLogFormat(out, sizeof out, f, list, sizeof...(Args));
  return out;
}

TEST(KitLog, FormatsItsOwnConversionsAndLeavesOthersAlone) {
  EXPECT_EQ(format("WARN  [%s:%d] Signal: %d\n", "MVXSignalHandler", 12, 11),
            "WARN  [MVXSignalHandler:12] Signal: 11\n");
  EXPECT_EQ(
      format("%p %p", static_cast<const void*>(nullptr), reinterpret_cast<const void*>(0xabcdef)),
      "0x0 0xabcdef");
  EXPECT_EQ(format("%d %u %x", INT_MIN, 4294967295u, 255u), "-2147483648 4294967295 ff");
  EXPECT_EQ(format("%s total: %zu K", static_cast<const char*>(nullptr)), "(null) total: %zu K");
  // More conversions than arguments: the rest are written as they stand.
  EXPECT_EQ(format("%d %d", 1), "1 %d");
  char tiny[4];
  const MVXLogArg none[] = {MVXLogArg(0)};
  EXPECT_EQ(MVXSDKLogFormat(tiny, sizeof tiny, "abcdef", none, 0), 3u);
}

// The unwinder's printf-style messages reach the kit log whole: length modifiers, 64-bit values
// and characters included, and only its errors above the debug level.
TEST(KitLog, UnwinderMessagesKeepTheirValuesAndOnlyErrorsRiseAboveDebug) {
  char out[256];
  MVXStackWalkFormatLog(out, sizeof out, "WARN  [%s:%d] %llu %lx %c %u%% %zu\n", "step", 7,
                        0x123456789ull, 0xfedcba9876ul, 'r', 5u, std::size_t{9});
  EXPECT_STREQ(out, "WARN  [step:7] 0x123456789 0xfedcba9876 r 5% 0x9\n");
  MVXStackWalkFormatLog(out, sizeof out, "%lld %d %p", -3ll, -4, reinterpret_cast<void*>(16));
  EXPECT_STREQ(out, "-3 -4 0x10");
  EXPECT_EQ(MVXStackWalkLogLevel("ERROR [f:1] no image\n"), 4);
  EXPECT_EQ(MVXStackWalkLogLevel("WARN  [f:1] Getting register 1\n"), 1);
  EXPECT_EQ(MVXStackWalkLogLevel("INFO  [f:1] frame\n"), 1);
}

TEST(RecordFile, WritesLinesAJsonReaderAcceptsWithEscapesHexAndExtremeNumbers) {
  const tw::test::TempDir folder;
  const fs::path& dir = folder.path();
  const std::string path = (dir / "t.mvxrecord").string();
  MVXFile file;
  ASSERT_TRUE(MVXFileInitWithPath(&file, path.c_str(), false));
  MVXFileWriteSectionStart(&file, "sample");
  MVXFileWriteHashStart(&file);
  MVXFileWriteHashEntryUint64(&file, "zero", 0);
  MVXFileWriteHashEntryUint64(&file, "max", UINT64_MAX);
  MVXFileWriteHashEntryInt64(&file, "min", INT64_MIN);
  MVXFileWriteHashEntryString(&file, "path", "/tmp/a \"q\"\\b\n\x01.so");
  MVXFileWriteHashEntryString(&file, "none", nullptr);
  MVXFileWriteHashEntryHexEncodedString(&file, "text", "seventeen bytes!!");
  MVXFileWriteHashKey(&file, "nested");
  MVXFileWriteArrayStart(&file);
  MVXFileWriteArrayEntryUint64(&file, 1);
  MVXFileWriteArrayStart(&file);
  MVXFileWriteArrayEntryString(&file, "x");
  MVXFileWriteArrayEntryHexEncodedString(&file, nullptr);
  MVXFileWriteArrayEnd(&file);
  MVXFileWriteHashStart(&file);
  MVXFileWriteHashEntryBoolean(&file, "b", false);
  MVXFileWriteHashEnd(&file);
  MVXFileWriteArrayEnd(&file);
  MVXFileWriteHashEntryBoolean(&file, "after", true);
  MVXFileWriteHashEnd(&file);
  MVXFileWriteSectionEnd(&file);
  std::uint64_t offset = 0;
  ASSERT_TRUE(MVXFileCloseWithOffset(&file, &offset));
  EXPECT_EQ(file.fd, -1);
  const std::string text = slurp(path);
  EXPECT_EQ(offset, text.size());
  EXPECT_EQ(text.find('\n'), text.size() - 1);
  const auto line = nlohmann::json::parse(text);
  const auto& s = line["sample"];
  EXPECT_EQ(s["zero"], 0u);
  EXPECT_EQ(s["max"].get<std::uint64_t>(), UINT64_MAX);
  EXPECT_EQ(s["min"].get<std::int64_t>(), INT64_MIN);
  EXPECT_EQ(s["path"], "/tmp/a \"q\"\\b\n\x01.so");
  EXPECT_TRUE(s["none"].is_null());
  EXPECT_EQ(MVXFileHexDecodeString(s["text"].get<std::string>()), "seventeen bytes!!");
  EXPECT_EQ(s["nested"].dump(), R"([1,["x",null],{"b":false}])");
  EXPECT_EQ(s["after"], true);
  char figures[21];
  EXPECT_STREQ(MVXFileFormatUInt64(UINT64_MAX, false, figures), "18446744073709551615");
  EXPECT_STREQ(MVXFileFormatUInt64(0xbeef, true, figures), "beef");
  fs::remove_all(dir);
}

TEST(RecordFile, BufferedWritesSpanTheBufferAndAClosedFileStaysClosed) {
  const tw::test::TempDir folder;
  const fs::path& dir = folder.path();
  const std::string path = (dir / "b.mvxrecord").string();
  MVXFile file;
  ASSERT_TRUE(MVXFileInitWithPath(&file, path.c_str(), true));
  const std::string big(2500, 'z');
  MVXFileWriteSectionStart(&file, "big");
  MVXFileWriteHashStart(&file);
  MVXFileWriteHashEntryString(&file, "v", big.c_str());
  MVXFileWriteHashEnd(&file);
  MVXFileWriteSectionEnd(&file);
  ASSERT_TRUE(MVXFileClose(&file));
  EXPECT_EQ(nlohmann::json::parse(slurp(path))["big"]["v"], big);
  // After close nothing reaches a descriptor the process may have reused.
  EXPECT_FALSE(MVXFileWriteBytes(&file, "x", 1));
  EXPECT_FALSE(MVXFileClose(&file));
  MVXFile missing;
  EXPECT_FALSE(MVXFileInitWithPath(&missing, (dir / "no/such/dir/f").c_str(), false));
  EXPECT_FALSE(MVXFileInitWithPath(nullptr, path.c_str(), false));
  fs::remove_all(dir);
}

TEST(RecordFile, ReaderKeepsEveryWholeLineAroundCutAndBrokenOnes) {
  const tw::test::TempDir folder;
  const fs::path& dir = folder.path();
  const fs::path path = dir / "r.mvxrecord";
  {
    std::ofstream out(path, std::ios::binary);
    out << "{\"a\":{\"v\":1}}\n";
    out << "{\"b\":{\"v\":\"caf\xc3";  // cut inside a two-byte character, then the crash
    out << "\n{\"c\":{\"v\":\"\xc3\xa9\"}}\n";
    out << "not json\n\n";
    out << "{\"d\":{\"v\":2}";  // cut last line
  }
  const auto sections = MVXFileReadSections(path.string(), false);
  ASSERT_TRUE(sections.has_value());
  ASSERT_EQ(sections->size(), 2u);
  EXPECT_EQ(*(*sections)[1]["c"]["v"].string(), "\xc3\xa9");
  const auto onlyA =
      MVXFileReadSections(path.string(), false, [](const tw::Value& v) -> std::optional<tw::Value> {
        if (v["a"].isNull()) return std::nullopt;
        return v;
      });
  EXPECT_EQ(onlyA->size(), 1u);
  EXPECT_FALSE(MVXFileReadSections((dir / "missing").string(), true).has_value());
  EXPECT_FALSE(MVXFileReadSections("", false).has_value());
  EXPECT_EQ(MVXFileHexDecodeString("616263"), "abc");
  EXPECT_EQ(MVXFileHexDecodeString("61zz63"), "a");
  EXPECT_EQ(MVXFileHexDecodeString("6162F"), "ab");
  fs::remove_all(dir);
}

TEST(Allocator, HandsOutAlignedDisjointBlocksFallsBackWhenFullAndProtects) {
  MVXAllocator* allocator = MVXAllocatorCreate(4096, 4096);
  ASSERT_NE(allocator, nullptr);
  std::vector<std::uintptr_t> blocks[4];
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        blocks[t].push_back(reinterpret_cast<std::uintptr_t>(
            MVXAllocatorSafeAllocate(allocator, 5, kMVXAllocationWritable)));
      }
    });
  }
  for (auto& t : threads) t.join();
  std::set<std::uintptr_t> all;
  const std::uintptr_t start = allocator->writable.start;
  for (const auto& list : blocks) {
    for (auto b : list) {
      EXPECT_EQ(b % 16, 0u);
      if (b >= start && b < start + allocator->writable.size) all.insert(b);
    }
  }
  EXPECT_EQ(all.size(), 160u);  // 160 × 16 bytes fit the 8 KiB region: no two threads share one
  const auto before = allocator->writable.current.load();
  void* big = MVXAllocatorSafeAllocate(allocator, 1 << 20, kMVXAllocationWritable);
  EXPECT_NE(big, nullptr);
  EXPECT_EQ(allocator->writable.current.load(), before);
  EXPECT_EQ(MVXAllocatorSafeAllocate(allocator, 8, 7), nullptr);

  auto* text = static_cast<char*>(MVXAllocatorSafeAllocate(allocator, 8, kMVXAllocationReadOnly));
  ASSERT_TRUE(MVXAllocatorProtect(allocator));
  EXPECT_TRUE(MVXAllocatorProtect(allocator));
  void* later = MVXAllocatorSafeAllocate(allocator, 8, kMVXAllocationReadOnly);
  EXPECT_FALSE(reinterpret_cast<std::uintptr_t>(later) >= allocator->readonly.start &&
               reinterpret_cast<std::uintptr_t>(later) <
                   allocator->readonly.start + allocator->readonly.size);
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGSEGV, SIG_DFL);  // whatever handler an earlier case installed
    text[0] = 'x';             // must fault
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV);
  EXPECT_FALSE(MVXAllocatorProtect(nullptr));
  std::free(big);  // the fallbacks came from malloc
  std::free(later);
}

TEST(CaptureUtilities, SafeReadsAndHexRoutines) {
  const char* verified = nullptr;
  EXPECT_TRUE(MVXReadString("label", &verified, 16));
  EXPECT_STREQ(verified, "label");
  EXPECT_FALSE(MVXReadString("a longer label", &verified, 4));
  EXPECT_FALSE(MVXReadString(reinterpret_cast<const char*>(64), &verified, 4));
  char out[7];
  MVXHexEncode("\x00\xff\x10", 3, out);
  EXPECT_STREQ(out, "00ff10");
  EXPECT_EQ(MVXHexDecodeCharacter('F'), 15);
  EXPECT_EQ(MVXHexDecodeCharacter('g'), 255);
  EXPECT_TRUE(MVXUnlinkIfExists("/tmp/tw-definitely-missing-file"));
}

TEST(Context, SettingsWithoutAReportDirectoryInstallNothing) {
  EXPECT_FALSE(MVXContextInitialize(nullptr));
  // In a child: set-up replaces the process's one context.
  const pid_t child = fork();
  if (child == 0) {
    MVXContextSettings settings;
    const bool ok = MVXContextInitialize(&settings);
    struct sigaction current {};
    sigaction(SIGSEGV, nullptr, &current);
    const bool installed =
        (current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == MVXSignalHandler;
    _exit((ok ? 1 : 0) | (installed ? 2 : 0) | (MVXContextIsInitialized() ? 4 : 0));
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// One context per process: these cases share it, in order.
class UserLogging : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Below the test's private folders; removed in TearDownTestSuite.
    dir_ = tw::test::privateRoot() / "user-logging";
    fs::create_directories(dir_);
    static std::string dirText = dir_.string();
    MVXContextSettings settings;
    settings.reportDirectory = dirText.c_str();
    settings.logBufferSize = 200;
    settings.maxCustomKeys = 64;
    settings.maxCustomExceptions = 3;
    settings.errorReportingEnabled = false;
    settings.customExceptionsEnabled = true;
    ASSERT_TRUE(MVXContextInitialize(&settings));
    ASSERT_TRUE(MVXContextIsInitialized());
  }
  static void TearDownTestSuite() {
    drain();
    fs::remove_all(dir_);
  }
  static void drain() {
    MVXContextLoggingQueue()->sync([] {});
    MVXContextLoggingQueue()->sync([] {});
  }
  static fs::path dir_;
};
fs::path UserLogging::dir_;

// The kit log opens on its first line: threads that log together for the first time must share
// one descriptor rather than each open (and leak) their own.
TEST_F(UserLogging, ThreadsLoggingTheFirstLineTogetherOpenTheKitLogOnce) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  threads.reserve(8);
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&ready] {
      ready.fetch_add(1);
      while (ready.load() < 8) {
      }
      MVXSDKLog(4, "ERROR [%s] first line\n", "race");
    });
  }
  for (auto& t : threads) t.join();
  int open = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) == dir_ / "sdk.log") ++open;
  }
  EXPECT_EQ(open, 1);
  const std::string log = slurp(dir_ / "sdk.log");
  int lines = 0;
  for (std::size_t at = log.find("first line"); at != std::string::npos;
       at = log.find("first line", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 8);
}

TEST_F(UserLogging, KeysMergeRemoveAndCompactKeepingAtMostTheKeyLimit) {
  MVXUserLoggingRecordUserKeyValue("gone", std::string("1"));
  MVXUserLoggingRecordUserKeyValue("kept", std::string("quote \" and\nnewline"));
  MVXUserLoggingRecordUserKeyValue("gone", std::nullopt);
  drain();
  const MVXKVStorage* storage = &gMVXContext.readonly->logging.user;
  auto entries = MVXUserLoggingGetCompactedKVEntries(storage, true);
  ASSERT_TRUE(entries);
  EXPECT_EQ(entries->count("gone"), 0u);
  EXPECT_EQ((*entries)["kept"], "quote \" and\nnewline");
  for (int i = 0; i < 70; ++i) {
    MVXUserLoggingRecordUserKeyValue(("k" + std::to_string(100 + i)).c_str(), std::to_string(i));
  }
  drain();
  EXPECT_TRUE(fs::exists(storage->compactedPath));
  entries = MVXUserLoggingGetCompactedKVEntries(storage, true);
  // The compaction at the 64th write kept at most 64 keys; the later writes are added on top.
  EXPECT_LE(entries->size(), 64u + 10u);
  EXPECT_EQ((*entries)["k169"], "69");
}

TEST_F(UserLogging, LogsRotateBetweenTwoFilesAndErrorsStayOffWhenDisabled) {
  for (int i = 0; i < 40; ++i) MVXLog("line %@ of the log", static_cast<std::int64_t>(i));
  drain();
  const MVXABFiles& logs = gMVXContext.readonly->logging.logs;
  const auto a = fs::exists(logs.pathA) ? fs::file_size(logs.pathA) : 0;
  const auto b = fs::exists(logs.pathB) ? fs::file_size(logs.pathB) : 0;
  // The current file plus at most one full one: each holds what passed its limit by one line.
  EXPECT_GT(a + b, 200u);
  EXPECT_LE(a, 300u);
  EXPECT_LE(b, 300u);
  MVXUserLoggingRecordError(tw::Error("Domain", 3), {});
  drain();
  EXPECT_FALSE(fs::exists(gMVXContext.readonly->logging.errors.pathA));
}

}  // namespace

namespace {

// A library closed at run time leaves the table: its node is free again, size and all, so no
// address of it is matched, and the record tells of the unload under the name of the load.
TEST_F(UserLogging, AClosedLibrarysNodeIsFreedAndItsUnloadRecorded) {
  void* plugin = dlopen(TW_CRASH_PLUGIN, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(plugin, nullptr) << dlerror();
  const auto address = reinterpret_cast<std::uintptr_t>(dlsym(plugin, "tw_plugin_write_null"));
  MVXBinaryImageSync();
  MVXBinaryImageNode* held = nullptr;
  for (auto& node : gMVXContext.writable->images) {
    const std::uintptr_t base = node.base.load();
    if (base != 0 && address >= base && address < base + node.size.load()) held = &node;
  }
  ASSERT_NE(held, nullptr);
  const std::uintptr_t base = held->base.load();
  ASSERT_EQ(dlclose(plugin), 0);
  Dl_info info{};
  // NOLINTNEXTLINE(performance-no-int-to-ptr): asks the loader about a former address
  if (dladdr(reinterpret_cast<const void*>(address), &info) != 0) {
    GTEST_SKIP() << "the loader kept the library";
  }
  MVXBinaryImageSync();
  EXPECT_EQ(held->base.load(), 0u);
  EXPECT_EQ(held->size.load(), 0u);
  EXPECT_EQ(held->ehFrame.load(), 0u);
  MVXBinaryImageNodeCopy found;
  EXPECT_FALSE(MVXBinaryImageSafeFindImageForAddress(address, &found));

  nlohmann::json lines = nlohmann::json::object();  // by kind, the lines about this image
  std::ifstream record(dir_ / "binary_images.mvxrecord");
  for (std::string text; std::getline(record, text);) {
    const auto line = nlohmann::json::parse(text, nullptr, false);
    if (!line.is_object() || line.empty()) continue;
    const auto& fields = line.begin().value();
    if (fields.value("base", std::uint64_t{0}) == base) lines[line.begin().key()] = fields;
  }
  ASSERT_TRUE(lines.contains("load"));
  ASSERT_TRUE(lines.contains("unload"));
  EXPECT_EQ(lines["unload"]["path"], lines["load"]["path"]);
  EXPECT_EQ(lines["unload"]["uuid"], lines["load"]["uuid"]);
  EXPECT_EQ(lines["unload"]["size"], lines["load"]["size"]);
}

}  // namespace
