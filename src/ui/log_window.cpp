#include "ui/log_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMoveEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <optional>

#include "platform/ini_file.h"
#include "platform/text.h"
#include "ui/window_placement.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kLogWindowSection = u"LogWindow";
// Design sizes of the controls, in twips.
constexpr int kButtonWidthTwips = 2295;
constexpr int kButtonHeightTwips = 495;
constexpr int kGapTwips = 100;
// How much of a stored window must lie on a screen for it to count as
// reachable: enough of the caption to grab it.
constexpr int kReachablePixels = 40;
// Text reaches the view at most this often. Every repaint of the view costs a
// few milliseconds, and a long run lets events through after every file:
// moving each piece on its own would cost more than the run itself.
constexpr int kFlushIntervalMs = 50;

// The number a stored value holds when it is plain decimal text, as the
// window writes it ("-150", "6840"); anything else ("abc", "12x", "1.5",
// "+15", "007", a number beyond 32 bits) is not taken for a number.
std::optional<int32_t> StoredNumber(std::u16string_view text) {
  const int32_t n = ParseLeadingInt(text);
  if (DecimalText(n) != text) return std::nullopt;
  return n;
}

// "Noto Sans Mono CJK JP" at 9 points where installed, the system's fixed
// font otherwise, so that columns of kana and kanji line up.
QFont LogFont() {
  static const QFont font = [] {
    const QString family = QStringLiteral("Noto Sans Mono CJK JP");
    QFont f = QFontDatabase::families().contains(family)
                  ? QFont(family)
                  : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setStyleHint(QFont::Monospace);
    f.setPointSize(9);
    return f;
  }();
  return font;
}

// The text as the view shows it: CR LF, a lone CR and a lone LF are each one
// line break. `after_cr` carries a CR that ended the previous piece, so that
// a CR LF split between two writes is still one break.
QString ShownText(std::u16string_view text, bool& after_cr) {
  QString out;
  out.reserve(static_cast<qsizetype>(text.size()));
  for (char16_t c : text) {
    if (c == u'\n' && after_cr) {
      after_cr = false;
      continue;
    }
    after_cr = c == u'\r';
    out.append(QChar(after_cr ? u'\n' : c));
  }
  return out;
}

}  // namespace

LogWindowGeometry LoadLogWindowPlacement(const std::filesystem::path& ini_path) {
  IniFile ini = IniFile::Load(ini_path);
  LogWindowGeometry g;
  auto read = [&](std::u16string_view key, int32_t& value) {
    std::optional<std::u16string> text = ini.Get(kLogWindowSection, key);
    if (!text) return;
    if (std::optional<int32_t> n = StoredNumber(*text)) value = *n;
  };
  read(u"Top", g.Top);
  read(u"Left", g.Left);
  read(u"Width", g.Width);
  read(u"Height", g.Height);
  return g;
}

LogWindowArrangement ArrangeLogWindow(QSize client, double dpi) {
  auto px = [dpi](int twips) { return std::max(1, TwipsToPixels(twips, dpi)); };
  const int width = std::max(client.width(), 1);
  const int height = std::max(client.height(), 1);
  const int gap = px(kGapTwips);
  const int button_width = std::min(px(kButtonWidthTwips), std::max(1, width / 2));
  const int button_height = std::min(px(kButtonHeightTwips), std::max(1, height / 2));
  const int monitor_height = std::max(1, height - button_height - 2 * gap);
  const int button_top = monitor_height + gap;
  LogWindowArrangement a;
  a.monitor = QRect(0, 0, width, monitor_height);
  a.exit = QRect(std::max(0, width - button_width), button_top, button_width, button_height);
  a.clear = QRect(0, button_top, button_width, button_height);
  return a;
}

QSize MinimumLogWindowSize(double dpi) {
  const int gap = TwipsToPixels(kGapTwips, dpi);
  const int button_height = TwipsToPixels(kButtonHeightTwips, dpi);
  return QSize(2 * TwipsToPixels(kButtonWidthTwips, dpi) + gap, 2 * button_height + 2 * gap);
}

