// The music dictionary through the real reading service: every entry reads as
// written in data/music_dic.csv, texts it has no entry for read as they did
// without it, and a missing or broken dictionary file leaves the service
// working on the IPA dictionary alone. Also the build step that turns the
// entries into MeCab's format, which must stop on a malformed line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/mecab_reading.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;

constexpr char kIpadic[] = "/var/lib/mecab/dic/ipadic-utf8";
constexpr char kMusicDic[] = TARVEL_BINARY_DIR "/music.dic";
constexpr char kEntries[] = TARVEL_SOURCE_DIR "/data/music_dic.csv";

struct Entry {
  int line = 0;
  std::u16string surface, reading;
};

// The entries of the source file, as the build step reads them.
std::vector<Entry> ReadEntries() {
  std::ifstream in(kEntries, std::ios::binary);
  EXPECT_TRUE(in) << kEntries;
  std::vector<Entry> entries;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    const size_t first = line.find(',');
    const size_t second = line.find(',', first + 1);
    EXPECT_NE(second, std::string::npos) << "line " << number;
    if (second == std::string::npos) continue;
    entries.push_back({number, Utf8ToUtf16Lossy(line.substr(0, first)),
                       Utf8ToUtf16Lossy(line.substr(first + 1, second - first - 1))});
  }
  return entries;
}

class MusicDictionaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(std::filesystem::path(kIpadic) / "sys.dic")) {
      GTEST_SKIP() << "the UTF-8 IPA dictionary is not installed at " << kIpadic;
    }
    ASSERT_TRUE(std::filesystem::is_regular_file(kMusicDic)) << "the build made no " << kMusicDic;
  }
  // The reading in katakana: the service gives katakana for the words it
  // reads and keeps the kana of the text as written.
  static std::u16string Read(MecabReadingService& service, std::u16string_view text) {
    return HiraganaToKatakana(service.GetPhonetic(text).value_or(u"(failed)"));
  }
};

TEST_F(MusicDictionaryTest, ReadsEveryEntryAsWritten) {
  MecabReadingService service(kIpadic, kMusicDic);
  ASSERT_TRUE(service.IsAvailable()) << service.LastError();
  ASSERT_TRUE(service.UsesUserDictionary());
  // A service for another thread reads with the same dictionaries.
  std::unique_ptr<ReadingService> other = service.NewForAnotherThread();
  auto* twin = dynamic_cast<MecabReadingService*>(other.get());
  ASSERT_NE(twin, nullptr);
  EXPECT_TRUE(twin->UsesUserDictionary());
  const std::vector<Entry> entries = ReadEntries();
  ASSERT_GE(entries.size(), 500u);
  for (const Entry& e : entries) {
    EXPECT_EQ(U8(Read(service, e.surface)), U8(e.reading)) << "line " << e.line;
    EXPECT_EQ(U8(Read(*twin, e.surface)), U8(e.reading)) << "line " << e.line;
  }
}

// An entry earns its place by fixing a reading: the IPA dictionary alone
// reads (nearly) every one of them otherwise.
TEST_F(MusicDictionaryTest, EntriesAreReadOtherwiseWithoutIt) {
  MecabReadingService plain(kIpadic);
  ASSERT_TRUE(plain.IsAvailable()) << plain.LastError();
  const std::vector<Entry> entries = ReadEntries();
  std::vector<std::string> already_right;
  for (const Entry& e : entries) {
    if (Read(plain, e.surface) == e.reading) already_right.push_back(U8(e.surface));
  }
  std::string list;
  for (const std::string& s : already_right) list += s + " ";
  std::cout << already_right.size() << " of " << entries.size()
            << " entries read right without the music dictionary\n";
  EXPECT_LE(already_right.size() * 50, entries.size())
      << "more than 2% of the entries read right without the dictionary: " << list;
}

