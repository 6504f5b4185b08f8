#include "rules/chains.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>

#include "rules_test_support.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::MakeTable;
using testing::RulesFixture;
using testing::U8;

constexpr std::u16string_view kAbort = u"処理を中断します。";
constexpr std::u16string_view kDictionaryFailed = u"変換辞書による変換中に異常が発生しました。";
constexpr std::u16string_view kKanaFailed = u"漢字の再変換中に異常が発生しました。";
constexpr std::u16string_view kNameRomajiFailed = u"ローマ字変換中に以上が発生しました。";
constexpr std::u16string_view kTagRomajiFailed = u"ローマ字変換中に異常が発生しました。";
constexpr std::u16string_view kNoReadingNotice =
    u"漢字→ｶﾀｶﾅ変換機能はIME98がないと使用できません\r\n\r\n";

bool Contains(std::u16string_view haystack, std::u16string_view needle) {
  return haystack.find(needle) != std::u16string_view::npos;
}

CsvTable RomajiTable() {
  return MakeTable({{u"ｷｮ", u"kyo"},
                    {u"ﾄ", u"to"},
                    {u"ｳ", u"u"},
                    {u"ﾖ", u"yo"},
                    {u"ﾙ", u"ru"},
                    {u"ﾉ", u"no"},
                    {u"ﾆ", u"ni"},
                    {u"ﾎ", u"ho"},
                    {u"ﾝ", u"n"},
                    {u"ｶ", u"ka"},
                    {u"ﾞ", u""}});
}

using Chain = int (*)(std::u16string&, AppState&, bool*);

struct ChainCase {
  const char* what;
  Chain chain;
  std::function<void(RulesFixture&)> setup;
  std::u16string_view input, expected;
  int result;
};

void RunChainCases(const std::vector<ChainCase>& cases) {
  for (const auto& c : cases) {
    RulesFixture f;
    c.setup(f);
    std::u16string text(c.input);
    EXPECT_EQ(c.chain(text, f.app, nullptr), c.result) << c.what;
    EXPECT_EQ(text, c.expected) << c.what << ": " << U8(text);
  }
}

TEST(ConvertFileNameTest, RunsTheStepsTheSettingsAskFor) {
  auto none = [](RulesFixture&) {};
  auto kana = [](RulesFixture& f) { f.app.settings.ConvertLevelFilename = 1; };
  auto romaji = [](RulesFixture& f) {
    f.app.settings.ConvertLevelFilename = 2;
    f.app.RomeTable = RomajiTable();
  };
  RunChainCases({
      {"gates off", ConvertFileName, none, u"a:b.mp3", u"a b.mp3", 1},
      {"gates off, short", ConvertFileName, none, u".mp3", u"UnknownFileName.mp3", 1},
      {"gates off, kanji stay", ConvertFileName, none, u"東京.mp3", u"東京.mp3", 1},
      {"kana", ConvertFileName, kana, u"01 東京の夜.mp3", u"01 ﾄｳｷｮｳﾉﾖﾙ.mp3", 1},
      {"kana, full-width colon narrowed then blanked", ConvertFileName, kana, u"a：b.mp3",
       u"a b.mp3", 1},
      {"kana, full-width extension", ConvertFileName, kana, u"歌．ＭＰ３", u"歌.MP3", 1},
      {"romaji", ConvertFileName, romaji, u"東京の夜.mp3", u"toukyounoyoru.mp3", 1},
      {"romaji at level 3", ConvertFileName,
       [&](RulesFixture& f) {
         romaji(f);
         f.app.settings.ConvertLevelFilename = 3;
       },
       u"日本.mp3", u"nihon.mp3", 1},
      {"dictionary sees the scanned name", ConvertFileName,
       [](RulesFixture& f) {
         f.app.settings.FlagDicEnabledFilename = 1;
         f.app.settings.ConvertLevelFilename = 1;
         f.app.DicTable = MakeTable({{u"東京", u"TOKYO"}, {u"ﾄｳｷｮｳ", u"never"}});
       },
       u"東京の夜.mp3", u"TOKYOﾉﾖﾙ.mp3", 1},
      {"flags count only as 1", ConvertFileName,
       [](RulesFixture& f) {
         f.app.settings.FlagDicEnabledFilename = 2;
         f.app.settings.FlagLimit30Char = 2;
         f.app.settings.LengthName = 1;
       },
       u"東京.mp3", u"東京.mp3", 1},
      {"length limit counts the romaji", ConvertFileName,
       [&](RulesFixture& f) {
         romaji(f);
         f.app.settings.FlagLimit30Char = 1;
         f.app.settings.LengthName = 8;
       },
       u"東京の夜.mp3", u"toukyoun.mp3", 1},
      {"short name cut too", ConvertFileName,
       [](RulesFixture& f) {
         f.app.settings.FlagLimit30Char = 1;
         f.app.settings.LengthName = 7;
       },
       u".mp3", u"Unknown.mp3", 1},
      {"file-name chain ignores the tag settings", ConvertFileName,
       [](RulesFixture& f) { f.app.settings.ConvertLevelID3Tag = 2; }, u"東京.mp3", u"東京.mp3", 1},
  });
}

