#include "rules/repairs.h"

#include <gtest/gtest.h>

#include "rules_test_support.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::RulesFixture;
using testing::U8;

std::u16string Notice(std::u16string_view message, std::u16string_view name,
                      std::u16string_view action = u"　修正して処理を続行します。") {
  return std::u16string(message) + u"\r\n　ファイル名　：　" + std::u16string(name) + u"\r\n" +
         std::u16string(action) + u"\r\n";
}

constexpr std::u16string_view kShort = u"異常に短いファイル名を検出しました。";
constexpr std::u16string_view kCdr = u"CDRに焼けない文字を検出しました。";
constexpr std::u16string_view kAbnormal = u"異常なファイル名を検出しました。";
constexpr std::u16string_view kBadExtension = u"不正な拡張子を検出しました。";
constexpr std::u16string_view kBadName = u"不正なファイル名を検出しました。";
constexpr std::u16string_view kTooLong = u"長すぎるファイル名を検出しました。";
constexpr std::u16string_view kCut = u"　長さを制限して処理を続行します。";

using Step = int (*)(std::u16string&, AppState&);

struct RepairCase {
  std::u16string_view input, expected;
  std::u16string expected_log;
};

void RunCases(Step step, const std::vector<RepairCase>& cases, int length_name = 30) {
  for (const auto& c : cases) {
    RulesFixture f;
    f.app.settings.FlagDisplayLog = 0;  // repair notices are logged regardless
    f.app.settings.LengthName = length_name;
    std::u16string name(c.input);
    EXPECT_EQ(step(name, f.app), 1) << U8(c.input);
    EXPECT_EQ(name, c.expected) << U8(c.input) << " -> " << U8(name);
    EXPECT_EQ(f.ui.log, c.expected_log) << U8(c.input) << "\n" << U8(f.ui.log);
    EXPECT_TRUE(f.ui.messages.empty());
  }
}

TEST(ReplaceInvalidCharsTest, BlanksCharactersACdrCannotHold) {
  RunCases(
      ReplaceInvalidChars,
      {
          {u"a:b.mp3", u"a b.mp3", Notice(kCdr, u"a:b.mp3")},
          {u"a?b*.mp3", u"a b .mp3", Notice(kCdr, u"a?b*.mp3") + Notice(kCdr, u"a b*.mp3")},
          {u"\\/:,;*?\"<>|", u"           ",
           [] {
             std::u16string log, name = u"\\/:,;*?\"<>|";
             for (size_t i = 0; i < name.size(); ++i) {
               log += Notice(kCdr, name);
               name[i] = u' ';
             }
             return log;
           }()},
          {u"|song.mp3|", u" song.mp3 ", Notice(kCdr, u"|song.mp3|") + Notice(kCdr, u" song.mp3|")},
          {u"a：b.mp3", u"a：b.mp3", u""},  // full-width forms stay
          {u"a.mp3", u"a.mp3", u""},
          {u".mp3", u"UnknownFileName.mp3", Notice(kShort, u".mp3")},
          {u"a:b", u"UnknownFileName.mp3", Notice(kShort, u"a:b")},
          {u"", u"UnknownFileName.mp3", Notice(kShort, u"")},
      });
}

// A CD-R cannot hold control characters either; they are blanked like the
// eleven, one notice each.
TEST(ReplaceInvalidCharsTest, BlanksControlCharacters) {
  const std::u16string with_nul(u"a\0b.mp3", 7);
  RunCases(
      ReplaceInvalidChars,
      {
          {u"a\nb.mp3", u"a b.mp3", Notice(kCdr, u"a\nb.mp3")},
          {u"\ta\x7F.mp3", u" a .mp3", Notice(kCdr, u"\ta\x7F.mp3") + Notice(kCdr, u" a\x7F.mp3")},
          {with_nul, u"a b.mp3", Notice(kCdr, with_nul)},
          {u"a\x1F\x20\x7E\x80.mp3", u"a  ~\x80.mp3", Notice(kCdr, u"a\x1F\x20\x7E\x80.mp3")},
          {u"\r\n", u"UnknownFileName.mp3", Notice(kShort, u"\r\n")},
      });
  RunCases(ReplaceInvalidCharsInFolderName,
           {{u"\r\n", u"  ", Notice(kCdr, u"\r\n") + Notice(kCdr, u" \n")}});
}

