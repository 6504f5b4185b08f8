#include "files/run_history.h"

#include <filesystem>
#include <string>

#include "files/undo_record.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::WriteBytes;

constexpr char kBlank[] = R"("","","","","","","","","","","","","","")"
                          "\r\n";

std::string ListWithFlags(const char* rename, const char* tag) {
  return std::string(kBlank) + R"("1","/m/","a.mp3","/m/","b.mp3","","","","","","",")" + rename +
         R"(",")" + tag + R"(","1")" + "\r\n";
}

class RunHistoryTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    folder_.history_dir = dir() / "history";
    list_ = dir() / "list.csv";
  }
  AppFolder folder_;
  fs::path list_;
};

TEST_F(RunHistoryTest, KeepsOnlyAListThatRecordedAppliedChanges) {
  const struct {
    const char* what;
    std::string list;  // empty: no list at all
    bool kept;
  } kCases[] = {
      {"no list", "", false},
      {"a check-only list", ListWithFlags("0", "0"), false},
      {"a list with a rename", ListWithFlags("1", "0"), true},
      {"a list with a tag", ListWithFlags("0", "1"), true},
      {"a file that is not a list", "junk, with commas\n", true},
  };
  size_t expected = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove(list_);
    if (!c.list.empty()) WriteBytes(list_, c.list);
    WriteBytes(UndoRecordPath(list_), "record of " + std::string(c.what));
    std::string error;
    ASSERT_TRUE(KeepPreviousList(folder_, list_, &error)) << error;
    if (c.kept) ++expected;
    std::vector<HistoryEntry> kept = ListHistory(folder_);
    ASSERT_EQ(kept.size(), expected);
    if (c.kept) {
      // Kept in a folder of its own, never over an earlier one, with its
      // record.
      EXPECT_EQ(ReadBytes(kept.back().list), c.list);
      EXPECT_EQ(ReadBytes(UndoRecordPath(kept.back().list)), "record of " + std::string(c.what));
    }
  }
  std::vector<HistoryEntry> kept = ListHistory(folder_);
  EXPECT_TRUE(kept[0].readable);
  EXPECT_EQ(kept[0].renames, 1);
  EXPECT_EQ(kept[1].tags, 1);
  EXPECT_EQ(kept[1].folder, u"/m/");
  EXPECT_FALSE(kept[2].readable);
}

TEST_F(RunHistoryTest, KeepingFailsWhenTheHistoryFolderCannotBeMade) {
  WriteBytes(list_, ListWithFlags("1", "0"));
  WriteBytes(dir() / "history", "a file where the history folder should be");
  std::string error;
  EXPECT_FALSE(KeepPreviousList(folder_, list_, &error));
  EXPECT_NE(error.find("cannot keep the previous list"), std::string::npos) << error;
}

}  // namespace
}  // namespace tarvel
