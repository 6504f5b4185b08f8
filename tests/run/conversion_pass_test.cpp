#include "run/conversion_pass.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>

#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::RulesFixture;
using testing::U8;

// The duplicate search as plainly as it can be written: every row compared
// with every other. The indexed resolver must give exactly its results.
void ReferenceResolve(AppState& app, RunState& run) {
  for (int32_t i = 1; i <= run.EntryCount; ++i) {
    if (i == run.EntryCount) break;
    FileEntry& row = run.EntryTable[i];
    std::u16string candidate = row.NewName.str();
    int32_t number = 1;
    while (true) {
      bool found = false;
      for (int32_t j = 1; j <= run.EntryCount && !found; ++j) {
        if (j == i) continue;
        const FileEntry& other = run.EntryTable[j];
        found = TextEquals(other.NewPath + other.NewName, row.NewPath + candidate);
      }
      if (!found) break;
      app.ui->AppendLog(DuplicateNotice(row.NewName));
      ++number;
      candidate = MakeUniqueName(candidate, number, app.settings.LengthName, row.IsFile == 1);
    }
    row.NewName = candidate;
  }
}

class ConversionPassTest : public ::testing::Test, public RulesFixture {
 protected:
  void SetUp() override {
    app.settings.FlagConvertFilename = 1;
    app.settings.FlagConvertID3Tag = 0;
    app.settings.FlagRenameFolderName = 1;
  }
  FileEntry& Add(std::u16string_view path, std::u16string_view name, int32_t is_file = 1) {
    return AddEntry(run, path, name, is_file);
  }
  std::u16string Name(int32_t i) const { return run.EntryTable[i].NewName.str(); }
  size_t Notices() const {
    size_t n = 0;
    for (size_t p = ui.log.find(u"重複したファイル名を検出しました。"); p != std::u16string::npos;
         p = ui.log.find(u"重複したファイル名を検出しました。", p + 1)) {
      ++n;
    }
    return n;
  }
  RunState run;
};

TEST(MakeUniqueNameTest, NumbersAndCuts) {
  struct {
    std::u16string_view candidate;
    int32_t number, length_name;
    bool is_file;
    std::u16string_view expected;
  } const kCases[] = {
      {u"a.mp3", 2, 30, true, u"a-2.mp3"},
      {u"a-2.mp3", 3, 30, true, u"a-2-3.mp3"},
      {u"abcdefgh.mp3", 2, 8, true, u"abcdef-2.mp3"},
      {u"abcdefgh.MP3", 12, 8, true, u"abcde-12.mp3"},
      {u"ab.mp3", 2, 2, true, u"-2.mp3"},
      {u"アルバム", 2, 30, false, u"アルバム-2"},
      {u"abcdefgh", 2, 8, false, u"abcdef-2"},
      {u"a\U0001F600b.mp3", 2, 3, true, u"a-2.mp3"},  // never half a character
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(MakeUniqueName(c.candidate, c.number, c.length_name, c.is_file), c.expected)
        << U8(c.candidate);
  }
  EXPECT_THROW(MakeUniqueName(u"a.mp3", 2, 1), std::invalid_argument);
  EXPECT_THROW(MakeUniqueName(u"mp3", 2, 30), std::invalid_argument);
}

TEST_F(ConversionPassTest, EarlierRowIsNumberedLastKeepsItsName) {
  app.settings.ConvertLevelFilename = 1;
  Add(u"/m/", u"ハロー.mp3");
  Add(u"/m/", u"ﾊﾛｰ.mp3");
  Add(u"/other/", u"ﾊﾛｰ.mp3");  // another folder: no collision
  ASSERT_EQ(ConvertEntries(app, run), 1);
  EXPECT_EQ(U8(Name(1)), U8(u"ﾊﾛｰ-2.mp3"));
  EXPECT_EQ(U8(Name(2)), U8(u"ﾊﾛｰ.mp3"));
  EXPECT_EQ(U8(Name(3)), U8(u"ﾊﾛｰ.mp3"));
  EXPECT_EQ(Notices(), 1u);
  EXPECT_NE(ui.log.find(u"　ファイル名　：　ﾊﾛｰ.mp3\r\n"), std::u16string::npos);
}

