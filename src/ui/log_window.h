// The log window ("ログ"): the running text of every conversion and restore
// run, with "ログを消去" and "戻る". Its placement lives in the settings file,
// section "LogWindow".
#ifndef TARVEL_UI_LOG_WINDOW_H_
#define TARVEL_UI_LOG_WINDOW_H_

#include <QList>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "ui/twips.h"

class QPlainTextEdit;
class QPushButton;

namespace tarvel {

// The stored placement of the log window, in twips. A key that is missing or
// does not hold plain decimal text ("", "abc", "12x", "1.5") takes its
// default, so a hand-edited file cannot give the window a size of 0.
LogWindowGeometry LoadLogWindowPlacement(const std::filesystem::path& ini_path);

// Where the three controls sit inside a window whose inside measures
// `client` pixels: the text box fills the width above a row of two buttons,
// "ログを消去" at the left edge and "戻る" at the right edge, 100 twips below
// it. No width or height is ever below 1, however small or negative `client`
// is; the buttons shrink to half the width each rather than overlap.
struct LogWindowArrangement {
  QRect monitor;
  QRect exit;
  QRect clear;
};
LogWindowArrangement ArrangeLogWindow(QSize client, double dpi);

// The smallest inside size at which the arrangement above is whole.
QSize MinimumLogWindowSize(double dpi);

// Where a window stored at `wanted` (pixels) opens among `screens` (their
// available areas): a size larger than every screen shrinks to fit, and a
// window of which not even a corner of 40 pixels would show on any screen
// moves to `fallback`, or else to the first screen's corner. With no screens
// known it stays as it is.
QRect PlaceOnScreens(QRect wanted, QPoint fallback, const QList<QRect>& screens);

class LogWindow : public QWidget {
  Q_OBJECT
 public:
  // A window owned by `owner` (a separate top-level window that stays above
  // it), placed from section "LogWindow" of `ini_path`.
  LogWindow(std::filesystem::path ini_path, QWidget* owner);
  ~LogWindow() override;

  // Appends `text` exactly as it stands (CR LF line ends included). The text
  // reaches the view in batches: when the window is shown, and while it is
  // shown at most 50 ms later, as soon as window events run.
  void AppendLog(std::u16string_view text);
  // The whole text exactly as written.
  std::u16string LogText() const;
  // Empties the log ("ログを消去"); text written later starts at the top.
  void ClearLog();

  // Moves text not yet shown into the view now.
  void FlushPending();
  // True once the window has been closed: it has dropped its text and
  // written its placement, and only waits to be deleted.
  bool unloaded() const;
  // The text box, for the tests.
  QPlainTextEdit* monitor() const;
  // The dots per inch at which the window's twips are converted: always
  // kTwipsDpi, 15 twips to a pixel (see ui/twips.h).
  double Dpi() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  void FitFrame();

  struct Impl;
  Impl* impl_;
};

// Creates the log window on first use and again after it was closed, so
// that the runs can write to it at any time. Closing the window discards its
// text and writes its placement.
class LogWindowHost {
 public:
  LogWindowHost(std::filesystem::path ini_path, QWidget* owner);
  // Deletes a window still loaded (its placement is written if it was shown).
  ~LogWindowHost();
  LogWindowHost(const LogWindowHost&) = delete;
  LogWindowHost& operator=(const LogWindowHost&) = delete;

  // Appends to the log, creating the window hidden when it is not loaded.
  void AppendLog(std::u16string_view text);
  // Shows the window modeless, creating it when needed; its text stays.
  void Show();
  // The log text; empty when the window is not loaded.
  std::u16string LogText() const;
  // The window, or nullptr when it is not loaded.
  LogWindow* window() const { return Loaded() ? window_.data() : nullptr; }

 private:
  LogWindow* Ensure();
  bool Loaded() const { return !window_.isNull() && !window_->unloaded(); }

  std::filesystem::path ini_path_;
  QWidget* owner_;
  QPointer<LogWindow> window_;
};

}  // namespace tarvel

#endif  // TARVEL_UI_LOG_WINDOW_H_
