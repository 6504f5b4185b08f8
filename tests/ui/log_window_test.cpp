#include "ui/log_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::ReadBytes;
using testing::U8;
using testing::WriteBytes;

// Lets window events run, with every log window's batch moved into its
// view at once rather than after the batch interval.
void PumpEvents() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* log = qobject_cast<LogWindow*>(w)) log->FlushPending();
  }
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QPushButton* Button(QWidget* window, const char16_t* caption) {
  for (QPushButton* b : window->findChildren<QPushButton*>()) {
    if (b->text() == QString::fromUtf16(caption)) return b;
  }
  return nullptr;
}

std::u16string Shown(LogWindow* w) { return w->monitor()->toPlainText().toStdU16String(); }

class LogWindowTest : public testing::TempDirTest {
 protected:
  std::filesystem::path Ini() const { return dir() / "tarvel.ini"; }
};

TEST(LogWindowUnitsTest, TwipsAndPixels) {
  struct {
    int64_t twips;
    double dpi;
    int pixels;
  } const kCases[] = {{1635, 96, 109}, {4080, 96, 272}, {6840, 96, 456},
                      {5715, 96, 381}, {15, 96, 1},     {1440, 144, 144},
                      {-150, 96, -10}, {7, 96, 0},      {8, 96, 1},
                      {1635, 0, 109},  {1635, -3, 109}, {int64_t{1} << 40, 96, QWIDGETSIZE_MAX},
                      {2295, 120, 191}};
  for (const auto& c : kCases) {
    EXPECT_EQ(TwipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " at " << c.dpi;
  }
  struct {
    int64_t pixels;
    double dpi;
    int32_t twips;
  } const kBack[] = {{109, 96, 1635},
                     {-10, 96, -150},
                     {144, 144, 1440},
                     {1, 120, 12},
                     {int64_t{1} << 40, 96, INT32_MAX},
                     {-(int64_t{1} << 40), 96, INT32_MIN}};
  for (const auto& c : kBack) {
    EXPECT_EQ(PixelsToTwips(c.pixels, c.dpi), c.twips) << c.pixels << " at " << c.dpi;
  }
}

TEST_F(LogWindowTest, StoredPlacementAndItsDefaults) {
  struct {
    const char* name;
    const char* ini;  // nullptr: no file
    LogWindowGeometry expected;
  } const kCases[] = {
      {"no file", nullptr, {1635, 4080, 6840, 5715}},
      {"no section", "[Option]\r\nPlayer=1\r\n", {1635, 4080, 6840, 5715}},
      {"all stored",
       "[LogWindow]\r\nTop=-150\r\nLeft=30\r\nWidth=9000\r\nHeight=6000\r\n",
       {-150, 30, 9000, 6000}},
      {"other letter case and spaces",
       "[logwindow]\r\n top = 15 \r\nWIDTH=4500\r\n",
       {15, 4080, 4500, 5715}},
      {"not numbers",
       "[LogWindow]\r\nTop=abc\r\nLeft=12x\r\nWidth=\r\nHeight=1.5\r\n",
       {1635, 4080, 6840, 5715}},
      {"beyond 32 bits",
       "[LogWindow]\r\nTop=99999999999\r\nLeft=+15\r\nWidth=-\r\nHeight=0x10\r\n",
       {1635, 4080, 6840, 5715}},
      {"32-bit limits, leading zeros",
       "[LogWindow]\r\nTop=-2147483648\r\nLeft=2147483647\r\nWidth=007\r\nHeight=-0\r\n",
       {INT32_MIN, INT32_MAX, 6840, 5715}},
      {"full-width digits",
       "[LogWindow]\r\nTop=\xEF\xBC\x91\xEF\xBC\x95\r\n",
       {1635, 4080, 6840, 5715}},
  };
  for (const auto& c : kCases) {
    std::filesystem::remove(Ini());
    if (c.ini != nullptr) WriteBytes(Ini(), c.ini);
    LogWindowGeometry g = LoadLogWindowPlacement(Ini());
    EXPECT_EQ(g.Top, c.expected.Top) << c.name;
    EXPECT_EQ(g.Left, c.expected.Left) << c.name;
    EXPECT_EQ(g.Width, c.expected.Width) << c.name;
    EXPECT_EQ(g.Height, c.expected.Height) << c.name;
  }
}

TEST_F(LogWindowTest, OpensAtTheDefaultPlacementWithoutASection) {
  WriteBytes(Ini(), "[Option]\r\nPlayer=1\r\n");
  LogWindowHost host(Ini(), nullptr);
  host.Show();
  PumpEvents();
  LogWindow* w = host.window();
  ASSERT_NE(w, nullptr);
  const double dpi = w->Dpi();
  EXPECT_EQ(w->frameGeometry(), QRect(TwipsToPixels(4080, dpi), TwipsToPixels(1635, dpi),
                                      TwipsToPixels(6840, dpi), TwipsToPixels(5715, dpi)));
  EXPECT_EQ(w->windowTitle(), QString::fromUtf16(u"ログ"));
}

// A window manager may add the frame only after the window is shown: the
// stored size is still the outer frame's once the frame is there.
TEST_F(LogWindowTest, AFrameAddedLateStillKeepsTheStoredOuterSize) {
  WriteBytes(Ini(), "[Option]\r\nPlayer=1\r\n");
  LogWindow w(Ini(), nullptr);
  const double dpi = w.Dpi();
  const QSize stored(TwipsToPixels(6840, dpi), TwipsToPixels(5715, dpi));
  w.setWindowFlag(Qt::FramelessWindowHint);
  w.show();
  PumpEvents();
  ASSERT_EQ(w.frameGeometry().size(), w.size());
  w.hide();
  w.windowHandle()->destroy();
  w.setWindowFlag(Qt::FramelessWindowHint, false);
  w.show();
  PumpEvents();
  ASSERT_NE(w.frameGeometry().size(), w.size());
  EXPECT_EQ(w.frameGeometry().size(), stored);
}

TEST_F(LogWindowTest, PlacementIsWrittenOnCloseAndUsedOnTheNextShow) {
  QWidget owner;
  LogWindowHost host(Ini(), &owner);
  host.Show();
  host.AppendLog(u"first run\r\n");
  PumpEvents();
  LogWindow* w = host.window();
  ASSERT_NE(w, nullptr);
  const double dpi = w->Dpi();
  w->move(60, 45);
  w->resize(420, 300);
  PumpEvents();
  // The stored placement is the outer frame's.
  const QRect moved = w->frameGeometry();
  ASSERT_EQ(moved.topLeft(), QPoint(60, 45));
  ASSERT_GE(moved.width(), 420);

  Button(w, u"戻る")->click();
  // Closed, the window drops its text at once; it is deleted later.
  EXPECT_TRUE(w->unloaded());
  EXPECT_EQ(w->LogText(), u"");
  PumpEvents();
  EXPECT_EQ(host.window(), nullptr);
  const std::string ini = ReadBytes(Ini());
  EXPECT_NE(ini.find("[LogWindow]\r\nTop=" + std::to_string(PixelsToTwips(45, dpi)) +
                     "\r\nLeft=" + std::to_string(PixelsToTwips(60, dpi)) +
                     "\r\nWidth=" + std::to_string(PixelsToTwips(moved.width(), dpi)) +
                     "\r\nHeight=" + std::to_string(PixelsToTwips(moved.height(), dpi)) + "\r\n"),
            std::string::npos)
      << ini;

  host.Show();
  PumpEvents();
  ASSERT_NE(host.window(), nullptr);
  EXPECT_EQ(host.window()->frameGeometry(), moved);
  EXPECT_EQ(host.LogText(), u"");
  EXPECT_EQ(Shown(host.window()), u"");
}

// Tab goes from the text to "戻る" and then "ログを消去"; long lines and many
// lines scroll rather than wrap or hide. The log keeps its own 9-point font
// whatever the program's font is.
TEST_F(LogWindowTest, TabOrderAndScrollBars) {
  const QFont app_font = QApplication::font();
  QFont large = app_font;
  large.setPointSize(14);
  QApplication::setFont(large);
  LogWindowHost host(Ini(), nullptr);
  host.AppendLog(std::u16string(400, u'ア') + u"\r\n");
  for (int i = 0; i < 200; ++i) host.AppendLog(u"行\r\n");
  host.Show();
  PumpEvents();
  LogWindow* w = host.window();
  QPlainTextEdit* monitor = w->monitor();
  const std::vector<QWidget*> expected = {monitor, Button(w, u"戻る"), Button(w, u"ログを消去")};
  std::vector<QWidget*> chain;
  QWidget* at = monitor;
  do {
    if (std::find(expected.begin(), expected.end(), at) != expected.end()) chain.push_back(at);
    at = at->nextInFocusChain();
  } while (at != monitor && chain.size() < 10);
  EXPECT_EQ(chain, expected);
  EXPECT_TRUE(monitor->isReadOnly());
  EXPECT_TRUE(monitor->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
  EXPECT_EQ(monitor->document()->availableUndoSteps(), 0);  // a long log is not kept twice
  EXPECT_EQ(monitor->font().pointSize(), 9);
  EXPECT_GT(monitor->horizontalScrollBar()->maximum(), 0);
  EXPECT_GT(monitor->verticalScrollBar()->maximum(), 0);
  // Written before the window opened, the text is shown at its end.
  EXPECT_EQ(monitor->verticalScrollBar()->value(), monitor->verticalScrollBar()->maximum());
  // Both bars stay, even with nothing to scroll, so the text never jumps.
  for (bool cleared : {false, true}) {
    if (cleared) Button(w, u"ログを消去")->click();
    PumpEvents();
    for (QScrollBar* bar : {monitor->horizontalScrollBar(), monitor->verticalScrollBar()}) {
      EXPECT_TRUE(bar->isVisible()) << cleared;
    }
  }
  QApplication::setFont(app_font);
}

TEST_F(LogWindowTest, TextIsKeptAsWrittenAndShownWithLineBreaks) {
  struct {
    const char* name;
    std::vector<std::u16string> pieces;
    std::u16string shown;
  } const kCases[] = {
      {"no separator", {u"a", u"b"}, u"ab"},
      {"CR LF lines", {u"一行目\r\n", u"二行目\r\n"}, u"一行目\n二行目\n"},
      {"CR LF split between writes", {u"x\r", u"\ny"}, u"x\ny"},
      {"lone CR and lone LF", {u"a\rb\nc"}, u"a\nb\nc"},
      {"CR CR LF", {u"a\r\r\nb"}, u"a\n\nb"},
      {"empty pieces", {u"", u"。", u"", u"。"}, u"。。"},
  };
  for (bool shown_while_writing : {true, false}) {
    for (const auto& c : kCases) {
      LogWindowHost host(Ini(), nullptr);
      if (shown_while_writing) host.Show();
      std::u16string all;
      for (const auto& piece : c.pieces) {
        host.AppendLog(piece);
        all += piece;
        PumpEvents();
      }
      host.Show();
      PumpEvents();
      EXPECT_EQ(U8(host.LogText()), U8(all)) << c.name;
      EXPECT_EQ(U8(Shown(host.window())), U8(c.shown)) << c.name << " " << shown_while_writing;
    }
  }
}

TEST_F(LogWindowTest, TextReachesTheViewOnItsOwnWhileEventsRun) {
  LogWindowHost host(Ini(), nullptr);
  host.Show();
  QCoreApplication::processEvents();
  for (int i = 0; i < 1000; ++i) host.AppendLog(u"。");
  host.AppendLog(u"\r\n終了\r\n");
  const QString expected = QString(1000, QChar(u'。')) + QStringLiteral(u"\n終了\n");
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return host.window()->monitor()->toPlainText() == expected; }, 2000));
}

