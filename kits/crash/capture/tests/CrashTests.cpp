// Crash tests: a child process sets up capture and fails in one way; its record files are read
// back with an independent JSON reader and checked against what the child did.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/testsupport/Sanitizers.h"
#include "platform/testsupport/TestSupport.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct ChildRun {
  int status = 0;
  std::string out;
  std::shared_ptr<tw::test::TempDir> folder;  // the child's report folder, removed with the run
  fs::path dir;
};

ChildRun runChild(const std::string& mode) {
  ChildRun run;
  run.folder = std::make_shared<tw::test::TempDir>();
  run.dir = run.folder->path();
  const std::string outPath = (run.dir / "stdout.txt").string();
  run.status = tw::test::runCrashingChild({TW_CRASH_CHILD, run.dir.string(), mode, TW_CRASH_PLUGIN},
                                          outPath);
  run.out = tw::test::fileText(outPath);
  return run;
}

// Every line must be one JSON object with exactly one key.
std::vector<json> readRecords(const fs::path& path) {
  std::vector<json> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    json parsed = json::parse(line, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << path << ": " << line.substr(0, 200);
    if (parsed.is_discarded()) continue;
    EXPECT_TRUE(parsed.is_object() && parsed.size() == 1) << line.substr(0, 200);
    lines.push_back(parsed);
  }
  return lines;
}

std::vector<std::string> sectionNames(const std::vector<json>& lines) {
  std::vector<std::string> names;
  names.reserve(lines.size());
  for (const auto& l : lines) names.push_back(l.begin().key());
  return names;
}

const std::vector<std::string> kCrashSections = {
    "threads", "runtime", "dispatch_queue_names", "thread_names", "process_stats", "storage"};

