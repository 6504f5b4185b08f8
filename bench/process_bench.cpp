// The whole program as a user starts it: tarvel-cli, start-up and tables
// included, over a generated library of varied names (every artist, album
// and title its own), against process-floor, a program that only walks the
// same tree and reads (for a real run also writes and renames) what a run
// must. The two alternate for several rounds on a warm cache; each figure is
// the wall-clock time of the whole child process, with its processor time
// and peak memory (ru_maxrss) from wait4.
//
//   plan: tarvel-cli --check-only FOLDER  against  process-floor plan FOLDER
//   real: tarvel-cli with both check-only boxes off, each round on a fresh
//         copy of the library, against process-floor real on another copy
//
// TARVEL_BENCH_FILES sets the number of files (default 100000),
// TARVEL_BENCH_ROUNDS the rounds (default 3), TARVEL_BENCH_REAL=0 leaves the
// real runs out (each copies the library twice). The library is made in a
// temporary folder and removed at exit, or, when TARVEL_BENCH_DIR names a
// folder, made there once and kept for later runs. The children's log goes
// to the work folder (cli.log, cli.err).
//
// Figures, medians of 5 rounds at 100,000 files on 2 cores of an otherwise
// idle machine whose floor reads a tag in about 5 microseconds:
//   plan 1.09 s, floor 0.53 s: 2.05x, peak 68.2 MB, processor 1.86 s
//   real 2.45 s, floor 1.06 s: 2.32x, peak 98.1 MB, processor 3.99 s
// with MeCab closed after the pass; in a quieter minute before that:
//   plan 0.92 s, floor 0.36 s: 2.54x, peak 73.6 MB, processor 1.58 s
//   real 1.99 s, floor 0.76 s: 2.62x, peak 104.8 MB, processor 3.32 s
// with every text of a row one small shared block; before that (the same
// code gave 0.85 s and 2.10 s in a quieter minute):
//   plan 0.85 s, floor 0.33 s: 2.59x, peak 89.4 MB, processor 1.45 s
//   real 2.10 s, floor 0.71 s: 2.97x, peak 126.6 MB, processor 3.41 s
// and before the artist and album were shared and the list, the duplicate
// keys, the check of new names and the record's hashes went on two threads:
//   plan 0.97 s, floor 0.29 s: 3.34x, peak 128.6 MB, processor 1.50 s
//   real 2.40 s, floor 0.69 s: 3.49x, peak 164.6 MB, processor 3.44 s
// At 1,000,000 files (TARVEL_BENCH_FILES=1000000): plan 10.1 s against a
// floor of 5.1 s, peak 354 MB (367 MB, 532 MB and 797 MB before). Where
// the plan's time goes at 100,000 files: the scan 0.28 s (the tags read on two threads while the
// folders are listed), the conversion pass 0.35 s (most of it MeCab, on two
// threads), the list 0.15 s, the listing in the log 0.07 s, start-up 0.01 s.
// Where the peak goes: the rows of the entry table (96 bytes each), their
// names and titles (old and new, a small block each, shared where the run
// leaves one as it was), the pages of the MeCab
// dictionary the pass touches (about 25 MB, file-backed but counted in
// ru_maxrss; MeCab is closed after the pass, so a real run's later stages
// do without them) and what a run of a dozen files needs too. On cores that other
// work keeps busy the wall-clock figures swing by a factor of two from one
// minute to the next; the ratio to the floor, taken in the same minute, and
// the processor time are what to compare.
// Measured with: make bench, or
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//     -DTARVEL_BUILD_BENCH=ON -DBUILD_TESTING=OFF -DTARVEL_BUILD_GUI=OFF  (one line)
//   cmake --build build-bench --target process_bench
//   TARVEL_BENCH_DIR=/tmp/tarvel-process build-bench/process_bench
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sample_library.h"

