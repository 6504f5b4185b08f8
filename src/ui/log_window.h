// The log window ("ログ"): the running text of every conversion and restore
// run, with "ログを消去" and "戻る". Its placement lives in the settings file,
// section "LogWindow".
#ifndef TARVEL_UI_LOG_WINDOW_H_
#define TARVEL_UI_LOG_WINDOW_H_

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvel {

class LogWindow : public QWidget {
  Q_OBJECT
 public:
  // A window owned by `owner` (a separate top-level window that stays above
  // it), placed from section "LogWindow" of `ini_path`.
  LogWindow(std::filesystem::path ini_path, QWidget* owner);
  ~LogWindow() override;

  // Appends `text` exactly as it stands (CR LF line ends included).
  void AppendLog(std::u16string_view text);
  // The whole text exactly as written.
  std::u16string LogText() const;
  // Empties the log ("ログを消去").
  void ClearLog();

 private:
  struct Impl;
  Impl* impl_;
};

// Creates the log window on first use and again after it was closed, so
// that the runs can write to it at any time. Closing the window discards its
// text and writes its placement.
class LogWindowHost {
 public:
  LogWindowHost(std::filesystem::path ini_path, QWidget* owner);

  // Appends to the log, creating the window hidden when it is not loaded.
  void AppendLog(std::u16string_view text);
  // Shows the window modeless, creating it when needed; its text stays.
  void Show();
  // The log text; empty when the window is not loaded.
  std::u16string LogText() const;
  // The window, or nullptr when it is not loaded.
  LogWindow* window() const { return window_; }

 private:
  LogWindow* Ensure();

  std::filesystem::path ini_path_;
  QWidget* owner_;
  QPointer<LogWindow> window_;
};

}  // namespace tarvel

#endif  // TARVEL_UI_LOG_WINDOW_H_