TEST(ConvertFileNameTest, LeftoverTwoByteCharacterSwitchesToCheckOnly) {
  RulesFixture f;
  f.app.settings.ConvertLevelFilename = 1;
  f.app.settings.FlagDetectFullCharFilename = 1;
  f.app.settings.FlagLimit30Char = 1;
  std::u16string name = u"★東京.b.mp3";
  bool switch_to_check_only = false;
  EXPECT_EQ(ConvertFileName(name, f.app, &switch_to_check_only), 1);
  EXPECT_EQ(name, u"★ﾄｳｷｮｳ b.mp3");  // steps 4 to 7 still ran
  EXPECT_TRUE(Contains(f.ui.log, u"全角→半角に変換できなかった文字（★）があります。\r\n"));
  EXPECT_TRUE(Contains(f.ui.log, u"不正なファイル名を検出しました。"));
  // The chain asks for check-only; switching is left to the run.
  EXPECT_TRUE(switch_to_check_only);
  EXPECT_EQ(f.app.settings.FlagCheckOnlyFilename, 0);
  EXPECT_EQ(f.app.settings.FlagCheckOnlyID3Tag, 0);
  EXPECT_EQ(f.ui.tick_count, 0);
  // A name with nothing left over asks for nothing.
  std::u16string plain = u"東京.mp3";
  switch_to_check_only = false;
  EXPECT_EQ(ConvertFileName(plain, f.app, &switch_to_check_only), 1);
  EXPECT_FALSE(switch_to_check_only);
}

TEST(ConvertFileNameTest, WithoutKanaConversionEveryJapaneseCharacterIsReported) {
  RulesFixture f;
  f.app.settings.FlagDetectFullCharFilename = 1;
  std::u16string name = u"東京あ.mp3";
  EXPECT_EQ(ConvertFileName(name, f.app), 1);
  EXPECT_EQ(f.reading.calls, 0);
  size_t entries = 0;
  for (size_t p = f.ui.log.find(u"全角→半角"); p != std::u16string::npos;
       p = f.ui.log.find(u"全角→半角", p + 1)) {
    ++entries;
  }
  EXPECT_EQ(entries, 3u);
}

