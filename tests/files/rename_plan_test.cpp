#include "files/rename_plan.h"

#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "files/file_stage.h"
#include "platform/text.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

PlannedMove Planned(size_t row, std::u16string_view folder, std::u16string_view from,
                    std::u16string_view to) {
  return {row, SharedText(folder), SharedText(from), SharedText(to)};
}

namespace fs = std::filesystem;
using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

class RenamePlanTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    folder_ = TempDirTest::dir() / "f";
    fs::create_directories(folder_);
  }
  const fs::path& dir() const { return folder_; }
  std::u16string Folder() { return *Utf8ToUtf16(dir().native()) + u"/"; }
  // The test's folder as the library, reached through the system's calls.
  LibraryFolders& Library() {
    library_ = std::make_unique<LibraryFolders>(SystemDiskOps(), dir().native() + "/");
    return *library_;
  }
  std::unique_ptr<LibraryFolders> library_;

  // Every entry of the folder with its content.
  std::map<std::string, std::string> Contents() {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(dir())) {
      out[e.path().filename().native()] = ReadBytes(e.path());
    }
    return out;
  }

  fs::path folder_;
};

struct Move {
  std::u16string_view from, to;
};

TEST_F(RenamePlanTest, EveryMoveReachesItsTargetWhateverTheOrder) {
  struct Case {
    const char* what;
    std::vector<std::u16string_view> others;  // entries outside the plan
    std::vector<Move> moves;
  };
  const Case kCases[] = {
      {"a target freed by a later row", {}, {{u"ａ.mp3", u"a.mp3"}, {u"a.mp3", u"a-2.mp3"}}},
      {"a target freed by an earlier row", {}, {{u"a.mp3", u"a-2.mp3"}, {u"ａ.mp3", u"a.mp3"}}},
      {"a chain of three", {}, {{u"c", u"d"}, {u"a", u"b"}, {u"b", u"c"}}},
      {"a swap", {}, {{u"a", u"b"}, {u"b", u"a"}}},
      {"a cycle of three", {}, {{u"a", u"b"}, {u"b", u"c"}, {u"c", u"a"}}},
      {"a cycle with a tail", {}, {{u"a", u"b"}, {u"b", u"a"}, {u"x", u"x2"}, {u"x2", u"x3"}}},
      {"a name that is another's numbered form",
       {u"keep"},
       {{u"x.mp3.mp3", u"x-2.mp3"}, {u"x.mp3", u"x.mp3.mp3"}, {u"x-2.mp3", u"x-3.mp3"}}},
      {"no move at all", {u"a"}, {{u"a", u"a"}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir());
    fs::create_directories(dir());
    std::vector<PlannedMove> moves;
    std::map<std::string, std::string> expected;
    for (std::u16string_view other : c.others) {
      WriteBytes(dir() / Utf16ToUtf8(other), "other " + U8(other));
      expected[U8(other)] = "other " + U8(other);
    }
    for (size_t i = 0; i < c.moves.size(); ++i) {
      if (c.moves[i].from != c.moves[i].to) {
        WriteBytes(dir() / Utf16ToUtf8(c.moves[i].from), "item " + std::to_string(i));
      }
      expected[U8(c.moves[i].to)] = "item " + std::to_string(i);
      moves.push_back(Planned(i, Folder(), c.moves[i].from, c.moves[i].to));
    }
    std::set<size_t> done;
    EXPECT_TRUE(ExecuteRenames(
        moves, PlanRenames(moves, FolderOrder::kDeepestFirst), true,
        [&](size_t m) { EXPECT_TRUE(done.insert(m).second); },
        [&](size_t, const std::string& reason) { ADD_FAILURE() << reason; }, Library()));
    if (c.others.empty()) {
      EXPECT_EQ(Contents(), expected);
    }
  }
}

TEST_F(RenamePlanTest, EntryOutsideThePlanIsNeverReplaced) {
  WriteBytes(dir() / "a", "a");
  WriteBytes(dir() / "b", "b");
  WriteBytes(dir() / "taken", "not part of the plan");
  std::vector<PlannedMove> moves = {Planned(1, Folder(), u"a", u"b"),
                                    Planned(2, Folder(), u"b", u"taken")};
  std::vector<size_t> failed;
  EXPECT_FALSE(ExecuteRenames(
      moves, PlanRenames(moves, FolderOrder::kDeepestFirst), true, nullptr,
      [&](size_t m, const std::string&) { failed.push_back(m); }, Library()));
  EXPECT_EQ(failed, std::vector<size_t>{1});
  EXPECT_EQ(Contents(), (std::map<std::string, std::string>{
                            {"a", "a"}, {"b", "b"}, {"taken", "not part of the plan"}}));
}

// Before the second rename of a plan, the entry "c" vanishes (renamed away
// by someone else).

TEST_F(RenamePlanTest, CycleThatCannotCloseTakesItsEntryBackFromTheSide) {
  WriteBytes(dir() / "a", "a");
  WriteBytes(dir() / "b", "b");
  WriteBytes(dir() / "c", "c");
  std::vector<PlannedMove> moves = {Planned(1, Folder(), u"a", u"b"),
                                    Planned(2, Folder(), u"b", u"c"),
                                    Planned(3, Folder(), u"c", u"a")};
  std::vector<RenameStep> steps = PlanRenames(moves, FolderOrder::kDeepestFirst);
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_TRUE(steps[0].temporary);
  testing::FaultDiskOps disk;
  disk.Add({.call = testing::DiskCall::kRename, .nth = 2, .error = 0, .before = [&] {
              fs::rename(dir() / "c", dir() / "gone");
            }});
  LibraryFolders folders(disk, Utf16ToUtf8(Folder()));
  std::set<size_t> failed;
  EXPECT_FALSE(ExecuteRenames(
      moves, steps, false, nullptr, [&](size_t m, const std::string&) { failed.insert(m); },
      folders));
  // The entry moved aside is back under its own name; "b" still reached the
  // name that the vanished entry left free.
  EXPECT_EQ(failed, (std::set<size_t>{0, 2}));
  EXPECT_EQ(Contents(),
            (std::map<std::string, std::string>{{"a", "a"}, {"c", "b"}, {"gone", "c"}}));
}

// A rename only ever changes the name of one entry of its folder: a name
// that reaches into another folder or out of this one, or is no name at all,
// is refused on either side, and nothing moves.
TEST_F(RenamePlanTest, ARenameRefusesWhatIsNotASingleName) {
  WriteBytes(dir() / "a", "a");
  fs::create_directory(dir() / "sub");
  WriteBytes(dir() / "sub" / "c", "c");
  const struct {
    std::u16string_view from, to;
  } kCases[] = {
      {u"a", u"sub/b"}, {u"a", u"../b"},  {u"a", u".."}, {u"a", u"."},
      {u"a", u""},      {u"sub/c", u"c"}, {u"..", u"b"}, {u"a", std::u16string_view(u"b\0c", 3)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(U8(c.from) + " to " + U8(c.to));
    const StageResult r = RenameItem(Library(), Folder(), c.from, Folder(), c.to);
    EXPECT_EQ(r.code, StageCode::kUnusableName);
    EXPECT_EQ(r.sys_errno, 0);  // no call of the system was made
    EXPECT_EQ(r.message, "cannot rename " + U8(Folder() + std::u16string(c.from)) + " to " +
                             U8(Folder() + std::u16string(c.to)) + ": not a usable name");
  }
  std::set<std::string> left;
  for (const auto& e : fs::recursive_directory_iterator(dir())) {
    left.insert(e.path().lexically_relative(dir()).native());
  }
  EXPECT_EQ(left, (std::set<std::string>{"a", "sub", "sub/c"}));
  EXPECT_FALSE(fs::exists(TempDirTest::dir() / "b"));
}

TEST_F(RenamePlanTest, FoldersAreOrderedByDepth) {
  std::vector<PlannedMove> moves = {
      Planned(1, u"/r/", u"A", u"A2"), Planned(2, u"/r/A/B/", u"C", u"C2"),
      Planned(3, u"/r/A/", u"B", u"B2"), Planned(4, u"/r/Z/", u"Y", u"Y2")};
  auto rows = [&](FolderOrder order) {
    std::vector<size_t> out;
    for (const RenameStep& s : PlanRenames(moves, order)) out.push_back(moves[s.move].row);
    return out;
  };
  EXPECT_EQ(rows(FolderOrder::kDeepestFirst), (std::vector<size_t>{2, 3, 4, 1}));
  EXPECT_EQ(rows(FolderOrder::kShallowestFirst), (std::vector<size_t>{1, 3, 4, 2}));
}

TEST_F(RenamePlanTest, RandomPermutationsOfNamesAllArrive) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    fs::remove_all(dir());
    fs::create_directories(dir());
    const size_t n = 1 + rng() % 8;
    // Targets are drawn from the sources and a few fresh names, so chains
    // and cycles of every shape turn up.
    std::vector<std::u16string> sources, pool;
    for (size_t i = 0; i < n; ++i) sources.push_back(u"n" + DecimalText(static_cast<int64_t>(i)));
    pool = sources;
    for (size_t i = 0; i < 3; ++i) pool.push_back(u"f" + DecimalText(static_cast<int64_t>(i)));
    std::shuffle(pool.begin(), pool.end(), rng);
    std::vector<PlannedMove> moves;
    std::map<std::string, std::string> expected;
    for (size_t i = 0; i < n; ++i) {
      WriteBytes(dir() / Utf16ToUtf8(sources[i]), std::to_string(i));
      moves.push_back(Planned(i, Folder(), sources[i], pool[i]));
      expected[U8(pool[i])] = std::to_string(i);
    }
    ASSERT_TRUE(ExecuteRenames(moves, PlanRenames(moves, FolderOrder::kDeepestFirst), true, nullptr,
                               nullptr, Library()))
        << "round " << round;
    // Sources that are nobody's target are gone; nothing else is there.
    EXPECT_EQ(Contents(), expected) << "round " << round;
  }
}

