// Appending to the log window while it is shown, as a long run does: 100,000
// lines of 40 characters (CR LF included), with window events let through
// after every line, every 100 lines, or only at the end. LOG_BENCH_LINES
// sets another number of lines for a quick look.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "ui/log_window.h"

namespace {

int lines_per_run = 100000;

void BM_AppendShown(benchmark::State& state) {
  const int pump_every = static_cast<int>(state.range(0));
  const std::u16string line = std::u16string(19, u'ア') + std::u16string(19, u'a') + u"\r\n";
  QTemporaryDir dir;
  const std::filesystem::path ini = dir.filePath("tarvel.ini").toStdString();
  for (auto _ : state) {
    state.PauseTiming();
    auto* window = new tarvel::LogWindow(ini, nullptr);
    window->show();
    QCoreApplication::processEvents();
    state.ResumeTiming();
    for (int i = 1; i <= lines_per_run; ++i) {
      window->AppendLog(line);
      if (pump_every > 0 && i % pump_every == 0) QCoreApplication::processEvents();
    }
    // The last batch, which the window's timer would move a moment later.
    window->FlushPending();
    QCoreApplication::processEvents();
    state.PauseTiming();
    const bool whole = window->monitor()->blockCount() == lines_per_run + 1;
    delete window;
    if (!whole) {
      state.SkipWithError("lines missing from the view");
      break;
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * lines_per_run);
}
BENCHMARK(BM_AppendShown)
    ->ArgName("pump_every")
    ->Arg(1)
    ->Arg(100)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The same window and the same event pumps without any text: what a run
// pays for letting events through, whatever the log does.
void BM_PumpOnly(benchmark::State& state) {
  QTemporaryDir dir;
  auto* window = new tarvel::LogWindow(dir.filePath("tarvel.ini").toStdString(), nullptr);
  window->show();
  QCoreApplication::processEvents();
  for (auto _ : state) {
    for (int i = 1; i <= lines_per_run; ++i) QCoreApplication::processEvents();
  }
  delete window;
}
BENCHMARK(BM_PumpOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  if (const char* n = getenv("LOG_BENCH_LINES")) lines_per_run = std::max(1, atoi(n));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
