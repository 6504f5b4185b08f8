#include "ui/change_table.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <optional>

#include "platform/text.h"
#include "sample_library.h"
#include "ui/reading_dialog.h"
#include "window_fixture.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::U8;

PlanRow Row(std::u16string_view folder, std::u16string_view old_name, std::u16string_view new_name,
            std::u16string_view title, uint8_t notices, bool is_file = true) {
  PlanRow r;
  r.folder = SharedText(folder);
  r.old_name = old_name;
  r.new_name = new_name;
  r.title = title;
  r.notices = notices;
  r.is_file = is_file;
  return r;
}

std::shared_ptr<const ChangePlan> SamplePlan() {
  auto plan = std::make_shared<ChangePlan>();
  plan->rows = {
      Row(u"b", u"夜.mp3", u"ﾖﾙ.mp3", u"", 0),
      Row(u"a", u"歌手", u"ｶｼｭ", u"", kNoticeReadingGuess, false),
      Row(u"a", u"Song.mp3", u"", u"夜 → ﾖﾙ", 0),
      Row(u".", u"twin.mp3", u"twin-2.mp3", u"", kNoticeNumbered),
  };
  return plan;
}

// The old names of the rows the model shows, in order.
std::vector<std::u16string> Shown(const ChangeTableModel& model) {
  std::vector<std::u16string> names;
  for (int i = 0; i < model.rowCount(); ++i) names.push_back(model.RowAt(i)->old_name.str());
  return names;
}