TEST(TemporaryRenameNameTest, IsHiddenFixedAndDistinct) {
  EXPECT_EQ(TemporaryRenameName(u"a.mp3"), TemporaryRenameName(u"a.mp3"));
  EXPECT_NE(TemporaryRenameName(u"a.mp3"), TemporaryRenameName(u"ａ.mp3"));
  EXPECT_EQ(TemporaryRenameName(u"x")[0], u'.');
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// The steps of a plan over one folder, as "from>to" ("*" marks a step to a
// temporary name), and how often the folder was asked how it folds names.
struct PlanText {
  std::vector<std::string> steps;
  int asked = 0;
};

PlanText PlanInFolding(const std::vector<Move>& wanted, NameFolding folding) {
  std::vector<PlannedMove> moves;
  for (const Move& m : wanted) {
    moves.push_back(Planned(moves.size(), u"/lib/", m.from, m.to));
  }
  PlanText text;
  const auto steps =
      PlanRenames(moves, FolderOrder::kDeepestFirst, [&](const std::u16string& folder) {
        EXPECT_EQ(folder, u"/lib/");
        ++text.asked;
        return folding;
      });
  for (const RenameStep& s : steps) {
    text.steps.push_back(U8(s.temporary ? u"*" : u"") + U8(s.from) + ">" +
                         (s.temporary ? "tmp" : U8(s.to)));
  }
  return text;
}

TEST(RenamePlanFoldingTest, SpellingsOfOneNameAreOneSlotWhereTheFolderFolds) {
  constexpr NameFolding kExact{};
  constexpr NameFolding kCase{true, false};
  constexpr NameFolding kWidth{false, true};
  const struct {
    const char* what;
    std::vector<Move> moves;
    NameFolding folding;
    std::vector<std::string> steps;
    int asked;
  } kCases[] = {
      {"plain names: the folder is not asked",
       {{u"a.mp3", u"b.mp3"}, {u"c.mp3", u"d.mp3"}},
       kCase,
       {"a.mp3>b.mp3", "c.mp3>d.mp3"},
       0},
      {"plain names, one of them in two moves: the folder is not asked",
       {{u"a.mp3", u"b.mp3"}, {u"b.mp3", u"c.mp3"}},
       kCase,
       {"b.mp3>c.mp3", "a.mp3>b.mp3"},
       0},
      {"a case-only change where case folds goes through a temporary name",
       {{u"song.mp3", u"SONG.mp3"}},
       kCase,
       {"*song.mp3>tmp", U8(TemporaryRenameName(u"song.mp3")) + ">SONG.mp3"},
       1},
      {"a case-only change where nothing folds is one rename",
       {{u"song.mp3", u"SONG.mp3"}},
       kExact,
       {"song.mp3>SONG.mp3"},
       1},
      {"a target held in another case waits for its holder",
       {{u"ａｂ.mp3", u"ab.mp3"}, {u"AB.mp3", u"AB-2.mp3"}},
       kCase,
       {"AB.mp3>AB-2.mp3", "ａｂ.mp3>ab.mp3"},
       1},
      {"where only width folds, the full-width name is another spelling of its target",
       {{u"ａｂ.mp3", u"ab.mp3"}, {u"AB.mp3", u"AB-2.mp3"}},
       kWidth,
       {"*ａｂ.mp3>tmp", U8(TemporaryRenameName(u"ａｂ.mp3")) + ">ab.mp3", "AB.mp3>AB-2.mp3"},
       1},
      {"a width-only change where width folds goes through a temporary name",
       {{u"ａ.mp3", u"a.mp3"}},
       kWidth,
       {"*ａ.mp3>tmp", U8(TemporaryRenameName(u"ａ.mp3")) + ">a.mp3"},
       1},
      {"names traded in case make a cycle",
       {{u"Rock", u"POP"}, {u"pop", u"ROCK"}},
       kCase,
       {"*Rock>tmp", "pop>ROCK", U8(TemporaryRenameName(u"Rock")) + ">POP"},
       1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const PlanText plan = PlanInFolding(c.moves, c.folding);
    EXPECT_EQ(plan.steps, c.steps);
    EXPECT_EQ(plan.asked, c.asked);
  }
}

}  // namespace
}  // namespace tarvel