// Writes that keep coming faster than the batch interval still reach the
// view at every interval, not only once they stop.
TEST_F(LogWindowTest, SteadyWritesReachTheViewWhileTheyGoOn) {
  LogWindowHost host(Ini(), nullptr);
  host.Show();
  QCoreApplication::processEvents();
  bool seen_while_writing = false;
  for (int i = 0; i < 40 && !seen_while_writing; ++i) {
    host.AppendLog(u"。");
    QTest::qWait(10);
    seen_while_writing = !host.window()->monitor()->toPlainText().isEmpty();
  }
  EXPECT_TRUE(seen_while_writing);
}

TEST_F(LogWindowTest, ClearingDuringARunRestartsFromTheTop) {
  LogWindowHost host(Ini(), nullptr);
  host.Show();
  for (int i = 0; i < 300; ++i) host.AppendLog(u"before the clear\r\n");
  PumpEvents();
  LogWindow* w = host.window();
  ASSERT_GT(w->monitor()->verticalScrollBar()->maximum(), 0);
  host.AppendLog(u"not yet shown\r\n");
  Button(w, u"ログを消去")->click();
  host.AppendLog(u"after\r\n");
  PumpEvents();
  EXPECT_EQ(host.window(), w);
  EXPECT_EQ(host.LogText(), u"after\r\n");
  EXPECT_EQ(Shown(w), u"after\n");
  EXPECT_EQ(w->monitor()->verticalScrollBar()->value(), 0);
}

