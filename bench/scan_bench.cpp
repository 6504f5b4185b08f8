// The folder scan with tag reading over a generated library: 20 MP3 files
// per album folder, 10 albums per artist folder, each file with an ID3v1 tag
// in code page 932. TARVEL_BENCH_FILES sets the number of files (default
// 100000); the library is built once in a temporary folder and removed at
// exit, or, when TARVEL_BENCH_DIR names a folder, built there on the first
// run and kept for the next. Run with a warm cache (the warm-up warms it).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "bench_support.h"
#include "files/id3_tag.h"
#include "platform/text.h"
#include "run/scan.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

class Library {
 public:
  Library() {
    const char* env = ::getenv("TARVEL_BENCH_FILES");
    count_ = env ? std::atoi(env) : 100000;
    if (const char* dir = ::getenv("TARVEL_BENCH_DIR")) {
      root_ = dir;
      keep_ = true;
      if (fs::exists(root_ / "done")) return;
      fs::create_directories(root_);
    } else {
      std::string templ = (fs::temp_directory_path() / "tarvel-bench-XXXXXX").native();
      if (::mkdtemp(templ.data()) == nullptr) std::abort();
      root_ = templ;
    }
    std::string audio(1024, '\xFF');
    for (int i = 0; i < count_; ++i) {
      int album = i / 20, artist = album / 10;
      fs::path folder =
          root_ / ("アーティスト" + std::to_string(artist)) / ("アルバム" + std::to_string(album));
      if (i % 20 == 0) fs::create_directories(folder);
      std::string name = std::to_string(i % 20 + 1) + " 曲の名前" + std::to_string(i) + ".mp3";
      std::string block = "TAG";
      block += FitTagField(u"曲の名前" + Utf8ToUtf16Lossy(std::to_string(i)), 30);
      block += FitTagField(u"アーティスト" + Utf8ToUtf16Lossy(std::to_string(artist)), 30);
      block += FitTagField(u"アルバム" + Utf8ToUtf16Lossy(std::to_string(album)), 30);
      block += FitTagField(u"2001", 4);
      block += FitTagField(u"", 30);
      block += '\x0D';
      std::ofstream out(folder / name, std::ios::binary);
      out << audio << block;
    }
    if (keep_) std::ofstream(root_ / "done") << count_;
  }
  ~Library() {
    if (keep_) return;
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }
  int count() const { return count_; }

 private:
  fs::path root_;
  int count_ = 0;
  bool keep_ = false;
};

Library& TheLibrary() {
  static Library library;
  return library;
}

void BM_ScanFolderWithTags(benchmark::State& state) {
  Library& library = TheLibrary();
  SilentFrontEnd ui;
  AppState app;
  app.ui = &ui;
  app.settings.FlagRenameFolderName = 1;
  app.settings.FlagRenameSubfolders = 1;
  app.settings.FlagConvertID3Tag = 1;
  RunState run;
  std::u16string path = *Utf8ToUtf16(library.root().native());
  for (auto _ : state) {
    ResetEntryTable(run);
    if (ScanFolder(app, run, path) != 1) state.SkipWithError("scan failed");
    benchmark::DoNotOptimize(run.EntryCount);
  }
  state.counters["rows"] = run.EntryCount;
  state.counters["peak_MB"] = bench::PeakMegabytes();
}
BENCHMARK(BM_ScanFolderWithTags)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.5);

void BM_ReadTagsOnly(benchmark::State& state) {
  Library& library = TheLibrary();
  std::vector<std::string> paths;
  for (const auto& e : fs::recursive_directory_iterator(library.root())) {
    if (e.is_regular_file() && e.path().extension() == ".mp3") paths.push_back(e.path().native());
  }
  ID3TagData tag;
  for (auto _ : state) {
    int found = 0;
    for (const std::string& p : paths) found += ReadID3TagAt(AT_FDCWD, p, tag);
    if (found != library.count()) state.SkipWithError("tag missing");
  }
  state.counters["files"] = static_cast<double>(paths.size());
}
BENCHMARK(BM_ReadTagsOnly)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.5);

}  // namespace
}  // namespace tarvel

BENCHMARK_MAIN();