// Every failing step in both display modes: the report's text, where it goes,
// and what is left of the name.
TEST(ChainFailureTest, ReportsTheFailingStepAndStops) {
  struct {
    const char* what;
    Chain chain;
    std::function<void(RulesFixture&)> setup;
    std::u16string_view input, expected;
    std::u16string_view message;
    bool kana_notice;
  } kCases[] = {
      {"file dictionary unloaded", ConvertFileName,
       [](RulesFixture& f) { f.app.settings.FlagDicEnabledFilename = 1; }, u"a:東京", u"a:東京",
       kDictionaryFailed, false},
      {"file reading unavailable", ConvertFileName,
       [](RulesFixture& f) {
         f.app.settings.ConvertLevelFilename = 1;
         f.reading.fail = true;
       },
       u"a:東京", u"a:東京", kKanaFailed, true},
      {"file romaji table unloaded", ConvertFileName,
       [](RulesFixture& f) {
         f.app.settings.ConvertLevelFilename = 2;
         f.app.settings.FlagLimit30Char = 1;
         f.app.settings.LengthName = 2;
       },
       u"東京.b.MP3.x", u"ﾄｳｷｮｳ b.MP3", kNameRomajiFailed, false},
      {"folder dictionary unloaded", ConvertFolderName,
       [](RulesFixture& f) { f.app.settings.FlagDicEnabledFilename = 1; }, u"a:b", u"a:b",
       kDictionaryFailed, false},
      {"folder reading unavailable", ConvertFolderName,
       [](RulesFixture& f) {
         f.app.settings.ConvertLevelFilename = 1;
         f.app.reading = nullptr;
       },
       u"東京", u"東京", kKanaFailed, true},
      {"folder romaji table unloaded", ConvertFolderName,
       [](RulesFixture& f) {
         f.app.settings.ConvertLevelFilename = 2;
         f.app.settings.FlagLimit30Char = 1;
         f.app.settings.LengthName = 2;
       },
       u"東京:a", u"ﾄｳｷｮｳ a", kNameRomajiFailed, false},
      {"tag dictionary unloaded", ConvertTagText,
       [](RulesFixture& f) { f.app.settings.FlagDicEnabledID3Tag = 1; }, u"東京", u"東京",
       kDictionaryFailed, false},
      {"tag reading unavailable", ConvertTagText,
       [](RulesFixture& f) {
         f.app.settings.ConvertLevelID3Tag = 1;
         f.reading.fail = true;
       },
       u"東京", u"東京", kKanaFailed, true},
      {"file dictionary runaway row", ConvertFileName,
       [](RulesFixture& f) {
         f.app.DicTable = MakeTable({{u"京", u"kyo"}, {u"ab", u"bbaa"}});
         f.app.settings.FlagDicEnabledFilename = 1;
       },
       u"東京aab.mp3", u"東京aab.mp3", kDictionaryFailed, false},
      {"folder romaji runaway row after the kana step", ConvertFolderName,
       [](RulesFixture& f) {
         f.app.DicTable = MakeTable({{u"東京", u"うう夜"}});
         f.app.settings.FlagDicEnabledFilename = 1;
         f.app.RomeTable = MakeTable({{u"ｳﾖ", u"ﾖﾖｳｳ"}});
         f.app.settings.ConvertLevelFilename = 2;
       },
       u"東京", u"ｳｳﾖﾙ", kNameRomajiFailed, false},
      {"tag dictionary runaway row", ConvertTagText,
       [](RulesFixture& f) {
         f.app.DicTable = MakeTable({{u"東", u"to"}, {u"ab", u"bbaa"}});
         f.app.settings.FlagDicEnabledID3Tag = 1;
         f.app.settings.ConvertLevelID3Tag = 1;
       },
       u"東京のaab", u"東京のaab", kDictionaryFailed, false},
      {"tag romaji table unloaded, left uncut", ConvertTagText,
       [](RulesFixture& f) { f.app.settings.ConvertLevelID3Tag = 2; },
       u"東京東京東京東京東京東京東京東京東京東京",
       u"ﾄｳｷｮｳﾄｳｷｮｳﾄｳｷｮｳﾄｳｷｮｳﾄｳｷｮｳﾄｳｷｮｳﾄｳｷｮｳﾄｳｷｮｳﾄｳｷｮｳﾄｳｷｮｳ", kTagRomajiFailed, false},
  };
  for (const auto& c : kCases) {
    for (int display_log : {1, 0}) {
      RulesFixture f;
      c.setup(f);
      f.app.settings.FlagDisplayLog = display_log;
      std::u16string text(c.input);
      EXPECT_EQ(c.chain(text, f.app, nullptr), 0) << c.what;
      EXPECT_EQ(text, c.expected) << c.what << ": " << U8(text);
      const std::u16string report = std::u16string(c.message) + u"\r\n" + std::u16string(kAbort);
      if (display_log == 1) {
        EXPECT_TRUE(f.ui.messages.empty()) << c.what;
        ASSERT_GE(f.ui.log.size(), report.size() + 2) << c.what;
        EXPECT_EQ(f.ui.log.substr(f.ui.log.size() - report.size() - 2), report + u"\r\n") << c.what;
      } else {
        ASSERT_EQ(f.ui.messages.size(), 1u) << c.what;
        EXPECT_EQ(f.ui.messages[0], report) << c.what;
        EXPECT_FALSE(Contains(f.ui.log, c.message)) << c.what;
      }
      // The kana step's own notice comes before the chain's report.
      EXPECT_EQ(f.ui.log.starts_with(kNoReadingNotice), c.kana_notice) << c.what;
    }
  }
}

