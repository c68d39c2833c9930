#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/foundation/Paths.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/UUID.h"
#include "platform/foundation/tests/ReadOnlyFolder.h"
#include "platform/testsupport/TestSupport.h"

namespace fs = std::filesystem;

namespace tw {
namespace {

// Sets or clears an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) saved_ = old, had_ = true;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_.c_str(), saved_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_, saved_;
  bool had_ = false;
};

// "<prefix><YYYYMMDD>-<HHMMSS>" with an optional "-<n>"; std::regex trips sanitizer builds'
// warnings.
bool isCorruptName(const std::string& name, const std::string& prefix) {
  if (name.rfind(prefix, 0) != 0) return false;
  std::string rest = name.substr(prefix.size());
  if (rest.size() < 15) return false;
  for (std::size_t i = 0; i < 15; ++i)
    if (i == 8 ? rest[i] != '-' : !std::isdigit(static_cast<unsigned char>(rest[i]))) return false;
  rest = rest.substr(15);
  if (rest.empty()) return true;
  if (rest[0] != '-' || rest.size() < 2) return false;
  for (std::size_t i = 1; i < rest.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(rest[i]))) return false;
  return true;
}

bool isUpperUuidV4(const std::string& id) {
  if (id.size() != 36) return false;
  for (std::size_t i = 0; i < 36; ++i) {
    char c = id[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return id[14] == '4' && std::string("89AB").find(id[19]) != std::string::npos;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(XdgPaths, VariablesWinOnlyWhenAbsolute) {
  test::TempDir home;
  ScopedEnv h("HOME", home.path().c_str());
  {
    ScopedEnv c("XDG_CONFIG_HOME", "/somewhere/config");
    ScopedEnv d("XDG_DATA_HOME", "relative/data");  // relative: ignored
    ScopedEnv k("XDG_CACHE_HOME", "");              // empty: ignored
    ScopedEnv s("XDG_STATE_HOME", nullptr);
    EXPECT_EQ(paths::configHome(), fs::path("/somewhere/config"));
    EXPECT_EQ(paths::dataHome(), home.path() / ".local/share");
    EXPECT_EQ(paths::cacheHome(), home.path() / ".cache");
    EXPECT_EQ(paths::stateHome(), home.path() / ".local/state");
    EXPECT_EQ(paths::applicationConfigDirectory(), fs::path("/somewhere/config/Tickwell"));
    EXPECT_EQ(paths::applicationDataDirectory(), home.path() / ".local/share/Tickwell");
  }
  ScopedEnv r("XDG_RUNTIME_DIR", nullptr);
  fs::path runtime = paths::runtimeDir();
  EXPECT_TRUE(fs::is_directory(runtime));
  struct stat st {};
  ASSERT_EQ(::stat(runtime.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(AtomicWrite, ReplacesWholeAndLeavesNoTemporaryBehind) {
  test::TempDir dir;
  fs::path file = dir.path() / "nested" / "deeper" / "prefs.plist";
  ASSERT_TRUE(paths::writeFileAtomically(file, std::string_view("first version")));
  EXPECT_EQ(slurp(file), "first version");
  ::chmod(file.c_str(), 0640);
  ASSERT_TRUE(paths::writeFileAtomically(file, std::string_view("second")));
  EXPECT_EQ(slurp(file), "second");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // a replaced file keeps its mode
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(file.parent_path()))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, std::set<std::string>{"prefs.plist"});
  // Empty content is a valid file, not an absent one.
  ASSERT_TRUE(paths::writeFileAtomically(file, std::string_view()));
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(fs::file_size(file), 0u);
}

TEST(AtomicWrite, AFailedWriteKeepsTheOldFileIntact) {
  test::TempDir dir;
  fs::path file = dir.path() / "keep.txt";
  ASSERT_TRUE(paths::writeFileAtomically(file, std::string_view("precious")));
  // Where the parent is a regular file, nothing can be written, and nothing may be damaged.
  auto bad = paths::writeFileAtomically(file / "child", std::string_view("x"));
  EXPECT_FALSE(bad.ok());
  EXPECT_FALSE(bad.error().empty());
  EXPECT_EQ(slurp(file), "precious");
  EXPECT_FALSE(paths::writeFileAtomically(fs::path(), std::string_view("x")).ok());
  // A folder that refuses writes.
  auto outcome = test::inReadOnlyFolder(dir.path(), [&]() -> std::string {
    auto denied = paths::writeFileAtomically(file, std::string_view("overwrite"));
    if (denied.ok()) return "a write into a read-only folder reported success";
    if (slurp(file) != "precious") return "the old file was damaged";
    return "";
  });
  if (!outcome.available) GTEST_SKIP() << "read-only folder part skipped: " << outcome.failure;
  EXPECT_EQ(outcome.failure, "");
  EXPECT_EQ(slurp(file), "precious");
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename());
  EXPECT_EQ(names, std::set<std::string>{"keep.txt"});  // no temporary left behind
}

TEST(ReadFile, TellsAbsentFromUnreadable) {
  test::TempDir dir;
  int err = 0;
  auto absent = paths::readFile(dir.path() / "nope", &err);
  EXPECT_FALSE(absent.ok());
  EXPECT_EQ(err, ENOENT);
  auto folder = paths::readFile(dir.path(), &err);
  EXPECT_FALSE(folder.ok());
  EXPECT_EQ(err, EISDIR);
  ASSERT_TRUE(paths::writeFileAtomically(dir.path() / "f", std::string_view("0123456789")));
  auto small = paths::readTextFile(dir.path() / "f", &err);
  ASSERT_TRUE(small.ok());
  EXPECT_EQ(*small, "0123456789");
  EXPECT_EQ(err, 0);
  auto limited = paths::readFile(dir.path() / "f", &err, 5);
  EXPECT_FALSE(limited.ok());
  EXPECT_EQ(err, EFBIG);
}

TEST(MoveAside, RenamesWithATimestampAndNeverOverwrites) {
  test::TempDir dir;
  fs::path file = dir.path() / "com.velmora.Tickwell.plist";
  std::set<fs::path> moved;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(paths::writeFileAtomically(file, "garbage " + std::to_string(i)));
    auto aside = paths::moveAside(file);
    ASSERT_TRUE(aside.ok()) << aside.error();
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(isCorruptName(aside->filename().string(), "com.velmora.Tickwell.plist.corrupt-"))
        << aside->filename();
    EXPECT_EQ(slurp(*aside), "garbage " + std::to_string(i));
    moved.insert(*aside);
  }
  EXPECT_EQ(moved.size(), 3u);  // same second: "-2", "-3" suffixes, nothing lost
  EXPECT_FALSE(paths::moveAside(dir.path() / "absent").ok());
}

TEST(Uuid, UpperCaseRandomThirtySixCharacters) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string id = makeUUIDString();
    EXPECT_TRUE(isUpperUuidV4(id)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(ProcessInfoFacts, AnswerFromTheRunningSystem) {
  auto& info = ProcessInfo::processInfo();
  EXPECT_EQ(info.processIdentifier(), static_cast<int>(getpid()));
  EXPECT_EQ(info.processName(), program_invocation_short_name);
  EXPECT_GE(info.activeProcessorCount(), 1u);
  EXPECT_GT(info.physicalMemory(), 0u);
  EXPECT_FALSE(info.hostName().empty());
  EXPECT_NE(info.operatingSystemVersionString().find("(Linux "), std::string::npos);
  EXPECT_GT(info.operatingSystemVersion().majorVersion, 2);
  ScopedEnv set("TW_PROCESSINFO_TEST", "");
  EXPECT_EQ(info.environmentValue("TW_PROCESSINFO_TEST"), std::optional<std::string>(""));
  EXPECT_EQ(info.environment()["TW_PROCESSINFO_TEST"], Value(""));
  EXPECT_FALSE(info.environmentValue("TW_PROCESSINFO_TEST_ABSENT").has_value());
}

}  // namespace
}  // namespace tw
