// The store against raw SQLite on the same rows, side by side in one run:
//   - opening a store of 10,000 time objects (each with a time setting and 5 actions with a
//     trigger each) and fetching them: at most 3x reading the same rows with raw statements;
//   - saving 1,000 changed objects: at most 3x one raw transaction making the same updates;
//   - memory of the loaded graph: at most 8 KiB per time object (reported as counters).
// The ratios are printed after the run.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "bench/BenchReporter.h"
#include "bench/BenchSqlite.h"
#include "platform/foundation/Dispatch.h"
#include "platform/store/Context.h"
#include "platform/store/tests/StoreTestModel.h"
#include "platform/testsupport/TestSupport.h"

namespace fs = std::filesystem;
using namespace tw::store;
using namespace tw::store::test;

namespace {

constexpr int kTimeObjects = 10000;
constexpr int kActionsEach = 5;
constexpr int kChanged = 1000;

struct Fixture {
  tw::test::TempDir temp;  // first: the stores go in it
  fs::path dir = temp.path();
  fs::path store;     // read by the store benchmarks
  fs::path rawStore;  // a copy the raw save baseline writes to
  std::shared_ptr<const Model> model = testModel();

  Fixture() {
    store = dir / "store.sqlite";
    rawStore = dir / "raw.sqlite";
    auto context = Context::open(model, store);
    for (int i = 0; i < kTimeObjects; ++i) {
      auto timer = context->insertNew<TMTimer>();
      timer->setValueForKey("Timer " + std::to_string(i), "title");
      timer->setValueForKey(i, "sortOrder");
      auto setting = context->insertNew<TMTimeSetting>();
      setting->setValueForKey(i % 24, "hour");
      timer->setValueForKey(setting, "time");
      for (int a = 0; a < kActionsEach; ++a) {
        auto action = context->insertNew<TMMessageAction>();
        action->setValueForKey(a, "sortOrder");
        action->setValueForKey(true, "enabled");
        action->setValueForKey("Message number " + std::to_string(a), "message");
        action->setValueForKey(1, "mode");
        auto trigger = context->insertNew<TMStateTrigger>();
        trigger->setValueForKey(0, "stateFrom");
        trigger->setValueForKey(20, "stateTo");
        action->setValueForKey(trigger, "trigger");
        action->setValueForKey(timer, "timeObject");
      }
    }
    if (context->save()) std::abort();
    context->close();
    tw::RunLoop::main().drain();
    fs::copy_file(store, rawStore);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_OpenAndFetch_Store(benchmark::State& state) {
  Fixture& f = fixture();
  std::size_t actions = 0;
  for (auto _ : state) {
    auto context = Context::open(f.model, f.store);
    auto timeObjects = context->findAll<TMTimeObject>();
    if (timeObjects.size() != static_cast<std::size_t>(kTimeObjects)) std::abort();
    actions += timeObjects.back()->countOfObjectsForKey("actions");
    state.PauseTiming();
    timeObjects.clear();
    context->close();
    context.reset();
    tw::RunLoop::main().drain();
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(actions);
}

// The same rows and columns, straight into locals.
void BM_OpenAndFetch_RawSQLite(benchmark::State& state) {
  Fixture& f = fixture();
  const char* queries[] = {
      "SELECT _id, _entity, TMManagedObject_uuid, TMManagedObject_creationDate, "
      "TMTimeObject_title, TMTimeObject_timingState, TMTimeObject_sortOrder, TMTimeObject_ratio, "
      "TMTimeObject_favourite, TMTimeObject_note, TMSettableTimeObject_time, TMTimer_finishDate, "
      "TMTimer_pauseDate, TMStopwatch_startDate, TMStopwatch_pauseDate, TMAction_sortOrder, "
      "TMAction_enabled, TMAction_timeObject, TMAction_trigger, TMAction_priority, "
      "TMMessageAction_message, TMMessageAction_mode, TMLinkAction_targetAction, "
      "TMLinkAction_targetTimeObject FROM TMManagedObject",
      "SELECT _id, _entity, TMTimeSetting_hour, TMTimeSetting_minute, TMTimeSetting_timeObject "
      "FROM TMTimeSetting",
      "SELECT _id, _entity, TMTrigger_actionObject, TMStateTrigger_stateFrom, "
      "TMStateTrigger_stateTo, TMTimeTrigger_timeInterval, TMTimeTrigger_timeCondition FROM "
      "TMTrigger",
  };
  std::int64_t sum = 0;
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(f.store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (const char* q : queries) {
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, q, -1, &st, nullptr) != SQLITE_OK) std::abort();
      const int columns = sqlite3_column_count(st);
      while (sqlite3_step(st) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) sum += tw::bench::readColumn(st, c);
      }
      sqlite3_finalize(st);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  benchmark::DoNotOptimize(sum);
}

void BM_Save1000Changed_Store(benchmark::State& state) {
  Fixture& f = fixture();
  auto context = Context::open(f.model, f.store);
  auto timers = context->findAll<TMTimer>("sortOrder");
  std::int64_t round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ++round;
    for (int i = 0; i < kChanged; ++i)
      timers[static_cast<std::size_t>(i) * 7]->setValueForKey(
          tw::Value(static_cast<long long>(round * 100000 + i)), "timingState");
    state.ResumeTiming();
    if (context->save()) std::abort();
  }
  context->close();
  tw::RunLoop::main().drain();
}

// One transaction of the same updates, with the store's own durability settings.
void BM_Save1000Changed_RawSQLite(benchmark::State& state) {
  Fixture& f = fixture();
  sqlite3* db = nullptr;
  sqlite3_open_v2(f.rawStore.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  std::vector<std::int64_t> ids;
  {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT _id FROM TMManagedObject WHERE _entity = 'TMTimer' ORDER BY "
                       "TMTimeObject_sortOrder",
                       -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_stmt* update = nullptr;
  sqlite3_prepare_v2(db, "UPDATE TMManagedObject SET TMTimeObject_timingState = ? WHERE _id = ?",
                     -1, &update, nullptr);
  std::int64_t round = 0;
  for (auto _ : state) {
    ++round;
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (int i = 0; i < kChanged; ++i) {
      sqlite3_bind_int64(update, 1, round * 100000 + i);
      sqlite3_bind_int64(update, 2, ids[static_cast<std::size_t>(i) * 7]);
      if (sqlite3_step(update) != SQLITE_DONE) std::abort();
      sqlite3_reset(update);
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
  sqlite3_finalize(update);
  sqlite3_close(db);
}

// Heap taken by the loaded graph, per time object (each with its setting, actions, triggers).
void BM_MemoryPerTimeObject(benchmark::State& state) {
  Fixture& f = fixture();
  double total = 0, objectsOnly = 0;
  for (auto _ : state) {
    malloc_trim(0);
    const std::size_t heapBefore = mallinfo2().uordblks;
    const std::int64_t sqliteBefore = sqlite3_memory_used();
    auto context = Context::open(f.model, f.store);
    auto timeObjects = context->findAll<TMTimeObject>();
    const std::size_t heapAfter = mallinfo2().uordblks;
    const std::int64_t sqliteAfter = sqlite3_memory_used();
    total = static_cast<double>(heapAfter - heapBefore) / kTimeObjects;
    objectsOnly = (static_cast<double>(heapAfter - heapBefore) -
                   static_cast<double>(sqliteAfter - sqliteBefore)) /
                  kTimeObjects;
    timeObjects.clear();
    context->close();
  }
  state.counters["bytes_per_time_object"] = total;
  state.counters["bytes_per_time_object_without_sqlite_cache"] = objectsOnly;
}

BENCHMARK(BM_OpenAndFetch_RawSQLite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndFetch_Store)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save1000Changed_RawSQLite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save1000Changed_Store)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryPerTimeObject)->Iterations(1)->Unit(benchmark::kMillisecond);

// Judges each store figure against its raw baseline once the run is over.
class RatioReporter : public tw::bench::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    checkRatio("open + fetch 10,000:", "BM_OpenAndFetch_Store", "BM_OpenAndFetch_RawSQLite", 3,
               "raw SQLite");
    checkRatio("save 1,000 changed:", "BM_Save1000Changed_Store", "BM_Save1000Changed_RawSQLite", 3,
               "raw SQLite");
  }
};

}  // namespace

int main(int argc, char** argv) {
  tw::RunLoop::main();
  RatioReporter reporter;
  return tw::bench::runBenchmarks(argc, argv, reporter, [] { fixture(); });
}
