// Exporting a converted copy of a generated library (artist/album folders,
// 20 Japanese-named MP3 files of about 4 KB to an album) into an empty
// folder, against `cp -r` of the same tree, timed alternately in the same
// process so that the ratio holds on a busy machine. Two figures: the whole
// export as the command line makes it (scan, conversion pass, plan, copy)
// and the copy of a plan made once, also with a flush of each copy before
// its rename. An export flushes its destination once before it says it is
// done (a stick may come out at once), so it is timed against `cp -r`
// followed by `sync -f` of the copy, what a careful user does before
// pulling the stick out.
//
// TARVEL_BENCH_FILES sets the number of files (default 10000). The library
// and the copies are made in a temporary folder, removed at exit.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/tables.h"
#include "platform/mecab_reading.h"
#include "platform/text.h"
#include "run/export_plan.h"
#include "run/export_run.h"
#include "sample_library.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

struct Fixture {
  Fixture() {
    const char* env = ::getenv("TARVEL_BENCH_FILES");
    files = env ? std::strtoul(env, nullptr, 10) : 10000;
    std::string templ = (fs::temp_directory_path() / "tarvel-export-bench-XXXXXX").native();
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    root = templ;
    sample::MakeBenchLibrary(root / "music", files);
    app.ui = &ui;
    app.reading = &reading;
    Settings& s = app.settings;
    s.PathDataFolder = *Utf8ToUtf16((root / "music").native());
    s.FlagRenameSubfolders = 1;
    s.FlagRenameFolderName = 1;
    s.FlagConvertFilename = 1;
    s.FlagConvertID3Tag = 1;
    s.ConvertLevelFilename = 1;
    s.ConvertLevelID3Tag = 1;
    s.MaxFolderCount = 65535;  // the library is larger than a car player's disc
    LoadTables(app, fs::path(TARVEL_SOURCE_DIR "/data/dic.csv"),
               fs::path(TARVEL_SOURCE_DIR "/data/Rome.csv"));
  }
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  size_t files = 0;
  fs::path root;
  SilentFrontEnd ui;
  MecabReadingService reading;
  AppState app;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// `cp -r` of the library to `dest` and a flush of its file system, in
// seconds; negative when it failed.
double CopyTree(const fs::path& from, const fs::path& dest) {
  const std::string command =
      "cp -r '" + from.native() + "' '" + dest.native() + "' && sync -f '" + dest.native() + "'";
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return SecondsSince(start);
}

void BM_ExportAgainstCopy(benchmark::State& state) {
  static Fixture fixture;
  ExportPlan plan;
  if (MakeExportPlan(fixture.app, plan).outcome != RunReport::Outcome::kCompleted) {
    state.SkipWithError("the plan failed");
    return;
  }
  std::vector<double> copy, whole, plan_copy, flushed;
  std::error_code ec;
  for (auto _ : state) {
    const fs::path cp_dest = fixture.root / "cp";
    const fs::path export_dest = fixture.root / "export";
    const fs::path plan_dest = fixture.root / "plan";
    copy.push_back(CopyTree(fixture.root / "music", cp_dest));
    auto start = std::chrono::steady_clock::now();
    const ExportReport report = RunExport(fixture.app, export_dest.native());
    whole.push_back(SecondsSince(start));
    start = std::chrono::steady_clock::now();
    const ExportReport copied = WriteExport(plan, plan_dest.native(), fixture.ui);
    plan_copy.push_back(SecondsSince(start));
    start = std::chrono::steady_clock::now();
    const ExportReport each_flushed =
        WriteExport(plan, (fixture.root / "flushed").native(), fixture.ui, SystemDiskOps(),
                    ExportOptions{.kernel_copy = true, .flush = true});
    flushed.push_back(SecondsSince(start));
    if (copy.back() < 0 || report.outcome != ExportReport::Outcome::kCompleted ||
        copied.outcome != ExportReport::Outcome::kCompleted ||
        each_flushed.outcome != ExportReport::Outcome::kCompleted) {
      state.SkipWithError(("the copies failed: " + report.detail + copied.detail).c_str());
      break;
    }
    state.PauseTiming();
    for (const fs::path& p : {cp_dest, export_dest, plan_dest, fixture.root / "flushed"}) {
      fs::remove_all(p, ec);
    }
    state.ResumeTiming();
  }
  const double cp = Median(copy);
  state.counters["files"] = static_cast<double>(fixture.files);
  state.counters["cp_s"] = cp;
  state.counters["export_s"] = Median(whole);
  state.counters["copy_s"] = Median(plan_copy);
  state.counters["export_ratio"] = cp > 0 ? Median(whole) / cp : 0;
  state.counters["copy_ratio"] = cp > 0 ? Median(plan_copy) / cp : 0;
  state.counters["flushed_ratio"] = cp > 0 ? Median(flushed) / cp : 0;
  std::printf(
      "export %.3f s, copy of the plan %.3f s (each copy flushed %.3f s), cp -r and sync %.3f s: "
      "ratio %.2fx (copy %.2fx, each flushed %.2fx)\n",
      Median(whole), Median(plan_copy), Median(flushed), cp, cp > 0 ? Median(whole) / cp : 0,
      cp > 0 ? Median(plan_copy) / cp : 0, cp > 0 ? Median(flushed) / cp : 0);
}
BENCHMARK(BM_ExportAgainstCopy)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvel

BENCHMARK_MAIN();
