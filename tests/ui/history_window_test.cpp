// The history window: what its table shows of each run, where it opens, and
// restores from it of real runs, also of a library moved since.
#include "ui/history_window.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <string>
#include <vector>

#include "sample_library.h"
#include "ui/window_placement.h"
#include "window_fixture.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::U8;
using testing::WriteBytes;

// The texts of one row, column by column.
std::vector<std::string> RowTexts(const QAbstractItemModel& model, int row) {
  std::vector<std::string> texts;
  for (int col = 0; col < model.columnCount(); ++col) {
    texts.push_back(model.data(model.index(row, col)).toString().toStdString());
  }
  return texts;
}

TEST(HistoryModelTest, ColumnsOfEachKindOfRun) {
  const fs::path list = "/h/2026-01-02_030405/list.csv";
  struct {
    const char* what;
    HistoryEntry run;
    std::vector<std::u16string_view> row;
  } kCases[] = {
      {"current list",
       {list, "2026-01-02 03:04:05", u"/m/曲", true, true, "", 3, 2, 1},
       {u"2026-01-02 03:04:05", u"/m/曲", u"3", u"2", u"1", u"現在のリスト"}},
      {"current list restored from",
       {list, "2026-01-02 03:04:05", u"/m", true, true, "2026-01-03 00:00:09", 4, 0, 4},
       {u"2026-01-02 03:04:05", u"/m", u"4", u"0", u"4",
        u"現在のリスト、復元済み（2026-01-03 00:00:09）"}},
      {"kept, never restored",
       {list, "2026-01-02 03:04:05-2", u"/m", true, false, "", 10, 7, 0},
       {u"2026-01-02 03:04:05-2", u"/m", u"10", u"7", u"0", u"未復元"}},
      {"kept, restored",
       {list, "2026-01-02 03:04:05", u"/m", true, false, "2026-01-04 10:11:12", 1, 1, 1},
       {u"2026-01-02 03:04:05", u"/m", u"1", u"1", u"1", u"復元済み（2026-01-04 10:11:12）"}},
      // Counts of a list that cannot be read are unknown, whatever they hold.
      {"kept, unreadable",
       {list, "2026-01-02 03:04:05", u"", false, false, "2026-01-04 10:11:12", 5, 5, 5},
       {u"2026-01-02 03:04:05", u"", u"？", u"？", u"？", u"読めません"}},
      {"current, unreadable",
       {list, "2026-01-02 03:04:05", u"", false, true, "", 0, 0, 0},
       {u"2026-01-02 03:04:05", u"", u"？", u"？", u"？", u"現在のリスト、読めません"}},
  };
  HistoryModel model;
  std::vector<HistoryEntry> runs;
  for (const auto& c : kCases) runs.push_back(c.run);
  model.SetRuns(runs);
  ASSERT_EQ(model.rowCount(), static_cast<int>(std::size(kCases)));
  for (int row = 0; row < model.rowCount(); ++row) {
    SCOPED_TRACE(kCases[row].what);
    std::vector<std::string> expected;
    for (std::u16string_view text : kCases[row].row) expected.push_back(U8(text));
    EXPECT_EQ(RowTexts(model, row), expected);
    EXPECT_EQ(model.data(model.index(row, 0), Qt::ToolTipRole).toString().toStdString(),
              list.native());
  }
  std::vector<std::string> headers;
  for (int col = 0; col < model.columnCount(); ++col) {
    headers.push_back(model.headerData(col, Qt::Horizontal).toString().toStdString());
  }
  EXPECT_EQ(headers, (std::vector<std::string>{"日時", "フォルダ", "行数", "名前の変更",
                                               "ID3Tagの変更", "状態"}));
  // Captions only: the header's alignment and the rest stay the view's own.
  for (int role : {Qt::TextAlignmentRole, Qt::ToolTipRole, Qt::FontRole}) {
    EXPECT_FALSE(model.headerData(0, Qt::Horizontal, role).isValid()) << role;
  }
  EXPECT_FALSE(model.headerData(-1, Qt::Horizontal).isValid());
  EXPECT_FALSE(model.headerData(model.columnCount(), Qt::Horizontal).isValid());
  EXPECT_EQ(model.RunAt(model.rowCount()), nullptr);
  EXPECT_EQ(model.RunAt(-1), nullptr);
}

