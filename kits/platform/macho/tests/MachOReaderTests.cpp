#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fcntl.h>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kits/platform/macho/MVXMachO.h"
#include "kits/platform/macho/MVXMachOSlice.h"
#include "kits/platform/macho/MachOImageList.h"
#include "kits/platform/macho/tests/MachOTestSupport.h"
#include "platform/testsupport/TestSupport.h"

namespace {

using nlohmann::json;
using tw::test::get32;
using tw::test::image64;
using tw::test::machoFixtures;
using tw::test::machoOracle;
using tw::test::patch32;
using tw::test::put32;
using tw::test::putBig32;
using tw::test::readBytes;

#define REQUIRE_FIXTURES() \
  if (machoOracle().empty()) GTEST_SKIP() << "Mach-O fixtures were not built (LLVM tools missing)"

struct Command {
  uint32_t cmd;
  uint32_t cmdsize;
  const void* at;
};

std::vector<Command> commandsOf(MVXMachOSliceRef slice) {
  std::vector<Command> out;
  MVXMachOSliceEnumerateLoadCommands(&slice, [&](uint32_t cmd, uint32_t size, const void* at) {
    out.push_back({cmd, size, at});
  });
  return out;
}

std::vector<MVXMachOSliceRef> slicesOf(const MVXMachOFile& file) {
  std::vector<MVXMachOSliceRef> out;
  MVXMachOFileEnumerateSlices(&file, [&](MVXMachOSliceRef s) { out.push_back(s); });
  return out;
}

std::vector<MVXMachOSliceRef> slicesOf(const std::vector<uint8_t>& bytes) {
  std::vector<MVXMachOSliceRef> out;
  MVXMachOEnumerateSlicesAtAddress(
      bytes.data(), [&](MVXMachOSliceRef s) { out.push_back(s); }, bytes.size());
  return out;
}

std::vector<uint8_t> command(uint32_t cmd, uint32_t cmdsize, std::vector<uint8_t> body = {}) {
  std::vector<uint8_t> c;
  put32(c, cmd);
  put32(c, cmdsize);
  c.insert(c.end(), body.begin(), body.end());
  if (c.size() < cmdsize) c.resize(cmdsize);
  return c;
}

// ----- agreement with the LLVM tools

TEST(MachOReader, EveryFixtureReadsAsTheLLVMToolsReadIt) {
  REQUIRE_FIXTURES();
  size_t checkedSections = 0;
  for (const auto& [name, expected] : machoOracle().items()) {
    if (!expected.contains("slices")) continue;
    SCOPED_TRACE(name);
    std::filesystem::path path = machoFixtures() / name;
    if (name.ends_with(".dSYM")) {
      path /= "Contents/Resources/DWARF";
      path /= std::filesystem::directory_iterator(path)->path().filename();
    }
    MVXMachOFile file;
    ASSERT_TRUE(MVXMachOFileInitWithPath(&file, path.c_str()));
    auto slices = slicesOf(file);
    const json& want = expected["slices"];
    ASSERT_EQ(slices.size(), want.size());
    for (size_t i = 0; i < slices.size(); ++i) {
      SCOPED_TRACE(i);
      MVXMachOSliceRef slice = slices[i];
      const json& w = want[i];
      EXPECT_STREQ(MVXMachOSliceGetArchitectureName(slice),
                   expected["archs"][i].get<std::string>().c_str());
      const void* first = nullptr;
      uint32_t ncmds = 0;
      MVXMachOSliceReadHeader(&slice, &first, &ncmds);
      EXPECT_EQ(slice.cpuType, w["cputype"].get<int32_t>());
      EXPECT_EQ(static_cast<uint32_t>(slice.cpuSubtype), w["cpusubtype"].get<uint32_t>());
      EXPECT_EQ(ncmds, w["ncmds"].get<uint32_t>());
      EXPECT_STREQ(MVXMachOSliceGetArchitectureName(slice),
                   expected["archs"][i].get<std::string>().c_str());

      auto commands = commandsOf(slice);
      ASSERT_EQ(commands.size(), w["commands"].size());
      size_t segment = 0;
      for (size_t c = 0; c < commands.size(); ++c) {
        const json& wc = w["commands"][c];
        if (wc["cmd"].get<int64_t>() >= 0) {
          EXPECT_EQ(commands[c].cmd, wc["cmd"].get<uint32_t>());
        }
        EXPECT_EQ(commands[c].cmdsize, wc["cmdsize"].get<uint32_t>());
        if (commands[c].cmd == LC_SEGMENT || commands[c].cmd == LC_SEGMENT_64) {
          MVXMachOSegment info = MVXMachOGetSegmentInfo(commands[c].at);
          const json& ws = w["segments"][segment++];
          EXPECT_EQ(std::string(info.segname, strnlen(info.segname, 16)),
                    ws["segname"].get<std::string>());
          EXPECT_EQ(info.vmaddr, ws["vmaddr"].get<uint64_t>());
          EXPECT_EQ(info.vmsize, ws["vmsize"].get<uint64_t>());
        }
      }
      EXPECT_EQ(segment, w["segments"].size());

      MVXMachOSlice object(slice);
      EXPECT_EQ(object.uuid(), w["uuid"].get<std::string>());
      EXPECT_EQ(object.linkedDylibs(), w["dylibs"].get<std::vector<std::string>>());
      auto minos = object.minimumOSVersion();
      auto sdk = object.linkedSDKVersion();
      EXPECT_EQ((std::vector<uint32_t>{minos.major, minos.minor, minos.patch}), w["minos"]);
      EXPECT_EQ((std::vector<uint32_t>{sdk.major, sdk.minor, sdk.patch}), w["sdk"]);

      for (const json& ws : w["sections"]) {
        std::string seg = ws["segname"], sect = ws["sectname"];
        MVXMachOSection section;
        ASSERT_TRUE(MVXMachOSliceGetSectionByName(&slice, seg.c_str(), sect.c_str(), &section))
            << seg << "," << sect;
        EXPECT_EQ(section.addr, ws["addr"].get<uint64_t>()) << sect;
        EXPECT_EQ(section.size, ws["size"].get<uint64_t>()) << sect;
        EXPECT_EQ(section.offset, ws["offset"].get<uint32_t>()) << sect;
        const void* data = nullptr;
        if (section.offset != 0 &&
            MVXMachOSliceGetSectionData(&slice, seg.c_str(), sect.c_str(), &data)) {
          EXPECT_EQ(data, static_cast<const uint8_t*>(slice.header) + section.offset);
        }
        ++checkedSections;
      }
      MVXMachOSection none;
      EXPECT_FALSE(MVXMachOSliceGetSectionByName(&slice, "__TEXT", "__nothing", &none));
      EXPECT_EQ(none.addr, 0u);
    }
    MVXMachOFileDestroy(&file);
    EXPECT_EQ(file.fd, -1);
    EXPECT_EQ(file.mapping, nullptr);
  }
  EXPECT_GT(checkedSections, 50u);
}

TEST(MachOReader, ArchitectureNamesAgreeWithTheLLVMToolsAndTheShortTableComparesWholeSubtypes) {
  REQUIRE_FIXTURES();
  MVXMachOFile file;
  ASSERT_TRUE(MVXMachOFileInitWithPath(&file, (machoFixtures() / "fat_table").c_str()));
  auto slices = slicesOf(file);
  const json& archs = machoOracle()["fat_table"]["archs"];
  ASSERT_EQ(slices.size(), archs.size());
  for (size_t i = 0; i < slices.size(); ++i) {
    EXPECT_STREQ(MVXMachOSliceGetArchitectureName(slices[i]), archs[i].get<std::string>().c_str());
  }
  // The fat record names the slice, not the header behind it.
  MVXMachOSliceRef arm64 = MVXMachOFileSliceForArchitectureName(&file, "arm64");
  EXPECT_EQ(arm64.cpuType, CPU_TYPE_ARM64);
  MVXMachOSliceRef none = MVXMachOFileSliceForArchitectureName(&file, "sparc");
  EXPECT_EQ(none.header, nullptr);
  EXPECT_EQ(none.cpuType, 0);
  MVXMachOFileDestroy(&file);

  // Capability bits: not arm64e by the short table, arm64e by the masked one; x86_64 likewise.
  EXPECT_STREQ(MVXMachOSliceGetArchitectureName({nullptr, CPU_TYPE_ARM64, 2, 0}), "arm64e");
  EXPECT_STREQ(MVXMachOSliceGetArchitectureName(
                   {nullptr, CPU_TYPE_ARM64, static_cast<int32_t>(0x80000002), 0}),
               "arm64e");
  EXPECT_STREQ(MVXMachOSliceGetArchitectureName(
                   {nullptr, tw::macho::kCpuTypeX86_64, static_cast<int32_t>(0x80000003), 0}),
               "x86_64");
  EXPECT_STREQ(MVXMachOSliceGetArchitectureName({nullptr, 0, 0, 0}), "unknown");
  EXPECT_STREQ(MVXMachOSliceGetArchitectureName({nullptr, CPU_TYPE_ARM64, 77, 0}), "unknown");
}

TEST(MachOReader, FatFilesGiveTheirSlicesInRecordOrderAndTheLastNamedSliceWins) {
  REQUIRE_FIXTURES();
  MVXMachOFile file;
  ASSERT_TRUE(MVXMachOFileInitWithPath(&file, (machoFixtures() / "fat_arm64_first").c_str()));
  auto slices = slicesOf(file);
  ASSERT_EQ(slices.size(), 2u);
  EXPECT_EQ(slices[0].cpuType, CPU_TYPE_ARM64);
  EXPECT_EQ(slices[1].cpuType, tw::macho::kCpuTypeX86_64);
  EXPECT_EQ(slices[0].header, static_cast<const uint8_t*>(file.mapping) + 4096);
  EXPECT_EQ(MVXMachOFileSliceForArchitectureName(&file, "x86_64").header, slices[1].header);
  MVXMachOFileDestroy(&file);

  // Two records of one architecture: the later one is found.
  std::vector<uint8_t> thin = image64({});
  std::vector<uint8_t> fat;
  putBig32(fat, FAT_MAGIC);
  putBig32(fat, 2);
  for (uint32_t offset : {64u, 128u}) {
    for (uint32_t v : {static_cast<uint32_t>(tw::macho::kCpuTypeX86_64), 3u, offset,
                       static_cast<uint32_t>(thin.size()), 0u}) {
      putBig32(fat, v);
    }
  }
  fat.resize(192);
  std::copy(thin.begin(), thin.end(), fat.begin() + 64);
  std::copy(thin.begin(), thin.end(), fat.begin() + 128);
  tw::test::TempDir dir;
  tw::test::writeBytes(dir.path() / "twice", fat);
  ASSERT_TRUE(MVXMachOFileInitWithPath(&file, (dir.path() / "twice").c_str()));
  EXPECT_EQ(MVXMachOFileSliceForArchitectureName(&file, "x86_64").header,
            static_cast<const uint8_t*>(file.mapping) + 128);
  MVXMachOFileDestroy(&file);
}

// ----- untrusted bytes

TEST(MachOReader, TruncatedFilesYieldOnlyCommandsThatLieWhollyInsideThem) {
  REQUIRE_FIXTURES();
  for (const char* name : {"exe_x86_64", "fat_x86_64_arm64", "obj_i386.o"}) {
    SCOPED_TRACE(name);
    auto whole = readBytes(machoFixtures() / name);
    std::vector<std::vector<uint32_t>> full;
    for (auto s : slicesOf(whole)) {
      std::vector<uint32_t> sizes;
      for (auto c : commandsOf(s)) sizes.push_back(c.cmdsize);
      full.push_back(sizes);
    }
    // Every length through the headers and commands, then a coarser step.
    for (size_t length = 0; length < whole.size(); length += (length < 6000 ? 1 : 997)) {
      std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
      tw::test::exerciseReader(cut, nullptr);
      auto slices = slicesOf(cut);
      for (size_t i = 0; i < slices.size() && i < full.size(); ++i) {
        auto commands = commandsOf(slices[i]);
        ASSERT_LE(commands.size(), full[i].size()) << length;
        for (size_t c = 0; c < commands.size(); ++c) {
          ASSERT_EQ(commands[c].cmdsize, full[i][c]) << length;
          auto end = static_cast<const uint8_t*>(commands[c].at) + commands[c].cmdsize;
          ASSERT_LE(end, cut.data() + cut.size()) << length;
        }
      }
    }
  }
}

TEST(MachOReader, LoadCommandsWithLyingSizesEndTheWalkOrAreNotDelivered) {
  std::vector<uint8_t> uuid(16);
  for (int i = 0; i < 16; ++i) uuid[i] = static_cast<uint8_t>(i * 0x11);
  std::vector<uint8_t> dylibName = {0x18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (char ch : std::string("/usr/lib/libz.1.dylib")) dylibName.push_back(ch);
  dylibName.resize(dylibName.size() + 3);  // the terminating zero and padding

  // Undersized UUID, dylib name past its command, unterminated name, segment claiming sections
  // it does not hold: skipped, the walk goes on to the sound UUID after them.
  std::vector<uint8_t> unterminated = command(LC_LOAD_DYLIB, 32, {0x18, 0, 0, 0});
  for (size_t i = 24; i < 32; ++i) unterminated[i] = 'x';
  std::vector<uint8_t> segment = command(LC_SEGMENT_64, 72);
  patch32(segment, 64, 3);  // nsects
  auto bytes =
      image64({command(LC_UUID, 8), command(LC_LOAD_DYLIB, 24, {0x40, 0, 0, 0}), unterminated,
               segment, command(LC_LOAD_DYLIB, 48, dylibName), command(LC_UUID, 24, uuid)});
  auto slices = slicesOf(bytes);
  ASSERT_EQ(slices.size(), 1u);
  auto commands = commandsOf(slices[0]);
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_STREQ(MVXMachOGetDylibName(commands[0].at), "/usr/lib/libz.1.dylib");
  EXPECT_EQ(MVXMachOFormatUUID(MVXMachOGetUUID(commands[1].at)),
            "00112233445566778899aabbccddeeff");
  MVXMachOSection section;
  EXPECT_FALSE(MVXMachOSliceGetSectionByName(&slices[0], "", "", &section));

  // A command under 8 bytes, or one running past sizeofcmds, ends the walk; so does a huge
  // ncmds once the commands run out.
  for (uint32_t lie : {0u, 4u, 7u, 0xfffffff8u, 4096u}) {
    auto b = image64({command(LC_UUID, 24, uuid), command(0x2, 16), command(LC_UUID, 24, uuid)});
    patch32(b, 32 + 24 + 4, lie);
    auto s = slicesOf(b);
    EXPECT_EQ(commandsOf(s[0]).size(), 1u) << lie;
  }
  auto many = image64({command(LC_UUID, 24, uuid)});
  patch32(many, 16, 0xffffffff);
  EXPECT_EQ(commandsOf(slicesOf(many)[0]).size(), 1u);
  // sizeofcmds smaller than the commands there are: what lies past it, whole or straddling, is
  // not a command, though the slice holds its bytes.
  for (uint32_t cut : {24u, 24u + 8u, 24u + 16u + 23u}) {
    auto b = image64({command(LC_UUID, 24, uuid), command(0x2, 16), command(LC_UUID, 24, uuid)});
    patch32(b, 20, cut);
    EXPECT_EQ(commandsOf(slicesOf(b)[0]).size(), cut < 40 ? 1u : 2u) << cut;
  }
  // sizeofcmds larger than the slice: bounded by the bytes there are.
  auto longer = image64({command(LC_UUID, 24, uuid)});
  patch32(longer, 20, 0x7fffffff);
  EXPECT_EQ(commandsOf(slicesOf(longer)[0]).size(), 1u);
}

TEST(MachOReader, FatRecordsThatLieAreBoundedByTheFile) {
  auto thin = image64({command(LC_UUID, 24, std::vector<uint8_t>(16, 0xab))});
  auto fatWith = [&](const std::vector<std::array<uint32_t, 3>>& records, uint32_t count) {
    std::vector<uint8_t> fat;
    putBig32(fat, FAT_MAGIC);
    putBig32(fat, count);
    for (auto [offset, size, type] : records) {
      for (uint32_t v : {type, 3u, offset, size, 0u}) putBig32(fat, v);
    }
    fat.resize(256);
    fat.insert(fat.end(), thin.begin(), thin.end());
    return fat;
  };
  const uint32_t x86 = static_cast<uint32_t>(tw::macho::kCpuTypeX86_64);
  // An offset past the end names nothing; a size past the end is cut to the file.
  auto fat = fatWith({{256, 0xffffff, x86}, {100000, 56, x86}, {256, 4, x86}}, 3);
  auto slices = slicesOf(fat);
  ASSERT_EQ(slices.size(), 2u);
  EXPECT_EQ(slices[0].size, thin.size());
  EXPECT_EQ(commandsOf(slices[0]).size(), 1u);
  EXPECT_EQ(slices[1].size, 4u);
  EXPECT_TRUE(commandsOf(slices[1]).empty());
  // A count far beyond the records the file holds stops at the file's end.
  // (The zeroed records after the first are slices of no bytes at the start.)
  auto counted = fatWith({{256, 56, x86}}, 0x7fffffff);
  EXPECT_GE(slicesOf(counted).size(), 1u);
  EXPECT_LE(slicesOf(counted).size(), (counted.size() - 8) / 20);
  // Fat magic with no count: nothing.
  std::vector<uint8_t> bare;
  putBig32(bare, FAT_MAGIC);
  EXPECT_TRUE(slicesOf(bare).empty());
}

TEST(MachOReader, KeptCrashingInputsReadSafely) {
  std::error_code ec;
  int read = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TW_MACHO_CRASHERS, ec)) {
    SCOPED_TRACE(entry.path().string());
    tw::test::exerciseReader(readBytes(entry.path()), nullptr);
    ++read;
  }
  // A missing or emptied fixture folder would pass unseen otherwise.
  EXPECT_FALSE(ec) << ec.message();
  EXPECT_GE(read, 3);
}

