// The symbol resolver, the demangler and the ".symbolicated" writer, over this process's own
// images (recorded as if an earlier run had loaded them elsewhere).

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "kits/crash/capture/MVXFile.h"
#include "kits/crash/capture/MVXFileReader.h"
#include "kits/crash/reports/MVXFileManager.h"
#include "kits/crash/symbols/MVXDemangleOperation.h"
#include "kits/crash/symbols/MVXSerializeSymbolicatedFramesOperation.h"
#include "kits/crash/symbols/MVXSymbolResolver.h"
#include "kits/crash/symbols/tests/SymbolsChildFrames.h"
#include "kits/crash/symbols/tests/SymbolsTestSupport.h"
#include "platform/foundation/Log.h"
#include "platform/testsupport/TestSupport.h"

namespace {

namespace fs = std::filesystem;

__attribute__((noinline)) int internalToTheProgram(int v) { return v * 5 + 2; }

template <class F>
std::uint64_t addressOf(F* f) {
  return reinterpret_cast<std::uintptr_t>(f);
}

TEST(MVXDemangleOperation, NamesAndBlockNames) {
  EXPECT_EQ(MVXDemangleOperation::demangleSymbol("_ZN3foo3barEv"), "foo::bar()");
  EXPECT_EQ(MVXDemangleOperation::demangleSymbol("__Z3foov_block_invoke"), "foo()_block_invoke");
  EXPECT_EQ(MVXDemangleOperation::demangleSymbol("__Z3foov_block_invoke_2"),
            "foo()_block_invoke_2");
  // "_block_invoke" before position 5, a C name, nothing, and text the demangler refuses.
  EXPECT_EQ(MVXDemangleOperation::demangleSymbol("__Z3_block_invoke"), std::nullopt);
  EXPECT_EQ(MVXDemangleOperation::demangleSymbol("symbols_child_run"), std::nullopt);
  EXPECT_EQ(MVXDemangleOperation::demangleSymbol(nullptr), std::nullopt);
  EXPECT_EQ(MVXDemangleOperation::demangleSymbol("_Zzzz"), std::nullopt);
}

class MVXSymbolResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tw::test::writeLoadedImagesRecord(record_, kShift);
    ASSERT_TRUE(resolver_.loadBinaryImagesFromFile(record_));
  }
  // The address the earlier run recorded for what lies at p now.
  template <class F>
  static std::uint64_t recorded(F* p, std::int64_t delta = 0) {
    return addressOf(p) + kShift + static_cast<std::uint64_t>(delta);
  }
  static constexpr std::uint64_t kShift = 0x10000000;
  tw::test::TempDir dir_;
  std::string record_ = (dir_.path() / "binary_images.mvxrecord").string();
  MVXSymbolResolver resolver_;
};

TEST_F(MVXSymbolResolverTest, NamesAddressesWhereTheirImagesLieNow) {
  auto exported = resolver_.frameForAddress(recorded(&symbols_child_run, 1));
  ASSERT_TRUE(exported);
  EXPECT_EQ(exported->symbol(), "symbols_child_run");
  EXPECT_EQ(exported->rawSymbol(), "symbols_child_run");
  EXPECT_EQ(exported->offset(), 1u);
  EXPECT_EQ(exported->library(), "libsymbols_child_frames.so");

  // Not exported by the test program: named from its symbol table through /proc/self/exe.
  auto internal = resolver_.frameForAddress(recorded(&internalToTheProgram, 4));
  ASSERT_TRUE(internal);
  EXPECT_EQ(internal->symbol(), "_ZN12_GLOBAL__N_120internalToTheProgramEi");
  EXPECT_EQ(internal->offset(), 4u);
}

// A thread's current instruction is named as it stands; a return address on a function's first
// byte belongs to the call before it, at the end of the previous function.
TEST_F(MVXSymbolResolverTest, FirstBytesOfFunctions) {
  auto pc = resolver_.frameForAddress(recorded(&symbols_child_fault_at_entry), true);
  ASSERT_TRUE(pc);
  EXPECT_EQ(pc->symbol(), "symbols_child_fault_at_entry");
  EXPECT_EQ(pc->offset(), 0u);

  auto ret = resolver_.frameForAddress(recorded(&symbols_child_after_noreturn));
  ASSERT_TRUE(ret);
  EXPECT_EQ(ret->symbol(), "symbols_child_calls_noreturn");
  EXPECT_EQ(ret->offset(), 3u);  // looked up two bytes back into the five-byte call
}