TEST_F(ConversionPassTest, ThreeWayCollisionNumbersThePreviousCandidate) {
  app.settings.FlagConvertFilename = 0;  // names equal under text comparison as found
  Add(u"/m/", u"x.mp3");
  Add(u"/m/", u"X.mp3");
  Add(u"/m/", u"ｘ.mp3");
  ASSERT_EQ(ConvertEntries(app, run), 1);
  EXPECT_EQ(U8(Name(1)), "x-2.mp3");
  EXPECT_EQ(U8(Name(2)), "X-2-3.mp3");
  EXPECT_EQ(U8(Name(3)), U8(u"ｘ.mp3"));
  EXPECT_EQ(Notices(), 3u);
}

TEST_F(ConversionPassTest, LengthNameBudget) {
  app.settings.FlagConvertFilename = 0;
  app.settings.LengthName = 8;
  Add(u"/m/", u"abcdefgh.mp3");
  Add(u"/m/", u"ABCDEFGH.mp3");
  ASSERT_EQ(ConvertEntries(app, run), 1);
  EXPECT_EQ(U8(Name(1)), "abcdef-2.mp3");

  // A budget of one character cannot hold "-2": the pass fails.
  RunState second;
  run = second;
  app.settings.LengthName = 1;
  Add(u"/m/", u"a.mp3");
  Add(u"/m/", u"A.mp3");
  EXPECT_EQ(ConvertEntries(app, run), 0);
}

TEST_F(ConversionPassTest, CollidingFoldersAreNumberedWithoutAnExtension) {
  app.settings.ConvertLevelFilename = 1;
  Add(u"/m/", u"アルバム", 0);
  Add(u"/m/", u"ｱﾙﾊﾞﾑ", 0);
  ASSERT_EQ(ConvertEntries(app, run), 1);
  EXPECT_EQ(U8(Name(1)), U8(u"ｱﾙﾊﾞﾑ-2"));
  EXPECT_EQ(U8(Name(2)), U8(u"ｱﾙﾊﾞﾑ"));
  EXPECT_EQ(run.EntryTable[1].RenameFlag, 1);
  EXPECT_EQ(run.EntryTable[2].RenameFlag, 0);
}

TEST_F(ConversionPassTest, FlagsAndChangeCount) {
  app.settings.ConvertLevelFilename = 1;
  app.settings.FlagConvertID3Tag = 1;
  app.settings.ConvertLevelID3Tag = 1;
  Add(u"/m/", u"Song.mp3");                   // unchanged
  Add(u"/m/", u"ソング.mp3");                 // renamed
  FileEntry& tagged = Add(u"/m/", u"b.mp3");  // tag changes only
  tagged.OldTitle = tagged.NewTitle = u"タイトル";
  Add(u"/m/", u"フォルダ", 0);  // folder renamed
  ASSERT_EQ(ConvertEntries(app, run), 1);
  EXPECT_EQ(run.ChangeCount, 3);
  const int32_t kRename[] = {0, 0, 1, 0, 1}, kTag[] = {0, 0, 0, 1, 0};
  for (int32_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(run.EntryTable[i].RenameFlag, kRename[i]) << i;
    EXPECT_EQ(run.EntryTable[i].TagFlag, kTag[i]) << i;
  }

  // Check-only: the changes still count but nothing is to be applied.
  app.settings.FlagCheckOnlyFilename = 1;
  app.settings.FlagCheckOnlyID3Tag = 1;
  for (int32_t i = 1; i <= 4; ++i) {
    auto& row = run.EntryTable[i];
    row.NewName = row.OldName;
    row.NewTitle = row.OldTitle;
  }
  ASSERT_EQ(ConvertEntries(app, run), 1);
  EXPECT_EQ(run.ChangeCount, 3);
  for (int32_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(run.EntryTable[i].RenameFlag, 0);
    EXPECT_EQ(run.EntryTable[i].TagFlag, 0);
  }
}