// ----- files

TEST(MachOReader, OnlyRegularFilesOfSixteenBytesOrMoreAreMapped) {
  tw::test::TempDir dir;
  MVXMachOFile file;
  EXPECT_FALSE(MVXMachOFileInitWithPath(nullptr, "/x"));
  EXPECT_FALSE(MVXMachOFileInitWithPath(&file, nullptr));
  EXPECT_FALSE(MVXMachOFileInitWithPath(&file, (dir.path() / "missing").c_str()));
  EXPECT_FALSE(MVXMachOFileInitWithPath(&file, dir.path().c_str()));
  EXPECT_EQ(file.fd, -1);
  EXPECT_EQ(file.mapping, nullptr);

  // A FIFO with no writer must not block the open.
  auto fifo = dir.path() / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(MVXMachOFileInitWithPath(&file, fifo.c_str()));
  // A socket shares bits with the regular-file mode but is none.
  auto socketPath = dir.path() / "sock";
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_FALSE(MVXMachOFileInitWithPath(&file, socketPath.c_str()));
  close(sock);

  tw::test::writeBytes(dir.path() / "short", std::vector<uint8_t>(15, 0));
  EXPECT_FALSE(MVXMachOFileInitWithPath(&file, (dir.path() / "short").c_str()));
  EXPECT_EQ(file.fd, -1);

  // No magic at all: one slice at the start, no CPU, no commands.
  tw::test::writeBytes(dir.path() / "zeros", std::vector<uint8_t>(16, 0));
  ASSERT_TRUE(MVXMachOFileInitWithPath(&file, (dir.path() / "zeros").c_str()));
  EXPECT_GE(file.fd, 0);
  EXPECT_EQ(file.size, 16);
  EXPECT_EQ(fcntl(file.fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  auto slices = slicesOf(file);
  ASSERT_EQ(slices.size(), 1u);
  EXPECT_EQ(slices[0].header, file.mapping);
  EXPECT_EQ(slices[0].cpuType, 0);
  EXPECT_TRUE(commandsOf(slices[0]).empty());
  const void* first = &file;
  uint32_t n = 9;
  MVXMachOSliceReadHeader(&slices[0], &first, &n);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(n, 0u);
  MVXMachOFileDestroy(&file);
  MVXMachOFileDestroy(&file);
  MVXMachOFileDestroy(nullptr);
}

// ----- images laid out in memory

TEST(MachOReader, ImagesInMemoryAreFoundThroughTheImageList) {
  REQUIRE_FIXTURES();
  // Without a Mach-O main executable there is no current slice, only the local CPU.
  MVXMachOSliceRef none = MVXMachOSliceGetCurrent();
  EXPECT_EQ(none.header, nullptr);
#if defined(__x86_64__)
  EXPECT_STREQ(MVXMachOSliceGetArchitectureName(none), "x86_64");
#endif
  MVXMachOFile file;
  EXPECT_FALSE(MVXMachOFileInitWithCurrentExecutable(&file));
  EXPECT_TRUE(MVXMachOSlice::runningSlice()->uuid().empty());

  auto path = machoFixtures() / "exe_x86_64";
  auto image = readBytes(path);
  const intptr_t slide = 0x7000;
  ASSERT_TRUE(tw::MachOImageList::add(image.data(), image.size(), slide, path.c_str(), true));
  const json& want = machoOracle()["exe_x86_64"]["slices"][0];

  MVXMachOSliceRef current = MVXMachOSliceGetCurrent();
  EXPECT_EQ(current.header, image.data());
  EXPECT_STREQ(MVXMachOSliceGetExecutablePath(&current), path.c_str());
  EXPECT_EQ(MVXMachOSlice::runningSlice()->uuid(), want["uuid"].get<std::string>());
  ASSERT_TRUE(MVXMachOFileInitWithCurrentExecutable(&file));
  EXPECT_EQ(file.size, static_cast<int64_t>(image.size()));
  MVXMachOFileDestroy(&file);

  MVXMachOSliceRef loaded = MVXMachOSliceWithHeader(image.data());
  EXPECT_EQ(loaded.size, image.size());
  EXPECT_TRUE(MVXMachOSliceIs64Bit(&current));
  uintptr_t ehFrame = 1, unwindInfo = 2;
  MVXMachOSliceGetUnwindInformation(&loaded, &ehFrame, &unwindInfo);
  for (const json& s : want["sections"]) {
    if (s["sectname"] == "__eh_frame") {
      EXPECT_EQ(ehFrame, slide + s["addr"].get<uintptr_t>());
    }
    if (s["sectname"] == "__unwind_info") {
      EXPECT_EQ(unwindInfo, slide + s["addr"].get<uintptr_t>());
    }
  }
  EXPECT_NE(ehFrame, 1u);
  EXPECT_NE(unwindInfo, 2u);

  tw::MachOImageList::remove(image.data());
  // Not listed: the outputs stay as they were.
  ehFrame = 1;
  MVXMachOSliceGetUnwindInformation(&loaded, &ehFrame, nullptr);
  EXPECT_EQ(ehFrame, 1u);
  EXPECT_EQ(MVXMachOSliceGetCurrent().header, nullptr);
  // The unlisted image's path comes from the loader's own records when it has one.
  EXPECT_EQ(MVXMachOSliceGetExecutablePath(&loaded), nullptr);
  MVXMachOSliceRef code =
      MVXMachOSliceWithHeader(reinterpret_cast<const void*>(&MVXMachOFormatUUID));
  EXPECT_NE(MVXMachOSliceGetExecutablePath(&code), nullptr);
  EXPECT_EQ(MVXMachOSliceGetExecutablePath(nullptr), nullptr);
}

// ----- decoders

TEST(MachOReader, DecodersReadTheirFieldsAndFormatThem) {
  std::vector<uint8_t> bytes(16);
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(0x11 * i);
  EXPECT_EQ(MVXMachOFormatUUID(bytes.data()), "00112233445566778899aabbccddeeff");

  auto versionMin = command(LC_VERSION_MIN_IPHONEOS, 16);
  patch32(versionMin, 8, 0x000a0e03);
  patch32(versionMin, 12, 0x000d0100);
  MVXMachOVersion minimum = MVXMachOGetMinimumOSVersion(versionMin.data());
  MVXMachOVersion sdk = MVXMachOGetLinkedSDKVersion(versionMin.data());
  EXPECT_EQ(MVXMachOFormatVersion(&minimum), "10.14.3");
  EXPECT_EQ(MVXMachOFormatVersion(&sdk), "13.1.0");
  EXPECT_EQ(MVXMachOFormatVersion(nullptr), std::nullopt);

  auto encryption = command(LC_ENCRYPTION_INFO, 20);
  EXPECT_FALSE(MVXMachOIsEncrypted(encryption.data()));
  patch32(encryption, 16, 1);
  EXPECT_TRUE(MVXMachOIsEncrypted(encryption.data()));

  // 32-bit segments are widened; other commands and null give zeros.
  auto segment = command(LC_SEGMENT, 56);
  std::memcpy(segment.data() + 8, "__TEXT", 6);
  patch32(segment, 24, 0xfffff000);
  patch32(segment, 28, 0x2000);
  MVXMachOSegment info = MVXMachOGetSegmentInfo(segment.data());
  EXPECT_STREQ(info.segname, "__TEXT");
  EXPECT_EQ(info.vmaddr, 0xfffff000u);
  EXPECT_EQ(info.vmsize, 0x2000u);
  EXPECT_EQ(MVXMachOGetSegmentInfo(versionMin.data()).vmsize, 0u);
  EXPECT_EQ(MVXMachOGetSegmentInfo(nullptr).vmaddr, 0u);
  EXPECT_EQ(MVXMachOGetUUID(nullptr), nullptr);
  EXPECT_EQ(MVXMachOGetDylibName(nullptr), nullptr);
}

TEST(MachOReader, ObjectFileSectionsAreFoundWhateverTheirSegmentCommandIsNamed) {
  std::vector<uint8_t> seg = command(LC_SEGMENT_64, 72 + 80);
  patch32(seg, 64, 1);  // nsects; the segment command itself stays unnamed
  std::memcpy(seg.data() + 72, "__eh_frame", 10);
  std::memcpy(seg.data() + 72 + 16, "__TEXT", 6);
  patch32(seg, 72 + 32, 0x40);  // addr
  patch32(seg, 72 + 40, 0x10);  // size
  patch32(seg, 72 + 48, 0x20);  // offset
  MVXMachOSection section;
  auto object = image64({seg}, tw::macho::kFileTypeObject);
  MVXMachOSliceRef slice = slicesOf(object)[0];
  ASSERT_TRUE(MVXMachOSliceGetSectionByName(&slice, "__TEXT", "__eh_frame", &section));
  EXPECT_EQ(section.addr, 0x40u);
  EXPECT_EQ(section.size, 0x10u);
  EXPECT_EQ(section.offset, 0x20u);
  EXPECT_FALSE(MVXMachOSliceGetSectionByName(&slice, "__DATA", "__eh_frame", &section));
  // In a linked image the segment command's name must match too.
  auto linked = image64({seg});
  slice = slicesOf(linked)[0];
  EXPECT_FALSE(MVXMachOSliceGetSectionByName(&slice, "__TEXT", "__eh_frame", &section));
}

}  // namespace