class ThrowingReadingService : public ReadingService {
 public:
  std::optional<std::u16string> GetPhonetic(std::u16string_view) override {
    throw std::bad_alloc();
  }
};

// A front end whose next log entry fails, as when memory runs out.
class ThrowingLogFrontEnd : public RecordingFrontEnd {
 public:
  void AppendLog(std::u16string_view text) override {
    if (throw_next) {
      throw_next = false;
      throw std::bad_alloc();
    }
    RecordingFrontEnd::AppendLog(text);
  }
  bool throw_next = false;
};

// An unexpected error in a step stops the chain and leaves the name as it
// was; the steps that can fail say which one did, the repairs (and a report
// that fails itself) say nothing.
TEST(ChainFailureTest, AnUnexpectedErrorInAStepStopsTheChain) {
  constexpr std::u16string_view kDetectionFailed =
      u"全角→半角変換できなかった文字の検出中に異常が発生しました。";
  struct {
    const char* what;
    bool reading_throws, log_throws;
    std::function<void(Settings&)> setup;
    std::u16string_view input, message;
  } const kCases[] = {
      {"kana step", true, false, [](Settings& s) { s.ConvertLevelFilename = 1; }, u"東京.mp3",
       kKanaFailed},
      {"full-width check", false, true, [](Settings& s) { s.FlagDetectFullCharFilename = 1; },
       u"東京.mp3", kDetectionFailed},
      {"length limit", false, true,
       [](Settings& s) {
         s.FlagLimit30Char = 1;
         s.LengthName = 2;
       },
       u"abcdef.mp3", u""},
      {"the report of a failed step", false, true,
       [](Settings& s) { s.FlagDicEnabledFilename = 1; }, u"東京.mp3", u""},
  };
  // File and folder names go through the same guard.
  for (const auto chain : {ConvertFileName, ConvertFolderName}) {
    for (const auto& c : kCases) {
      RulesFixture f;
      ThrowingReadingService throwing;
      ThrowingLogFrontEnd ui;
      f.app.ui = &ui;
      if (c.reading_throws) f.app.reading = &throwing;
      ui.throw_next = c.log_throws;
      c.setup(f.app.settings);
      std::u16string name(c.input);
      EXPECT_EQ(chain(name, f.app, nullptr), 0) << c.what;
      EXPECT_EQ(name, c.input) << c.what;
      const std::u16string report = c.message.empty() ? u""
                                                      : std::u16string(c.message) + u"\r\n" +
                                                            std::u16string(kAbort) + u"\r\n";
      EXPECT_EQ(ui.log, report) << c.what;
    }
  }
  // The tag chain has the same guard: a report that fails ends it, and the
  // text stays as it was.
  for (const bool reading_throws : {false, true}) {
    RulesFixture f;
    ThrowingReadingService throwing;
    ThrowingLogFrontEnd ui;
    f.app.ui = &ui;
    if (reading_throws) f.app.reading = &throwing;
    ui.throw_next = true;
    f.app.settings.FlagDicEnabledID3Tag = 1;
    f.app.settings.ConvertLevelID3Tag = 1;
    std::u16string text(u"東京");
    EXPECT_EQ(ConvertTagText(text, f.app, nullptr), 0) << reading_throws;
    EXPECT_EQ(text, u"東京") << reading_throws;
  }
}

TEST(ConvertFolderNameTest, HasNoExtensionStepAndItsOwnLengthLimit) {
  auto limit = [](int length) {
    return [length](RulesFixture& f) {
      f.app.settings.FlagLimit30Char = 1;
      f.app.settings.LengthName = length;
    };
  };
  const std::u16string name31(31, u'n');
  const std::u16string name30(30, u'n');
  RunChainCases({
      {"short folder kept", ConvertFolderName, [](RulesFixture&) {}, u"Jazz", u"Jazz", 1},
      {"short folder cut", ConvertFolderName, limit(3), u"Jazz", u"Jaz", 1},
      {"31 characters", ConvertFolderName, limit(30), name31, name30, 1},
      {"dots stay", ConvertFolderName, limit(30), u"a.b.mp3.bak", u"a.b.mp3.bak", 1},
      {"invalid characters", ConvertFolderName, limit(30), u"AC/DC", u"AC DC", 1},
      {"romaji", ConvertFolderName,
       [](RulesFixture& f) {
         f.app.settings.ConvertLevelFilename = 2;
         f.app.RomeTable = RomajiTable();
       },
       u"東京の夜", u"toukyounoyoru", 1},
  });
}