std::string hexDecode(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Checks the crash file's shape; returns the index of the crashed thread.
int checkCrashFile(const std::vector<json>& lines, const std::string& first) {
  std::vector<std::string> expected = {first};
  expected.insert(expected.end(), kCrashSections.begin(), kCrashSections.end());
  EXPECT_EQ(sectionNames(lines), expected);
  if (lines.size() != expected.size()) return -1;
  const json& threads = lines[1]["threads"];
  EXPECT_EQ(threads.size(), lines[3]["dispatch_queue_names"].size());
  EXPECT_EQ(threads.size(), lines[4]["thread_names"].size());
  EXPECT_GT(lines[5]["process_stats"]["resident"].get<std::uint64_t>(), 0u);
  EXPECT_GT(lines[6]["storage"]["total"].get<std::uint64_t>(), 0u);
  int crashed = -1;
  for (std::size_t i = 0; i < threads.size(); ++i) {
    EXPECT_EQ(threads[i]["registers"].size(), 21u);
    if (threads[i].value("crashed", false)) {
      EXPECT_EQ(crashed, -1) << "two crashed threads";
      crashed = static_cast<int>(i);
      EXPECT_FALSE(threads[i]["stacktrace"].empty());
      EXPECT_EQ(threads[i]["stacktrace"][0], threads[i]["registers"]["rip"]);
    }
  }
  EXPECT_GE(crashed, 0);
  return crashed;
}

struct Image {
  std::string path;
  std::uint64_t base, size;
};

std::vector<Image> loadedImages(const fs::path& dir) {
  std::vector<Image> images;
  for (const auto& line : readRecords(dir / "binary_images.mvxrecord")) {
    if (!line.contains("load")) continue;
    const json& l = line["load"];
    EXPECT_EQ(l["uuid"].get<std::string>().size(), 40u) << l["path"];
    images.push_back({l["path"], l["base"], l["size"]});
  }
  return images;
}

// The function addr2line names for a pc of one of the recorded images.
std::string functionAt(const std::vector<Image>& images, std::uint64_t pc) {
  for (const auto& image : images) {
    if (pc < image.base || pc >= image.base + image.size) continue;
    char command[1024];
    std::snprintf(command, sizeof command, "addr2line -f -e '%s' 0x%llx", image.path.c_str(),
                  static_cast<unsigned long long>(pc - image.base));
    FILE* pipe = popen(command, "r");
    char name[512] = {};
    if (pipe == nullptr) return {};
    if (std::fgets(name, sizeof name, pipe) == nullptr) name[0] = 0;
    pclose(pipe);
    std::string result(name);
    if (!result.empty() && result.back() == '\n') result.pop_back();
    return result;
  }
  return "(no image)";
}

TEST(CrashCapture, EachFatalSignalLeavesOneCompleteReportAndEndsByThatSignal) {
  const struct {
    const char* mode;
    int signal;
    bool address;
  } cases[] = {{"segv", SIGSEGV, true},
               {"bus", SIGBUS, true},
               {"fpe", SIGFPE, true},
               {"ill", SIGILL, true},
               {"abort", SIGABRT, false},
               {"sys", SIGSYS, false},
               {"trap", SIGTRAP, false},
               // Sent by another process: no fault address, and the signal ends the process.
               {"sent-segv", SIGSEGV, false},
               {"queued-bus", SIGBUS, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const ChildRun run = runChild(c.mode);
    ASSERT_TRUE(WIFSIGNALED(run.status)) << run.status;
    EXPECT_EQ(WTERMSIG(run.status), c.signal);
    const auto lines = readRecords(run.dir / "signal.mvxrecord");
    const int crashed = checkCrashFile(lines, "signal");
    ASSERT_FALSE(lines.empty());
    const json& signal = lines[0]["signal"];
    EXPECT_EQ(signal["number"], c.signal);
    EXPECT_EQ(signal.contains("address"), c.address);
    EXPECT_EQ(signal["code_name"].is_null(), c.signal != SIGABRT);
    if (crashed >= 0) {
      EXPECT_EQ(lines[4]["thread_names"][crashed], "crash-main");
    }
    EXPECT_EQ(sectionNames(readRecords(run.dir / "metadata.mvxrecord")),
              (std::vector<std::string>{"identity", "host", "application", "executable"}));
    EXPECT_FALSE(loadedImages(run.dir).empty());
    fs::remove_all(run.dir);
  }
}

TEST(CrashCapture, StackOverflowIsRecordedOnEveryKindOfThread) {
  for (const std::string mode : {"overflow-main", "overflow-worker", "overflow-queue",
                                 "overflow-urlsession", "overflow-autosave"}) {
    SCOPED_TRACE(mode);
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer holds a signal sent to a thread until its own safe point, so the
    // overflow of a thread that waits in the kernel cannot be set off from outside.
    if (mode == "overflow-urlsession" || mode == "overflow-autosave") continue;
#endif
    const ChildRun run = runChild(mode);
    ASSERT_TRUE(WIFSIGNALED(run.status));
    EXPECT_EQ(WTERMSIG(run.status), SIGSEGV);
    const auto lines = readRecords(run.dir / "signal.mvxrecord");
    const int crashed = checkCrashFile(lines, "signal");
    ASSERT_GE(crashed, 0);
    const json& thread = lines[1]["threads"][crashed];
    ASSERT_TRUE(thread.contains("repeated_pc"));
    EXPECT_GT(thread["repeat_count"].get<std::uint64_t>(), 1000u);
    int repeats = 0;
    for (const auto& pc : thread["stacktrace"]) repeats += pc == thread["repeated_pc"];
    EXPECT_EQ(repeats, 9);  // written until the tenth repeat, then only summarised
    EXPECT_EQ(functionAt(loadedImages(run.dir), thread["repeated_pc"]), "tw_recurse");
    // The walk is cut, so the log holds no per-frame lines of it.
    std::ifstream log(run.dir / "sdk.log");
    const std::string text((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(text.find("Possible infinite recursion"), std::string::npos);
    EXPECT_LT(text.size(), 256u * 1024u);
    fs::remove_all(run.dir);
  }
}

TEST(CrashCapture, BlockedThreadsTopFramesMatchTheirFunctions) {
  if (tw::test::kThreadSanitizer) GTEST_SKIP() << "the thread sanitizer holds the freezing signal";
  const ChildRun run = runChild("threads");
  ASSERT_TRUE(WIFSIGNALED(run.status));
  const auto lines = readRecords(run.dir / "signal.mvxrecord");
  const int crashed = checkCrashFile(lines, "signal");
  ASSERT_GE(crashed, 0);
  const auto images = loadedImages(run.dir);
  EXPECT_EQ(functionAt(images, lines[1]["threads"][crashed]["stacktrace"][0]), "tw_write_null");
  int matched = 0;
  const json& names = lines[4]["thread_names"];
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string name = names[i];
    if (name.rfind("blocker-", 0) != 0) continue;
    const std::string expected = "tw_known_blocker_" + name.substr(8);
    EXPECT_EQ(functionAt(images, lines[1]["threads"][i]["stacktrace"][0]), expected);
    ++matched;
  }
  EXPECT_EQ(matched, 7);
  fs::remove_all(run.dir);
}

// The recorded image that holds pc, or an empty path.
std::string imageOf(const std::vector<Image>& images, std::uint64_t pc) {
  for (const auto& image : images) {
    if (pc >= image.base && pc < image.base + image.size) return image.path;
  }
  return {};
}

// The child and the C library are built without frame pointers: the stacks are followed through
// the unwind tables, across the library's sort and back into the code that called it.
TEST(CrashCapture, StacksThroughTheLibrarySortReachTheirCallers) {
  const ChildRun run = runChild("qsort");
  ASSERT_TRUE(WIFSIGNALED(run.status));
  const auto lines = readRecords(run.dir / "signal.mvxrecord");
  const int crashed = checkCrashFile(lines, "signal");
  ASSERT_GE(crashed, 0);
  const auto images = loadedImages(run.dir);
  // The functions of a thread's frames, and whether one between its top and the sort's caller
  // lies in the C library.
  const auto functions = [&](int thread, bool* throughLibc) {
    std::vector<std::string> names;
    *throughLibc = false;
    bool pastCaller = false;
    for (const auto& pc : lines[1]["threads"][thread]["stacktrace"]) {
      const auto address = pc.get<std::uint64_t>();
      // Callers' pcs are return addresses: the call lies one byte back, and may end a function.
      names.push_back(functionAt(images, address - (names.empty() ? 0 : 1)));
      pastCaller = pastCaller || names.back() == "tw_sort";
      // The C library, or the sanitizer runtime that stands in front of its sort.
      const bool inLibc = imageOf(images, address).find("/lib/") != std::string::npos;
      if (names.size() > 1 && !pastCaller && inLibc) *throughLibc = true;
    }
    return names;
  };
  const auto position = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) - names.begin();
  };

  bool throughLibc = false;
  const auto crashing = functions(crashed, &throughLibc);
  ASSERT_FALSE(crashing.empty());
  EXPECT_EQ(crashing[0], "tw_compare_then_crash");
  EXPECT_TRUE(throughLibc);
  const auto sortAt = position(crashing, "tw_sort");
  const auto mainAt = position(crashing, "main");
  EXPECT_LT(sortAt, mainAt) << ::testing::PrintToString(crashing);
  EXPECT_LT(mainAt, static_cast<long>(crashing.size())) << ::testing::PrintToString(crashing);

  // The other thread waits in the kernel, entered from the library, under its comparator.
  int blocked = -1;
  const json& names = lines[4]["thread_names"];
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == "sort-blocker") blocked = static_cast<int>(i);
  }
  ASSERT_GE(blocked, 0);
  const auto waiting = functions(blocked, &throughLibc);
  ASSERT_GE(waiting.size(), 4u);
  EXPECT_NE(imageOf(images, lines[1]["threads"][blocked]["stacktrace"][0]).find("/lib/"),
            std::string::npos);
  const auto compareAt = position(waiting, "tw_compare_then_block");
  const auto callerAt = position(waiting, "tw_sort");
  EXPECT_TRUE(throughLibc);
  EXPECT_LT(compareAt, callerAt) << ::testing::PrintToString(waiting);
  // Past the sort's caller the walk goes on to the thread's start.
  EXPECT_LT(callerAt + 1, static_cast<long>(waiting.size())) << ::testing::PrintToString(waiting);
  fs::remove_all(run.dir);
}