// The window opens beside the main window, never over it where there is
// room, and always on a screen.
TEST(HistoryPlacementTest, BesideTheOwnerAndOnAScreen) {
  const QRect full_hd(0, 0, 1920, 1080);
  struct {
    const char* what;
    QRect owner;
    QSize size;
    QList<QRect> screens;
    QRect expected;
  } kCases[] = {
      {"room on the right", {100, 100, 600, 450}, {640, 300}, {full_hd}, {708, 100, 640, 300}},
      {"right edge: to the left",
       {1300, 100, 600, 450},
       {640, 300},
       {full_hd},
       {652, 100, 640, 300}},
      {"no room either side: the wider side, on the screen",
       {0, 0, 580, 404},
       {640, 300},
       {{0, 0, 800, 600}},
       {160, 0, 640, 300}},
      {"left neighbour spans two screens: narrower on the owner's",
       {2500, 0, 600, 400},
       {640, 300},
       {full_hd, {1920, 0, 1280, 1024}},
       {1920, 0, 572, 300}},
      {"little room: narrower beside it",
       {0, 0, 613, 487},
       {730, 300},
       {{0, 0, 1280, 720}},
       {621, 0, 659, 300}},
      {"larger than the screen: shrunk to it",
       {0, 0, 200, 100},
       {640, 300},
       {{0, 0, 500, 250}},
       {0, 0, 500, 250}},
      {"below the screen's bottom: moved up",
       {100, 900, 600, 450},
       {640, 300},
       {{0, 0, 1000, 1080}},
       {360, 780, 640, 300}},
      {"no screens known: to the right", {0, 0, 100, 100}, {50, 50}, {}, {108, 0, 50, 50}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(PlaceBeside(c.owner, c.size, c.screens), c.expected) << c.what;
  }
}

// A library with kana names, a folder and tags, converted and restored
// through the windows.
class HistoryWindowTest : public testing::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    lib_ = MakeKanaLibrary();
  }
  std::string Options(int path_save_csv) const {
    return "PathDataFolder=" + lib_.string() +
           "\r\nFlagCheckOnlyFilename=0\r\nFlagCheckOnlyID3Tag=0\r\nFlagPathSaveCSV=" +
           std::to_string(path_save_csv) + "\r\n";
  }
  // Opens the history window from its button.
  HistoryWindow& History() {
    c().cmdHistory->click();
    HistoryWindow* history = window_->history();
    EXPECT_NE(history, nullptr);
    return *history;
  }
  std::vector<std::string> States(const HistoryWindow& h) const {
    std::vector<std::string> states;
    for (int row = 0; row < h.model()->rowCount(); ++row) {
      states.push_back(RowTexts(*h.model(), row)[HistoryModel::kState]);
    }
    return states;
  }
  // Opens the main window with every question, chooser and opener answered
  // by the test.
  MainWindow& OpenAnswered(const std::string& options) {
    WriteBytes(ini(), "[Option]\r\n" + options);
    EXPECT_TRUE(Startup(app_, app_dir_ / "tarvel").ok());
    app_.reading = &reading_;
    MainWindowSeams seams;
    seams.message = [this](QWidget*, const QString& title, const QString& text) {
      said_.push_back({title, text, true});
    };
    seams.open_list = [this](QWidget*, const QString&, const QString&) { return list_answer_; };
    seams.moved_library = [this](QWidget*, const QString& title, const QString& start) {
      library_dialog_title_ = title;
      library_dialog_start_ = start;
      return library_answer_;
    };
    seams.confirm = [this](QWidget*, const QString& title, const QString& text) {
      asked_.push_back(title + "|" + text);
      return confirm_answer_;
    };
    seams.open_file = [this](const QUrl& url) {
      opened_.push_back(url);
      return open_answer_;
    };
    window_ = std::make_unique<MainWindow>(app_, std::move(seams));
    window_->Load();
    return *window_;
  }
  fs::path lib_;
  std::vector<QString> asked_;  // title|text of each question
  bool confirm_answer_ = false;
  std::vector<QUrl> opened_;
  bool open_answer_ = true;
};