TEST(ChangeTableModelTest, FiltersAndSorts) {
  ChangeTableModel model;
  // Qt's own checks of a model, on every change below: a fault ends the test.
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.SetPlan(SamplePlan());
  EXPECT_EQ(model.headerData(kColumnNewName, Qt::Horizontal).toString().toStdU16String(),
            u"変更後");
  EXPECT_EQ(model.data(model.index(1, kColumnKind)).toString().toStdU16String(), u"フォルダ");
  EXPECT_EQ(model.data(model.index(1, kColumnNotices)).toString().toStdU16String(), u"読みを推測");
  // A cell too narrow for its text shows it whole as its tip; no other role.
  EXPECT_EQ(model.data(model.index(1, kColumnNotices), Qt::ToolTipRole).toString().toStdU16String(),
            u"読みを推測");
  EXPECT_FALSE(model.data(model.index(1, kColumnNotices), Qt::EditRole).isValid());
  struct {
    const char* what;
    bool notices_only;
    const char16_t* search;
    int column;  // -1: not sorted
    Qt::SortOrder order;
    std::vector<std::u16string> expected;
  } kCases[] = {
      {"everything, plan order",
       false,
       u"",
       -1,
       Qt::AscendingOrder,
       {u"夜.mp3", u"歌手", u"Song.mp3", u"twin.mp3"}},
      {"notices only", true, u"", -1, Qt::AscendingOrder, {u"歌手", u"twin.mp3"}},
      {"search in any column, letter case aside",
       false,
       u"ﾖﾙ",
       -1,
       Qt::AscendingOrder,
       {u"夜.mp3", u"Song.mp3"}},
      {"search finds the notice text", false, u"重複", -1, Qt::AscendingOrder, {u"twin.mp3"}},
      {"search finds the kind", false, u"フォルダ", -1, Qt::AscendingOrder, {u"歌手"}},
      {"search ignores letter case", false, u"SONG", -1, Qt::AscendingOrder, {u"Song.mp3"}},
      {"both filters", true, u"twin", -1, Qt::AscendingOrder, {u"twin.mp3"}},
      {"by folder; ties keep the plan order",
       false,
       u"",
       kColumnFolder,
       Qt::AscendingOrder,
       {u"twin.mp3", u"歌手", u"Song.mp3", u"夜.mp3"}},
      {"by folder, descending",
       false,
       u"",
       kColumnFolder,
       Qt::DescendingOrder,
       {u"夜.mp3", u"歌手", u"Song.mp3", u"twin.mp3"}},
      {"by new name",
       false,
       u"",
       kColumnNewName,
       Qt::AscendingOrder,
       {u"Song.mp3", u"twin.mp3", u"歌手", u"夜.mp3"}},
      {"by kind",
       false,
       u"",
       kColumnKind,
       Qt::AscendingOrder,
       {u"歌手", u"夜.mp3", u"Song.mp3", u"twin.mp3"}},
      {"by notices, filtered",
       true,
       u"",
       kColumnNotices,
       Qt::DescendingOrder,
       {u"歌手", u"twin.mp3"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ChangeTableModel m;
    m.SetPlan(model.plan());
    if (c.column >= 0) m.sort(c.column, c.order);
    // Views are told before the rows change as well as after.
    QSignalSpy before(&m, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy after(&m, &QAbstractItemModel::modelReset);
    m.SetFilter(c.notices_only, QString::fromUtf16(c.search));
    EXPECT_EQ(before.count(), 1);
    EXPECT_EQ(after.count(), 1);
    EXPECT_EQ(Shown(m), c.expected);
    EXPECT_EQ(m.TotalRows(), 4);
  }
}

// A plan of a large library: every row is there, the notice filter finds
// exactly the rows with a notice, and a sort orders all of them.
TEST(ChangeTableModelTest, HoldsAHundredThousandRows) {
  constexpr int kRows = 100000;
  auto plan = std::make_shared<ChangePlan>();
  plan->rows.reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    // Names out of order, one in fifty with a notice.
    const std::u16string name = DecimalText((i * 7919) % kRows) + u".mp3";
    plan->rows.push_back(Row(u"a", name, u"", u"", i % 50 == 0 ? kNoticeShortened : 0));
  }
  ChangeTableModel model;
  model.SetPlan(plan);
  EXPECT_EQ(model.rowCount(), kRows);
  model.SetFilter(true, QString());
  EXPECT_EQ(model.rowCount(), kRows / 50);
  model.SetFilter(false, QString());
  model.sort(kColumnOldName, Qt::AscendingOrder);
  ASSERT_EQ(model.rowCount(), kRows);
  for (int i = 1; i < kRows; ++i) {
    ASSERT_LE(model.RowAt(i - 1)->old_name.str(), model.RowAt(i)->old_name.str()) << i;
  }
}

// The window's filter controls reach the model, the count follows, and
// every control is named by its caption.
TEST(ChangeTableWindowTest, ControlsFilterAndCount) {
  std::vector<std::u16string> asked;
  ChangeTableWindow window(nullptr,
                           [&](const PlanRow& row) { asked.push_back(row.old_name.str()); });
  window.SetPlan(nullptr);  // no plan yet: no rows of none
  EXPECT_EQ(window.count()->text().toStdU16String(), u"0 / 0 行");
  window.SetPlan(SamplePlan());
  auto name = [](QObject* o) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(o);
    return a ? a->text(QAccessible::Name).toStdU16String() : std::u16string(u"(none)");
  };
  EXPECT_EQ(window.windowTitle().toStdU16String(), u"変更一覧");
  EXPECT_EQ(name(window.view()), u"変更一覧");
  EXPECT_EQ(name(window.notices_only()), u"注意のある行のみ");
  EXPECT_EQ(name(window.search()), u"検索");
  EXPECT_EQ(name(window.correct_button()), u"読みを修正");
  EXPECT_TRUE(window.search()->isClearButtonEnabled());
  QPushButton* close = nullptr;
  for (QPushButton* b : window.findChildren<QPushButton*>()) {
    if (name(b) == u"閉じる") close = b;
  }
  ASSERT_NE(close, nullptr);
  // Every control is in the window, where the user sees it.
  QWidget* const controls[] = {window.view(), window.notices_only(), window.search(),
                               window.correct_button(), window.count()};
  for (QWidget* control : controls) EXPECT_TRUE(window.isAncestorOf(control)) << U8(name(control));
  // One row at a time: the correction is for one reading.
  EXPECT_EQ(window.view()->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(window.count()->text().toStdU16String(), u"4 / 4 行");
  // Until a header is clicked the rows keep the plan's order, and no column
  // shows a sort arrow.
  QHeaderView* header = window.view()->horizontalHeader();
  EXPECT_EQ(header->sortIndicatorSection(), -1);
  EXPECT_EQ(Shown(*static_cast<const ChangeTableModel*>(window.view()->model())),
            (std::vector<std::u16string>{u"夜.mp3", u"歌手", u"Song.mp3", u"twin.mp3"}));
  // A click on a column's header sorts by that column.
  window.resize(800, 400);
  // 読みを修正 stands at the left under the table, 閉じる apart at the right.
  window.layout()->activate();
  EXPECT_LT(window.correct_button()->geometry().right(), 400);
  EXPECT_GT(close->geometry().left(), 400);
  // The filter above the table, the buttons under it.
  auto top = [&](QWidget* w) { return w->mapTo(&window, QPoint(0, 0)).y(); };
  EXPECT_LT(top(window.notices_only()), top(window.view()));
  EXPECT_LT(top(window.view()), top(window.correct_button()));
  QTest::mouseClick(
      header->viewport(), Qt::LeftButton, {},
      QPoint(header->sectionViewportPosition(kColumnOldName) + 4, header->height() / 2));
  EXPECT_EQ(Shown(*static_cast<const ChangeTableModel*>(window.view()->model())),
            (std::vector<std::u16string>{u"Song.mp3", u"twin.mp3", u"夜.mp3", u"歌手"}));
  window.notices_only()->setChecked(true);
  EXPECT_EQ(window.count()->text().toStdU16String(), u"2 / 4 行");
  window.search()->setText(QStringLiteral("twin"));
  EXPECT_EQ(window.count()->text().toStdU16String(), u"1 / 4 行");
  // Nothing selected: nothing to correct.
  EXPECT_FALSE(window.correct_button()->isEnabled());
  window.CorrectSelected();
  EXPECT_TRUE(asked.empty());
  window.view()->selectRow(0);
  EXPECT_TRUE(window.correct_button()->isEnabled());
  window.correct_button()->click();
  EXPECT_EQ(asked, std::vector<std::u16string>{u"twin.mp3"});
  window.show();
  // Wider than all the columns, the last one takes the room left.
  window.resize(header->length() + 400, 400);
  QCoreApplication::processEvents();
  EXPECT_EQ(header->length(), window.view()->viewport()->width());
  close->click();
  EXPECT_FALSE(window.isVisible());
}

// A check-only run opens the table; correcting a reading from it writes the
// user's dictionary and shows the new name, and changes nothing else.
class ChangeTableRunTest : public testing::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    lib_ = dir() / "lib";
    sample::WriteMp3(lib_, u"紅蓮華.mp3", 64, std::nullopt);
    sample::WriteMp3(lib_, u"Song.mp3", 64, std::nullopt);
  }
  std::string Options(const std::string& extra) const {
    return "PathDataFolder=" + lib_.string() +
           "\r\nFlagCheckOnlyFilename=1\r\nFlagCheckOnlyID3Tag=1\r\nFlagPathSaveCSV=1\r\n"
           "FlagConvertFilename=1\r\nConvertLevelFilename=1\r\n" +
           extra;
  }
  fs::path lib_;
};

