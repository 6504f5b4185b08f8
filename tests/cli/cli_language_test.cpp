// tarvel-cli's own messages follow the locale: Japanese under a Japanese
// locale, English otherwise, with the core's reasons and the system's error
// texts translated alike, while the log keeps its Japanese texts.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
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
  CliResult Run(const char* locale, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"LANGUAGE=", std::string("LC_ALL=") + locale,
                                    testing::kCliProgram.native()};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram("/usr/bin/env", all, dir());
  }
};

TEST_F(CliLanguageTest, MessagesFollowTheLocale) {
  const std::string missing_list = (dir() / "gone" / "list.csv").native();
  const std::string missing_folder = (dir() / "no-such-folder").native();
  const std::string history = (dir() / "xdg-data" / "tarvel" / "history").native();
  struct Case {
    const char* what;
    const char* locale;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> out, err;  // pieces each stream must hold
  } cases[] = {
      {"help lists the keys",
       kJapanese,
       {"--help"},
       0,
       {"使い方: tarvel-cli", "--set KEY=VALUE のキー", "  PathDataFolder  フォルダ",
        "  LengthName  1～50。既定値 30", "  ID3TagTitle  0, 1 または 2。既定値 0"},
       {}},
      {"help lists the keys",
       kEnglish,
       {"--help"},
       0,
       {"Usage: tarvel-cli", "Keys of --set KEY=VALUE", "  LengthName  1 to 50; default 30",
        "  ID3TagTitle  0, 1 or 2; default 0"},
       {}},
      {"a missing list: its name and the system's reason",
       kJapanese,
       Args({"--restore", missing_list}),
       2,
       {},
       {missing_list + ": 開けません (そのようなファイルやディレクトリはありません)"}},
      {"a missing list: its name and the system's reason",
       kEnglish,
       Args({"--restore", missing_list}),
       2,
       {},
       {missing_list + ": cannot open (No such file or directory)"}},
      {"a missing data folder: its name and why",
       kJapanese,
       Args({missing_folder}),
       2,
       {},
       {"データフォルダ " + missing_folder + " を使えません: 存在しません"}},
      {"a missing data folder: its name and why",
       kEnglish,
       Args({missing_folder}),
       2,
       {},
       {"the data folder " + missing_folder + " cannot be used: it does not exist"}},
      {"an unknown setting",
       kJapanese,
       Args({"--set", "Colour=1", music_.native()}),
       2,
       {},
       {"不明な設定 \"Colour\"。設定のキーは次のとおりです: PathDataFolder, Player"}},
      {"an unknown setting",
       kEnglish,
       Args({"--set", "Colour=1", music_.native()}),
       2,
       {},
       {"unknown setting \"Colour\"; the settings are PathDataFolder, Player"}},
      {"a usage error",
       kJapanese,
       {"--library", "x"},
       2,
       {},
       {"--library は --restore と一緒にだけ使えます"}},
      {"a usage error",
       kEnglish,
       {"--library", "x"},
       2,
       {},
       {"--library goes with --restore only"}},
      {"an empty history",
       kJapanese,
       {"--history"},
       0,
       {history + " に保存された実行はありません"},
       {}},
      {"an empty history", kEnglish, {"--history"}, 0, {"No runs are kept in " + history}, {}},
      // The log is the same Japanese under both.
      {"the log stays Japanese",
       kEnglish,
       Args({"--check-only", music_.native()}),
       0,
       {"ファイル名の取得を開始しています"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " under " + c.locale);
    const CliResult r = Run(c.locale, c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    for (const std::string& piece : c.out) EXPECT_NE(r.out.find(piece), std::string::npos) << r.out;
    for (const std::string& piece : c.err) EXPECT_NE(r.err.find(piece), std::string::npos) << r.err;
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
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("LC_ALL", kJapanese, 1);
  ::unsetenv("LANGUAGE");
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
      {std::to_string(DisplayColumns("変換中: 50")), "10"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
  if (old != nullptr) {
    ::setenv("LC_ALL", saved.c_str(), 1);
  } else {
    ::unsetenv("LC_ALL");
  }
  std::setlocale(LC_MESSAGES, "C");
  std::setlocale(LC_CTYPE, "C");
}

}  // namespace
}  // namespace tarvel
