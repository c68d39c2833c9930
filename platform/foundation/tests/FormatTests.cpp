#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"

namespace tw {
namespace {

TEST(Format, IntegerConversionsWithFlagsAndWidths) {
  EXPECT_EQ(format("%02ld:%02ld", 5, 7), "05:07");
  EXPECT_EQ(format("%03ld", 1234), "1234");
  EXPECT_EQ(format("%d|%i|%5d|%-5d|%+d", 1, 2, 3, 4, 5), "1|2|    3|4    |+5");
  EXPECT_EQ(format("%lld", std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(format("%llu", std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
  EXPECT_EQ(format("%ld", std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
  EXPECT_EQ(format("%x %X %lx %#x", 255, 255, 4096, 16), "ff FF 1000 0x10");
  // Negative values read as unsigned wrap at the width the length modifier names, as printf does.
  EXPECT_EQ(format("%x", -1), "ffffffff");
  EXPECT_EQ(format("%llx", -1), "ffffffffffffffff");
  EXPECT_EQ(format("%02x%02x", 1, 171), "01ab");
  EXPECT_EQ(format("%.3d", 7), "007");
  EXPECT_EQ(format("%zu items", 3u), "3 items");
}

TEST(Format, MismatchedArgumentsAreCoercedNotMisread) {
  EXPECT_EQ(format("%ld", "42abc"), "42");
  EXPECT_EQ(format("%ld", 3.99), "3");
  EXPECT_EQ(format("%f", 2), "2.000000");
  EXPECT_EQ(format("%d", true), "1");
  EXPECT_EQ(format("%@", 12), "12");
  EXPECT_EQ(format("%s", 1.5), "1.5");
}

TEST(Format, FloatingPointIsLocaleIndependent) {
  EXPECT_EQ(format("%.2f|%lf|%g|%e", 3.14159, 0.5, 0.0001, 1234.5),
            "3.14|0.500000|0.0001|1.234500e+03");
  // A GUI toolkit may set a locale with a decimal comma; formats must not follow it.
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = previous ? previous : "C";
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
    EXPECT_EQ(format("%.1f", 1.5), "1.5");
    std::setlocale(LC_NUMERIC, saved.c_str());
  }
}

TEST(Format, ObjectsStringsAndCharacters) {
  EXPECT_EQ(format("Hello %@!", "World"), "Hello World!");
  EXPECT_EQ(format("%@", Value()), "(null)");
  EXPECT_EQ(format("%s", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(format("[%5s][%-5s][%.2s]", "ab", "ab", "abcdef"), "[   ab][ab   ][ab]");
  // Width and precision count characters, never cutting a multi-byte one.
  EXPECT_EQ(format("[%.1@][%3@]", "éa", "é"), "[é][  é]");
  EXPECT_EQ(format("%c%c", 65, "xyz"), "Ax");
  EXPECT_EQ(format("%C", 0x263A), "\xE2\x98\xBA");
  EXPECT_EQ(format("%c", 0), "");
}

TEST(Format, PositionalArguments) {
  EXPECT_EQ(format("%2$@ before %1$@", "one", "two"), "two before one");
  EXPECT_EQ(format("%1$@ %1$@", "x"), "x x");
  EXPECT_EQ(format("%2$02ld", 1, 5), "05");
}

TEST(Format, BrokenOrIncompleteFormatsNeverReadGarbage) {
  EXPECT_EQ(format("100%%"), "100%");
  EXPECT_EQ(format("50%"), "50%");
  EXPECT_EQ(format("a %@ b %@ c", "x"), "a x b  c");
  EXPECT_EQ(format("%3$@", "x"), "");
  EXPECT_EQ(format("%ld"), "");
  EXPECT_EQ(format("%02l"), "%02l");
  EXPECT_EQ(format("%y and %@", "z"), "%y and z");
  EXPECT_EQ(format("%*d", 4, 7), "   7");
  EXPECT_EQ(format("%-*d|", 3, 7), "7  |");
  EXPECT_EQ(format("%*d", -3, 7), "7  ");
  EXPECT_EQ(format("%.*f", 1, 2.25), "2.2");
  EXPECT_EQ(format("%999999999d", 1).size(), 4096u);
  EXPECT_EQ(format("%n%d", 5, 6), "6");
  EXPECT_EQ(formatValues(std::string_view("a\0b", 3), {}), std::string("a\0b", 3));
}

TEST(Format, PointersPrintAsHex) {
  EXPECT_EQ(format("%p", 255), "0xff");
  EXPECT_EQ(format("%p", 0), "0x0");
}

TEST(Logging, CaptureSeesMessagesAndNestedCapturesChain) {
  LogCapture outer;
  {
    LogCapture inner;
    log(LogLevel::Error, "<BTUpdater> Starting Update Loop");
    logf("[Tessaly] %@ items", 3);
    EXPECT_TRUE(inner.contains("Starting Update Loop"));
    EXPECT_EQ(inner.lines().back(), "[Tessaly] 3 items");
  }
  log("after inner");
  auto lines = outer.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "after inner");
  outer.clear();
  EXPECT_TRUE(outer.lines().empty());
}

TEST(Logging, HookMayLogFromWithinAndFromManyThreads) {
  LogCapture capture;
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 100; ++i) logf("thread %d message %d", t, i);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(capture.lines().size(), 400u);

  // A hook that logs again must not deadlock.
  int depth = 0;
  auto previous = setLogHook(
      [&depth](LogLevel, std::string_view) {
        if (depth++ == 0) log("re-entered");
      },
      true);
  log("first");
  EXPECT_EQ(depth, 2);
  setLogHook(previous, true);
}

}  // namespace
}  // namespace tw