TEST_F(ChangeTableRunTest, CheckOnlyRunOpensTheTableAndAReadingIsCorrected) {
  MainWindow& w = Open(Options("FlagDicEnabledFilename=1\r\nFlagConvertID3Tag=0\r\n"));
  EXPECT_FALSE(c().cmdChanges->isEnabled());
  c().cmdRename->click();
  ASSERT_NE(w.changes(), nullptr);
  EXPECT_TRUE(w.changes()->isVisible());
  EXPECT_TRUE(c().cmdChanges->isEnabled());
  ChangeTableModel& model = w.changes()->model();
  ASSERT_EQ(model.rowCount(), 1);
  const std::u16string misread = model.RowAt(0)->new_name.str();
  const auto tree = testing::ExactTree(lib_);
  const std::string list = testing::ReadBytes(lib_ / "list.csv");
  const std::string dic = testing::ReadBytes(app_dir_ / "dic.csv");

  reading_answer_ = ReadingAnswer{QString::fromUtf16(u"紅蓮華"), QString::fromUtf16(u"ぐれんげ")};
  w.changes()->view()->selectRow(0);
  // The new plan is made with the window busy: nothing else can start a run
  // while it is made (the first event it lets through looks).
  std::optional<bool> run_button_during_plan;
  QTimer::singleShot(0, &w, [&] { run_button_during_plan = c().cmdRename->isEnabled(); });
  w.changes()->correct_button()->click();
  EXPECT_EQ(run_button_during_plan, std::optional<bool>(false));
  EXPECT_EQ(reading_question_.original.toStdU16String(), u"紅蓮華");
  EXPECT_EQ(U8(ToHalfWidthKana(reading_question_.reading.toStdU16String()) + u".mp3"), U8(misread));
  EXPECT_TRUE(reading_question_.note.isEmpty());
  ASSERT_EQ(model.rowCount(), 1);
  EXPECT_EQ(U8(model.RowAt(0)->new_name), U8(u"ｸﾞﾚﾝｹﾞ.mp3"));
  const std::string dic_now = testing::ReadBytes(app_dir_ / "dic.csv");
  EXPECT_EQ(dic_now.size(), dic.size() + std::string("\"紅蓮華\",\"グレンゲ\"\r\n").size());
  EXPECT_NE(dic_now.find("\"紅蓮華\",\"グレンゲ\""), std::string::npos);
  EXPECT_EQ(testing::ExactTree(lib_), tree);
  EXPECT_EQ(testing::ReadBytes(lib_ / "list.csv"), list);
  EXPECT_FALSE(w.busy());

  // Cancelled: nothing is written.
  reading_answer_.reset();
  const std::string dic_after = testing::ReadBytes(app_dir_ / "dic.csv");
  w.changes()->correct_button()->click();
  EXPECT_EQ(testing::ReadBytes(app_dir_ / "dic.csv"), dic_after);
}

