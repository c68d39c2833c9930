#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kits/analytics/ORVLogRotation.h"
#include "kits/analytics/ORVLogger.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UUID.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) { return tw::test::fileText(p); }

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  pclose(pipe);
  return out;
}

const std::string kLine = "1700000000000\tcustom\t2\t{}\n";

class AnalyticsRotation : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orv-rot-" + makeUUIDString());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void touch(const std::string& name, const std::string& text = "x") {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  // The archive the pipeline makes of `text`.
  std::string gzipOf(const std::string& text) {
    const auto log = dir_ / "gzip-of.log";
    touch("gzip-of.log", text);
    ORVCompressLogOperation(log, dir_ / "gzip-of.gz").start();
    std::string bytes = slurp(dir_ / "gzip-of.gz");
    fs::remove(log);
    fs::remove(dir_ / "gzip-of.gz");
    return bytes;
  }
  // A package as the pipeline makes it, of an archive named `archive`.
  void touchPackage(const std::string& boundary, const std::string& archive) {
    touch(boundary + ".multipartmime",
          "MIME-Version: 1.0\r\n--" + boundary + "\r\nContent-Disposition: form-data; name=\"" +
              archive + "\"; filename=\"" + archive +
              "\"\r\nContent-Type: application/vnd.morvex.mac.events\r\n\r\n" + gzipOf(kLine) +
              "\r\n--" + boundary + "--\r\n");
  }
  fs::path dir_;
};

TEST_F(AnalyticsRotation, CompressAndPackageReadBackIndependently) {
  std::string lines;
  for (int i = 0; i < 200; ++i) lines += "1700000000000\tcustom\t2\t{}\n";
  touch("A.log", lines);
  auto gz = ORVCompressLogOperation::compressedURLForUncompressedURL(dir_ / "A.log");
  EXPECT_EQ(gz, dir_ / "A.gz");
  ORVCompressLogOperation compress(dir_ / "A.log", gz);
  compress.start();
  ASSERT_TRUE(compress.success());
  EXPECT_EQ(run("gzip -dc '" + gz.string() + "'"), lines);

  std::string boundary = TSYMultipartMimeStreamEncoder::generateBoundary();
  auto packaged = ORVPackageLogOperation::multipartURLForCompressedURL(gz, boundary);
  EXPECT_EQ(packaged, dir_ / (boundary + ".multipartmime"));
  ORVPackageLogOperation package(gz, packaged, boundary);
  package.start();
  ASSERT_TRUE(package.success());
  EXPECT_FALSE(fs::exists(dir_ / (boundary + ".partial")));
  // Parsed with python's email package: one part, named after the .gz, holding its bytes.
  std::string script =
      "import sys,email,gzip,json\n"
      "raw=open(sys.argv[1],'rb').read()\n"
      "m=email.message_from_bytes(b'Content-Type: multipart/form-data; boundary=\"'+"
      "sys.argv[2].encode()+b'\"\\r\\n\\r\\n'+raw)\n"
      "p=m.get_payload()\n"
      "print(json.dumps([len(p),p[0].get_content_type(),p[0].get_filename(),"
      "p[0].get_param('name',header='content-disposition'),"
      "gzip.decompress(p[0].get_payload(decode=True)).decode()]))\n";
  std::ofstream(dir_ / "parse.py") << script;
  auto parsed = Json::parse(run("python3 '" + (dir_ / "parse.py").string() + "' '" +
                                packaged.string() + "' '" + boundary + "'"));
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(parsed->at(0), Value(1));
  EXPECT_EQ(parsed->at(1), Value("application/vnd.morvex.mac.events"));
  EXPECT_EQ(parsed->at(2), Value("A.gz"));
  EXPECT_EQ(parsed->at(3), Value("A.gz"));
  EXPECT_EQ(parsed->at(4), Value(lines));
}