// Texts the dictionary has no entry for read the same with it: titles,
// names and the program's own messages from the other tests, and common
// words, some beside an entry's parts (今夜空 holds 夜空, 一人旅行 一人旅).
TEST_F(MusicDictionaryTest, KeepsTheReadingOfOtherTexts) {
  static constexpr std::u16string_view kTexts[] = {
      u"01 東京の夜.mp3",
      u"日本語",
      u"佐々木",
      u"  東京 (Live)  ",
      u"東京\t\t夜",
      u"😀東京😀",
      u"2人の夜",
      u"第2章 始まり",
      u"01 夜Blue.mp3",
      u"東京 2つ",
      u"1人旅",
      u"7日",
      u"12人",
      u"2.5人",
      u"12月の雨",
      u"24時間",
      u"365日",
      u"第二章",
      u"東京都",
      u"東京東京東京",
      u"三ヶ月.mp3",
      u"霞ヶ関ブルース.mp3",
      u"未来→過去.mp3",
      u"漢字三",
      u"君の名は。.mp3",
      u"ありがとう、さようなら.mp3",
      u"長すぎるファイル名を検出しました。",
      u"処理を中断します。",
      u"全角→半角に変換できなかった文字",
      u"異常なファイル名を検出しました。",
      u"今夜空いてる",
      u"昨夜風邪をひいた",
      u"一人旅行",
      u"今日は雨が降る",
      u"明日の天気",
      u"大阪の街",
      u"今日の空は青い",
      u"夜空の下で",
      u"夢を見た",
      u"春が来た",
      u"夏の海",
      u"秋の夜長",
      u"冬の朝",
      u"小学校の先生",
      u"高校生の頃",
      u"電車に乗る",
      u"携帯電話",
      u"音楽を聴く",
      u"歌を歌う",
      u"恋人たち",
      u"友達と遊ぶ",
      u"家族の写真",
      u"子供の頃",
      u"母の日",
      u"父の背中",
      u"学校の帰り道",
      u"駅前の店",
      u"新しい朝",
      u"古い写真",
      u"赤い靴",
      u"青い鳥",
      u"白い雪",
      u"黒い猫",
      u"花が咲く",
      u"風が吹く",
      u"星が光る",
      u"月の光",
      u"太陽の下",
      u"山の上",
      u"川の流れ",
      u"海の底",
      u"空を飛ぶ",
      u"心の中",
      u"君に会いたい",
      u"僕の名前",
      u"東京駅",
      u"新宿駅",
      u"渋谷区",
      u"京都市",
      u"北海道",
      u"沖縄県",
      u"日本武道館",
      u"山田太郎",
      u"鈴木一郎",
      u"佐藤花子",
      u"森の中",
      u"桜の花",
      u"雪が降る",
      u"女の子",
      u"男の子",
      u"夜明け前",
      u"真夜中",
      u"愛と平和",
      u"希望の光",
      u"未来へ",
      u"青春",
  };
  MecabReadingService plain(kIpadic);
  MecabReadingService music(kIpadic, kMusicDic);
  for (std::u16string_view text : kTexts) {
    EXPECT_EQ(U8(Read(music, text)), U8(Read(plain, text))) << U8(text);
  }
}

// Whatever is wrong with the dictionary file, the service reads with the IPA
// dictionary alone, as it does without one.
TEST_F(MusicDictionaryTest, WorksWithoutAUsableDictionaryFile) {
  testing::TempDir dir;
  testing::WriteBytes(dir.path() / "empty.dic", "");
  testing::WriteBytes(dir.path() / "garbage.dic", std::string(4096, '\x5a'));
  testing::WriteBytes(dir.path() / "music_dic.csv", "星野源,ホシノゲン,artist\n");
  std::filesystem::create_directory(dir.path() / "folder.dic");
  const std::filesystem::path kFiles[] = {
      dir.path() / "missing.dic",   dir.path() / "empty.dic",  dir.path() / "garbage.dic",
      dir.path() / "music_dic.csv", dir.path() / "folder.dic",
  };
  MecabReadingService plain(kIpadic);
  const std::u16string plain_reading = Read(plain, u"星野源の東京");
  ASSERT_NE(plain_reading, u"ホシノゲンノトウキョウ");  // or the case below proves nothing
  // Available, without the file, with no error kept, reading as without it.
  auto state = [](MecabReadingService& service) {
    const bool available = service.IsAvailable();
    return std::string(available ? "available" : "unavailable") +
           (service.UsesUserDictionary() ? " with" : " without") + " the file; error: \"" +
           service.LastError() + "\"; " + U8(Read(service, u"星野源の東京"));
  };
  const std::string expected = "available without the file; error: \"\"; " + U8(plain_reading);
  for (const auto& file : kFiles) {
    MecabReadingService service(kIpadic, file.string());
    EXPECT_EQ(state(service), expected) << file;
  }
  // With the real file the same text changes.
  MecabReadingService music(kIpadic, kMusicDic);
  EXPECT_EQ(U8(Read(music, u"星野源の東京")), "ホシノゲンノトウキョウ");
}

