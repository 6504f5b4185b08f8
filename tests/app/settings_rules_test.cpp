// The rules between the options, the run refusals and the player presets,
// as the window and tarvel-cli both take them from the core.
#include "app/settings_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/presets.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;
using testing::WriteBytes;

constexpr std::u16string_view kRomaji = u"ローマ字ファイルがないために、この変換は使用できません";
constexpr std::u16string_view kLevelZero =
    u"日本語を変換しない場合、全角の検出チェックは無効になります";

// Settings with the two levels given.
Settings Levels(int32_t file_name, int32_t tag) {
  Settings s;
  s.ConvertLevelFilename = file_name;
  s.ConvertLevelID3Tag = tag;
  return s;
}

TEST(SettingsRulesTest, SettingsInChangesAndMessageOut) {
  using S = Settings;
  const std::vector<SettingChange> kBothLevelsOff = {{&S::ConvertLevelFilename, 0},
                                                     {&S::ConvertLevelID3Tag, 0}};
  struct {
    const char* name;
    RuleOutcome outcome;
    std::u16string_view message;
    std::vector<SettingChange> changes;
  } const kCases[] = {
      {"romaji names, no Rome.csv", RomajiRule(Levels(2, 1), false), kRomaji, kBothLevelsOff},
      {"romaji tags, no Rome.csv", RomajiRule(Levels(0, 2), false), kRomaji, kBothLevelsOff},
      {"romaji with Rome.csv", RomajiRule(Levels(2, 2), true), u"", {}},
      {"kana, no Rome.csv", RomajiRule(Levels(1, 1), false), u"", {}},
      {"level 0 names",
       LevelZeroRule(Levels(0, 2), Conversion::kFileName),
       kLevelZero,
       {{&S::FlagDetectFullCharFilename, 0}}},
      {"level 0 tags",
       LevelZeroRule(Levels(1, 0), Conversion::kID3Tag),
       kLevelZero,
       {{&S::FlagDetectFullCharID3Tag, 0}}},
      {"level 0 of the other conversion",
       LevelZeroRule(Levels(0, 1), Conversion::kID3Tag),
       u"",
       {}},
      {"romaji level", LevelZeroRule(Levels(2, 2), Conversion::kFileName), u"", {}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.outcome.message, c.message) << c.name;
    EXPECT_EQ(c.outcome.changes, c.changes) << c.name;
    EXPECT_EQ(c.outcome.applies(), !c.changes.empty()) << c.name;
  }
}

TEST(SettingsRulesTest, ChangesAreMadeInOrder) {
  Settings s = Levels(2, 2);
  const SettingChange changes[] = {{&Settings::ConvertLevelFilename, 0},
                                   {&Settings::LengthName, 12},
                                   {&Settings::ConvertLevelFilename, 1}};
  ApplyChanges(s, changes);
  EXPECT_EQ(s.ConvertLevelFilename, 1);
  EXPECT_EQ(s.LengthName, 12);
  EXPECT_EQ(s.ConvertLevelID3Tag, 2);
}

class RunRefusalTest : public testing::TempDirTest {};

TEST_F(RunRefusalTest, RomeTableIsLookedUpOnDiskAtEveryCall) {
  AppFolder folder;
  folder.table_dirs = {dir()};
  const Settings romaji = Levels(1, 2);
  EXPECT_EQ(RomajiRule(romaji, folder).message, kRomaji);
  WriteBytes(dir() / "rome.CSV", "\"ｱ\",\"a\"\r\n");  // found in any letter case
  EXPECT_FALSE(RomajiRule(romaji, folder).applies());
}

TEST_F(RunRefusalTest, NoRunWithoutTheReadingServiceOrWithRomajiAndNoRomeTable) {
  AppFolder folder;
  folder.table_dirs = {dir()};
  MecabReadingService missing((dir() / "no-dictionary").native());
  std::optional<std::u16string> refusal = ConversionRunRefusal(Levels(1, 1), folder, missing);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_TRUE(
      refusal->starts_with(u"読みの辞書（MeCab と IPA 辞書）を開けません。mecab-ipadic-utf8 "
                           u"をインストールしてください。"))
      << U8(*refusal);
  EXPECT_EQ(ReadingServiceRefusal(missing), refusal);

  MecabReadingService reading;
  if (!reading.IsAvailable()) GTEST_SKIP() << "no MeCab dictionary on this machine";
  EXPECT_EQ(ConversionRunRefusal(Levels(1, 1), folder, reading), std::nullopt);
  EXPECT_EQ(ConversionRunRefusal(Levels(2, 0), folder, reading), std::u16string(kRomaji));
}