TEST_F(LogWindowTest, WritesAfterACloseGoToANewHiddenWindow) {
  LogWindowHost host(Ini(), nullptr);
  host.Show();
  host.AppendLog(u"old");
  LogWindow* old = host.window();
  old->close();
  // The closed window is not deleted yet; a write must not land in it.
  host.AppendLog(u"new");
  ASSERT_NE(host.window(), nullptr);
  EXPECT_NE(host.window(), old);
  EXPECT_FALSE(host.window()->isVisible());
  EXPECT_EQ(host.LogText(), u"new");
}

TEST_F(LogWindowTest, ViewFollowsNewTextOnlyAtItsEnd) {
  LogWindowHost host(Ini(), nullptr);
  host.Show();
  QScrollBar* bar = host.window()->monitor()->verticalScrollBar();
  auto write_lines = [&](int n) {
    for (int i = 0; i < n; ++i) host.AppendLog(u"ファイル名を変更しました。\r\n");
    PumpEvents();
  };
  write_lines(200);
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  bar->setValue(10);
  write_lines(200);
  EXPECT_EQ(bar->value(), 10);
  bar->setValue(bar->maximum());
  write_lines(5);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(LogWindowTest, TextCanBeSelectedAndCopied) {
  LogWindowHost host(Ini(), nullptr);
  host.Show();
  host.AppendLog(u"曲名\r\nｱﾙﾊﾞﾑ\r\n");
  PumpEvents();
  QPlainTextEdit* monitor = host.window()->monitor();
  monitor->selectAll();
  monitor->copy();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf16(u"曲名\nｱﾙﾊﾞﾑ\n"));
}

