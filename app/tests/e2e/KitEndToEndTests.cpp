// The kits inside the real program: its ending waits for the kits' work and holds log-out,
// shut-down and suspend back meanwhile, through logind on a private system bus; and the files the
// kits read at launch, each replaced by a folder, an empty file or garbage, neither keep the
// program from starting and recording nor are they lost.
//
// Skips when Xvfb, openbox or xdotool are missing.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "app/tests/e2e/TickwellEndToEndFixture.h"
#include "kits/crash/reports/tests/ReportFixtures.h"
#include "platform/desktop/tests/integration/FakeSleepServices.h"

namespace {

using namespace tw::test::e2e;

constexpr const char* kBundle = "com.velmora.Tickwell";

fs::path cacheHome() { return fs::path(getenv("XDG_CACHE_HOME")); }
fs::path dataHome() { return fs::path(getenv("XDG_DATA_HOME")); }
// The crash kit's report folders.
fs::path reportsRoot() { return cacheHome() / "com.morvex.data" / kBundle / "v3"; }
fs::path analyticsRoot() { return dataHome() / "com.morvex.data" / kBundle / "analytics" / "v2"; }

std::vector<fs::path> filesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) files.push_back(entry.path());
  return files;
}

// `bytes` that neither compress nor repeat, so that packaging them takes a while.
std::string noise(std::size_t bytes, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::string text(bytes, '\0');
  for (std::size_t i = 0; i + 8 <= bytes; i += 8) {
    const std::uint64_t word = random();
    std::memcpy(text.data() + i, &word, 8);
  }
  return text;
}

TEST_F(TickwellEndToEndTest, SigtermWaitsForTheKitsWorkWhileLogindHoldsADelayInhibitor) {
  // logind on a system bus of its own.
  tw::test::PrivateSessionBus systemBus;
  ASSERT_TRUE(systemBus.ok()) << systemBus.failure();
  tw::test::FakeSleepServices logind(systemBus.address(), {tw::test::FakeSleepServices::Login1});
  ASSERT_TRUE(logind.ok());
  environmentOverrides_["DBUS_SYSTEM_BUS_ADDRESS"] = systemBus.address();

  // A report an earlier run left half processed, with a large record: packaging it at launch is
  // work of the crash kit's that takes a while.
  const fs::path leftover = reportsRoot() / "processing" / "earlier-run";
  tw::test::writeReport(leftover.string(), "earlier-run-id");
  tw::test::writeFile((leftover / "signal.mvxrecord").string(),
                      "{\"signal\":{\"time\":1700000000}}\n");
  tw::test::writeFile((leftover / "custom_exception_a.mvxrecord").string(), noise(24u << 20, 36));
  const fs::path prepared = reportsRoot() / "prepared";

  app_ = launch();
  ASSERT_GT(app_, 0);
  // The package is written under a temporary name first: the kit's work has begun.
  ASSERT_TRUE(waitFor(
      [&] {
        for (const auto& file : filesIn(prepared))
          if (file.filename().string().starts_with(".tmp-")) return true;
        return false;
      },
      40s))
      << "the leftover report was not packaged; log:\n"
      << readFile(log());
  // Meanwhile logind is asked to delay log-out, shut-down and suspend, for the program.
  ASSERT_TRUE(waitFor([&] { return logind.heldLogin1Inhibitions() == 1; }, 5s))
      << "no delay inhibitor held; calls:\n"
      << ::testing::PrintToString(logind.calls()) << "\nlog:\n"
      << readFile(log());
  const auto calls = logind.calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_TRUE(calls.front().starts_with("login1.Inhibit what=shutdown:sleep who=Tickwell why="))
      << calls.front();
  EXPECT_TRUE(calls.front().ends_with(" mode=delay")) << calls.front();

  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  const auto status = waitAppExit(20s);
  ASSERT_TRUE(status.has_value()) << "Tickwell did not end on SIGTERM";
  EXPECT_EQ(*status, 0) << readFile(log());

  // The ending waited: the package is whole, under its final name, and the report it came from
  // is gone; nothing was left running.
  const std::string text = readFile(log());
  EXPECT_EQ(text.find("still running"), std::string::npos) << text;
  std::vector<std::string> packages;
  for (const auto& file : filesIn(prepared)) packages.push_back(file.filename().string());
  ASSERT_EQ(packages.size(), 1u) << ::testing::PrintToString(packages) << "\n" << text;
  EXPECT_TRUE(packages[0].ends_with(".multipartmime") && !packages[0].starts_with(".tmp-"))
      << packages[0];
  EXPECT_FALSE(fs::exists(leftover));
  // The inhibitor went with the work.
  EXPECT_EQ(logind.heldLogin1Inhibitions(), 0);
}

