#include <gtest/gtest.h>

#include <fstream>

#include "kits/analytics/EventJournal.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {
namespace {

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Every append here has empty parts, whose views may hold a null pointer that memcpy must not be
// given: only the undefined-behaviour sanitizer (the asan preset, which CI runs) sees the copy
// made without the journal's guard; the default build passes either way.
TEST(AnalyticsJournal, PendingEntriesSurviveAndDoneOnesDoNot) {
  TempDir dir;
  auto path = dir.path() / "run.journal";
  auto journal = EventJournal::create(path, Dictionary{{"api_key", "k"}});
  ASSERT_TRUE(journal);
  ASSERT_TRUE(journal->record("a", "1\tcustom\t2\t{}"));
  ASSERT_TRUE(journal->record("b", "2\tcustom\t2\t{}"));
  ASSERT_TRUE(journal->record("c", "3\tcustom\t2\t{}"));
  // On a nearly full disk it takes only the room the next few events need.
  EXPECT_LE(std::filesystem::file_size(path), 32u * 1024);
  journal->done("b");
  // A kill in the middle of a later append leaves a torn line, which was never acknowledged.
  auto killed = dir.path() / "killed.journal";
  std::filesystem::copy_file(path, killed);
  std::ofstream(killed, std::ios::app) << "+d\t4\tcus";
  auto contents = EventJournal::read(killed);
  ASSERT_TRUE(contents.metadata);
  EXPECT_EQ((*contents.metadata)["api_key"], Value("k"));
  ASSERT_EQ(contents.pending.size(), 2u);
  EXPECT_EQ(contents.pending[0].identifier, "a");
  EXPECT_EQ(contents.pending[0].line, "1\tcustom\t2\t{}");
  EXPECT_EQ(contents.pending[1].identifier, "c");

  // Once nothing is outstanding the journal starts over with just its metadata, and a journal
  // whose entries were all handled is gone with its owner.
  journal->done(std::vector<std::string_view>{"a", "c"});
  contents = EventJournal::read(path);
  EXPECT_TRUE(contents.pending.empty());
  EXPECT_TRUE(contents.metadata);
  journal.reset();
  EXPECT_FALSE(std::filesystem::exists(path));

  // One that still holds entries stays for the next run.
  journal = EventJournal::create(path, Dictionary{});
  journal->record("e", "5\tcustom\t2\t{}");
  journal.reset();
  EXPECT_EQ(EventJournal::read(path).pending.size(), 1u);
  EXPECT_FALSE(EventJournal::create(dir.path() / "missing" / "x.journal", Dictionary{}));
}

// A journal that starts over keeps its metadata and the previous run's, and none of the lines
// it had before come back, however many there were.
TEST(AnalyticsJournal, StartingOverHidesEveryEarlierLine) {
  TempDir dir;
  auto path = dir.path() / "run.journal";
  auto journal = EventJournal::create(path, Dictionary{{"api_key", "k"}});
  ASSERT_TRUE(journal);
  journal->setPreviousMetadata(Dictionary{{"api_key", "before"}});
  std::vector<std::string> ids;
  std::string line = "1\tcustom\t202\t{" + std::string(200, ' ') + "}";
  for (int i = 0; i < 2000; ++i) {  // past the first mapping's size: it grows on the way
    ids.push_back("id" + std::to_string(i));
    ASSERT_TRUE(journal->record(ids.back(), line));
  }
  ASSERT_TRUE(journal->recordCrash("crash", "2\tapp_crashed\t2\t{}"));
  EXPECT_EQ(EventJournal::read(path).pending.size(), 2000u);
  journal->done(std::vector<std::string_view>(ids.begin(), ids.end()));
  journal->done("crash");
  EXPECT_TRUE(EventJournal::read(path).pending.empty());
  ASSERT_TRUE(journal->record("late", "3\tcustom\t2\t{}"));
  auto contents = EventJournal::read(path);
  ASSERT_EQ(contents.pending.size(), 1u);
  EXPECT_EQ(contents.pending[0].identifier, "late");
  EXPECT_TRUE(contents.pendingCrashes.empty());
  ASSERT_TRUE(contents.metadata && contents.previousMetadata);
  EXPECT_EQ((*contents.previousMetadata)["api_key"], Value("before"));
  // Left for the next run, cut to its lines.
  journal.reset();
  EXPECT_EQ(EventJournal::read(path).pending.size(), 1u);
  EXPECT_LT(std::filesystem::file_size(path), 4096u);
}

}  // namespace
}  // namespace tw::test
