// Parsing and building speed of the CSV codec on the sizes users reach: a
// list.csv of a large library and a big user dictionary.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/csv.h"

namespace tarvel {
namespace {

CsvTable MakeList(int rows) {
  CsvTable list(14, 0);
  for (int r = 0; r < rows; ++r) {
    std::u16string n = u"曲名 \"" + std::u16string(1, static_cast<char16_t>(u'0' + r % 10));
    list.AddRow({u"/home/user/music/アーティスト/アルバム/", n + u".mp3", u"ﾀｲﾄﾙ", u"ｱｰﾃｨｽﾄ",
                 u"ｱﾙﾊﾞﾑ", u"/home/user/music/ｱｰﾃｨｽﾄ/ｱﾙﾊﾞﾑ/", u"kyokumei.mp3", u"タイトル",
                 u"アーティスト", u"アルバム", u"1", u"1", u"1", u"0"});
  }
  return list;
}

void BM_ParseList(benchmark::State& state) {
  const std::u16string text =
      BuildCSV(MakeList(static_cast<int>(state.range(0))), u',', u"\r\n", u'"');
  for (auto _ : state) {
    CsvTable table;
    benchmark::DoNotOptimize(ParseCSV(text, table, u',', u"\r\n", u'"'));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size() * 2));
}
BENCHMARK(BM_ParseList)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_BuildList(benchmark::State& state) {
  const CsvTable list = MakeList(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(BuildCSV(list, u',', u"\r\n", u'"'));
}
BENCHMARK(BM_BuildList)->Arg(100000)->Unit(benchmark::kMillisecond);

// A 10 MB dictionary of short plain rows.
void BM_ParseDictionary10MB(benchmark::State& state) {
  std::u16string text;
  while (text.size() * 2 < 10u * 1024 * 1024) text += u"\"★\",\"*\"\r\nｷｬ,kya\r\n";
  for (auto _ : state) {
    CsvTable table;
    benchmark::DoNotOptimize(ParseCSV(text, table, u',', u"\r\n", u'"'));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size() * 2));
}
BENCHMARK(BM_ParseDictionary10MB)->Unit(benchmark::kMillisecond);

// One quoted field that is never closed, over 10 MB of short lines.
void BM_ParseUnterminated10MB(benchmark::State& state) {
  std::u16string text = u"\"";
  while (text.size() * 2 < 10u * 1024 * 1024) text += u"abcdefgh,\r\n";
  for (auto _ : state) {
    CsvTable table;
    benchmark::DoNotOptimize(ParseCSV(text, table, u',', u"\r\n", u'"'));
  }
}
BENCHMARK(BM_ParseUnterminated10MB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvel

BENCHMARK_MAIN();