// Runs kept one after another are listed newest first with what each one
// changed; one is restored from after a question, a refused question
// changes nothing, and the table then shows it as restored.
TEST_F(HistoryWindowTest, ListsRunsNewestFirstAndRestoresTheChosenOne) {
  AddRome();
  // A folder column wider than the window's first size.
  fs::rename(lib_, dir() / "library-of-long-name");
  lib_ = dir() / "library-of-long-name";
  MainWindow& w = OpenAnswered(Options(1));
  const auto before = testing::ExactTree(lib_);
  c().cmdRename->click();  // the first run: names and a tag change
  HistoryWindow& h = History();
  EXPECT_TRUE(h.isVisible());
  EXPECT_EQ(h.windowTitle().toStdString(), "変換履歴");
  EXPECT_EQ(States(h), std::vector<std::string>{"現在のリスト"});
  // Opened wide enough to show every column whole.
  h.layout()->activate();
  const QAbstractItemView* view = h.table();
  const int last = HistoryModel::kColumnCount - 1;
  EXPECT_LE(h.table()->horizontalHeader()->sectionPosition(last) + view->sizeHintForColumn(last),
            view->viewport()->width());
  EXPECT_FALSE(h.table()->horizontalScrollBar()->isVisible());
  c().cmdRename->click();  // changes nothing; the first list is kept
  ASSERT_EQ(States(h), (std::vector<std::string>{"現在のリスト", "未復元"}));
  EXPECT_EQ(RowTexts(*h.model(), 0)[HistoryModel::kRenames], "0");
  EXPECT_EQ(RowTexts(*h.model(), 1)[HistoryModel::kFolder], lib_.string() + "/");
  const auto converted = testing::ExactTree(lib_);
  ASSERT_NE(converted, before);

  // Nothing selected: neither restore nor open.
  EXPECT_FALSE(h.restore_button()->isEnabled());
  EXPECT_FALSE(h.open_button()->isEnabled());
  h.table()->selectRow(1);
  ASSERT_TRUE(h.restore_button()->isEnabled());
  struct {
    bool answer;
    bool restored;
  } kAnswers[] = {{false, false}, {true, true}};
  for (const auto& a : kAnswers) {
    SCOPED_TRACE(a.answer ? "yes" : "no");
    asked_.clear();
    confirm_answer_ = a.answer;
    h.restore_button()->click();
    ASSERT_EQ(asked_.size(), 1u);
    // The question names the run's time and its library.
    const std::string time = RowTexts(*h.model(), 1)[HistoryModel::kTime];
    EXPECT_NE(asked_[0].toStdString().find(time), std::string::npos) << asked_[0].toStdString();
    EXPECT_NE(asked_[0].toStdString().find(lib_.string()), std::string::npos);
    EXPECT_EQ(testing::ExactTree(lib_), a.restored ? before : converted);
  }
  EXPECT_FALSE(w.busy());
  EXPECT_NE(w.log().LogText().find(u"復元を開始します。"), std::u16string::npos);
  const std::vector<std::string> states = States(h);
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[0], "現在のリスト");
  EXPECT_TRUE(states[1].starts_with("復元済み（20")) << states[1];
  // The restored run stays selected.
  EXPECT_EQ(h.table()->selectionModel()->selectedRows().value(0).row(), 1);

  // A third file and two more runs: one more kept run with changes, newer
  // than the restored one; an unreadable kept list is the oldest.
  sample::WriteMp3(lib_, u"みっつめ.mp3", 64, std::nullopt);
  c().cmdRename->click();
  fs::create_directories(app_.folder.history_dir / "2000-01-01_000000");
  WriteBytes(app_.folder.history_dir / "2000-01-01_000000" / "list.csv", "\x01not a list");
  // During a run nothing in the window starts another.
  bool busy_restore = true, busy_history = true;
  QTimer::singleShot(0, &w, [&] {
    busy_restore = h.restore_button()->isEnabled();
    busy_history = c().cmdHistory->isEnabled();
  });
  c().cmdRename->click();
  EXPECT_FALSE(busy_restore);
  EXPECT_FALSE(busy_history);
  ASSERT_EQ(h.model()->rowCount(), 4);
  EXPECT_EQ(States(h)[1], "未復元");
  EXPECT_EQ(RowTexts(*h.model(), 1)[HistoryModel::kRows], "4");  // with the folder
  EXPECT_EQ(RowTexts(*h.model(), 2)[HistoryModel::kRows], "3");
  EXPECT_TRUE(States(h)[2].starts_with("復元済み（")) << States(h)[2];
  EXPECT_EQ(States(h)[3], "読めません");

  // An unreadable list cannot be restored from; it can be opened.
  h.table()->selectRow(3);
  EXPECT_FALSE(h.restore_button()->isEnabled());
  asked_.clear();
  h.RestoreSelected();  // nor asked for otherwise
  EXPECT_TRUE(asked_.empty());
  struct {
    bool opened;
    size_t messages;
  } kOpens[] = {{true, 0}, {false, 1}};
  for (const auto& o : kOpens) {
    opened_.clear();
    said_.clear();
    open_answer_ = o.opened;
    h.open_button()->click();
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0].toLocalFile().toStdString(),
              (app_.folder.history_dir / "2000-01-01_000000" / "list.csv").string());
    EXPECT_EQ(said_.size(), o.messages);
  }
  // Opened again, the one window comes back.
  h.close_button()->click();
  EXPECT_FALSE(h.isVisible());
  EXPECT_EQ(&History(), &h);
  EXPECT_TRUE(h.isVisible());
}