TEST(CrashCapture, NullWriteInALibraryOpenedAtRunTimeIsFoundInItsImage) {
  const ChildRun run = runChild("dlopen");
  ASSERT_TRUE(WIFSIGNALED(run.status));
  const auto lines = readRecords(run.dir / "signal.mvxrecord");
  const int crashed = checkCrashFile(lines, "signal");
  ASSERT_GE(crashed, 0);
  EXPECT_EQ(lines[0]["signal"]["address"], 0);
  EXPECT_EQ(functionAt(loadedImages(run.dir), lines[1]["threads"][crashed]["stacktrace"][0]),
            "tw_plugin_write_null");
  fs::remove_all(run.dir);
}

TEST(CrashCapture, UncaughtExceptionIsRecordedOnTheThrowingThreadThenTheAbort) {
  const ChildRun run = runChild("cxx");
  ASSERT_TRUE(WIFSIGNALED(run.status));
  EXPECT_EQ(WTERMSIG(run.status), SIGABRT);
  const auto exception = readRecords(run.dir / "exception.mvxrecord");
  const int crashed = checkCrashFile(exception, "exception");
  ASSERT_FALSE(exception.empty());
  const json& e = exception[0]["exception"];
  EXPECT_EQ(e["type"], "c++");
  EXPECT_EQ(hexDecode(e["name"]), "std::runtime_error");
  EXPECT_EQ(hexDecode(e["reason"]), "tickwell \"boom\"\n");
  EXPECT_FALSE(e.contains("frames"));
  if (crashed >= 0) {
    EXPECT_EQ(exception[4]["thread_names"][crashed], "thrower");
  }
  const auto signal = readRecords(run.dir / "signal.mvxrecord");
  checkCrashFile(signal, "signal");
  if (!signal.empty()) {
    EXPECT_EQ(signal[0]["signal"]["number"], SIGABRT);
  }
  fs::remove_all(run.dir);
}

