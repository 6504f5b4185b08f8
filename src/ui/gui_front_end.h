// The window's side of the front-end interface: the log goes to the log
// window, messages to modal boxes through a seam that tests replace, pending
// events run between folders and rows, and the check-only boxes are ticked on
// the main window.
#ifndef TARVEL_UI_GUI_FRONT_END_H_
#define TARVEL_UI_GUI_FRONT_END_H_

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/front_end.h"
#include "ui/data_folder.h"

namespace tarvel {

class LogWindowHost;

// The application title of every message box of a run and of the window.
inline constexpr char16_t kMessageTitle[] = u"QX";

// Shows a modal message with a single OK button and returns when it is
// closed. Tests put a recorder in its place so that nothing blocks.
using MessageSink = std::function<void(QWidget* owner, const QString& title, const QString& text)>;

// The system's message box (QMessageBox, OK only).
MessageSink SystemMessageSink();

// The title of the folder chooser that asks where a moved library lies now.
inline constexpr char16_t kMovedLibraryTitle[] =
    u"変換したフォルダが見つかりません。今の場所を選択してください。";

class GuiFrontEnd : public FrontEnd {
 public:
  // `owner` owns the message boxes; `tick` ticks the two check-only boxes.
  GuiFrontEnd(LogWindowHost& log, MessageSink sink, QWidget* owner, std::function<void()> tick);

  void AppendLog(std::u16string_view text) override;
  void ShowMessage(std::u16string_view text) override;
  void ShowLog() override;
  void PumpEvents() override;
  void TickCheckOnlyBoxes() override;
  // Asks through `library_dialog` (set by SetLibraryDialog; without one
  // nothing is asked), opening at the nearest folder above `missing` that
  // exists.
  std::optional<std::u16string> AskLibraryFolder(std::u16string_view missing) override;

  void SetLibraryDialog(FolderDialog dialog) { library_dialog_ = std::move(dialog); }

  // Hands the plan to `plan_sink` (set by SetPlanSink).
  void ShowPlan(std::shared_ptr<const ChangePlan> plan, bool open) override;
  using PlanSink = std::function<void(std::shared_ptr<const ChangePlan> plan, bool open)>;
  void SetPlanSink(PlanSink sink) { plan_sink_ = std::move(sink); }
  bool WantsPlan() const override { return static_cast<bool>(plan_sink_); }

 private:
  LogWindowHost& log_;
  MessageSink sink_;
  QWidget* owner_;
  std::function<void()> tick_;
  FolderDialog library_dialog_;
  PlanSink plan_sink_;
};

// UTF-16 text as a QString.
inline QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace tarvel

#endif  // TARVEL_UI_GUI_FRONT_END_H_
