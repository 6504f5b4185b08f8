#include "app/entry_table.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

// Rows are numbered from 1 in the order added, EntryCount follows them, and
// a reset leaves slot 0 alone with every counter and the scan's facts gone,
// so that a second run in the same window starts clean.
TEST(EntryTableTest, RowsCountFromOneAndAResetStartsAgain) {
  RunState run;
  const SharedText folder(u"/m/");
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    AddEntry(run, folder, u"a.mp3", 1);
    FileEntry& b = AddEntry(run, folder, u"sub", 0);
    EXPECT_EQ(run.EntryCount, 2);
    EXPECT_EQ(LastIndex(run), 2u);
    EXPECT_EQ(run.EntryTable[1].OldName, u"a.mp3");
    EXPECT_EQ(run.EntryTable[1].NewName, u"a.mp3");
    EXPECT_EQ(run.EntryTable[1].IsFile, 1);
    EXPECT_EQ(b.NewPath, folder);
    EXPECT_EQ(b.IsFile, 0);
    run.SkippedNameCount = 3;
    run.FoundOnDisk.append(1, DiskEntry{});
    ResetEntryTable(run);
    EXPECT_EQ(run.EntryTable.size(), 1u);
    EXPECT_EQ(run.EntryCount, 0);
    EXPECT_EQ(run.SkippedNameCount, 0);
    EXPECT_TRUE(run.FoundOnDisk.empty());
    EXPECT_EQ(run.EntryTable[0].OldName, u"");
  }
}

}  // namespace
}  // namespace tarvel