TEST(LogWindowArrangementTest, NeverGivesAZeroOrNegativeSize) {
  struct {
    QSize client;
    double dpi;
  } const kCases[] = {{{456, 381}, 96}, {{0, 0}, 96},      {{-40, -300}, 96},
                      {{1, 1}, 96},     {{10, 1000}, 96},  {{1000, 10}, 96},
                      {{313, 80}, 96},  {{684, 571}, 144}, {{3, 3}, 0}};
  for (const auto& c : kCases) {
    const LogWindowArrangement a = ArrangeLogWindow(c.client, c.dpi);
    const std::string name = std::to_string(c.client.width()) + "x" +
                             std::to_string(c.client.height()) + "@" + std::to_string(c.dpi);
    for (const QRect& r : {a.monitor, a.exit, a.clear}) {
      EXPECT_GE(r.width(), 1) << name;
      EXPECT_GE(r.height(), 1) << name;
      EXPECT_GE(r.x(), 0) << name;
      EXPECT_GE(r.y(), 0) << name;
    }
    EXPECT_EQ(a.monitor.topLeft(), QPoint(0, 0)) << name;
    EXPECT_EQ(a.monitor.width(), std::max(c.client.width(), 1)) << name;
    EXPECT_EQ(a.clear.x(), 0) << name;
    EXPECT_EQ(a.exit.y(), a.clear.y()) << name;
    EXPECT_GT(a.exit.y(), a.monitor.bottom()) << name;
    if (c.client.width() >= 2) {
      EXPECT_LT(a.clear.right(), a.exit.left()) << name;
    }
  }
  // At 96 dpi the buttons are 153 x 33 pixels, 7 pixels below the text box,
  // "戻る" flush with the right edge.
  struct {
    QSize client;
    QRect monitor, exit;
  } const kExact[] = {{{456, 381}, {0, 0, 456, 334}, {303, 341, 153, 33}},
                      {{313, 80}, {0, 0, 313, 33}, {160, 40, 153, 33}}};
  for (const auto& c : kExact) {
    const LogWindowArrangement a = ArrangeLogWindow(c.client, 96);
    EXPECT_EQ(a.monitor, c.monitor);
    EXPECT_EQ(a.exit, c.exit);
    EXPECT_EQ(a.clear, QRect(0, c.exit.y(), c.exit.width(), c.exit.height()));
  }
  EXPECT_EQ(MinimumLogWindowSize(96), QSize(313, 80));
  // At 5 dpi the gap would round to no pixel at all; it stays one.
  EXPECT_EQ(ArrangeLogWindow({100, 50}, 5).monitor, QRect(0, 0, 100, 46));
}

