// Opening the change table on a plan of 100,000 rows, as a check-only run of
// a large library does: the plan made from the entry table, the window made,
// filled and drawn; then a sort by a column and a search over every column.
// TABLE_BENCH_ROWS sets another number of rows for a quick look.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTableView>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/change_plan.h"
#include "platform/text.h"
#include "ui/change_table.h"

namespace {

int rows_per_run = 100000;

// An entry table of `rows` files in folders of ten: every name changes,
// every other file's title too, one in fifty carries a notice.
tarvel::RunState MakeRun(int rows) {
  tarvel::RunState run;
  tarvel::SharedText folder;
  for (int i = 0; i < rows; ++i) {
    if (i % 10 == 0) {
      folder = tarvel::SharedText(u"/music/アーティスト" + tarvel::DecimalText(i / 1000) +
                                  u"/アルバム" + tarvel::DecimalText(i / 10) + u"/");
    }
    const std::u16string n = tarvel::DecimalText(i);
    tarvel::FileEntry& e = tarvel::AddEntry(run, folder, u"東京の夜の歌" + n + u".mp3", 1);
    e.NewName = u"ﾄｳｷｮｳﾉﾖﾙﾉｳﾀ" + n + u".mp3";
    e.OldTitle = u"東京の夜の歌";
    e.NewTitle = i % 2 == 0 ? u"ﾄｳｷｮｳﾉﾖﾙﾉｳﾀ" : e.OldTitle;
    e.Notices = i % 50 == 0 ? tarvel::kNoticeReadingGuess : 0;
  }
  return run;
}

void BM_OpenTable(benchmark::State& state) {
  const tarvel::RunState run = MakeRun(rows_per_run);
  for (auto _ : state) {
    auto plan = tarvel::MakeChangePlan(run, u"/music", true);
    auto* window = new tarvel::ChangeTableWindow(nullptr, nullptr);
    window->SetPlan(std::move(plan));
    window->show();
    QCoreApplication::processEvents();
    state.PauseTiming();
    const bool whole = window->model().rowCount() == rows_per_run;
    delete window;
    if (!whole) {
      state.SkipWithError("rows missing from the table");
      break;
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * rows_per_run);
}
BENCHMARK(BM_OpenTable)->Unit(benchmark::kMillisecond)->Iterations(3);

// A click on a column header, and a word typed into the search box, on the
// open table.
void BM_SortAndSearch(benchmark::State& state) {
  const tarvel::RunState run = MakeRun(rows_per_run);
  auto* window = new tarvel::ChangeTableWindow(nullptr, nullptr);
  window->SetPlan(tarvel::MakeChangePlan(run, u"/music", true));
  window->show();
  QCoreApplication::processEvents();
  const int column = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (column >= 0) {
      window->view()->sortByColumn(column, Qt::DescendingOrder);
    } else {
      window->model().SetFilter(false, QString::fromUtf16(u"ｳﾀ9999"));
    }
    QCoreApplication::processEvents();
    state.PauseTiming();
    window->view()->sortByColumn(tarvel::kColumnFolder, Qt::AscendingOrder);
    window->model().SetFilter(false, QString());
    state.ResumeTiming();
  }
  delete window;
}
BENCHMARK(BM_SortAndSearch)
    ->ArgName("column")
    ->Arg(tarvel::kColumnOldName)
    ->Arg(tarvel::kColumnNotices)
    ->Arg(-1)  // the search
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  if (const char* n = getenv("TABLE_BENCH_ROWS")) rows_per_run = std::max(1, atoi(n));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