TEST(PresetsTest, AssignmentsInOrderAndMessages) {
  using S = Settings;
  struct Assignment {
    int32_t S::*member;
    int32_t value;
  };
  struct {
    int index;
    std::string_view name;
    std::vector<Assignment> assignments;
    std::u16string_view message;
  } const kPresets[] = {
      {0,
       "other",
       {{&S::FlagConvertFilename, 1},
        {&S::FlagConvertID3Tag, 1},
        {&S::MaxFolderDepth, 8},
        {&S::MaxFolderCount, 255},
        {&S::MaxFilesInFolder, 255},
        {&S::MaxNameLength, 64},
        {&S::MaxMegabytes, 0}},
       u"各種設定を自由に設定できます"},
      {1,
       "z919",
       {{&S::FlagConvertFilename, 1},
        {&S::FlagCheckOnlyFilename, 1},
        {&S::FlagDicEnabledFilename, 1},
        {&S::FlagDetectFullCharFilename, 1},
        {&S::FlagLimit30Char, 1},
        {&S::LengthName, 30},
        {&S::FlagRenameFolderName, 1},
        {&S::ConvertLevelFilename, 1},
        {&S::FlagConvertID3Tag, 0},
        {&S::MaxFolderDepth, 8},
        {&S::MaxFolderCount, 255},
        {&S::MaxFilesInFolder, 255},
        {&S::MaxNameLength, 64},
        {&S::MaxMegabytes, 700}},
       u"ライティングはRomeoで行ってください。"},
      {2,
       "fcd7",
       {{&S::FlagConvertFilename, 0},
        {&S::FlagConvertID3Tag, 1},
        {&S::FlagCheckOnlyID3Tag, 1},
        {&S::FlagDicEnabledID3Tag, 1},
        {&S::FlagDetectFullCharID3Tag, 1},
        {&S::ConvertLevelID3Tag, 1},
        {&S::ID3TagArtist, 2},
        {&S::ID3TagAlbum, 1},
        {&S::ID3TagTitle, 0},
        {&S::MaxFolderDepth, 8},
        {&S::MaxFolderCount, 255},
        {&S::MaxFilesInFolder, 255},
        {&S::MaxNameLength, 64},
        {&S::MaxMegabytes, 700}},
       u"この設定は、ID3Tagのアルバム名にMP3ファイルのあるフォルダ名が反映されます。"
       u"フォルダ名にはアーティストの名前を設定しておいてください。\r\n"
       u"f-CD7の表示設定は、上段にID3Tagのアルバム名とアーティスト名を、下段にスペアナをお勧めし"
       u"ます。\r\n"
       u"また、ライティングはRomeoで行ってください。"},
  };
  for (const auto& p : kPresets) {
    SCOPED_TRACE(p.name);
    const auto made = PresetAssignments(p.index);
    ASSERT_EQ(made.size(), p.assignments.size());
    for (size_t i = 0; i < made.size(); ++i) {
      EXPECT_EQ(made[i].member, p.assignments[i].member) << i;
      EXPECT_EQ(made[i].value, p.assignments[i].value) << i;
    }
    EXPECT_EQ(PresetMessage(p.index), p.message);
    EXPECT_EQ(PresetName(p.index), p.name);
    EXPECT_EQ(FindPreset(p.name), p.index);

    // Applying sets Player and exactly the listed options.
    Settings opposite;
    for (const IntSetting& option : IntSettings()) opposite.*option.member = 7;
    Settings expected = opposite;
    expected.Player = p.index;
    for (const Assignment& a : p.assignments) expected.*a.member = a.value;
    ApplyPreset(opposite, p.index);
    EXPECT_EQ(opposite, expected);
  }
  EXPECT_EQ(FindPreset("FCD7"), 2);
  EXPECT_EQ(FindPreset("f-cd7"), std::nullopt);
  EXPECT_EQ(FindPreset(""), std::nullopt);
  EXPECT_TRUE(PresetAssignments(3).empty());
  Settings untouched;
  ApplyPreset(untouched, -1);
  EXPECT_EQ(untouched, Settings{});
}

}  // namespace
}  // namespace tarvel