QRect PlaceOnScreens(QRect wanted, QPoint fallback, const QList<QRect>& screens) {
  if (screens.isEmpty()) return wanted;
  int max_width = 1;
  int max_height = 1;
  for (const QRect& s : screens) {
    max_width = std::max(max_width, s.width());
    max_height = std::max(max_height, s.height());
  }
  QRect r(wanted.topLeft(), QSize(std::clamp(wanted.width(), 1, max_width),
                                  std::clamp(wanted.height(), 1, max_height)));
  auto reachable = [&](const QRect& rect) {
    for (const QRect& s : screens) {
      QRect seen = s.intersected(rect);
      if (seen.width() >= std::min(rect.width(), kReachablePixels) &&
          seen.height() >= std::min(rect.height(), kReachablePixels)) {
        return true;
      }
    }
    return false;
  };
  if (reachable(r)) return r;
  r.moveTopLeft(fallback);
  if (reachable(r)) return r;
  r.moveTopLeft(screens.front().topLeft());
  return r;
}

struct LogWindow::Impl {
  std::filesystem::path ini_path;
  QPlainTextEdit* monitor = nullptr;
  QPushButton* exit = nullptr;
  QPushButton* clear = nullptr;
  std::u16string text;     // everything written, exactly
  std::u16string pending;  // written but not yet in the view
  bool after_cr = false;   // the view's text ended in a CR
  QTimer* flush_timer = nullptr;
  bool shown = false;
  bool frame_fitted = false;
  bool unloaded = false;

  void SavePlacement(const LogWindow& window) const {
    const double dpi = window.Dpi();
    const QRect f = window.frameGeometry();
    LogWindowGeometry g;
    g.Top = PixelsToTwips(f.y(), dpi);
    g.Left = PixelsToTwips(f.x(), dpi);
    g.Width = PixelsToTwips(f.width(), dpi);
    g.Height = PixelsToTwips(f.height(), dpi);
    // Like the rest of the window's placement, a file that cannot be
    // written only costs the placement.
    SaveLogWindowGeometry(ini_path, g);
  }
};

LogWindow::LogWindow(std::filesystem::path ini_path, QWidget* owner)
    : QWidget(owner, Qt::Window), impl_(new Impl) {
  impl_->ini_path = std::move(ini_path);
  setAttribute(Qt::WA_DeleteOnClose);
  // The program ends with its main window, whatever state the log is in.
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowTitle(QStringLiteral(u"ログ"));

  QPlainTextEdit* monitor = impl_->monitor = new QPlainTextEdit(this);
  monitor->setReadOnly(true);
  monitor->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  monitor->setUndoRedoEnabled(false);
  monitor->setLineWrapMode(QPlainTextEdit::NoWrap);
  monitor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  monitor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  monitor->setFont(LogFont());
  impl_->exit = new QPushButton(QStringLiteral(u"戻る"), this);
  impl_->clear = new QPushButton(QStringLiteral(u"ログを消去"), this);
  connect(impl_->exit, &QPushButton::clicked, this, &QWidget::close);
  connect(impl_->clear, &QPushButton::clicked, this, &LogWindow::ClearLog);
  setTabOrder(monitor, impl_->exit);
  setTabOrder(impl_->exit, impl_->clear);
  impl_->flush_timer = new QTimer(this);
  impl_->flush_timer->setSingleShot(true);
  impl_->flush_timer->setInterval(kFlushIntervalMs);
  connect(impl_->flush_timer, &QTimer::timeout, this, &LogWindow::FlushPending);

  const double dpi = Dpi();
  setMinimumSize(MinimumLogWindowSize(dpi));
  const LogWindowGeometry stored = LoadLogWindowPlacement(impl_->ini_path);
  const LogWindowGeometry defaults;
  QList<QRect> screens;
  for (const QScreen* s : QGuiApplication::screens()) screens.append(s->availableGeometry());
  const QRect placed = PlaceOnScreens(
      QRect(TwipsToPixels(stored.Left, dpi), TwipsToPixels(stored.Top, dpi),
            TwipsToPixels(stored.Width, dpi), TwipsToPixels(stored.Height, dpi)),
      QPoint(TwipsToPixels(defaults.Left, dpi), TwipsToPixels(defaults.Top, dpi)), screens);
  move(placed.topLeft());
  resize(placed.size());
  // Never placed by the user yet: beside the main window, not over its
  // options.
  if (parentWidget() != nullptr &&
      !IniFile::Load(impl_->ini_path).Get(kLogWindowSection, u"Left")) {
    PlaceWindowBeside(this, parentWidget());
  }
}