TEST_F(MVXSymbolResolverTest, UnknownImagesAndAddressesStayUnnamed) {
  EXPECT_FALSE(resolver_.frameForAddress(0));
  // Outside every recorded image.
  auto frame = MVXStackFrame::stackFrameWithAddress(0x1000);
  EXPECT_FALSE(resolver_.updateStackFrame(frame.get()));
  EXPECT_EQ(frame->symbol(), std::nullopt);
  EXPECT_EQ(frame->library(), std::nullopt);
  EXPECT_EQ(frame->offset(), 0u);

  // The same image under another build-id is not loaded now.
  MVXFile file;
  ASSERT_TRUE(MVXFileInitWithPathMode(&file, record_.c_str(), false, false));
  MVXFileWriteSectionStart(&file, "load");
  MVXFileWriteHashStart(&file);
  MVXFileWriteHashEntryString(&file, "path", "/usr/lib/libgone.so");
  MVXFileWriteHashEntryString(&file, "uuid", "00112233445566778899aabbccddeeff00112233");
  MVXFileWriteHashEntryUint64(&file, "base", 0x500000);
  MVXFileWriteHashEntryUint64(&file, "size", 0x1000);
  MVXFileWriteHashEnd(&file);
  MVXFileWriteSectionEnd(&file);
  // An image without a size is not kept.
  MVXFileWriteSectionStart(&file, "load");
  MVXFileWriteHashStart(&file);
  MVXFileWriteHashEntryUint64(&file, "base", 0x600000);
  MVXFileWriteHashEntryNull(&file, "size");
  MVXFileWriteHashEnd(&file);
  MVXFileWriteSectionEnd(&file);
  MVXFileClose(&file);
  ASSERT_TRUE(resolver_.loadBinaryImagesFromFile(record_));
  EXPECT_EQ(resolver_.binaryImages().size(), 1u);
  EXPECT_FALSE(resolver_.frameForAddress(0x500010));

  tw::LogCapture log;
  EXPECT_FALSE(resolver_.loadBinaryImagesFromFile((dir_.path() / "missing").string()));
  EXPECT_FALSE(resolver_.loadBinaryImagesFromFile(""));
  EXPECT_TRUE(log.contains("[Morvex:Crash:SymbolResolver] failed to read binary image file"));
}

TEST(MVXSerializeSymbolicatedFramesOperation, WritesEveryFrameUnderItsFinalNameOnly) {
  tw::test::TempDir dir;
  const std::string output = (dir.path() / "signal.mvxrecord.symbolicated").string();
  const std::string hidden = MVXFileManager::temporaryPathForPath(output);
  EXPECT_EQ(fs::path(hidden).filename(), ".tmp-signal.mvxrecord.symbolicated");
  { std::ofstream(hidden) << "left by a killed run"; }

  auto cName = MVXStackFrame::stackFrameWithSymbol("write");
  cName->setLibrary("libc.so.6");
  cName->setOffset(23);
  auto cxx = MVXStackFrame::stackFrameWithSymbol("_ZN3foo3barEv");
  cxx->setSymbol("foo::bar()");
  cxx->setLibrary("lib\"odd\"\n.so");
  auto unnamed = MVXStackFrame::stackFrameWithAddress(0x1234);
  MVXThreadArray threads = {{cName, cxx}, {}, {unnamed}};
  auto demangle = std::make_shared<MVXDemangleOperation>();
  demangle->setThreadArray(threads);
  demangle->start();
  auto op = std::make_shared<MVXSerializeSymbolicatedFramesOperation>();
  op->setThreadArray(threads);
  op->setOutputPath(output);
  op->start();

  EXPECT_FALSE(fs::exists(hidden));
  const auto lines = MVXFileReadSections(output, false);
  ASSERT_TRUE(lines);
  ASSERT_EQ(lines->size(), 1u);
  const tw::Value& written = (*lines)[0]["threads"];
  ASSERT_EQ(written.count(), 3u);
  const tw::Value& first = written.at(0).at(0);
  EXPECT_EQ(*first["symbol"].string(), "write");
  EXPECT_EQ(first.dictionary()->count("raw_symbol"), 0u);
  EXPECT_EQ(first["offset"].unsignedValue(), 23u);
  EXPECT_EQ(*first["library"].string(), "libc.so.6");
  const tw::Value& second = written.at(0).at(1);
  EXPECT_EQ(*second["symbol"].string(), "foo::bar()");
  EXPECT_EQ(*second["raw_symbol"].string(), "_ZN3foo3barEv");
  EXPECT_EQ(*second["library"].string(), "lib\"odd\"\n.so");
  EXPECT_EQ(written.at(1).count(), 0u);
  const tw::Value& third = written.at(2).at(0);
  EXPECT_TRUE(third["symbol"].isNull());
  EXPECT_TRUE(third["library"].isNull());
  EXPECT_EQ(third.dictionary()->count("raw_symbol"), 0u);
  EXPECT_EQ(third["offset"].unsignedValue(), 0u);

  tw::LogCapture log;
  op = std::make_shared<MVXSerializeSymbolicatedFramesOperation>();
  op->setOutputPath((dir.path() / "absent" / "x.symbolicated").string());
  op->start();
  EXPECT_TRUE(log.contains("[Morvex:Crash:Symbolication] Failed to create output file"));
}

}  // namespace
