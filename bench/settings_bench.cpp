// Loading and saving the settings file as the programs do at start and on the
// save button, on a file with all three sections.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "app/settings.h"
#include "platform/ini_file.h"

namespace {

std::filesystem::path MakeIni() {
  std::string templ = (std::filesystem::temp_directory_path() / "tarvel-bench-XXXXXX").native();
  if (::mkdtemp(templ.data()) == nullptr) std::abort();
  std::filesystem::path ini = std::filesystem::path(templ) / "tarvel.ini";
  tarvel::Settings s;
  s.PathDataFolder = u"/home/user/音楽/CD-R 用";
  tarvel::SaveSettings(s, ini);
  tarvel::SaveMainWindowPosition(ini, {1200, 2400});
  tarvel::SaveLogWindowGeometry(ini, {});
  return ini;
}

void BM_LoadSettings(benchmark::State& state) {
  std::filesystem::path ini = MakeIni();
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarvel::LoadSettings(ini, u"/home/user"));
  }
  std::filesystem::remove_all(ini.parent_path());
}
BENCHMARK(BM_LoadSettings);

void BM_LoadIniForOneValue(benchmark::State& state) {
  std::filesystem::path ini = MakeIni();
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarvel::IniFile::Load(ini).ReadInt(u"Option", u"LengthName", 30));
  }
  std::filesystem::remove_all(ini.parent_path());
}
BENCHMARK(BM_LoadIniForOneValue);

void BM_SaveSettingsUnchanged(benchmark::State& state) {
  std::filesystem::path ini = MakeIni();
  tarvel::Settings s = tarvel::LoadSettings(ini, u"/home/user");
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarvel::SaveSettings(s, ini));
  }
  std::filesystem::remove_all(ini.parent_path());
}
BENCHMARK(BM_SaveSettingsUnchanged);

}  // namespace

BENCHMARK_MAIN();