// A library renamed after its run is restored where it lies now: the folder
// chooser is asked and the files are back under their old names there.
TEST_F(HistoryWindowTest, RestoresAMovedLibraryWhereItIsNow) {
  AddRome();
  // The list goes to the program's folder, so that it stays where it was.
  OpenAnswered(Options(0));
  const auto before = testing::ExactTree(lib_);
  c().cmdRename->click();
  const fs::path moved = dir() / "renamed";
  fs::rename(lib_, moved);
  const auto converted = testing::ExactTree(moved);
  ASSERT_NE(converted, before);
  HistoryWindow& h = History();
  ASSERT_EQ(States(h), std::vector<std::string>{"現在のリスト"});
  h.table()->selectRow(0);
  confirm_answer_ = true;
  library_answer_ = QString::fromStdString(moved.string());
  h.restore_button()->click();
  EXPECT_EQ(library_dialog_title_, QString::fromUtf16(kMovedLibraryTitle));
  EXPECT_EQ(testing::ExactTree(moved), before);
  EXPECT_FALSE(fs::exists(lib_));
  EXPECT_TRUE(States(h)[0].find("復元済み（") != std::string::npos) << States(h)[0];
}

// Screen readers and the automation find every control by its caption.
TEST_F(HistoryWindowTest, ControlsAreNamedByTheirCaptions) {
  OpenAnswered("");
  const auto name = [](QObject* o) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(o);
    return a ? a->text(QAccessible::Name).toStdString() : std::string("(none)");
  };
  EXPECT_EQ(name(c().cmdHistory), "履歴");
  EXPECT_FALSE(c().cmdHistory->toolTip().isEmpty());
  HistoryWindow& h = History();
  const std::pair<QObject*, const char*> kNames[] = {{h.table(), "変換履歴"},
                                                     {h.restore_button(), "復元"},
                                                     {h.open_button(), "開く"},
                                                     {h.close_button(), "閉じる"}};
  for (const auto& [object, caption] : kNames) EXPECT_EQ(name(object), caption);
  // The buttons stand in one row under the table, 閉じる apart at the right.
  h.resize(600, 400);
  h.layout()->activate();
  const QRect restore = h.restore_button()->geometry();
  const QRect open = h.open_button()->geometry();
  const QRect close = h.close_button()->geometry();
  EXPECT_GT(restore.top(), h.table()->geometry().bottom());
  EXPECT_EQ(open.top(), restore.top());
  EXPECT_EQ(close.top(), restore.top());
  EXPECT_LT(restore.right(), open.left());
  EXPECT_GT(close.left() - open.right(), 200);
  EXPECT_GT(close.right(), 500);
  EXPECT_EQ(h.table()->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(h.table()->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_FALSE(h.table()->tabKeyNavigation());           // Tab goes on to the buttons
  EXPECT_TRUE(h.table()->verticalHeader()->isHidden());  // no row numbers before the runs
  EXPECT_FALSE(h.isModal());
  // Asked for again while the main window has the keys, it takes them.
  window_->show();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == window_.get(); }));
  EXPECT_EQ(&History(), &h);
  EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &h; }, 1000));
}

}  // namespace
}  // namespace tarvel
