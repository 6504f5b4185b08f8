// Carrying a run to disk over a generated library: list.csv, a tag write
// into every file and a rename of every file, as one conversion run does
// with a warm cache. TARVEL_BENCH_FILES sets the number of files (default
// 100000). Between iterations the files are renamed back (not timed), so
// every iteration starts from the same tree.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "files/apply_changes.h"
#include "files/rename_list.h"
#include "platform/text.h"
#include "run/scan.h"
#include "sample_library.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

struct Fixture {
  Fixture() {
    const char* env = ::getenv("TARVEL_BENCH_FILES");
    size_t files = env ? std::strtoul(env, nullptr, 10) : 100000;
    std::string templ = (fs::temp_directory_path() / "tarvel-apply-bench-XXXXXX").native();
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    root = templ;
    sample::MakeBenchLibrary(root / "lib", files);
    app.ui = &ui;
    app.settings.FlagDisplayLog = 1;
    app.settings.FlagPathSaveCSV = 1;
    app.settings.FlagRenameFolderName = 1;
    app.settings.FlagRenameSubfolders = 1;
    app.settings.FlagConvertID3Tag = 1;
    app.settings.PathDataFolder = *Utf8ToUtf16((root / "lib").native());
    if (ScanFolder(app, forward, app.settings.PathDataFolder) != 1) std::abort();
    back = forward;
    for (size_t i = 1; i < forward.EntryTable.size(); ++i) {
      FileEntry& f = forward.EntryTable[i];
      FileEntry& b = back.EntryTable[i];
      if (f.IsFile != 1) continue;
      f.NewName = u"x" + f.OldName;
      f.NewTitle = u"ﾀｲﾄﾙ" + f.OldTitle.substr(0, 4);
      f.RenameFlag = 1;
      f.TagFlag = 1;
      b.OldName = f.NewName;
      b.NewName = f.OldName;
      b.RenameFlag = 1;
    }
  }
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root;
  SilentFrontEnd ui;
  AppState app;
  RunState forward, back;
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

void BM_ListTagsAndRenames(benchmark::State& state) {
  Fixture& fixture = TheFixture();
  for (auto _ : state) {
    std::string error;
    StageResult details;
    if (WriteRenameList(fixture.app, fixture.forward, nullptr, &error) != 1 ||
        WriteTags(fixture.app, fixture.forward, &details) != 1 ||
        RenameFiles(fixture.app, fixture.forward, &details) != 1) {
      state.SkipWithError((error + details.message).c_str());
      break;
    }
    state.PauseTiming();
    if (RenameFiles(fixture.app, fixture.back) != 1) state.SkipWithError("rename back failed");
    state.ResumeTiming();
  }
  state.counters["rows"] = fixture.forward.EntryCount;
}
BENCHMARK(BM_ListTagsAndRenames)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_WriteRenameListOnly(benchmark::State& state) {
  Fixture& fixture = TheFixture();
  for (auto _ : state) {
    if (WriteRenameList(fixture.app, fixture.forward) != 1) state.SkipWithError("list failed");
  }
}
BENCHMARK(BM_WriteRenameListOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_WriteTagsOnly(benchmark::State& state) {
  Fixture& fixture = TheFixture();
  for (auto _ : state) {
    if (WriteTags(fixture.app, fixture.forward) != 1) state.SkipWithError("tags failed");
  }
}
BENCHMARK(BM_WriteTagsOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RenameFilesOnly(benchmark::State& state) {
  Fixture& fixture = TheFixture();
  for (auto _ : state) {
    if (RenameFiles(fixture.app, fixture.forward) != 1) state.SkipWithError("rename failed");
    state.PauseTiming();
    if (RenameFiles(fixture.app, fixture.back) != 1) state.SkipWithError("rename back failed");
    state.ResumeTiming();
  }
}
BENCHMARK(BM_RenameFilesOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace tarvel

BENCHMARK_MAIN();
