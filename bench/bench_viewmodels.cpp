// The master list's view models on a store of 10,000 timers, side by side with the store alone
// in one run:
//   - switching the master list to the timers' mode (the data service loads and sorts the list,
//     the view hears dataObjectsLoaded: and the restored selection): at most 3x fetching the same
//     10,000 timers, sorted the same way, from the store alone; both start from a freshly opened
//     store, so every object is read and built anew;
//   - the texts of the 50 visible rows (a row view model per timer, bound, its static and
//     dynamic texts read): at most 1 ms in all; formatting the same 100 texts by hand is shown
//     beside it.
// Ratios and verdicts are printed after the run. Everything lives in a temporary folder that the
// XDG variables point at.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchReporter.h"
#include "core/Source/Assembly/BTCoreAssembly.h"
#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/ViewModels/BTMasterListViewModel.h"
#include "core/Source/ViewModels/BTTimeObjectListItemViewModel.h"
#include "core/Source/ViewModels/BTTimerListItemViewModel.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Format.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/store/Context.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTimers = 10000;
constexpr int kVisibleRows = 50;

fs::path g_tempDir;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "bench_viewmodels: %s\n", what.c_str());
  std::error_code ec;
  if (!g_tempDir.empty()) fs::remove_all(g_tempDir, ec);
  std::abort();
}

// The master list's view: counts what it hears.
class CountingView : public BTMasterListView {
 public:
  void dataObjectsLoaded(const tw::Array& objects) override { loaded = objects.size(); }
  void dataObjectListEmpty() override {}
  void dataObjectInserted(std::int64_t) override {}
  void dataObjectDeleted(std::int64_t) override {}
  void dataObjectSelectionChanged(const std::shared_ptr<BTTimeObject>&,
                                  const std::shared_ptr<BTViewTransition>&) override {
    ++selections;
  }
  void restoreDataObjectSelection(std::int64_t) override {}
  void showObjectTitleEditor(const std::shared_ptr<BTTimeObject>&) override {}
  void showObjectValueEditor(const std::shared_ptr<BTTimeObject>&) override {}
  std::size_t loaded = 0;
  int selections = 0;
};

// One activated assembly over the store file, opened afresh: what the application has at launch.
struct Session {
  std::shared_ptr<BTCoreAssembly> assembly;
  std::shared_ptr<BTSettingsProvider> settings;

  Session() {
    TyphoonComponentFactory::clearDefaultFactory();
    assembly = TyphoonAssembly::assembly<BTCoreAssembly>();
    auto factory = assembly->activated();
    tw::defaultCoreDataProvider()->setup();
    settings = factory->componentForType<BTSettingsProvider>();
    settings->load();
    settings->registerDefaults();
  }
  ~Session() {
    tw::RunLoop::main().drain();
    tw::defaultCoreDataProvider()->cleanUp();
    tw::setDefaultCoreDataProvider(nullptr);
    TyphoonComponentFactory::clearDefaultFactory();
    tw::RunLoop::main().drain();
  }
  std::shared_ptr<tw::store::Context> context() const {
    return tw::defaultCoreDataProvider()->objectContext();
  }
};