LogWindow::~LogWindow() {
  // A shown window that goes away without being closed (the program ends
  // with it open) still keeps where the user put it.
  if (impl_->shown && !impl_->unloaded) impl_->SavePlacement(*this);
  delete impl_;
}

void LogWindow::AppendLog(std::u16string_view text) {
  impl_->text.append(text);
  impl_->pending.append(text);
  // A hidden window takes its text into the view when it is shown; a shown
  // one with the next batch, as soon as events run after the interval.
  if (isVisible() && !impl_->flush_timer->isActive()) impl_->flush_timer->start();
}

std::u16string LogWindow::LogText() const { return impl_->text; }

void LogWindow::ClearLog() {
  impl_->text.clear();
  impl_->pending.clear();
  impl_->after_cr = false;
  impl_->monitor->clear();
}

void LogWindow::FlushPending() {
  impl_->flush_timer->stop();
  if (impl_->pending.empty()) return;
  const QString shown = ShownText(impl_->pending, impl_->after_cr);
  impl_->pending.clear();
  // The view follows new text only while it is at its end, so a user who
  // scrolled up to read is not pulled away.
  QScrollBar* bar = impl_->monitor->verticalScrollBar();
  const bool follow = bar->value() >= bar->maximum();
  // A cursor of our own, so that the user's selection stays.
  QTextCursor cursor(impl_->monitor->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(shown);
  if (follow) bar->setValue(bar->maximum());
}

bool LogWindow::unloaded() const { return impl_->unloaded; }

QPlainTextEdit* LogWindow::monitor() const { return impl_->monitor; }

double LogWindow::Dpi() const { return kTwipsDpi; }

void LogWindow::closeEvent(QCloseEvent* event) {
  if (!impl_->unloaded) {
    ClearLog();
    impl_->SavePlacement(*this);
    impl_->unloaded = true;
  }
  event->accept();
}

void LogWindow::resizeEvent(QResizeEvent* event) {
  const LogWindowArrangement a = ArrangeLogWindow(event->size(), Dpi());
  impl_->monitor->setGeometry(a.monitor);
  impl_->exit->setGeometry(a.exit);
  impl_->clear->setGeometry(a.clear);
  QWidget::resizeEvent(event);
}

void LogWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  impl_->shown = true;
  FitFrame();
  FlushPending();
}

void LogWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (impl_->shown) FitFrame();
}

void LogWindow::FitFrame() {
  // The stored size is the outer frame's. Some window managers add the frame
  // only after the window is shown, so this waits for the first time the
  // frame is known; the inside then gives up what the frame takes, once.
  if (impl_->frame_fitted) return;
  const QSize frame = frameGeometry().size() - geometry().size();
  if (frame.width() <= 0 && frame.height() <= 0) return;
  impl_->frame_fitted = true;
  resize(size() - frame);
}

LogWindowHost::LogWindowHost(std::filesystem::path ini_path, QWidget* owner)
    : ini_path_(std::move(ini_path)), owner_(owner) {}

LogWindowHost::~LogWindowHost() { delete window_.data(); }

LogWindow* LogWindowHost::Ensure() {
  // A closed window only waits to be deleted; later writes go to a new one.
  if (!Loaded()) window_ = new LogWindow(ini_path_, owner_);
  return window_;
}

void LogWindowHost::AppendLog(std::u16string_view text) { Ensure()->AppendLog(text); }

void LogWindowHost::Show() {
  LogWindow* w = Ensure();
  w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
  // A window that is already open comes to the front; a new one opens there.
  if (w->isVisible()) w->raise();
  w->show();
}

std::u16string LogWindowHost::LogText() const {
  return Loaded() ? window_->LogText() : std::u16string();
}

}  // namespace tarvel
