// The master list's table with 10,000 rows beside a plain Qt list view showing the same titles,
// in one run, on Qt's offscreen platform:
//   - showing the list and rendering its first frame (target: at most 200 ms);
//   - scrolling from top to bottom one row-height step per frame, each frame rendered: frame time
//     p50/p99 (target: p99 at most 16 ms), and the most live cells the table ever held.
// The rows are the list's own cells and row views; their texts are set directly (the view-model
// bindings are measured by bench_viewmodels).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QListView>
#include <QScrollBar>
#include <QStringListModel>
#include <chrono>

#include "app/Source/MasterList/MasterListItemTableCellView.h"
#include "app/Source/MasterList/MasterListItemTableRowView.h"
#include "app/Source/MasterList/MasterListTableView.h"
#include "bench/BenchStats.h"

namespace {

constexpr int kRows = 10'000;
using Clock = std::chrono::steady_clock;

QApplication& app() {
  static int argc = 1;
  static char name[] = "bench_master_list";
  static char* argv[] = {name, nullptr};
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication application(argc, argv);
  return application;
}

class Source : public tw::ui::TableViewSource {
 public:
  int numberOfRows(tw::ui::TableView&) override { return kRows; }
  tw::ui::TableCellView* viewForRow(tw::ui::TableView& table, int row) override {
    auto* cell = dynamic_cast<MasterListItemTableCellView*>(
        table.makeView(MasterListItemTableCellView::kIdentifier));
    if (!cell) cell = new MasterListItemTableCellView;
    cell->titleLabel()->setText(QString("Timer %1").arg(row));
    cell->primaryDetailLabel()->setText("5:00");
    return cell;
  }
  tw::ui::TableRowView* rowViewForRow(tw::ui::TableView& table, int) override {
    auto* row = dynamic_cast<MasterListItemTableRowView*>(
        table.makeView(MasterListItemTableRowView::kIdentifier));
    return row ? row : new MasterListItemTableRowView;
  }
};

QStringList titles() {
  QStringList list;
  for (int i = 0; i < kRows; ++i) list << QString("Timer %1").arg(i);
  return list;
}

template <class Make>
void firstFrame(benchmark::State& state, Make make) {
  app();
  for (auto _ : state) {
    const auto start = Clock::now();
    auto view = make();
    view->resize(280, 20 * 48);
    view->show();
    QImage frame = view->grab().toImage();
    benchmark::DoNotOptimize(frame);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}

template <class View>
void scrollFrames(benchmark::State& state, View& view, int step, int* maxLive) {
  std::vector<std::int64_t> frames;
  for (auto _ : state) {
    auto* bar = view.verticalScrollBar();
    for (int value = 0; value <= bar->maximum(); value += step) {
      const auto start = Clock::now();
      bar->setValue(value);
      view.viewport()->repaint();
      frames.push_back(
          std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
      if (maxLive) *maxLive = std::max(*maxLive, view.liveRowCount());
    }
  }
  const auto p = tw::bench::percentiles(frames, 1e-6);
  state.counters["frame_p50_ms"] = p.p50;
  state.counters["frame_p99_ms"] = p.p99;
  state.counters["frames"] = static_cast<double>(p.samples);
  if (maxLive) state.counters["max_live_rows"] = *maxLive;
}

void BM_MasterListFirstFrame(benchmark::State& state) {
  static Source source;
  firstFrame(state, [] {
    auto table = std::make_unique<MasterListTableView>();
    table->setRowHeight(48);
    table->setSource(&source);
    table->reloadData();
    return table;
  });
}

void BM_PlainListViewFirstFrame(benchmark::State& state) {
  static QStringListModel model(titles());
  firstFrame(state, [] {
    auto list = std::make_unique<QListView>();
    list->setUniformItemSizes(true);
    list->setModel(&model);
    return list;
  });
}

void BM_MasterListScroll(benchmark::State& state) {
  app();
  Source source;
  MasterListTableView table;
  table.setRowHeight(48);
  table.setSource(&source);
  table.resize(280, 20 * 48);
  table.show();
  table.reloadData();
  int maxLive = 0;
  scrollFrames(state, table, 48 * 25, &maxLive);
}

void BM_PlainListViewScroll(benchmark::State& state) {
  app();
  QStringListModel model(titles());
  QListView list;
  list.setUniformItemSizes(true);
  list.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  list.setModel(&model);
  list.resize(280, 20 * 48);
  list.show();
  const int rowHeight = std::max(1, list.sizeHintForRow(0));
  struct Adapter {
    QListView& l;
    QScrollBar* verticalScrollBar() const { return l.verticalScrollBar(); }
    QWidget* viewport() const { return l.viewport(); }
    int liveRowCount() const { return 0; }
  } adapter{list};
  scrollFrames(state, adapter, rowHeight * 25, nullptr);
}

}  // namespace

BENCHMARK(BM_MasterListFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PlainListViewFirstFrame)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_MasterListScroll)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PlainListViewScroll)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