namespace {

namespace fs = std::filesystem;

struct Child {
  double seconds = 0;
  double processor = 0;  // user and system time of the child's threads
  double peak_mb = 0;
  int status = -1;
};

// Runs `argv` with its output in `out` and `err`, and waits for it.
Child RunChild(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(127);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  Child child;
  rusage usage{};
  int status = 0;
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return child;
  child.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  child.processor = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  child.peak_mb = usage.ru_maxrss / 1024.0;
  child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return child;
}

double LoadNow() {
  double load[1] = {0};
  return ::getloadavg(load, 1) == 1 ? load[0] : 0;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

class Bench {
 public:
  Bench() {
    const char* files = ::getenv("TARVEL_BENCH_FILES");
    files_ = files ? std::strtoul(files, nullptr, 10) : 100000;
    const char* rounds = ::getenv("TARVEL_BENCH_ROUNDS");
    rounds_ = rounds ? std::max(1, std::atoi(rounds)) : 3;
    const char* real = ::getenv("TARVEL_BENCH_REAL");
    real_ = real == nullptr || std::string(real) != "0";
    bin_ = fs::read_symlink("/proc/self/exe").parent_path();
    if (const char* dir = ::getenv("TARVEL_BENCH_DIR")) {
      work_ = dir;
      keep_ = true;
    } else {
      std::string templ = (fs::temp_directory_path() / "tarvel-process-bench-XXXXXX").native();
      if (::mkdtemp(templ.data()) == nullptr) std::abort();
      work_ = templ;
    }
  }
  ~Bench() {
    std::error_code ec;
    if (!keep_) fs::remove_all(work_, ec);
  }

  int Run();

 private:
  void MakeLibrary();
  void MakeProgramFolder();
  Child Cli(const fs::path& folder, bool check_only);
  Child Floor(const fs::path& folder, bool check_only);
  fs::path FreshCopy(const std::string& name);
  void Plan();
  void Real();
  static void Line(const char* what, const Child& c);
  void Summary(const char* what, const std::vector<Child>& cli, const std::vector<Child>& floor);

  std::size_t files_ = 0;
  int rounds_ = 3;
  bool real_ = true;
  bool keep_ = false;
  fs::path bin_, work_;
  fs::path program_;  // a portable copy of tarvel-cli with its tables
};

void Bench::MakeLibrary() {
  const fs::path done = work_ / (".done-varied-" + std::to_string(files_));
  if (fs::exists(done)) return;
  fs::remove_all(work_ / "music");
  fs::create_directories(work_ / "music");
  tarvel::sample::MakeBenchLibrary(work_ / "music", files_, 12, 1, tarvel::sample::Names::kVaried);
  std::ofstream(done) << files_;
}

// tarvel-cli beside its tables, as a portable copy finds them; the settings
// file is absent, so every run has the default settings.
void Bench::MakeProgramFolder() {
  program_ = work_ / "program";
  fs::create_directories(program_);
  for (const char* name : {"tarvel-cli", "dic.csv", "Rome.csv", "music.dic"}) {
    if (fs::exists(bin_ / name)) {
      fs::copy_file(bin_ / name, program_ / name, fs::copy_options::overwrite_existing);
    }
  }
  // The history of kept runs goes here, not to the user's folder.
  ::setenv("XDG_DATA_HOME", (work_ / "data").c_str(), 1);
}

Child Bench::Cli(const fs::path& folder, bool check_only) {
  fs::remove_all(work_ / "data");
  std::vector<std::string> argv = {(program_ / "tarvel-cli").native(), "--quiet"};
  if (check_only) {
    argv.emplace_back("--check-only");
  } else {
    argv.insert(argv.end(), {"--set", "FlagCheckOnlyFilename=0", "--set", "FlagCheckOnlyID3Tag=0"});
  }
  argv.push_back(folder.native());
  return RunChild(argv, work_ / "cli.log", work_ / "cli.err");
}

Child Bench::Floor(const fs::path& folder, bool check_only) {
  return RunChild(
      {(bin_ / "process-floor").native(), check_only ? "plan" : "real", folder.native()},
      work_ / "floor.log", work_ / "floor.err");
}

fs::path Bench::FreshCopy(const std::string& name) {
  const fs::path copy = work_ / name;
  fs::remove_all(copy);
  RunChild({"/bin/cp", "-a", (work_ / "music").native(), copy.native()}, "/dev/null", "/dev/null");
  return copy;
}

void Bench::Line(const char* what, const Child& c) {
  std::printf("  %-11s %6.3f s  cpu %6.3f s  peak %6.1f MB  exit %d\n", what, c.seconds,
              c.processor, c.peak_mb, c.status);
}

void Bench::Summary(const char* what, const std::vector<Child>& cli,
                    const std::vector<Child>& floor) {
  std::vector<double> a, b, cpu, mem;
  for (const Child& c : cli) a.push_back(c.seconds), cpu.push_back(c.processor);
  for (const Child& c : cli) mem.push_back(c.peak_mb);
  for (const Child& c : floor) b.push_back(c.seconds);
  const double ratio = Median(b) > 0 ? Median(a) / Median(b) : 0;
  std::printf("%s: tarvel-cli %.3f s (cpu %.3f s), floor %.3f s, ratio %.2f, peak %.1f MB\n", what,
              Median(a), Median(cpu), Median(b), ratio, *std::max_element(mem.begin(), mem.end()));
}

// The check-only plan: the same tree for both, after one warm-up run each.
void Bench::Plan() {
  const fs::path music = work_ / "music";
  Floor(music, true);
  Cli(music, true);
  std::vector<Child> cli, floor;
  for (int r = 0; r < rounds_; ++r) {
    floor.push_back(Floor(music, true));
    Line("floor plan", floor.back());
    cli.push_back(Cli(music, true));
    Line("cli plan", cli.back());
  }
  Summary("plan", cli, floor);
}

// The real run: each child on a copy of its own, just written and so in the
// cache.
void Bench::Real() {
  std::vector<Child> cli, floor;
  for (int r = 0; r < rounds_; ++r) {
    floor.push_back(Floor(FreshCopy("copy"), false));
    Line("floor real", floor.back());
    cli.push_back(Cli(FreshCopy("copy"), false));
    Line("cli real", cli.back());
  }
  fs::remove_all(work_ / "copy");
  Summary("real", cli, floor);
}

int Bench::Run() {
  if (!fs::exists(bin_ / "tarvel-cli") || !fs::exists(bin_ / "process-floor")) {
    std::fprintf(stderr, "tarvel-cli and process-floor must be beside %s\n", bin_.c_str());
    return 1;
  }
  MakeLibrary();
  MakeProgramFolder();
  std::printf("%zu files in %s, %d rounds, load %.2f\n", files_, work_.c_str(), rounds_, LoadNow());
  Plan();
  if (real_) Real();
  std::printf("load at the end %.2f\n", LoadNow());
  return 0;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each round as it ends
  try {
    Bench bench;
    return bench.Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "process_bench: %s\n", e.what());
    return 1;
  }
}