TEST_F(LogWindowTest, TinyOrNegativeStoredSizesStillGiveAUsableWindow) {
  const char* kStored[] = {"Width=-6840\r\nHeight=-5715\r\n", "Width=0\r\nHeight=0\r\n",
                           "Width=15\r\nHeight=15\r\n"};
  for (const char* stored : kStored) {
    WriteBytes(Ini(), std::string("[LogWindow]\r\n") + stored);
    LogWindowHost host(Ini(), nullptr);
    host.Show();
    PumpEvents();
    LogWindow* w = host.window();
    EXPECT_GE(w->width(), w->minimumWidth()) << stored;
    EXPECT_GE(w->height(), w->minimumHeight()) << stored;
    for (QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      EXPECT_GT(child->width(), 0) << stored;
      EXPECT_GT(child->height(), 0) << stored;
    }
    EXPECT_LT(Button(w, u"ログを消去")->geometry().right(), Button(w, u"戻る")->geometry().left())
        << stored;
  }
}

TEST(LogWindowScreensTest, AStoredWindowOpensWhereItCanBeReached) {
  const QList<QRect> kOneScreen = {QRect(0, 0, 800, 600)};
  const QList<QRect> kTwoScreens = {QRect(0, 0, 800, 600), QRect(800, 0, 1024, 768)};
  const QPoint kFallback(272, 109);
  struct {
    const char* name;
    QRect wanted;
    QList<QRect> screens;
    QRect placed;
  } const kCases[] = {
      {"on the screen", {272, 109, 456, 381}, kOneScreen, {272, 109, 456, 381}},
      {"partly off but reachable", {700, 500, 456, 381}, kOneScreen, {700, 500, 456, 381}},
      {"on a screen that is gone", {1000, 100, 456, 381}, kOneScreen, {272, 109, 456, 381}},
      {"on the second screen", {1000, 100, 456, 381}, kTwoScreens, {1000, 100, 456, 381}},
      {"far up and left", {-5000, -5000, 456, 381}, kOneScreen, {272, 109, 456, 381}},
      {"larger than any screen", {0, 0, 100000, 90000}, kTwoScreens, {0, 0, 1024, 768}},
      {"fallback off too", {9000, 9000, 456, 381}, {QRect(2000, 0, 300, 300)}, {2000, 0, 300, 300}},
      {"a corner of 40 pixels on", {760, 560, 456, 381}, kOneScreen, {760, 560, 456, 381}},
      {"a corner of 39 pixels on", {761, 560, 456, 381}, kOneScreen, {272, 109, 456, 381}},
      {"no screens known", {9000, 9000, 456, 381}, {}, {9000, 9000, 456, 381}},
      {"stored without a width", {10, 10, 0, 381}, kOneScreen, {10, 10, 1, 381}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(PlaceOnScreens(c.wanted, kFallback, c.screens), c.placed) << c.name;
  }
}

// The program's own rule: it ends when the main window closes, whether the log
// window was never made, collected text hidden, or is open.
TEST_F(LogWindowTest, ProgramEndsWhenTheMainWindowCloses) {
  enum class Log { kNone, kHidden, kShown };
  for (bool owned : {true, false})
    for (Log log : {Log::kNone, Log::kHidden, Log::kShown}) {
      bool timed_out = false;
      {
        QWidget main_window;
        main_window.show();
        LogWindowHost host(Ini(), owned ? &main_window : nullptr);
        if (log != Log::kNone) host.AppendLog(u"collected while hidden\r\n");
        if (log == Log::kShown) host.Show();
        QTimer::singleShot(0, &main_window, &QWidget::close);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
          timed_out = true;
          QCoreApplication::exit(1);
        });
        guard.start(5000);
        EXPECT_EQ(QApplication::exec(), 0) << static_cast<int>(log) << owned;
      }
      EXPECT_FALSE(timed_out) << static_cast<int>(log) << owned;
    }
  // The open log window kept its placement when the program ended.
  EXPECT_NE(ReadBytes(Ini()).find("[LogWindow]"), std::string::npos);
}

}  // namespace
}  // namespace tarvel
