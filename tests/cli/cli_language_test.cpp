// tarvel-cli's own messages follow the locale: Japanese under a Japanese
// locale, English otherwise, with the core's reasons and the system's error
// texts translated alike, while the log keeps its Japanese texts.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "cli/cli_support.h"
#include "cli/cli_text.h"
#include "cli/help_text.h"
#include "cli/terminal_progress.h"
#include "sample_library.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testing::RunProgram;

constexpr const char* kJapanese = "ja_JP.UTF-8";
constexpr const char* kEnglish = "C.UTF-8";

bool LocaleExists(const char* name) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const bool exists = std::setlocale(LC_ALL, name) != nullptr;
  std::setlocale(LC_ALL, saved.c_str());
  return exists;
}

class CliLanguageTest : public testing::CliLibraryTest {
 protected:
  void SetUp() override {
    CliLibraryTest::SetUp();
    if (!LocaleExists(kJapanese)) {
      GTEST_SKIP() << "the locale " << kJapanese
                   << " is not installed (scripts/install-deps makes it)";
    }
    music_ = dir() / "music";
    sample::WriteMp3(music_, u"歌手/夜.mp3", 256, std::nullopt);
  }

  // tarvel-cli under the locale `locale`, with LANGUAGE cleared so that
  // only the locale decides.
  CliResult Run(const char* locale, const std::vector<std::string>& args, const fs::path& program) {
    std::vector<std::string> all = {"LANGUAGE=", std::string("LC_ALL=") + locale, program.native()};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram("/usr/bin/env", all, dir());
  }
};

TEST_F(CliLanguageTest, MessagesFollowTheLocale) {
  const std::string missing_list = (dir() / "gone" / "list.csv").native();
  const std::string missing_folder = (dir() / "no-such-folder").native();
  const std::string plain_file = (dir() / "plain").native();
  testing::WriteBytes(plain_file, "not a folder");
  // A kept run whose list cannot be read.
  const std::string history = (dir() / "xdg-data" / "tarvel" / "history").native();
  fs::create_directories(fs::path(history) / "2026-12-07_140500");
  testing::WriteBytes(fs::path(history) / "2026-12-07_140500" / "list.csv", "not a list");
  // A settings file with a value outside its range.
  const std::string bad_settings = (dir() / "bad.ini").native();
  testing::WriteBytes(bad_settings, "[Option]\r\nLengthName=99\r\nFlagPathSaveCSV=1\r\n");
  // A copy of the program with its catalogue beside it and no tables: an
  // installed program that finds no dic.csv.
  const fs::path copy = dir() / "copy";
  fs::create_directories(copy);
  fs::copy_file(testing::kCliProgram, copy / "tarvel-cli");
  fs::copy(fs::path(TARVEL_BINARY_DIR) / "locale", copy / "locale", fs::copy_options::recursive);
  enum Stream { kOut, kErr };
  // Each case runs under both locales; the stream must hold every piece of
  // the locale's language.
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    Stream stream;
    std::vector<std::string> japanese, english;
    fs::path program = testing::kCliProgram;
  } cases[] = {
      {"help lists every key with its values and meaning",
       {"--help"},
       0,
       kOut,
       {"使い方: tarvel-cli", "--set KEY=VALUE のキー", "  PathDataFolder  フォルダ",
        "  LengthName  1～50。既定値 30", "  ID3TagTitle  0, 1 または 2。既定値 0",
        "タイトルについて同じ"},
       {"Usage: tarvel-cli", "Keys of --set KEY=VALUE", "  PathDataFolder  a folder",
        "  LengthName  1 to 50; default 30", "  ID3TagTitle  0, 1 or 2; default 0",
        "the same for the title text"}},
      {"a missing list: its name and the system's reason",
       Args({"--restore", missing_list}),
       2,
       kErr,
       {missing_list + ": 開けません (そのようなファイルやディレクトリはありません)"},
       {missing_list + ": cannot open (No such file or directory)"}},
      {"a missing data folder: its name and why",
       Args({missing_folder}),
       2,
       kErr,
       {"データフォルダ " + missing_folder + " を使えません: 存在しません"},
       {"the data folder " + missing_folder + " cannot be used: it does not exist"}},
      {"a data folder that is a file: its name and the system's reason",
       Args({plain_file}),
       1,
       kErr,
       {"一覧を取得できません: " + plain_file + "/: ディレクトリではありません"},
       {"cannot list " + plain_file + "/: Not a directory"}},
      {"the root folder: its name and why",
       Args({"/"}),
       2,
       kErr,
       {"データフォルダ / はルートフォルダ / で、ライブラリではありません"},
       {"the data folder / is the root folder /, not a library"}},
      {"an unknown setting",
       Args({"--set", "Colour=1", music_.native()}),
       2,
       kErr,
       {"不明な設定 \"Colour\"。設定のキーは次のとおりです: PathDataFolder, Player"},
       {"unknown setting \"Colour\"; the settings are PathDataFolder, Player"}},
      {"a usage error",
       {"--library", "x"},
       2,
       kErr,
       {"tarvel-cli: --library は --restore と一緒にだけ使えます"},
       {"tarvel-cli: --library goes with --restore only"}},
      {"the history",
       {"--history"},
       0,
       kOut,
       {"2026-12-07_140500", "（読めないリスト）",
        "保存場所は " + history + "。復元するには: tarvel-cli --restore NAME"},
       {"2026-12-07_140500", "(not a readable list)",
        "Kept in " + history + "; restore one with: tarvel-cli --restore NAME"}},
      {"a bad --set value",
       Args({"--set", "Player=3", music_.native()}),
       2,
       kErr,
       {"Player: \"3\" は使えません。使える値: 0, 1 または 2"},
       {"Player: \"3\" is not allowed; use 0, 1 or 2"}},
      {"a settings notice",
       {"--settings", bad_settings, "--check-only", music_.native()},
       0,
       kErr,
       {"設定 LengthName=99 は範囲外です: 1～50。既定値を使います: 30"},
       {"setting LengthName=99 is outside 1 to 50; using the default 30"}},
      {"no dic.csv: where it was looked for",
       {"--check-only", music_.native()},
       2,
       kErr,
       {"dic.csv: 見つかりません",
        "dic.csv を探した場所: " + (dir() / "xdg-config" / "tarvel").native()},
       {"dic.csv: not found",
        "dic.csv was looked for in: " + (dir() / "xdg-config" / "tarvel").native()},
       copy / "tarvel-cli"},
      // The log keeps its Japanese texts under both.
      {"the log",
       Args({"--check-only", "--set", "FlagPathSaveCSV=1", music_.native()}),
       0,
       kOut,
       {"ファイル名の取得を開始しています"},
       {"ファイル名の取得を開始しています"}},
  };
  for (const Case& c : cases) {
    for (const char* locale : {kJapanese, kEnglish}) {
      SCOPED_TRACE(std::string(c.what) + " under " + locale);
      const CliResult r = Run(locale, c.args, c.program);
      EXPECT_EQ(r.status, c.status) << r.err;
      const std::string& text = c.stream == kOut ? r.out : r.err;
      for (const std::string& piece : locale == kJapanese ? c.japanese : c.english) {
        EXPECT_NE(text.find(piece), std::string::npos) << piece << "\nin:\n" << text;
      }
    }
  }
}