TEST(ConvertTagTextTest, CutsTo30CharactersAfterTheSteps) {
  const std::u16string forty(40, u'x');
  const std::u16string thirty(30, u'x');
  const std::u16string wide30(30, u'漢');
  RunChainCases({
      {"40 half-width", ConvertTagText, [](RulesFixture&) {}, forty, thirty, 1},
      {"30 two-byte kept", ConvertTagText, [](RulesFixture&) {}, wide30, wide30, 1},
      {"colon and question mark stay", ConvertTagText, [](RulesFixture&) {}, u"Who? a:b.c",
       u"Who? a:b.c", 1},
      {"empty with level 0", ConvertTagText,
       [](RulesFixture& f) {
         f.app.settings.FlagDicEnabledID3Tag = 1;  // unloaded table, yet no failure
         f.app.settings.FlagDetectFullCharID3Tag = 1;
       },
       u"", u"", 1},
      {"kana", ConvertTagText, [](RulesFixture& f) { f.app.settings.ConvertLevelID3Tag = 1; },
       u"東京の夜", u"ﾄｳｷｮｳﾉﾖﾙ", 1},
      {"tag chain ignores the file-name settings", ConvertTagText,
       [](RulesFixture& f) {
         f.app.settings.ConvertLevelFilename = 2;
         f.app.settings.FlagLimit30Char = 1;
         f.app.settings.LengthName = 2;
       },
       u"東京", u"東京", 1},
      {"romaji then cut", ConvertTagText,
       [](RulesFixture& f) {
         f.app.settings.ConvertLevelID3Tag = 2;
         f.app.RomeTable = RomajiTable();
       },
       u"東京の夜東京の夜東京の夜", u"toukyounoyorutoukyounoyorutouk", 1},
  });
}

TEST(ConvertTagTextTest, HandsAnEmptyTextToTheReadingService) {
  RulesFixture f;
  f.app.settings.ConvertLevelID3Tag = 1;
  std::u16string text;
  EXPECT_EQ(ConvertTagText(text, f.app), 1);
  EXPECT_EQ(f.reading.calls, 1);
  EXPECT_EQ(text, u"");
}

TEST(ChainsTest, DecomposedTextConvertsAsComposed) {
  struct {
    std::u16string_view decomposed, composed;
  } kCases[] = {
      {u"カ\u3099ール.mp3", u"ガール.mp3"},
      {u"ハ\u309Aリ:東京.mp3", u"パリ:東京.mp3"},
      {u"cafe\u0301.mp3", u"café.mp3"},
      {u"か\u3099く\u3099", u"がぐ"},
  };
  for (Chain chain : {ConvertFileName, ConvertFolderName, ConvertTagText}) {
    for (int level : {0, 1}) {
      for (const auto& c : kCases) {
        RulesFixture a, b;
        for (RulesFixture* f : {&a, &b}) {
          f->app.settings.ConvertLevelFilename = level;
          f->app.settings.ConvertLevelID3Tag = level;
          f->app.settings.FlagDetectFullCharFilename = 1;
          f->app.settings.FlagDetectFullCharID3Tag = 1;
          f->app.settings.FlagDicEnabledFilename = 1;
          f->app.settings.FlagDicEnabledID3Tag = 1;
          f->app.DicTable = MakeTable({{u"ガ", u"GA"}, {u"é", u"e"}});
        }
        std::u16string from_decomposed(c.decomposed), from_composed(c.composed);
        EXPECT_EQ(chain(from_decomposed, a.app, nullptr), chain(from_composed, b.app, nullptr));
        EXPECT_EQ(from_decomposed, from_composed) << U8(c.composed);
        EXPECT_EQ(a.ui.log, b.ui.log) << U8(c.composed);
      }
    }
  }
}

}  // namespace
}  // namespace tarvel
