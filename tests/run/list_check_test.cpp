#include "run/list_check.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;

struct Row {
  std::u16string path, old_name, new_name;
  int32_t is_file = 1;
};

RunState ListOf(const std::vector<Row>& rows) {
  RunState run;
  for (const Row& r : rows) {
    FileEntry& e = run.EntryTable.emplace_back();
    e.OldPath = e.NewPath = r.path;
    e.OldName = r.old_name;
    e.NewName = r.new_name;
    e.IsFile = r.is_file;
    e.RenameFlag = 1;
  }
  return run;
}

TEST(CheckRestoreListTest, AcceptsOnlyRowsInsideOneLibrary) {
  struct {
    const char* what;
    std::vector<Row> rows;
    const char* problem;               // part of the problem, or null when the list is good
    std::u16string_view common = u"";  // for a good list
  } kCases[] = {
      {"a list as a run writes it",
       {{u"/m/lib/", u"歌手", u"ｶｼｭ", 0},
        {u"/m/lib/歌手/", u"夜.mp3", u"ﾖﾙ.mp3"},
        {u"/m/lib/歌手/ｱ/", u"a.MP3", u"b.Mp3"}},
       nullptr,
       u"/m/lib/"},
      {"a row beside the library folder",
       {{u"/m/lib/a/", u"1.mp3", u"1.mp3"}, {u"/m/lib/b/", u"2.mp3", u"2.mp3"}},
       "row 2 of the list: OldPath \"/m/lib/b/\" lies outside the folder of row 1, "
       "\"/m/lib/a/\""},
      {"a folder whose name starts like the library's",
       {{u"/m/abc/", u"1.mp3", u"1.mp3"}, {u"/m/abcd/", u"2.mp3", u"2.mp3"}},
       "row 2"},
      {"a row in the folder above the library",
       {{u"/m/lib/", u"1.mp3", u"1.mp3"}, {u"/m/", u"lib", u"victim", 0}},
       "row 2"},
      {"no rows", {}, nullptr, u""},
      {"dot-dot segment reaches outside",
       {{u"/m/lib/", u"a.mp3", u"b.mp3"}, {u"/m/lib/../victim/", u"x.mp3", u"y.mp3"}},
       "row 2 of the list: OldPath \"/m/lib/../victim/\" holds a \".\" or \"..\" segment"},
      {"dot segment", {{u"/m/./lib/", u"a.mp3", u"b.mp3"}}, "row 1 of the list: OldPath"},
      {"trailing dot-dot", {{u"/m/lib/..", u"a.mp3", u"b.mp3"}}, "does not end in \"/\""},
      {"empty segment", {{u"/m//lib/", u"a.mp3", u"b.mp3"}}, "empty segment"},
      {"relative path", {{u"m/lib/", u"a.mp3", u"b.mp3"}}, "is not absolute"},
      {"empty path", {{u"", u"a.mp3", u"b.mp3"}}, "OldPath \"\" is empty"},
      {"NUL in a path", {{std::u16string(u"/m/a\0b/", 7), u"a.mp3", u"b.mp3"}}, "NUL"},
      {"name with a slash",
       {{u"/m/lib/", u"a.mp3", u"../../etc/passwd.mp3"}},
       "NewName \"../../etc/passwd.mp3\" is not a single name"},
      {"dot-dot as a folder name", {{u"/m/lib/", u"..", u"x", 0}}, "OldName \"..\" is \".\" or"},
      {"empty old name", {{u"/m/lib/", u"", u"a.mp3", 1}}, "OldName \"\" is empty"},
      {"a new name the run could not give",
       {{u"/m/lib/", u"a.mp3", u"", 1}, {u"/m/lib/", u"．．", u"..", 0}},
       nullptr,
       u"/m/lib/"},
      {"file row naming a text file",
       {{u"/m/lib/", u"a.mp3", u"notes.txt"}},
       "NewName \"notes.txt\" does not name an MP3 file"},
      {"file row with a name after the extension",
       {{u"/m/lib/", u"a.mp3.bak", u"a.mp3"}},
       "OldName \"a.mp3.bak\" does not name an MP3"},
      {"extensions the scan takes",
       {{u"/m/lib/", u"a.MP3", u"a.mp3"}, {u"/m/lib/", u"b．ｍｐ３", u"b.mp3"}},
       nullptr,
       u"/m/lib/"},
      {"folder rows may be named anything", {{u"/m/lib/", u"a.txt", u"b", 0}}, nullptr, u"/m/lib/"},
      {"rows in two libraries",
       {{u"/m/lib/", u"a.mp3", u"b.mp3"}, {u"/home/u/", u"c.mp3", u"d.mp3"}},
       "row 2 of the list: OldPath \"/home/u/\" lies outside"},
      {"a library at the root", {{u"/", u"a.mp3", u"b.mp3"}}, "root folder"},
  };
  for (const auto& c : kCases) {
    ListCheck check = CheckRestoreList(ListOf(c.rows));
    if (c.problem == nullptr) {
      EXPECT_TRUE(check.ok) << c.what << ": " << check.problem;
      EXPECT_EQ(U8(check.common_folder), U8(c.common)) << c.what;
    } else {
      EXPECT_FALSE(check.ok) << c.what;
      EXPECT_NE(check.problem.find(c.problem), std::string::npos)
          << c.what << ": " << check.problem;
    }
  }
}

TEST(CheckRestoreListTest, NewPathMustBeTheOldOne) {
  RunState run = ListOf({{u"/m/lib/", u"a.mp3", u"b.mp3"}});
  run.EntryTable[1].NewPath = u"/m/other/";
  ListCheck check = CheckRestoreList(run);
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.problem,
            "row 1 of the list: NewPath \"/m/other/\" differs from OldPath \"/m/lib/\"");
}

}  // namespace
}  // namespace tarvel