TEST_F(AnalyticsRotation, MissingSourcesExistingTargetsAndFailuresLeaveNoPartialOutput) {
  auto& logger = ORVLogger::sharedLogger();
  logger.setDebugMode(true);
  LogCapture log;
  ORVCompressLogOperation missing(dir_ / "none.log", dir_ / "none.gz");
  missing.start();
  EXPECT_FALSE(missing.success());
  EXPECT_TRUE(log.contains("[Oriseth] Error: attempting to compress nonexistent file: "));
  ORVPackageLogOperation noGz(dir_ / "none.gz", dir_ / "B.multipartmime", "B");
  noGz.start();
  EXPECT_FALSE(noGz.success());
  EXPECT_FALSE(fs::exists(dir_ / "B.multipartmime"));
  EXPECT_TRUE(log.contains("[Oriseth] Error: attempting to package nonexistent file: "));
  logger.setDebugMode(false);

  touch("C.log", kLine);
  touch("C.gz", "old");
  ORVCompressLogOperation existing(dir_ / "C.log", dir_ / "C.gz");
  existing.start();
  EXPECT_EQ(slurp(dir_ / "C.gz"), "old");
  touch("C.gz", gzipOf(kLine));

  // Unwritable destinations: no output, and the sources stay for a later attempt.
  ORVCompressLogOperation badDest(dir_ / "C.log", dir_ / "no" / "C.gz");
  badDest.start();
  EXPECT_FALSE(badDest.success());
  EXPECT_TRUE(fs::exists(dir_ / "C.log"));
  ORVPackageLogOperation badPackage(dir_ / "C.gz", dir_ / "no" / "D.multipartmime", "D");
  badPackage.start();
  EXPECT_FALSE(badPackage.success());
  EXPECT_TRUE(fs::exists(dir_ / "C.gz"));

  // A disk that fills up halfway through the archive: the cut archive goes, the log stays.
  std::string noise(std::size_t{64} * 1024, '\0');
  for (auto& c : noise) c = static_cast<char>('a' + std::rand() % 26);  // NOLINT(cert-msc30-c)
  noise = "1700000000000\tcustom\t" + std::to_string(noise.size() + 2) + "\t{" + noise + "}\n";
  touch("E.log", noise);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto previous = signal(SIGXFSZ, SIG_IGN);
  const rlimit small{4096, saved.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  ORVCompressLogOperation full(dir_ / "E.log", dir_ / "E.gz");
  full.start();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(full.success());
  EXPECT_FALSE(fs::exists(dir_ / "E.gz"));
  EXPECT_EQ(fs::file_size(dir_ / "E.log"), noise.size());
}

TEST_F(AnalyticsRotation, CleanupSortsSupersedesAndCaps) {
  for (auto name : {"a.log", "a.gz", "b.gz", "notes.txt", "x.partial", "noext"}) touch(name);
  touchPackage("c", "c.gz");
  ORVFileUtils::URLSet logs, gzs, multiparts;
  int calls = 0;
  ORVCleanupFilesOperation cleanup(dir_, 100);
  cleanup.setSuccessBlock([&](const auto& l, const auto& g, const auto& m) {
    logs = l, gzs = g, multiparts = m;
    ++calls;
  });
  cleanup.start();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(logs, ORVFileUtils::URLSet{dir_ / "a.log"});
  EXPECT_EQ(gzs, ORVFileUtils::URLSet{dir_ / "b.gz"});
  EXPECT_EQ(multiparts, ORVFileUtils::URLSet{dir_ / "c.multipartmime"});
  for (auto gone : {"a.gz", "notes.txt", "x.partial", "noext"})
    EXPECT_FALSE(fs::exists(dir_ / gone));

  // An archive whose package was made (a kill came before the archive's removal) is not
  // packaged and sent a second time.
  touch("d.gz");
  touchPackage("p", "d.gz");
  ORVCleanupFilesOperation again(dir_, 100);
  again.setSuccessBlock([&](const auto&, const auto& g, const auto&) { gzs = g; });
  again.start();
  EXPECT_EQ(gzs, ORVFileUtils::URLSet{dir_ / "b.gz"});
  EXPECT_FALSE(fs::exists(dir_ / "d.gz"));
  fs::remove(dir_ / "p.multipartmime");

  // Five packaged files with a cap of 3: the two oldest go (creation dates are not settable, so
  // they are made one after another with a pause).
  std::vector<fs::path> files;
  for (int i = 0; i < 5; ++i) {
    touch("m" + std::to_string(i) + ".multipartmime");
    files.push_back(dir_ / ("m" + std::to_string(i) + ".multipartmime"));
    usleep(20000);
  }
  auto kept = ORVCleanupFilesOperation::URLsByRemovingOldFiles(files, 3);
  EXPECT_EQ(kept, (std::vector<fs::path>{files[4], files[3], files[2]}));
  EXPECT_FALSE(fs::exists(files[0]));
  EXPECT_FALSE(fs::exists(files[1]));
  // Unreadable dates count as the oldest; a cap of 0 removes everything.
  kept = ORVCleanupFilesOperation::URLsByRemovingOldFiles({dir_ / "gone", files[2], files[3]}, 2);
  EXPECT_EQ(kept, (std::vector<fs::path>{files[3], files[2]}));
  EXPECT_TRUE(ORVCleanupFilesOperation::URLsByRemovingOldFiles({files[2], files[3]}, 0).empty());
  EXPECT_FALSE(fs::exists(files[2]));

  ORVCleanupFilesOperation unreadable(dir_ / "missing", 100);
  calls = 0;
  unreadable.setSuccessBlock([&](const auto& l, const auto& g, const auto& m) {
    calls += l.empty() && g.empty() && m.empty();
  });
  unreadable.start();
  EXPECT_EQ(calls, 1);
}

TEST_F(AnalyticsRotation, CrashMetadataRotation) {
  ORVMetadata::Fields f;
  f.APIKey = std::string("k1");
  auto current = std::make_shared<ORVMetadata>(std::move(f));
  auto file = dir_ / "crash_metadata";
  ORVRotateCrashMetadataOperation first(file, current);
  first.main();
  EXPECT_TRUE(first.crashMetadata()->rawMetadataDictionary().empty());
  auto stored = ORVCrashMetadata::readSerializedDictionaryFromURL(file);
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["api_key"], Value("k1"));

  ORVRotateCrashMetadataOperation second(file, current);
  second.main();
  EXPECT_EQ(second.crashMetadata()->rawMetadataDictionary(), *stored);

  // A corrupt file reads as empty metadata (logged) and is replaced.
  std::ofstream(file, std::ios::trunc) << "{cut";
  ORVLogger::sharedLogger().setDebugMode(true);
  LogCapture log;
  ORVRotateCrashMetadataOperation third(file, current);
  third.main();
  ORVLogger::sharedLogger().setDebugMode(false);
  EXPECT_TRUE(third.crashMetadata()->rawMetadataDictionary().empty());
  EXPECT_TRUE(log.contains("Unable to read crash metadata"));
  EXPECT_TRUE(ORVCrashMetadata::readSerializedDictionaryFromURL(file));
}

}  // namespace
}  // namespace tw::test
