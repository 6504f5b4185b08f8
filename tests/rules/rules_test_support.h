// Shared pieces of the rule tests: tables made in memory and a reading
// service with fixed readings.
#ifndef TARVEL_TESTS_RULES_RULES_TEST_SUPPORT_H_
#define TARVEL_TESTS_RULES_RULES_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/front_end.h"
#include "app/tables.h"
#include "platform/csv.h"
#include "platform/mecab_reading.h"
#include "platform/reading_service.h"

namespace tarvel::testing {

// A two-column table with the given rows, as the CSV reader would make it.
inline CsvTable MakeTable(std::initializer_list<std::pair<std::u16string, std::u16string>> rows) {
  CsvTable table(2, 0);
  for (const auto& [search, replacement] : rows) table.AddRow({search, replacement});
  return table;
}

// Gives fixed readings: every occurrence of a known word is replaced by its
// reading, everything else comes back as it was. Can be told to fail.
class FixedReadingService : public ReadingService {
 public:
  FixedReadingService(std::initializer_list<std::pair<std::u16string, std::u16string>> words)
      : words_(words) {}
  std::optional<std::u16string> GetPhonetic(std::u16string_view text) override {
    ++calls;
    seen.emplace_back(text);
    last_guessed = !guess_word.empty() && text.find(guess_word) != std::u16string_view::npos;
    if (fail) return std::nullopt;
    std::u16string out(text);
    for (const auto& [word, reading] : words_) {
      for (size_t p = out.find(word); p != out.npos; p = out.find(word, p + reading.size())) {
        out.replace(p, word.size(), reading);
      }
    }
    return out;
  }
  bool LastReadingGuessed() const override { return last_guessed; }
  bool fail = false;
  // A reading of a text that holds this word counts as a guess.
  std::u16string guess_word;
  bool last_guessed = false;
  int calls = 0;
  std::vector<std::u16string> seen;

 private:
  std::vector<std::pair<std::u16string, std::u16string>> words_;
};

// An AppState wired to a recording front end and a fixed reading service,
// with every gate off; tests switch on what they need.
struct RulesFixture {
  RulesFixture() {
    app.ui = &ui;
    app.reading = &reading;
    Settings& s = app.settings;
    s.FlagDisplayLog = 1;
    s.FlagCheckOnlyFilename = 0;
    s.FlagCheckOnlyID3Tag = 0;
    s.FlagLimit30Char = 0;
    s.FlagDicEnabledFilename = 0;
    s.FlagDetectFullCharFilename = 0;
    s.ConvertLevelFilename = 0;
    s.FlagDicEnabledID3Tag = 0;
    s.FlagDetectFullCharID3Tag = 0;
    s.ConvertLevelID3Tag = 0;
  }
  RecordingFrontEnd ui;
  FixedReadingService reading{{u"東京", u"トウキョウ"}, {u"夜", u"よる"}, {u"日本", u"にほん"}};
  AppState app;
};

// The tables shipped in data/, loaded as start-up loads them. False (with a
// test failure) when one of them does not load cleanly.
inline bool LoadDefaultTables(AppState& app) {
  const std::filesystem::path data = std::filesystem::path(TARVEL_SOURCE_DIR) / "data";
  bool ok = true;
  for (auto [name, table] : {std::pair{"dic.csv", &app.DicTable}, {"Rome.csv", &app.RomeTable}}) {
    TableLoadResult result = LoadTable(data / name, name, *table);
    if (result.status != TableLoadResult::Status::kLoaded || !result.notices.empty()) {
      ADD_FAILURE() << name << ": " << result.message;
      ok = false;
    }
  }
  return ok;
}

// The music dictionary built beside the programs; none for a build without
// them (the fuzz targets), which reads with the IPA dictionary alone.
#ifdef TARVEL_BINARY_DIR
inline constexpr char kBuiltMusicDic[] = TARVEL_BINARY_DIR "/music.dic";
#else
inline constexpr char kBuiltMusicDic[] = "";
#endif

// MeCab with the UTF-8 IPA dictionary and the music dictionary built beside
// the programs, as the programs read, made once for the test program; null
// when the IPA dictionary is not installed.
inline MecabReadingService* SharedMecab() {
  static const char kIpadic[] = "/var/lib/mecab/dic/ipadic-utf8";
  if (!std::filesystem::exists(std::filesystem::path(kIpadic) / "sys.dic")) return nullptr;
  static MecabReadingService service(kIpadic, kBuiltMusicDic);
  return service.IsAvailable() ? &service : nullptr;
}

}  // namespace tarvel::testing

#endif  // TARVEL_TESTS_RULES_RULES_TEST_SUPPORT_H_