struct Fixture {
  Fixture() {
    char tmpl[] = "/tmp/tickwell-bench-viewmodels-XXXXXX";
    if (!mkdtemp(tmpl)) fail("cannot make a temporary folder");
    g_tempDir = tmpl;
    for (const char* var :
         {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
      fs::path sub = g_tempDir / var;
      fs::create_directories(sub);
      setenv(var, sub.c_str(), 1);
    }
    Session session;
    auto context = session.context();
    for (int i = 0; i < kTimers; ++i) {
      auto timer = context->insertNew<BTTimer>();
      auto time = context->insertNew<BTTimeSetting>();
      time->setMinute(i % 60);
      time->setSecond(i % 7);
      timer->setTime(time);
      timer->setTitle(tw::format("Timer %d", i));
      // Stored out of order, so the load really sorts.
      timer->setSortOrder((i * 7919) % kTimers);
    }
    tw::defaultCoreDataProvider()->save();
  }
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(g_tempDir, ec);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

tw::store::FetchRequest timersRequest(const tw::store::Context& context) {
  tw::store::FetchRequest request(context.model().entityForType(typeid(BTTimer)).name());
  request.sortDescriptors = tw::store::SortDescriptor::fromKeyList("sortOrder,creationDate", true);
  return request;
}

void BM_FetchTimers_StoreAlone(benchmark::State& state) {
  fixture();
  for (auto _ : state) {
    state.PauseTiming();
    auto session = std::make_unique<Session>();
    auto context = session->context();
    const auto request = timersRequest(*context);
    state.ResumeTiming();
    auto objects = context->fetch(request);
    benchmark::DoNotOptimize(objects.data());
    state.PauseTiming();
    if (objects.size() != static_cast<std::size_t>(kTimers)) fail("timers lost");
    objects.clear();
    session.reset();
    state.ResumeTiming();
  }
}

void BM_SwitchToTimersMode_MasterList(benchmark::State& state) {
  fixture();
  for (auto _ : state) {
    state.PauseTiming();
    auto session = std::make_unique<Session>();
    session->settings->masterDetailBundle()->setViewMode(2);
    session->settings->masterDetailBundle()->setTimerSelectionIndex(5);
    auto view = std::make_shared<CountingView>();
    auto model = BTMasterListViewModel::create(view);
    model->initialize();
    tw::RunLoop::main().drain();
    state.ResumeTiming();
    model->setViewMode(1);
    while (view->loaded == 0 || view->selections < 1) tw::RunLoop::main().drain();
    state.PauseTiming();
    if (view->loaded != static_cast<std::size_t>(kTimers)) fail("the list lost timers");
    model.reset();
    session.reset();
    state.ResumeTiming();
  }
}

// The rows shown at once: half reset (set value only), half running.
struct Rows {
  std::unique_ptr<Session> session;
  std::vector<std::shared_ptr<BTTimeObject>> timers;
  Rows() {
    fixture();
    session = std::make_unique<Session>();
    auto context = session->context();
    for (auto& o : context->fetch(timersRequest(*context))) {
      timers.push_back(std::static_pointer_cast<BTTimeObject>(o));
      if (timers.size() == static_cast<std::size_t>(kVisibleRows)) break;
    }
    for (int i = 0; i < kVisibleRows; i += 2) {
      timers[static_cast<std::size_t>(i)]->setTimingState(tw::kTimingStateRunning);
      timers[static_cast<std::size_t>(i)]->setTimingValue(3600.0 + i * 61.5);
    }
  }
};

void BM_RowTexts50_ViewModels(benchmark::State& state) {
  Rows rows;
  for (auto _ : state) {
    std::size_t length = 0;
    for (const auto& timer : rows.timers) {
      auto row = BTTimeObjectListItemViewModel::create<BTTimerListItemViewModel>(timer);
      length += row->staticValueDescription().size() + row->dynamicValueDescription().size();
    }
    benchmark::DoNotOptimize(length);
  }
}

void BM_RowTexts50_FormattingOnly(benchmark::State& state) {
  Rows rows;
  for (auto _ : state) {
    std::size_t length = 0;
    for (const auto& timer : rows.timers) {
      auto time = std::static_pointer_cast<BTTimer>(timer)->time();
      const std::string set = BTGetSimpleTimeString(
          static_cast<long>(time->day()), static_cast<long>(time->hour()),
          static_cast<long>(time->minute()), static_cast<long>(time->second()), false);
      length +=
          set.size() + BTTimeObjectListItemViewModel::runningValueText(timer->timingValue()).size();
    }
    benchmark::DoNotOptimize(length);
  }
}

BENCHMARK(BM_FetchTimers_StoreAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwitchToTimersMode_MasterList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RowTexts50_ViewModels)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RowTexts50_FormattingOnly)->Unit(benchmark::kMicrosecond);

class RatioReporter : public tw::bench::TimesReporter {
 public:
  RatioReporter() : TimesReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n");
    checkRatio("switch to 10,000 timers:", "BM_SwitchToTimersMode_MasterList",
               "BM_FetchTimers_StoreAlone", 3, "the store's fetch alone");
    const char* rows = "BM_RowTexts50_ViewModels";
    if (times_.count(rows)) {
      const double ms = times_[rows] * 1e3;
      verdicts.check(ms <= 1.0, "texts of 50 rows: %.3f ms (target <= 1 ms)", ms);
      if (times_.count("BM_RowTexts50_FormattingOnly"))
        verdicts.note("formatting alone %.3f ms", times_["BM_RowTexts50_FormattingOnly"] * 1e3);
    } else {
      verdicts.unmeasured("texts of 50 rows");
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  tw::RunLoop::main();
  RatioReporter reporter;
  return tw::bench::runBenchmarks(argc, argv, reporter, [] { fixture(); });
}