TEST(CrashCapture, ATracedProcessGetsNoHandlers) {
  const ChildRun run = runChild("traced");
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  if (WEXITSTATUS(run.status) == 3) GTEST_SKIP() << "ptrace not permitted here";
  EXPECT_EQ(run.out, "handlers:0\n");
  std::ifstream log(run.dir / "sdk.log");
  const std::string text((std::istreambuf_iterator<char>(log)), {});
  EXPECT_NE(text.find("Debugger present - not installing handlers"), std::string::npos);
  EXPECT_TRUE(fs::exists(run.dir / "metadata.mvxrecord"));
  fs::remove_all(run.dir);
}

TEST(CrashCapture, APreviousHandlerRunsAfterTheReport) {
  const ChildRun run = runChild("previous-handler");
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), 42);
  EXPECT_EQ(run.out, "own handler ran\n");
  checkCrashFile(readRecords(run.dir / "signal.mvxrecord"), "signal");
  fs::remove_all(run.dir);
}

TEST(CrashCapture, TwoThreadsFaultingTogetherLeaveOneWholeReport) {
  for (int round = 0; round < 5; ++round) {
    const ChildRun run = runChild("double");
    ASSERT_TRUE(WIFSIGNALED(run.status)) << run.status;
    EXPECT_EQ(WTERMSIG(run.status), SIGSEGV);
    checkCrashFile(readRecords(run.dir / "signal.mvxrecord"), "signal");
    fs::remove_all(run.dir);
  }
}

}  // namespace

namespace {

// A function name without namespace decoration, up to its template or argument list.
std::string stem(std::string name) {
  const std::string anonymous = "(anonymous namespace)::";
  for (auto at = name.find(anonymous); at != std::string::npos; at = name.find(anonymous)) {
    name.erase(at, anonymous.size());
  }
  return name.substr(0, name.find_first_of("<( \n"));
}

// The debugger's view of the same child: thread name → the functions at its current pc (the
// function and those inlined into it there).
std::map<std::string, std::vector<std::string>> debuggerTopFrames() {
  const tw::test::TempDir folder;
  const fs::path& dir = folder.path();
  const std::string command =
      std::string("gdb -nx -batch -ex run -ex 'thread apply all bt 4' --args ") + TW_CRASH_CHILD +
      " " + dir.string() + " threads 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  std::map<std::string, std::vector<std::string>> stacks;
  if (pipe == nullptr) return stacks;
  char buffer[4096];
  std::string thread;
  bool inTopGroup = false;
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    const std::string line(buffer);
    if (line.rfind("Thread ", 0) == 0 && line.find("(LWP") != std::string::npos) {
      const auto open = line.find('"');
      const auto close = line.find('"', open + 1);
      thread = open == std::string::npos ? "" : line.substr(open + 1, close - open - 1);
      inTopGroup = true;
      continue;
    }
    if (line.rfind('#', 0) != 0 || thread.empty()) continue;
    // "#0  0x... in name (...) at ..." starts a frame; "#1  name (...) at ..." without an
    // address is a function inlined at the same pc.
    std::string rest = line.substr(line.find(' ') + 2);
    const bool hasAddress = rest.rfind("0x", 0) == 0;
    if (line.rfind("#0", 0) != 0 && hasAddress) inTopGroup = false;
    if (!inTopGroup) continue;
    if (hasAddress) rest = rest.substr(rest.find(" in ") + 4);
    stacks[thread].push_back(stem(rest));
  }
  pclose(pipe);
  fs::remove_all(dir);
  return stacks;
}

TEST(CrashCapture, ReportedStacksNameTheFunctionsTheDebuggerSees) {
  if (tw::test::kThreadSanitizer) GTEST_SKIP() << "the thread sanitizer holds the freezing signal";
  if (std::system("gdb --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no gdb";
  const auto oracle = debuggerTopFrames();
  if (oracle.empty()) GTEST_SKIP() << "gdb could not run the child here";
  const ChildRun run = runChild("threads");
  const auto lines = readRecords(run.dir / "signal.mvxrecord");
  ASSERT_GE(checkCrashFile(lines, "signal"), 0);
  const auto images = loadedImages(run.dir);
  const json& names = lines[4]["thread_names"];
  int compared = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string name = names[i];
    if (name.rfind("blocker-", 0) != 0 && name != "crash-main") continue;
    const auto found = oracle.find(name);
    ASSERT_NE(found, oracle.end()) << name;
    // Frame 0 only: the callers are followed by the library-sort test.
    const std::string ours = stem(functionAt(images, lines[1]["threads"][i]["stacktrace"][0]));
    EXPECT_NE(std::find(found->second.begin(), found->second.end(), ours), found->second.end())
        << name << ": " << ours;
    ++compared;
  }
  EXPECT_EQ(compared, 8);
  fs::remove_all(run.dir);
}

}  // namespace
