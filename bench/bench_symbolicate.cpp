// Symbolicating a crash report of 20 threads of 30 frames each against the images loaded in
// this process (the C and C++ libraries, Qt, our own libraries and this program), beside
// addr2line -f -C over the same addresses (one run per image, as a batch symbolizer would).
// Target: <= 200 ms per report, with a fresh resolver each time (no symbol file cached).

#include <unistd.h>

#include <benchmark/benchmark.h>
#include <QtCore/QtGlobal>
#include <QtWidgets/QWidget>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchReporter.h"
#include "kits/crash/capture/MVXFile.h"
#include "kits/crash/capture/MVXFileReader.h"
#include "kits/crash/reports/MVXInternalReport.h"
#include "kits/crash/symbols/ElfSymbolFile.h"
#include "kits/crash/symbols/MVXProcessReportOperation.h"
#include "platform/foundation/Dispatch.h"
#include "platform/machine/Machine.h"
#include "platform/testsupport/TestSupport.h"

namespace {

constexpr int kThreads = 20;
constexpr int kFrames = 30;

struct Image {
  std::string path;
  std::uintptr_t base = 0, size = 0;
  std::uint64_t fileBase = 0;  // the file's virtual address of its first byte
};

struct Fixture {
  tw::test::TempDir dir;
  std::vector<Image> images;
  std::map<std::string, std::vector<std::uint64_t>> fileAddresses;  // for addr2line, by path
  std::size_t frames = 0;
};

bool wanted(const std::string& path) {
  for (const char* part : {"libc.so", "libstdc++", "libQt6Core", "libQt6Widgets", "libTickwell"}) {
    if (path.find(part) != std::string::npos) return true;
  }
  return false;
}

Fixture& fixture() {
  static Fixture* f = [] {
    auto* fx = new Fixture;
    const std::string dir = fx->dir.path().string();
    MVXFile file;
    MVXFileInitWithPathMode(&file, (dir + "/binary_images.mvxrecord").c_str(), false, false);
    struct Context {
      MVXFile* file;
      Fixture* fx;
    } context{&file, fx};
    tw::machine::enumerateImages(
        [](const tw::machine::ImageInfo& image, void* user) {
          auto* c = static_cast<Context*>(user);
          MVXFileWriteSectionStart(c->file, "load");
          MVXFileWriteHashStart(c->file);
          MVXFileWriteHashEntryString(c->file, "path", image.path);
          MVXFileWriteHashEntryString(c->file, "uuid", image.uuid);
          MVXFileWriteHashEntryUint64(c->file, "base", image.base);
          MVXFileWriteHashEntryUint64(c->file, "size", image.size);
          MVXFileWriteHashEnd(c->file);
          MVXFileWriteSectionEnd(c->file);
          const std::string path = image.path;
          const bool self = c->fx->images.empty();  // the loader lists this program first
          if (!self && !wanted(path)) return;
          auto elf = tw::ElfSymbolFile::read(self ? "/proc/self/exe" : path);
          if (!elf) return;
          c->fx->images.push_back({self ? "/proc/self/exe" : path, image.base, image.size,
                                   (*elf)->baseVirtualAddress()});
        },
        &context);
    MVXFileClose(&file);

    // Addresses spread over each image's code, the same every run.
    std::mt19937_64 rng(42);
    MVXFileInitWithPathMode(&file, (dir + "/signal.mvxrecord").c_str(), false, false);
    MVXFileWriteSectionStart(&file, "signal");
    MVXFileWriteHashStart(&file);
    MVXFileWriteHashEntryUint64(&file, "time", 1);
    MVXFileWriteHashEnd(&file);
    MVXFileWriteSectionEnd(&file);
    MVXFileWriteSectionStart(&file, "threads");
    MVXFileWriteArrayStart(&file);
    for (int t = 0; t < kThreads; ++t) {
      MVXFileWriteHashStart(&file);
      MVXFileWriteHashKey(&file, "stacktrace");
      MVXFileWriteArrayStart(&file);
      for (int i = 0; i < kFrames; ++i) {
        const Image& image = fx->images[rng() % fx->images.size()];
        const std::uintptr_t at = image.base + image.size / 4 + rng() % (image.size * 3 / 4);
        MVXFileWriteArrayEntryUint64(&file, at);
        fx->fileAddresses[image.path].push_back(at - image.base + image.fileBase - (i ? 1 : 0));
        ++fx->frames;
      }
      MVXFileWriteArrayEnd(&file);
      MVXFileWriteHashEnd(&file);
    }
    MVXFileWriteArrayEnd(&file);
    MVXFileWriteSectionEnd(&file);
    MVXFileClose(&file);
    return fx;
  }();
  return *f;
}

void BM_MVXProcessReport(benchmark::State& state) {
  const std::string dir = fixture().dir.path().string();
  for (auto _ : state) {
    auto op = std::make_shared<MVXProcessReportOperation>(MVXInternalReport::create(dir, "bench"),
                                                          std::make_shared<MVXSymbolResolver>());
    op->start();
  }
  state.counters["frames"] = static_cast<double>(fixture().frames);
  const auto written = MVXFileReadSections(dir + "/signal.mvxrecord.symbolicated", false);
  int named = 0;
  if (written && !written->empty()) {
    const tw::Value& threads = (*written)[0]["threads"];
    for (std::size_t t = 0; t < threads.count(); ++t) {
      for (std::size_t i = 0; i < threads.at(t).count(); ++i) {
        named += threads.at(t).at(i)["symbol"].isString() ? 1 : 0;
      }
    }
  }
  state.counters["named"] = named;
}

void BM_Addr2line(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& [path, addresses] : fixture().fileAddresses) {
      std::string command = "addr2line -f -C -e '" + path + "'";
      char buffer[32];
      for (auto a : addresses) {
        std::snprintf(buffer, sizeof buffer, " 0x%llx", static_cast<unsigned long long>(a));
        command += buffer;
      }
      FILE* pipe = popen(command.c_str(), "r");
      if (pipe == nullptr) continue;
      char line[4096];
      while (std::fgets(line, sizeof line, pipe) != nullptr) {
      }
      pclose(pipe);
    }
  }
}

BENCHMARK(BM_MVXProcessReport)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Addr2line)->Unit(benchmark::kMillisecond)->MinTime(2.0);

class Reporter : public tw::bench::TimesReporter {
 public:
  Reporter() : TimesReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (!times_.count("BM_MVXProcessReport/min_time:2.000") ||
        !times_.count("BM_Addr2line/min_time:2.000")) {
      verdicts.unmeasured("symbolicating one report");
      return;
    }
    const double ours = times_["BM_MVXProcessReport/min_time:2.000"] * 1e3;
    const double baseline = times_["BM_Addr2line/min_time:2.000"] * 1e3;
    std::printf("\n%d threads x %d frames over %zu images\n", kThreads, kFrames,
                fixture().images.size());
    verdicts.check(ours <= 200,
                   "symbolicate one report: %.1f ms (target <= 200 ms); addr2line -f -C: %.1f ms",
                   ours, baseline);
  }
};

}  // namespace

int main(int argc, char** argv) {
  tw::RunLoop::main();
  // Qt stays loaded for the whole run: its images are among those named.
  std::printf("Qt %s, QWidget meta-object %p\n", qVersion(),
              static_cast<const void*>(&QWidget::staticMetaObject));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  fixture();
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.verdicts.exitCode();
}
