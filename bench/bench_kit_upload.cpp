// Upload of a 20 MB multipart file to the local kits' web service over loopback: the kits' URL
// session beside the curl command-line tool sending the same file to the same service, in one
// run. Target: the session takes at most 1.3x curl's time, and its memory stays flat (the body
// streams from the file). States met or not for each after the table; exits non-zero when one
// is not. Bench-only.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <random>

#include "bench/BenchReporter.h"
#include "kits/platform/net/MVXURLSession.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace {

constexpr double kBodyKiB = 20 * 1024;

struct Fixture {
  tw::test::KitService service{false};
  tw::test::TempDir dir;
  std::filesystem::path body = dir.path() / "body";
  std::string contentType;
  std::string url = service.baseURL() + "/spi/v1/platforms/mac/apps";

  Fixture() {
    auto part = dir.path() / "part.bin";
    {
      std::ofstream out(part, std::ios::binary);
      std::mt19937 random(7);
      std::vector<std::uint32_t> chunk(1 << 16);
      for (int i = 0; i < 20 * 1024 * 1024 / static_cast<int>(chunk.size() * 4); ++i) {
        for (auto& word : chunk) word = random();
        out.write(reinterpret_cast<const char*>(chunk.data()),
                  static_cast<std::streamsize>(chunk.size() * 4));
      }
    }
    TSYMultipartMimeStreamEncoder encoder(std::make_shared<tw::FileOutputStream>(body),
                                          std::nullopt);
    encoder.encode([&](auto& e) {
      e.addFile(part, "part.bin", std::string("application/octet-stream"), "app[icon][data]");
    });
    contentType = encoder.contentTypeHTTPHeaderValue();
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

long maxRSSKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void BM_UploadKitSession(benchmark::State& state) {
  auto& f = fixture();
  auto session = MVXURLSession::sessionWithConfiguration(
      MVXURLSessionConfiguration::defaultSessionConfiguration());
  tw::URLRequest request;
  request.url = f.url;
  request.method = "POST";
  request.setValue(f.contentType, "Content-Type");
  const long before = maxRSSKiB();
  for (auto _ : state) {
    std::promise<tw::ErrorPtr> done;
    session
        ->uploadTaskWithRequest(
            request, f.body, [&](const auto&, const auto&, auto error) { done.set_value(error); })
        ->resume();
    if (auto error = done.get_future().get())
      state.SkipWithError(error->localizedDescription().c_str());
  }
  state.counters["rss_growth_KiB"] = static_cast<double>(maxRSSKiB() - before);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(f.body)));
}

void BM_UploadCurlTool(benchmark::State& state) {
  auto& f = fixture();
  const std::string command =
      "curl -s -f -o /dev/null -X POST -H 'Expect:' -H 'Content-Type: " + f.contentType +
      "' --data-binary @" + f.body.string() + " " + f.url;
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(f.body)));
}

BENCHMARK(BM_UploadKitSession)->Iterations(8)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadCurlTool)->Iterations(8)->UseRealTime()->Unit(benchmark::kMillisecond);

class Reporter : public tw::bench::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n");
    checkRatio("the kits' session takes", "BM_UploadKitSession/iterations:8/real_time",
               "BM_UploadCurlTool/iterations:8/real_time", 1.3, "curl's time");
    // Flat: the body streams from the file, so the peak grows by far less than one body.
    const auto run = counters_.find("BM_UploadKitSession/iterations:8/real_time");
    if (run != counters_.end() && run->second.count("rss_growth_KiB")) {
      const double growth = run->second.at("rss_growth_KiB");
      verdicts.check(growth < kBodyKiB / 4,
                     "peak memory grew %.0f KiB over the uploads (target < a quarter of the %.0f "
                     "KiB body)",
                     growth, kBodyKiB);
    } else {
      verdicts.unmeasured("memory during the uploads");
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  Reporter reporter;
  return tw::bench::runBenchmarks(argc, argv, reporter);
}