// A name that stays full-width turns the whole run into a check-only one,
// names and tags alike, and ticks the front end's boxes; it counts as a
// switch unless the run was check-only for both already.
TEST_F(ConversionPassTest, FullWidthStopMakesTheRunCheckOnly) {
  app.settings.ConvertLevelFilename = 1;
  app.settings.FlagDetectFullCharFilename = 1;
  Add(u"/m/", u"∴.mp3");
  Add(u"/m/", u"ソング.mp3");
  struct {
    int32_t check_only_name, check_only_tag;
    bool switched;
  } const kCases[] = {{0, 0, true}, {0, 1, true}, {1, 1, false}};
  int ticks = 0;
  for (const auto& c : kCases) {
    app.settings.FlagCheckOnlyFilename = c.check_only_name;
    app.settings.FlagCheckOnlyID3Tag = c.check_only_tag;
    bool switched = !c.switched;
    ASSERT_EQ(ConvertEntries(app, run, &switched), 1);
    EXPECT_EQ(switched, c.switched) << c.check_only_name << c.check_only_tag;
    EXPECT_EQ(app.settings.FlagCheckOnlyFilename, 1);
    EXPECT_EQ(app.settings.FlagCheckOnlyID3Tag, 1);
    EXPECT_EQ(ui.tick_count, ++ticks);
    EXPECT_EQ(run.EntryTable[2].RenameFlag, 0);
  }
}

