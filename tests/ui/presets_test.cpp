// The player presets on the main window: what each sets and keeps, their
// cascades through the enabling rules, their messages, and a press on the
// preset already selected.
#include <gtest/gtest.h>

#include <QTest>
#include <functional>

#include "app/settings.h"
#include "window_fixture.h"

namespace tarvel {
namespace {

class PresetTest : public testing::WindowTest {};

// Stored options opposite to what the presets set, so that every assignment
// shows (and every "keep" would show if it were broken).
constexpr char kOpposite[] =
    "Player=0\r\nFlagConvertFilename=1\r\nFlagCheckOnlyFilename=0\r\nFlagDicEnabledFilename=0\r\n"
    "FlagDetectFullCharFilename=0\r\nFlagLimit30Char=0\r\nLengthName=12\r\nFlagRenameFolderName="
    "0\r\n"
    "ConvertLevelFilename=2\r\nFlagConvertID3Tag=0\r\nFlagCheckOnlyID3Tag=0\r\n"
    "FlagDicEnabledID3Tag=0\r\nFlagDetectFullCharID3Tag=0\r\nConvertLevelID3Tag=2\r\n"
    "ID3TagArtist=1\r\nID3TagAlbum=2\r\nID3TagTitle=1\r\nMaxFolderDepth=3\r\nMaxFolderCount=3\r\n"
    "MaxFilesInFolder=3\r\nMaxNameLength=3\r\nMaxMegabytes=3\r\n";

TEST_F(PresetTest, EachPresetSetsItsOptionsKeepsTheRestAndExplains) {
  struct Case {
    int index;
    Settings expected;  // from kOpposite after the preset
    std::u16string_view message;
  };
  const Settings base{.PathDataFolder = {},
                      .Player = 0,
                      .FlagRenameFolderName = 0,
                      .FlagConvertFilename = 1,
                      .FlagCheckOnlyFilename = 0,
                      .FlagLimit30Char = 0,
                      .LengthName = 12,
                      .FlagDicEnabledFilename = 0,
                      .FlagDetectFullCharFilename = 0,
                      .ConvertLevelFilename = 2,
                      .FlagConvertID3Tag = 0,
                      .FlagCheckOnlyID3Tag = 0,
                      .FlagDicEnabledID3Tag = 0,
                      .FlagDetectFullCharID3Tag = 0,
                      .ConvertLevelID3Tag = 2,
                      .ID3TagArtist = 1,
                      .ID3TagAlbum = 2,
                      .ID3TagTitle = 1,
                      .MaxFolderDepth = 3,
                      .MaxFolderCount = 3,
                      .MaxFilesInFolder = 3,
                      .MaxNameLength = 3,
                      .MaxMegabytes = 3};
  // The limits every preset sets, and the size of a CD for the car players.
  const auto limits = [](Settings& s, int32_t megabytes) {
    s.MaxFolderDepth = 8;
    s.MaxFolderCount = s.MaxFilesInFolder = 255;
    s.MaxNameLength = 64;
    s.MaxMegabytes = megabytes;
  };
  Settings z919 = base;
  z919.Player = 1;
  z919.FlagCheckOnlyFilename = z919.FlagDicEnabledFilename = z919.FlagDetectFullCharFilename = 1;
  z919.FlagLimit30Char = z919.FlagRenameFolderName = z919.ConvertLevelFilename = 1;
  z919.LengthName = 30;
  limits(z919, 700);
  Settings fcd7 = base;
  fcd7.Player = 2;
  fcd7.FlagConvertFilename = 0;
  fcd7.FlagConvertID3Tag = fcd7.FlagCheckOnlyID3Tag = fcd7.FlagDicEnabledID3Tag = 1;
  fcd7.FlagDetectFullCharID3Tag = fcd7.ConvertLevelID3Tag = 1;
  fcd7.ID3TagArtist = 2;
  fcd7.ID3TagAlbum = 1;
  fcd7.ID3TagTitle = 0;
  limits(fcd7, 700);
  Settings other = base;
  other.FlagConvertID3Tag = 1;
  limits(other, 0);
  const Case cases[] = {
      {kPresetZ919, z919, u"ライティングはRomeoで行ってください。"},
      {kPresetFCD7, fcd7,
       u"この設定は、ID3Tagのアルバム名にMP3ファイルのあるフォルダ名が反映されます。"
       u"フォルダ名にはアーティストの名前を設定しておいてください。\r\n"
       u"f-CD7の表示設定は、上段にID3Tagのアルバム名とアーティスト名を、下段にスペアナをお勧めし"
       u"ます。\r\nまた、ライティングはRomeoで行ってください。"},
      {kPresetOther, other, u"各種設定を自由に設定できます"},
  };
  AddRome();
  for (const Case& k : cases) {
    SCOPED_TRACE(k.index);
    window_.reset();
    said_.clear();
    app_ = AppState();
    Open(kOpposite);
    Settings expected = k.expected;
    expected.PathDataFolder = app_.settings.PathDataFolder;
    // "それ以外" is the stored preset: select another first, and turn both
    // conversions off, quietly, so that both of its assignments show.
    if (k.index == kPresetOther) {
      window_->hide();
      c().optPlayer->button(kPresetZ919)->setChecked(true);
      c().chkFlagConvertFilename->setChecked(false);
      window_->show();
      window_->UpdateSettings();
      ASSERT_EQ(app_.settings.FlagConvertFilename, 0);
      ASSERT_EQ(app_.settings.FlagConvertID3Tag, 0);
      expected = app_.settings;
      expected.Player = 0;
      expected.FlagConvertFilename = 1;
      expected.FlagConvertID3Tag = 1;
      limits(expected, 0);
    }
    said_.clear();
    c().optPlayer->button(k.index)->setChecked(true);
    EXPECT_EQ(app_.settings, expected);
    ASSERT_EQ(said_.size(), 1u);
    EXPECT_EQ(said_[0].title, QString::fromUtf16(kPresetMessageTitle));
    EXPECT_EQ(said_[0].text, QString::fromUtf16(k.message.data(), k.message.size()));
  }
}

TEST_F(PresetTest, FCD7GreysOutTheFileNameOptionsAndKeepsTheirValues) {
  Open("Player=1\r\nFlagCheckOnlyFilename=0\r\nLengthName=12\r\n");
  c().optPlayer->button(kPresetFCD7)->setChecked(true);
  EXPECT_FALSE(c().chkFlagConvertFilename->isChecked());
  for (QWidget* d : std::initializer_list<QWidget*>{
           c().chkFlagCheckOnlyFilename, c().chkFlagLimit30Char, c().txtLengthName,
           c().chkFlagDicEnabledFilename, c().chkFlagDetectFullCharFilename,
           c().chkFlagRenameFolderName, c().optConvertLevelFilename->button(1)}) {
    EXPECT_FALSE(d->isEnabled()) << d->objectName().toStdString();
  }
  EXPECT_EQ(app_.settings.FlagCheckOnlyFilename, 0);
  EXPECT_EQ(app_.settings.LengthName, 12);
  EXPECT_TRUE(c().tabID3Tag->isEnabled());
}

TEST_F(PresetTest, OtherAfterZ919KeepsZ919NameOptionsAndTurnsTagsOn) {
  Open("Player=0\r\nFlagCheckOnlyFilename=0\r\nFlagLimit30Char=0\r\nFlagRenameFolderName=0\r\n");
  c().optPlayer->button(kPresetZ919)->setChecked(true);
  EXPECT_FALSE(c().chkFlagCheckOnlyID3Tag->isEnabled());
  c().optPlayer->button(kPresetOther)->setChecked(true);
  EXPECT_EQ(app_.settings.FlagCheckOnlyFilename, 1);
  EXPECT_EQ(app_.settings.FlagLimit30Char, 1);
  EXPECT_EQ(app_.settings.FlagRenameFolderName, 1);
  EXPECT_EQ(app_.settings.FlagConvertID3Tag, 1);
  EXPECT_TRUE(c().chkFlagCheckOnlyID3Tag->isEnabled());
  EXPECT_EQ(app_.settings.Player, 0);
}

// The Z919 preset moves the file-name level away from romaji; without
// Rome.csv the stored romaji level was already refused at load.
TEST_F(PresetTest, Z919CascadeThroughTheLevelRules) {
  Open("Player=0\r\nConvertLevelFilename=0\r\n");
  ASSERT_EQ(app_.settings.FlagDetectFullCharFilename, 0);
  said_.clear();
  c().optPlayer->button(kPresetZ919)->setChecked(true);
  // Full-width detection is set before the level: level 1 brings no notice.
  EXPECT_EQ(said_.size(), 1u);
  EXPECT_EQ(app_.settings.ConvertLevelFilename, 1);
  EXPECT_EQ(app_.settings.FlagDetectFullCharFilename, 1);
}

// Pressing the preset that is already selected applies it again, with its
// message; a program change to the same preset runs nothing.
TEST_F(PresetTest, PressingTheSelectedPresetAppliesItAgain) {
  Open("Player=1\r\n");
  c().txtLengthName->setValue(20);
  c().optPlayer->button(kPresetZ919)->setChecked(true);
  EXPECT_TRUE(said_.empty());
  EXPECT_EQ(app_.settings.LengthName, 20);
  QTest::mouseClick(c().optPlayer->button(kPresetZ919), Qt::LeftButton);
  EXPECT_EQ(app_.settings.LengthName, 30);
  ASSERT_EQ(said_.size(), 1u);
  EXPECT_EQ(said_[0].title, QString::fromUtf16(kPresetMessageTitle));
  // A click on another preset applies that one once.
  said_.clear();
  QTest::mouseClick(c().optPlayer->button(kPresetFCD7), Qt::LeftButton);
  EXPECT_EQ(said_.size(), 1u);
  EXPECT_EQ(app_.settings.Player, kPresetFCD7);
}

}  // namespace
}  // namespace tarvel