// Every file found below `root` (folders' own files included) whose bytes are `content`.
std::vector<fs::path> filesHolding(const fs::path& root, const std::string& content) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec))
    if (it->is_regular_file(ec) && it->file_size(ec) == content.size() &&
        readFile(it->path()) == content)
      found.push_back(it->path());
  return found;
}

TEST_F(TickwellEndToEndTest, KitFilesThatAreFoldersEmptyOrGarbageNeitherStopTheLaunchNorAreLost) {
  const std::string uuid = "5B1D6F0C-3A52-4E0B-9C1D-2F7A8E4B6C10";
  const fs::path events = analyticsRoot() / "events";
  // Each kind of file the kits read at launch.
  const std::map<std::string, fs::path> kinds = {
      {"event log", events / (uuid + ".log")},
      {"event journal", analyticsRoot() / "journals" / (uuid + ".journal")},
      {"crash metadata", analyticsRoot() / "crash_metadata"},
      {"settings cache", cacheHome() / "com.morvex.data" / kBundle / "settings.json"},
      {"kit defaults", dataHome() / kBundle / "com.morvex" / "MVXUserDefaults.plist"},
      {"crash report record", reportsRoot() / "active" / "earlier-run" / "metadata.mvxrecord"},
      {"crash report package", reportsRoot() / "prepared" / "0123456789abcdef.multipartmime"},
  };
  for (const std::string form : {"folder", "empty", "garbage"}) {
    SCOPED_TRACE("each kit file as " + form);
    for (const fs::path& kitFolder :
         {dataHome() / "com.morvex.data", dataHome() / kBundle, cacheHome() / "com.morvex.data"})
      fs::remove_all(kitFolder);
    // What a folder holds, or the garbage: to be found again afterwards, wherever it was put.
    std::map<std::string, std::string> kept;
    for (const auto& [kind, path] : kinds) {
      std::string marker = form;
      marker.append(" in place of the ").append(kind).append("\x01\xfe\x7f{\"[");
      if (form == "folder") {
        fs::create_directories(path);
        tw::test::writeFile((path / "inside").string(), marker);
        kept[kind] = marker;
      } else {
        tw::test::writeFile(path.string(), form == "garbage" ? marker : std::string());
        if (form == "garbage") kept[kind] = marker;
      }
    }
    // The report the bad record belongs to has a crash record of its own.
    tw::test::writeFile((reportsRoot() / "active" / "earlier-run" / "signal.mvxrecord").string(),
                        "{\"signal\":{\"time\":1700000000}}\n");

    app_ = launch();
    ASSERT_GT(app_, 0);
    ASSERT_FALSE(waitForWindowOf(app_).empty());
    // It records this run's events.
    ASSERT_TRUE(waitFor(
        [&] {
          for (const auto& file : filesIn(events))
            if (file.extension() == ".log" && file.filename() != uuid + ".log" &&
                fs::is_regular_file(file) && fs::file_size(file) > 0)
              return true;
          return false;
        },
        20s))
        << "no new event log; log:\n"
        << readFile(log());
    // It stays up.
    EXPECT_FALSE(waitExit(app_, 2s).has_value()) << readFile(log());
    ASSERT_EQ(::kill(app_, SIGTERM), 0);
    const auto status = waitAppExit(15s);
    ASSERT_EQ(status, std::optional<int>(0)) << readFile(log());

    for (const auto& [kind, marker] : kept)
      EXPECT_FALSE(filesHolding(xdg_.root(), marker).empty())
          << "the " << kind << " is lost; log:\n"
          << readFile(log());
  }
}

}  // namespace
