// Speed of the file-name chain on short mixed Japanese and Latin names, with
// the dictionary, the kana conversion (MeCab) and the full-width check on.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//         -DTARVEL_BUILD_BENCH=ON -DBUILD_TESTING=OFF -DTARVEL_BUILD_GUI=OFF
//   cmake --build build-bench && build-bench/rules_bench
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "app/front_end.h"
#include "platform/mecab_reading.h"
#include "platform/text.h"
#include "rules/chains.h"

namespace tarvel {
namespace {

constexpr size_t kTextCount = 400000;

constexpr std::array<std::u16string_view, 24> kKanjiWords = {
    u"東京", u"夜",   u"日本語", u"桜",   u"花火", u"青空", u"恋人",     u"夏祭り",
    u"雨",   u"星空", u"海岸",   u"約束", u"未来", u"風",   u"春夏秋冬", u"大阪",
    u"涙",   u"月光", u"少年",   u"季節", u"駅",   u"記憶", u"手紙",     u"夢"};
constexpr std::array<std::u16string_view, 16> kKana = {
    u"の",         u"と",     u"を",     u"あなた", u"さよなら", u"ありがとう", u"ラブ", u"ソング",
    u"メロディー", u"ガール", u"ポップ", u"ハート", u"きみ",     u"ドライブ",   u"に",   u"へ"};
constexpr std::array<std::u16string_view, 14> kLatin = {
    u"Live", u"Remix", u"feat.", u"Love", u"Night", u"01",     u"02",
    u" ",    u"(",     u")",     u"Ver",  u"-",     u"ＡＢＣ", u"★"};

// Texts of 10 to 30 characters ending in ".mp3", the same on every run.
std::vector<std::u16string> MakeTexts() {
  std::mt19937 rng(20240611);
  std::vector<std::u16string> texts;
  texts.reserve(kTextCount);
  for (size_t i = 0; i < kTextCount; ++i) {
    const size_t target = 6 + rng() % 21;  // plus ".mp3": 10 to 30
    std::u16string base;
    while (base.size() < target) {
      switch (rng() % 3) {
        case 0:
          base += kKanjiWords[rng() % kKanjiWords.size()];
          break;
        case 1:
          base += kKana[rng() % kKana.size()];
          break;
        default:
          base += kLatin[rng() % kLatin.size()];
          break;
      }
    }
    base.resize(target);
    texts.push_back(base + u".mp3");
  }
  return texts;
}

CsvTable MakeDictionary() {
  constexpr std::u16string_view kRows[][2] = {
      {u"★", u"*"},  {u"☆", u"*"},   {u"♪", u"#"},  {u"♭", u"b"},  {u"♯", u"#"},  {u"♂", u"M"},
      {u"♀", u"F"},  {u"①", u"1"},   {u"②", u"2"},  {u"③", u"3"},  {u"④", u"4"},  {u"⑤", u"5"},
      {u"⑥", u"6"},  {u"⑦", u"7"},   {u"⑧", u"8"},  {u"⑨", u"9"},  {u"⑩", u"10"}, {u"Ⅰ", u"I"},
      {u"Ⅱ", u"II"}, {u"Ⅲ", u"III"}, {u"Ⅳ", u"IV"}, {u"Ⅴ", u"V"},  {u"→", u"-"},  {u"←", u"-"},
      {u"↑", u"^"},  {u"↓", u"v"},   {u"※", u"*"},  {u"〒", u"T"}, {u"○", u"o"},  {u"●", u"o"},
      {u"◎", u"o"},  {u"□", u"[]"},  {u"■", u"[]"}, {u"△", u"^"},  {u"▲", u"^"},  {u"▽", u"v"},
      {u"▼", u"v"},  {u"◇", u"<>"},  {u"◆", u"<>"}, {u"ヶ", u"ｹ"}};
  CsvTable table(2, 0);
  for (const auto& row : kRows) table.AddRow({std::u16string(row[0]), std::u16string(row[1])});
  return table;
}

void BM_ConvertFileName(benchmark::State& state) {
  static const std::vector<std::u16string> texts = MakeTexts();
  SilentFrontEnd ui;
  MecabReadingService reading;
  AppState app;
  app.ui = &ui;
  app.reading = &reading;
  app.DicTable = MakeDictionary();
  app.settings.FlagDicEnabledFilename = 1;
  app.settings.ConvertLevelFilename = 1;
  app.settings.FlagDetectFullCharFilename = 1;
  app.settings.FlagLimit30Char = 1;
  if (!reading.IsAvailable()) {
    state.SkipWithError(("MeCab cannot be opened: " + reading.LastError()).c_str());
    return;
  }
  std::u16string warm = u"東京.mp3";
  ConvertFileName(warm, app);  // makes the tagger and the transliterators once
  size_t i = 0;
  for (auto _ : state) {
    std::u16string name = texts[i];
    benchmark::DoNotOptimize(ConvertFileName(name, app));
    if (++i == texts.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConvertFileName)->Iterations(kTextCount)->Unit(benchmark::kMicrosecond);

// The two parts the chain's time is mostly made of, for comparison.
void BM_MecabReading(benchmark::State& state) {
  static const std::vector<std::u16string> texts = MakeTexts();
  MecabReadingService reading;
  reading.GetPhonetic(u"東京");
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(reading.GetPhonetic(texts[i]));
    if (++i == texts.size()) i = 0;
  }
}
BENCHMARK(BM_MecabReading)->Iterations(kTextCount)->Unit(benchmark::kMicrosecond);

void BM_HalfWidthKana(benchmark::State& state) {
  static const std::vector<std::u16string> texts = MakeTexts();
  ToHalfWidthKana(u"ア");
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ToHalfWidthKana(texts[i]));
    if (++i == texts.size()) i = 0;
  }
}
BENCHMARK(BM_HalfWidthKana)->Iterations(kTextCount)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvel

BENCHMARK_MAIN();
