// A whole library through the run: the scan plus the conversion pass (names
// and tags at level 1, the default dictionary, the full-width check on) over
// a generated library of artist/album folders, 20 Japanese-named MP3 files of
// about 4 KB to an album, some names colliding after conversion.
//
// TARVEL_BENCH_FILES sets the number of files (default 100000). The library
// is made in a temporary folder and removed at exit, or, when
// TARVEL_BENCH_DIR names a folder, made there once and kept for later runs.
// The warm-up pass warms the cache.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "app/tables.h"
#include "bench_support.h"
#include "floor.h"
#include "platform/mecab_reading.h"
#include "platform/text.h"
#include "run/conversion_pass.h"
#include "run/run_driver.h"
#include "run/scan.h"
#include "sample_library.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

class Library {
 public:
  Library() {
    const char* env = ::getenv("TARVEL_BENCH_FILES");
    count_ = env ? std::strtoul(env, nullptr, 10) : 100000;
    if (const char* dir = ::getenv("TARVEL_BENCH_DIR")) {
      root_ = dir;
      keep_ = true;
      if (fs::exists(root_ / ".done")) return;
    } else {
      std::string templ = (fs::temp_directory_path() / "tarvel-run-bench-XXXXXX").native();
      if (::mkdtemp(templ.data()) == nullptr) std::abort();
      root_ = templ;
    }
    fs::create_directories(root_ / "music");
    sample::MakeBenchLibrary(root_ / "music", count_);
    if (keep_) std::ofstream(root_ / ".done") << count_;
  }
  ~Library() {
    if (keep_) return;
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path music() const { return root_ / "music"; }

 private:
  fs::path root_;
  size_t count_ = 0;
  bool keep_ = false;
};

Library& TheLibrary() {
  static Library library;
  return library;
}

// Settings as a user would have them for a level-1 run on names and tags.
void Configure(AppState& app, SilentFrontEnd& ui, MecabReadingService& reading) {
  app.ui = &ui;
  app.reading = &reading;
  Settings& s = app.settings;
  s.FlagDisplayLog = 1;
  s.FlagRenameSubfolders = 1;
  s.FlagRenameFolderName = 1;
  s.FlagConvertFilename = 1;
  s.FlagCheckOnlyFilename = 0;
  s.FlagConvertID3Tag = 1;
  s.FlagCheckOnlyID3Tag = 0;
  s.ConvertLevelFilename = 1;
  s.ConvertLevelID3Tag = 1;
  LoadTables(app, fs::path(TARVEL_SOURCE_DIR "/data/dic.csv"),
             fs::path(TARVEL_SOURCE_DIR "/data/Rome.csv"));
}

// Reads every file's last bytes so that the timed runs find the library in
// the cache, without building a table (which would count in the peak).
void WarmUp(const fs::path& root) {
  char block[128];
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    FILE* f = std::fopen(e.path().c_str(), "rb");
    if (f == nullptr) continue;
    std::fseek(f, -128, SEEK_END);
    benchmark::DoNotOptimize(std::fread(block, 1, sizeof block, f));
    std::fclose(f);
  }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The check-only plan (scan plus conversion pass, what a check-only run does
// before its list) against its floor, timed alternately in the same process so that the
// ratio holds on a busy machine.
void BM_ScanAndPass(benchmark::State& state) {
  Library& library = TheLibrary();
  SilentFrontEnd ui;
  MecabReadingService reading;
  AppState app;
  Configure(app, ui, reading);
  RunState run;
  std::u16string path = *Utf8ToUtf16(library.music().native());
  WarmUp(library.music());
  double first_run_peak = 0;
  double floor_seconds = 0, plan_seconds = 0, floor_cpu = 0, plan_cpu = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    double cpu = bench::ProcessorSeconds();
    bench::FloorCounts counts = bench::PlanFloor(library.music());
    floor_seconds += SecondsSince(start);
    floor_cpu += bench::ProcessorSeconds() - cpu;
    benchmark::DoNotOptimize(counts);

    // A check-only plan, as a user first runs it.
    app.settings.FlagCheckOnlyFilename = 1;
    app.settings.FlagCheckOnlyID3Tag = 1;
    start = std::chrono::steady_clock::now();
    cpu = bench::ProcessorSeconds();
    ResetEntryTable(run);
    if (ScanFolder(app, run, path) != 1) state.SkipWithError("scan failed");
    if (ConvertEntries(app, run) != 1) state.SkipWithError("pass failed");
    double seconds = SecondsSince(start);
    plan_cpu += bench::ProcessorSeconds() - cpu;
    plan_seconds += seconds;
    state.SetIterationTime(seconds);
    benchmark::DoNotOptimize(run.ChangeCount);
    if (first_run_peak == 0) first_run_peak = bench::PeakMegabytes();
  }
  // The peak of one run as a user meets it; later iterations add the
  // allocator's leftovers of the earlier ones.
  state.counters["first_run_peak_MB"] = first_run_peak;
  state.counters["rows"] = run.EntryCount;
  state.counters["changes"] = run.ChangeCount;
  state.counters["peak_MB"] = bench::PeakMegabytes();
  state.counters["floor_ms"] = 1000 * floor_seconds / static_cast<double>(state.iterations());
  state.counters["x_floor"] = plan_seconds / floor_seconds;
  // The processor time of both (all threads counted) over that of the floor:
  // what the run costs the machine rather than how long it takes. A run that
  // shares its work with a second thread spends more of it than its wall
  // clock shows.
  state.counters["x_floor_cpu"] = plan_cpu / floor_cpu;
}
BENCHMARK(BM_ScanAndPass)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

// A real run (list.csv, tags, file and folder renames) on a library made
// afresh for each iteration (untimed; its files are then in the cache).
// A real run (list.csv, tags, file and folder renames) against its floor
// (the plan's floor plus a pwrite of every tag and a rename of every file and
// folder), each on a library made afresh (untimed; its files are then in the
// cache).
void BM_RealRun(benchmark::State& state) {
  const char* env = ::getenv("TARVEL_BENCH_FILES");
  size_t files = env ? std::strtoul(env, nullptr, 10) : 100000;
  std::string templ = (fs::temp_directory_path() / "tarvel-real-run-XXXXXX").native();
  if (::mkdtemp(templ.data()) == nullptr) std::abort();
  fs::path root = templ;
  SilentFrontEnd ui;
  MecabReadingService reading;
  AppState app;
  Configure(app, ui, reading);
  app.settings.FlagCreateCSVFile = 1;
  app.settings.FlagPathSaveCSV = 1;
  RunState run;
  double floor_seconds = 0, run_seconds = 0, floor_cpu = 0, run_cpu = 0;
  double first_run_peak = 0;
  for (auto _ : state) {
    fs::remove_all(root / "music");
    sample::MakeBenchLibrary(root / "music", files);
    ::sync();
    auto start = std::chrono::steady_clock::now();
    double cpu = bench::ProcessorSeconds();
    benchmark::DoNotOptimize(bench::RealRunFloor(root / "music"));
    floor_seconds += SecondsSince(start);
    floor_cpu += bench::ProcessorSeconds() - cpu;

    fs::remove_all(root / "music");
    sample::MakeBenchLibrary(root / "music", files);
    ::sync();
    app.settings.PathDataFolder = *Utf8ToUtf16((root / "music").native());
    app.settings.FlagCheckOnlyFilename = 0;
    app.settings.FlagCheckOnlyID3Tag = 0;
    start = std::chrono::steady_clock::now();
    cpu = bench::ProcessorSeconds();
    RunReport report = RunConversion(app, run);
    double seconds = SecondsSince(start);
    run_cpu += bench::ProcessorSeconds() - cpu;
    run_seconds += seconds;
    state.SetIterationTime(seconds);
    if (report.outcome != RunReport::Outcome::kCompleted)
      state.SkipWithError(report.detail.c_str());
    if (app.settings.FlagCheckOnlyFilename != 0)
      state.SkipWithError("the run fell back to check-only");
    if (first_run_peak == 0) first_run_peak = bench::PeakMegabytes();
  }
  state.counters["first_run_peak_MB"] = first_run_peak;
  state.counters["rows"] = run.EntryCount;
  state.counters["changes"] = run.ChangeCount;
  state.counters["peak_MB"] = bench::PeakMegabytes();
  state.counters["floor_ms"] = 1000 * floor_seconds / static_cast<double>(state.iterations());
  state.counters["x_floor"] = run_seconds / floor_seconds;
  state.counters["x_floor_cpu"] = run_cpu / floor_cpu;
  fs::remove_all(root);
}
BENCHMARK(BM_RealRun)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();

}  // namespace
}  // namespace tarvel

BENCHMARK_MAIN();