// Every integer option the settings table holds has a meaning in --help.
TEST(HelpTextTest, EveryKeyOfTheSettingsTableHasItsMeaning) {
  const std::string help = SettingKeysHelp();
  for (const IntSetting& s : IntSettings()) {
    const std::string key(s.key.begin(), s.key.end());
    EXPECT_NE(SettingMeaning(s), nullptr) << key;
    EXPECT_NE(help.find("\n  " + key + "  "), std::string::npos) << key;
  }
}

// The progress line and the core's texts in Japanese, and the progress line
// cut to a terminal's width without splitting a character.
TEST(JapaneseTextTest, ProgressLineAndCoreTextsAreTranslated) {
  if (!LocaleExists(kJapanese)) GTEST_SKIP() << "the locale " << kJapanese << " is not installed";
  // Japanese messages while the character type stays C: the texts must still
  // come out as UTF-8, not as question marks.
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    saved.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    ::unsetenv(name);
  }
  ::setenv("LC_MESSAGES", kJapanese, 1);
  ::setenv("LANG", "C", 1);
  SetUpMessages(testing::kCliProgram);
  struct Case {
    std::string got;
    std::string want;
  } cases[] = {
      {ProgressLine(ProgressStage::kScan, 2500, 0, 1234.4),
       "フォルダを検索中: 2,500 フォルダ、1,234/秒"},
      {ProgressLine(ProgressStage::kConvert, 50, 200, -1), "変換中: 50 / 200 行 (25%)"},
      {TranslateCoreText("/m/a.mp3: cannot open"), "/m/a.mp3: 開けません"},
      // Only a phrase of its own is translated, not one inside a longer word.
      {TranslateCoreText("/m/refused-cannot openers.mp3: refused"),
       "/m/refused-cannot openers.mp3: 拒否されました"},
      {CutToColumns("変換中: 50", 7), "変換中:"},
      {CutToColumns("変換中: 50", 6), "変換中"},
      {CutToColumns("変換中: 50", 5), "変換"},
      // A character of four bytes (outside the basic plane) is one whole.
      {CutToColumns("a\xF0\x9F\x8E\xB5"
                    "bc",
                    4),
       "a\xF0\x9F\x8E\xB5"
       "b"},
      {std::to_string(DisplayColumns("変換中: 50")), "10"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
  for (size_t i = 0; i < std::size(names); ++i) {
    if (saved[i]) {
      ::setenv(names[i], saved[i]->c_str(), 1);
    } else {
      ::unsetenv(names[i]);
    }
  }
  std::setlocale(LC_MESSAGES, "C");
  std::setlocale(LC_CTYPE, "C");
}

}  // namespace
}  // namespace tarvel
