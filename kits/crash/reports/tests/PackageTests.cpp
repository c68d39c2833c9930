#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>

#include "kits/crash/reports/MVXPackageReportOperation.h"
#include "kits/crash/reports/tests/ReportFixtures.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {
namespace {

namespace fs = std::filesystem;

class Packaging : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(files_->prepareForNewLaunch());
    dir_ = files_->processingPath() + "/exec";
  }
  std::shared_ptr<MVXPackageReportOperation> run() {
    auto op = std::make_shared<MVXPackageReportOperation>(MVXInternalReport::reportWithPath(dir_),
                                                          files_);
    op->start();
    return op;
  }
  TempDir root_;
  std::shared_ptr<MVXFileManager> files_ =
      std::make_shared<MVXFileManager>((root_.path() / "root").string());
  std::string dir_;
};

TEST_F(Packaging, EveryVisibleFileTravelsGzippedOnceUnderTheBoundaryName) {
  writeReport(dir_, "exec-id", "the-key");
  writeFile(dir_ + "/signal.mvxrecord", "{\"signal\":{\"time\":7}}\n");
  writeFile(dir_ + "/signal.mvxrecord.gz", "an earlier attempt's copy");
  writeFile(dir_ + "/signal.mvxrecord.symbolicated", "{\"threads\":[]}\n");
  writeFile(dir_ + "/empty.mvxrecord", "");
  writeFile(dir_ + "/.lock", "");
  auto op = run();
  ASSERT_TRUE(op->finalPath());
  const fs::path package(*op->finalPath());
  EXPECT_EQ(package.parent_path(), fs::path(files_->preparedPath()));
  EXPECT_EQ(package.extension(), ".multipartmime");
  EXPECT_EQ(files_->preparedPathContents(), std::vector<std::string>{package.string()});

  const auto parts = parseMultipart(readFile(package), package.stem().string());
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[0].name, "api_key");
  EXPECT_EQ(parts[0].data, "the-key");
  EXPECT_EQ(parts[1].name, "report_id");
  EXPECT_EQ(parts[1].data, "exec-id");
  std::set<std::string> names;
  for (std::size_t i = 2; i < parts.size(); ++i) {
    names.insert(parts[i].name);
    EXPECT_EQ(parts[i].fileName, parts[i].name + ".gz");
    EXPECT_EQ(parts[i].contentType, "application/x-gzip");
    EXPECT_EQ(gunzip(parts[i].data), readFile(dir_ + "/" + parts[i].name)) << parts[i].name;
  }
  EXPECT_EQ(names, (std::set<std::string>{"metadata.mvxrecord", "signal.mvxrecord",
                                          "signal.mvxrecord.symbolicated"}));
}

TEST_F(Packaging, WithoutAnAPIKeyTheBodyStartsWithTheReportId) {
  writeReport(dir_, "exec-id", "");
  auto op = run();
  ASSERT_TRUE(op->finalPath());
  const auto parts =
      parseMultipart(readFile(*op->finalPath()), fs::path(*op->finalPath()).stem().string());
  ASSERT_FALSE(parts.empty());
  EXPECT_EQ(parts[0].name, "report_id");
}

TEST_F(Packaging, AFoundAgainDirectoryReusesItsPackageAndAKilledWriteLeavesNothingVisible) {
  writeReport(dir_, "exec-id");
  auto first = run();
  ASSERT_TRUE(first->finalPath());
  // The directory found again (the launch was killed before removing it): no second package.
  auto second = run();
  EXPECT_EQ(second->finalPath(), first->finalPath());
  EXPECT_EQ(files_->preparedPathContents().size(), 1u);
  // The noted package gone (uploaded by then, or never renamed): a new one is made.
  fs::remove(*first->finalPath());
  auto third = run();
  ASSERT_TRUE(third->finalPath());
  EXPECT_NE(third->finalPath(), first->finalPath());
  // A package cut by a kill lies under its hidden name: never listed, removed at launch.
  writeFile(MVXFileManager::temporaryPathForPath(files_->preparedPath() + "/X.multipartmime"),
            "cut");
  EXPECT_EQ(files_->preparedPathContents().size(), 1u);
  EXPECT_TRUE(files_->prepareForNewLaunch());
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(files_->preparedPath())) entries += !e.is_directory();
  EXPECT_EQ(entries, 1u);
}

TEST_F(Packaging, AnyWriteFailureLeavesNoPackageAndNoPartialFile) {
  writeReport(dir_, "exec-id");
  std::string noise(std::size_t{256} * 1024, '\0');
  std::mt19937 random(7);
  for (char& c : noise) c = static_cast<char>(random());
  writeFile(dir_ + "/signal.mvxrecord", noise);
  // In a child whose files may not grow past 64 KiB: the package cannot be written whole.
  const pid_t child = fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlim_t cap = rlim_t{64} * 1024;
    rlimit limit{cap, cap};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    auto op = run();
    _exit(op->finalPath() ? 1 : 0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(fs::is_empty(files_->preparedPath()));
  // A prepared directory that is missing fails the same way.
  fs::remove_all(files_->preparedPath());
  EXPECT_FALSE(run()->finalPath());
}

TEST(PackagingCompression, CompressesWholeAndRefusesEmptyData) {
  TempDir dir;
  const std::string path = (dir.path() / "x.gz").string();
  const tw::Data data(100000, 'a');
  EXPECT_TRUE(MVXPackageReportOperation::compressData(data, path));
  EXPECT_EQ(gunzip(readFile(path)), std::string(100000, 'a'));
  EXPECT_FALSE(MVXPackageReportOperation::compressData({}, path));
  EXPECT_FALSE(MVXPackageReportOperation::compressData(data, (dir.path() / "no/x.gz").string()));
}

}  // namespace
}  // namespace tw::test