TEST(ReplaceInvalidCharsTest, FolderNamesHaveNoShortestLength) {
  RunCases(ReplaceInvalidCharsInFolderName, {
                                                {u"Jazz", u"Jazz", u""},
                                                {u"a:b", u"a b", Notice(kCdr, u"a:b")},
                                                {u"", u"", u""},
                                            });
}

TEST(CheckExtensionTest, LeavesExactlyOneMp3Extension) {
  RunCases(
      CheckExtension,
      {
          {u"song.mp3", u"song.mp3", u""},
          {u"Song.MP3", u"Song.MP3", u""},
          {u"Song.Mp3", u"Song.Mp3", u""},
          {u"song.ｍｐ３", u"song.ｍｐ３", u""},  // text comparison ignores width
          {u"a.b.mp3", u"a b.mp3", Notice(kBadName, u"a.b.mp3")},
          {u"a..b.mp3", u"a  b.mp3", Notice(kBadName, u"a..b.mp3") + Notice(kBadName, u"a .b.mp3")},
          {u"song.mp3.bak", u"song.mp3", Notice(kBadExtension, u"song.mp3.bak")},
          {u"song.mp3x", u"song.mp3", Notice(kBadExtension, u"song.mp3x")},
          {u"song.MP3.mp3", u"song.MP3", Notice(kBadExtension, u"song.MP3.mp3")},
          {u"song.mp", u"UnknownFileName.mp3", Notice(kAbnormal, u"song.mp")},
          {u"a.wav.x", u"UnknownFileName.mp3",
           Notice(kBadName, u"a.wav.x") + Notice(kAbnormal, u"a wav.x")},
          {u"song.", u"UnknownFileName.mp3", Notice(kAbnormal, u"song.")},
          {u"no extension", u"no extension", u""},
          {u"song。mp3", u"song。mp3", u""},  // only the ASCII full stop counts
          {u".mp3", u"UnknownFileName.mp3", Notice(kShort, u".mp3")},
          {u"UnknownFileName.mp3", u"UnknownFileName.mp3", u""},
      });
}

TEST(LimitFileNameLengthTest, CutsTheBaseToLengthName) {
  const std::u16string base30(30, u'x');
  const std::u16string base31 = base30 + u"y";
  RunCases(LimitFileNameLength,
           {
               {base30 + u".mp3", base30 + u".mp3", u""},
               {base31 + u".mp3", base30 + u".mp3", Notice(kTooLong, base31 + u".mp3", kCut)},
               {base31 + u".MP3", base30 + u".mp3", Notice(kTooLong, base31 + u".MP3", kCut)},
               {u"Song.MP3", u"Song.MP3", u""},
               {u"song.wav", u"UnknownFileName.mp3", Notice(kAbnormal, u"song.wav")},
               {u"abcd", u"UnknownFileName.mp3", Notice(kShort, u"abcd")},
           });
  RunCases(LimitFileNameLength,
           {
               {u"UnknownFileName.mp3", u"UnknownFil.mp3",
                Notice(kTooLong, u"UnknownFileName.mp3", kCut)},
               {u"0123456789.mp3", u"0123456789.mp3", u""},
           },
           10);
  RunCases(LimitFileNameLength, {{u"ab.mp3", u".mp3", Notice(kTooLong, u"ab.mp3", kCut)}}, 0);
  RunCases(LimitFileNameLength, {{u"ab.mp3", u".mp3", Notice(kTooLong, u"ab.mp3", kCut)}}, -5);
  // A cut never splits a character outside the basic plane.
  RunCases(LimitFileNameLength, {{u"a😀b.mp3", u"a.mp3", Notice(kTooLong, u"a😀b.mp3", kCut)}}, 2);
}

TEST(LimitFolderNameLengthTest, CutsTheWholeName) {
  auto folder_notice = [](std::u16string_view name) {
    return u"長すぎるフォルダ名を検出しました。\r\n　フォルダ名　：　" + std::u16string(name) +
           u"\r\n　長さを制限して処理を続行します。\r\n";
  };
  const std::u16string name30(30, u'f');
  RunCases(LimitFolderNameLength, {
                                      {name30, name30, u""},
                                      {name30 + u"g", name30, folder_notice(name30 + u"g")},
                                      {u"Jazz.mp3", u"Jazz.mp3", u""},
                                  });
  RunCases(LimitFolderNameLength,
           {{u"Jazz", u"Jaz", folder_notice(u"Jazz")}, {u"Jaz", u"Jaz", u""}}, 3);
}

}  // namespace
}  // namespace tarvel