// A file's name is offered without its extension; a folder's whole, even
// with a dot four from its end.
TEST_F(ChangeTableRunTest, TheDialogOffersTheNameWithoutAFilesExtension) {
  Open(Options(""));
  const struct {
    const char16_t* name;
    bool is_file;
    const char16_t* offered;
  } kCases[] = {
      {u"紅蓮華.mp3", true, u"紅蓮華"},
      {u"紅蓮華.OST", false, u"紅蓮華.OST"},
  };
  for (const auto& k : kCases) {
    reading_answer_.reset();
    window_->CorrectReading(Row(u".", k.name, u"", u"", 0, k.is_file));
    EXPECT_EQ(U8(reading_question_.original.toStdU16String()), U8(k.offered));
  }
}

TEST_F(ChangeTableRunTest, TheDialogSaysWhenTheDictionaryIsOff) {
  struct {
    std::string options;
    const char16_t* named;  // what the note names; empty: no note
  } kCases[] = {
      {"FlagDicEnabledFilename=0\r\nFlagConvertID3Tag=0\r\n", u"ファイル名には"},
      {"FlagDicEnabledFilename=1\r\nFlagConvertID3Tag=1\r\nFlagDicEnabledID3Tag=0\r\n",
       u"ID3Tagには"},
  };
  for (const auto& k : kCases) {
    window_.reset();
    Open(Options(k.options));
    c().cmdRename->click();
    ASSERT_NE(window_->changes(), nullptr);
    window_->changes()->view()->selectRow(0);
    reading_answer_.reset();
    window_->changes()->correct_button()->click();
    EXPECT_TRUE(reading_question_.note.contains(QString::fromUtf16(k.named)))
        << reading_question_.note.toStdString();
  }
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// The correction dialog starts from the question, names its fields for
// assistive tools, and takes OK only with both fields filled.
TEST(ReadingDialogTest, StartsFromTheQuestionAndNeedsBothFields) {
  ReadingDialog dialog(nullptr,
                       {QString::fromUtf16(u"紅蓮華"), QString::fromUtf16(u"グレンカ"), QString()});
  EXPECT_EQ(dialog.windowTitle().toStdU16String(), kReadingDialogTitle);
  EXPECT_EQ(dialog.original()->text().toStdU16String(), u"紅蓮華");
  EXPECT_EQ(dialog.original()->accessibleName().toStdU16String(), u"元の文字");
  EXPECT_EQ(dialog.reading()->accessibleName().toStdU16String(), u"読み");
  QPushButton* ok = nullptr;
  for (QPushButton* b : dialog.findChildren<QPushButton*>()) {
    if (b->accessibleName() == QStringLiteral("OK")) ok = b;
  }
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isEnabled());
  // Both fields are in the dialog, the original above the reading.
  dialog.show();
  EXPECT_TRUE(dialog.original()->isVisible());
  EXPECT_TRUE(dialog.reading()->isVisible());
  EXPECT_LT(dialog.original()->y(), dialog.reading()->y());
  dialog.reading()->setText(QStringLiteral(" "));
  EXPECT_FALSE(ok->isEnabled());
  dialog.original()->setText(QString::fromUtf16(u"紅蓮"));
  dialog.reading()->setText(QString::fromUtf16(u"グレン"));
  EXPECT_TRUE(ok->isEnabled());
  const ReadingAnswer answer = dialog.Answer();
  EXPECT_EQ(answer.original.toStdU16String(), u"紅蓮");
  EXPECT_EQ(answer.reading.toStdU16String(), u"グレン");
  // A long note is wrapped: the dialog does not grow as wide as its text.
  ReadingDialog noted(nullptr, {QString::fromUtf16(u"紅蓮華"), QString::fromUtf16(u"グレンカ"),
                                QString(400, QChar(u'注'))});
  EXPECT_LT(noted.sizeHint().width(), 1000);
}

}  // namespace
}  // namespace tarvel
