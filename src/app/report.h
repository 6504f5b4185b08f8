// How the list writer, the apply stages, the restore stages and the run
// drivers tell the user what they did: in the log when FlagDisplayLog is 1,
// else in a message box.
#ifndef TARVEL_APP_REPORT_H_
#define TARVEL_APP_REPORT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "platform/text.h"

namespace tarvel {

// The line end of every text the program writes to the log or a message.
inline constexpr std::u16string_view kCrLf = u"\r\n";
// The line that follows every message of a step or stage that ends a run.
inline constexpr std::u16string_view kAbortLine = u"処理を中断します。";

// Appends `log_text` to the log (FlagDisplayLog 1) or shows `box_text` in a
// message box (none when it is empty).
inline void Report(AppState& app, std::u16string_view log_text, std::u16string_view box_text) {
  if (app.settings.FlagDisplayLog == 1) {
    app.ui->AppendLog(log_text);
  } else if (!box_text.empty()) {
    app.ui->ShowMessage(box_text);
  }
}

// Reports a count: the number in decimal followed directly by `text`, with
// CR LF after it in the log.
inline void ReportCount(AppState& app, int32_t count, std::u16string_view text) {
  std::u16string box = DecimalText(count) + std::u16string(text);
  Report(app, box + std::u16string(kCrLf), box);
}

// Reports a stage that ends the run: `message`, CR LF and the abort line in
// a message box, or in the log followed by CR LF, with one more CR LF before
// it (`leading_line_end`, for a message that can follow an open line) and
// one blank line after it (`trailing_blank_line`).
inline void ReportAbort(AppState& app, std::u16string_view message, bool leading_line_end,
                        bool trailing_blank_line) {
  std::u16string box(message);
  box += kCrLf;
  box += kAbortLine;
  std::u16string log = leading_line_end ? std::u16string(kCrLf) : std::u16string();
  log += box;
  log += kCrLf;
  if (trailing_blank_line) log += kCrLf;
  Report(app, log, box);
}

// Tells the front end how far a stage has come.
inline void ReportProgress(AppState& app, ProgressStage stage, int64_t done, int64_t total) {
  app.ui->ReportProgress(stage, done, total);
}

}  // namespace tarvel

#endif  // TARVEL_APP_REPORT_H_