// The service rests after each pass: the next pass reads with the
// dictionary file as it is then, not with readings remembered from before.
TEST_F(MusicDictionaryTest, AServiceAtRestReadsWithTheDictionaryAsItIsNow) {
  testing::TempDir dir;
  const std::filesystem::path file = dir.path() / "music.dic";
  std::filesystem::copy_file(kMusicDic, file);
  MecabReadingService service(kIpadic, file.string());
  EXPECT_EQ(U8(Read(service, u"星野源の東京")), "ホシノゲンノトウキョウ");
  std::filesystem::remove(file);
  service.Rest();
  MecabReadingService plain(kIpadic);
  EXPECT_EQ(U8(Read(service, u"星野源の東京")), U8(Read(plain, u"星野源の東京")));
}

// The build step refuses a malformed line, says which one and why, and
// leaves no output behind.
class MusicDicScriptTest : public ::testing::Test {
 protected:
  struct Run {
    int status = -1;
    std::string errors;
  };
  void SetUp() override {
    if (!std::filesystem::exists("/usr/share/mecab/dic/ipadic/left-id.def")) {
      GTEST_SKIP() << "the IPA dictionary's sources (mecab-ipadic) are not installed";
    }
  }
  // What the run said about line `line` of its input, or "(nothing)".
  static std::string MessageAbout(const std::string& errors, int line) {
    const std::string where = "in.csv:" + std::to_string(line) + ": ";
    const size_t at = errors.find(where);
    if (at == std::string::npos) return "(nothing)";
    return errors.substr(at + where.size(), errors.find('\n', at) - at - where.size());
  }
  Run Convert(std::string_view source) {
    testing::WriteBytes(dir_.path() / "in.csv", source);
    const std::string command = "python3 '" TARVEL_SOURCE_DIR "/scripts/music-dic' '" +
                                (dir_.path() / "in.csv").string() + "' '" + out().string() +
                                "' 2>'" + (dir_.path() / "err.txt").string() + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            testing::ReadBytes(dir_.path() / "err.txt")};
  }
  std::filesystem::path out() const { return dir_.path() / "out.csv"; }
  testing::TempDir dir_;
};

TEST_F(MusicDicScriptTest, StopsOnAMalformedLine) {
  struct {
    std::string_view line, why;
  } const kCases[] = {
      {"星野源,ホシノゲン", "2 fields, not 3"},
      {"星野源,ホシノゲン,artist,x", "4 fields, not 3"},
      {"星野源,,artist", "empty reading"},
      {",ホシノゲン,artist", "empty surface"},
      {"星野源,ほしのげん,artist", "not in full-width katakana"},
      {"星野源,ﾎｼﾉｹﾞﾝ,artist", "not in full-width katakana"},
      {"星野源,ホシノ ゲン,artist", "not in full-width katakana"},
      {"星野源,ホシノゲン,singer", "unknown category"},
      {"Ｂ'z星野,ビーズ,band", "ASCII"},
      {"あいみょん,アイミョン,artist", "has no kanji"},
  };
  // Every line is checked in one run, each reported with its number; the
  // good line among them does not make an output either.
  std::string source = "# a comment\n\n夜桜,ヨザクラ,compound\n";
  for (const auto& c : kCases) source += std::string(c.line) + "\n";
  source += "夜桜,ヨザクラ,compound\n";
  Run run = Convert(source);
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(std::filesystem::exists(out()));
  int line = 4;
  for (const auto& c : kCases) {
    EXPECT_THAT(MessageAbout(run.errors, line++), ::testing::HasSubstr(c.why)) << c.line;
  }
  EXPECT_EQ(MessageAbout(run.errors, line), "夜桜 is already on line 3");
}

TEST_F(MusicDicScriptTest, WritesTheIpaFormWithThePartOfSpeechOfTheCategory) {
  Run run = Convert("星野源,ホシノゲン,artist\n冬景色,フユゲシキ,compound\n天城,アマギ,place\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  // The ids are those of the part of speech in the IPA dictionary's
  // left-id.def and right-id.def.
  EXPECT_EQ(testing::ReadBytes(out()),
            "星野源,1289,1289,1000,名詞,固有名詞,人名,一般,*,*,星野源,ホシノゲン,ホシノゲン\n"
            "冬景色,1285,1285,1000,名詞,一般,*,*,*,*,冬景色,フユゲシキ,フユゲシキ\n"
            "天城,1293,1293,1000,名詞,固有名詞,地域,一般,*,*,天城,アマギ,アマギ\n");
}

}  // namespace
}  // namespace tarvel