// The converted artist and album of an album's files are one text for all of
// them, and a text the pass leaves as it was keeps the old text's buffer:
// what a library of 100,000 files holds in memory depends on it.
TEST_F(ConversionPassTest, ConvertedArtistAndAlbumAreShared) {
  app.settings.FlagConvertFilename = 0;
  app.settings.FlagConvertID3Tag = 1;
  app.settings.ConvertLevelID3Tag = 1;
  const SharedText kanji(u"夜"), latin(u"Blue Band");
  const struct {
    const SharedText& artist;
    const char16_t* new_artist;
  } kRows[] = {{kanji, u"ﾖﾙ"}, {kanji, u"ﾖﾙ"}, {latin, u"Blue Band"}, {latin, u"Blue Band"}};
  for (const auto& r : kRows) {
    FileEntry& e = Add(u"/m/", u"a.mp3");
    e.OldArtist = e.NewArtist = e.OldAlbum = e.NewAlbum = r.artist;
  }
  ASSERT_EQ(ConvertEntries(app, run), 1);
  for (int32_t i = 1; i <= 4; ++i) {
    const FileEntry& e = run.EntryTable[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(e.NewArtist, kRows[i - 1].new_artist);
    EXPECT_EQ(e.NewAlbum, kRows[i - 1].new_artist);
    EXPECT_EQ(e.NewArtist.SharesWith(e.OldArtist), e.NewArtist == e.OldArtist);
    if (i % 2 == 0) {
      EXPECT_TRUE(e.NewArtist.SharesWith(run.EntryTable[i - 1].NewArtist));
      EXPECT_TRUE(e.NewAlbum.SharesWith(run.EntryTable[i - 1].NewAlbum));
    }
  }
}

// A name or title the pass leaves as it was keeps the buffer of the old
// one; one it changes holds its own text, and the old one is untouched.
TEST_F(ConversionPassTest, NamesAndTitlesLeftAsTheyWereKeepTheirBuffer) {
  app.settings.FlagConvertFilename = 1;
  app.settings.FlagRenameFolderName = 1;
  app.settings.ConvertLevelFilename = 1;
  app.settings.FlagConvertID3Tag = 1;
  app.settings.ConvertLevelID3Tag = 1;
  const struct {
    const char16_t* name;
    bool is_file;
    const char16_t* title;
    const char16_t* new_name;
    const char16_t* new_title;
  } kRows[] = {
      {u"Blue", false, u"", u"Blue", u""},
      {u"a.mp3", true, u"Night", u"a.mp3", u"Night"},
      {u"夜.mp3", true, u"Night", u"ﾖﾙ.mp3", u"Night"},
      {u"b.mp3", true, u"夜", u"b.mp3", u"ﾖﾙ"},
      {u"夜", false, u"", u"ﾖﾙ", u""},
  };
  for (const auto& r : kRows) {
    FileEntry& e = Add(u"/m/", r.name, r.is_file ? 1 : 0);
    e.OldTitle = e.NewTitle = r.title;
  }
  ASSERT_EQ(ConvertEntries(app, run), 1);
  for (int32_t i = 1; i <= static_cast<int32_t>(std::size(kRows)); ++i) {
    const FileEntry& e = run.EntryTable[i];
    const auto& r = kRows[i - 1];
    SCOPED_TRACE(U8(r.name));
    EXPECT_EQ(U8(e.OldName), U8(r.name));
    EXPECT_EQ(U8(e.NewName), U8(r.new_name));
    EXPECT_EQ(U8(e.OldTitle), U8(r.title));
    EXPECT_EQ(U8(e.NewTitle), U8(r.new_title));
    EXPECT_EQ(e.NewName.SharesWith(e.OldName), e.NewName == e.OldName);
    EXPECT_EQ(e.NewTitle.SharesWith(e.OldTitle), e.NewTitle == e.OldTitle);
  }
}

// A row's tag texts are converted artist, album, title, and what each finds
// reaches the log in that order.
TEST_F(ConversionPassTest, TagNoticesComeArtistAlbumTitle) {
  app.settings.FlagConvertFilename = 0;
  app.settings.FlagConvertID3Tag = 1;
  app.settings.ConvertLevelID3Tag = 1;
  app.settings.FlagDetectFullCharID3Tag = 1;
  FileEntry& e = Add(u"/m/", u"a.mp3");
  e.OldArtist = e.NewArtist = u"∴";
  e.OldAlbum = e.NewAlbum = u"∵";
  e.OldTitle = e.NewTitle = u"◎";
  ASSERT_EQ(ConvertEntries(app, run), 1);
  const size_t artist = ui.log.find(u"（∴）"), album = ui.log.find(u"（∵）");
  ASSERT_NE(ui.log.find(u"（◎）"), std::u16string::npos) << U8(ui.log);
  EXPECT_LT(artist, album) << U8(ui.log);
  EXPECT_LT(album, ui.log.find(u"（◎）")) << U8(ui.log);
}

TEST_F(ConversionPassTest, CaseOnlyChangeCounts) {
  app.settings.FlagConvertFilename = 1;
  app.settings.FlagDicEnabledFilename = 1;
  app.DicTable = testing::MakeTable({{u"SONG", u"song"}});
  Add(u"/m/", u"SONG.mp3");
  ASSERT_EQ(ConvertEntries(app, run), 1);
  EXPECT_EQ(U8(Name(1)), "song.mp3");
  EXPECT_EQ(run.EntryTable[1].RenameFlag, 1);
  EXPECT_EQ(run.ChangeCount, 1);
}

// What the conversion said about each row stays with the row, also when a
// tag text is taken from the last one converted.
TEST_F(ConversionPassTest, NoticesStayWithTheirRows) {
  app.settings.ConvertLevelFilename = 1;
  app.settings.FlagDetectFullCharFilename = 1;
  app.settings.FlagLimit30Char = 1;
  app.settings.LengthName = 8;
  app.settings.FlagConvertID3Tag = 1;
  app.settings.ConvertLevelID3Tag = 1;
  reading.guess_word = u"夜";
  struct {
    std::u16string_view name;
    std::u16string_view artist;
    uint8_t expected;
  } kRows[] = {
      {u"ab.mp3", u"", 0},
      {u"∴.mp3", u"", kNoticeFullWidth},
      {u"a?b.mp3", u"", kNoticeRepaired},
      {u"abcdefghijkl.mp3", u"", kNoticeShortened},
      {u"twin.mp3", u"", kNoticeNumbered},
      {u"twin.mp3", u"", 0},  // the last of the pair keeps its name
      {u"ok.mp3", u"夜", kNoticeReadingGuess},
      {u"ok2.mp3", u"夜", kNoticeReadingGuess},  // the same text again
      {u"ok3.mp3", u"", 0},
      {u"夜.mp3", u"", kNoticeReadingGuess},
  };
  for (const auto& r : kRows) {
    FileEntry& row = Add(u"/m/", r.name);
    row.OldArtist = row.NewArtist = r.artist;
  }
  ASSERT_EQ(ConvertEntries(app, run), 1);
  for (int32_t i = 1; i <= run.EntryCount; ++i) {
    EXPECT_EQ(run.EntryTable[i].Notices, kRows[i - 1].expected) << U8(kRows[i - 1].name);
  }
  // A guess is said in the log with what it became.
  EXPECT_NE(ui.log.find(u"読みを推測しました。\r\n　夜.mp3 → ﾖﾙ.mp3\r\n"), std::u16string::npos)
      << U8(ui.log);
  EXPECT_NE(ui.log.find(u"読みを推測しました。\r\n　夜 → ﾖﾙ\r\n"), std::u16string::npos);
}

class ConversionPassDiskTest : public testing::TempDirTest, public RulesFixture {};

// Each field takes its text from the tag (0), the file name (1) or the
// folder name (2), whichever of the three asks for the folder.
TEST_F(ConversionPassDiskTest, TagSources) {
  std::filesystem::create_directories(dir() / "Artist");
  std::u16string folder = *Utf8ToUtf16((dir() / "Artist").native() + "/");
  app.settings.FlagConvertFilename = 0;
  app.settings.FlagConvertID3Tag = 1;
  const struct {
    int32_t artist, album, title;
    const char* expected[3];  // artist, album, title
  } kCases[] = {
      {2, 0, 1, {"Artist", "album", "01 track"}},
      {0, 2, 0, {"artist", "Artist", "title"}},
      {1, 0, 2, {"01 track", "album", "Artist"}},
      {0, 0, 0, {"artist", "album", "title"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.artist) + std::to_string(c.album) + std::to_string(c.title));
    app.settings.ID3TagArtist = c.artist;
    app.settings.ID3TagAlbum = c.album;
    app.settings.ID3TagTitle = c.title;
    RunState run;
    FileEntry& e = AddEntry(run, folder, u"01 track.mp3", 1);
    e.OldArtist = e.NewArtist = u"artist";
    e.OldAlbum = e.NewAlbum = u"album";
    e.OldTitle = e.NewTitle = u"title";
    AddEntry(run, folder, u"mp3", 1);  // shorter than an extension
    ASSERT_EQ(ConvertEntries(app, run), 1);
    EXPECT_EQ(U8(run.EntryTable[1].NewArtist), c.expected[0]);
    EXPECT_EQ(U8(run.EntryTable[1].NewAlbum), c.expected[1]);
    EXPECT_EQ(U8(run.EntryTable[1].NewTitle), c.expected[2]);
    EXPECT_EQ(run.EntryTable[1].TagFlag, c.artist + c.album + c.title == 0 ? 0 : 1);
    if (c.title == 1) {
      EXPECT_EQ(U8(run.EntryTable[2].NewTitle), "");
    }
  }

  EXPECT_EQ(U8(GetFolderName(folder)), "Artist");
  EXPECT_EQ(U8(GetFolderName(folder + u"./")), "Artist");
  EXPECT_EQ(U8(GetFolderName(folder + u"missing/")), "");
  EXPECT_EQ(U8(GetFolderName(u"/")), "");
}

TEST(DuplicateResolverTest, MatchesThePairwiseSearchOnRandomTables) {
  // Names drawn from a small pool of spellings that collide under text
  // comparison, in a few folders, so that chains of numbering happen.
  const std::u16string kNames[] = {u"a.mp3",  u"A.mp3",  u"ａ.mp3", u"a-2.mp3",       u"A-2.mp3",
                                   u"ｶﾞ.mp3", u"ガ.mp3", u"が.mp3", u"b.mp3",         u"a-2-3.mp3",
                                   u"ab.mp3", u"folder", u"FOLDER", u"ｆｏｌｄｅｒ-2"};
  const std::u16string kPaths[] = {u"/m/", u"/m/x/", u"/M/"};
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    RulesFixture indexed, reference;
    indexed.app.settings.LengthName = reference.app.settings.LengthName = 3 + round % 6;
    RunState a;
    int rows = 1 + static_cast<int>(rng() % 12);
    for (int r = 0; r < rows; ++r) {
      const std::u16string& name = kNames[rng() % std::size(kNames)];
      AddEntry(a, kPaths[rng() % std::size(kPaths)], name, name.ends_with(u".mp3") ? 1 : 0);
    }
    RunState b = a;
    bool ok_a = true, ok_b = true;
    try {
      DuplicateResolver resolver(a);
      for (int32_t i = 1; i <= a.EntryCount; ++i) resolver.ResolveDuplicates(indexed.app, a, i);
    } catch (const std::exception&) {
      ok_a = false;
    }
    try {
      ReferenceResolve(reference.app, b);
    } catch (const std::exception&) {
      ok_b = false;
    }
    ASSERT_EQ(ok_a, ok_b) << "round " << round;
    if (!ok_a) continue;
    for (int32_t i = 1; i <= a.EntryCount; ++i) {
      ASSERT_EQ(U8(a.EntryTable[i].NewName), U8(b.EntryTable[i].NewName))
          << "round " << round << " row " << i;
    }
    ASSERT_EQ(U8(indexed.ui.log), U8(reference.ui.log)) << "round " << round;
  }
}

}  // namespace
}  // namespace tarvel
