// How the list writer, the apply stages, the restore stages and the run
// drivers tell the user what they did: in the log when FlagDisplayLog is 1, else in a message box.
#ifndef TARVEL_APP_REPORT_H_
#define TARVEL_APP_REPORT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "platform/text.h"

namespace tarvel {

// Appends `log_text` to the log (FlagDisplayLog 1) or shows `box_text` in a
// message box (none when it is empty). Does nothing when no front end is
// wired in.
inline void Report(AppState& app, std::u16string_view log_text, std::u16string_view box_text) {
  if (app.ui == nullptr) return;
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
  Report(app, box + u"\r\n", box);
}

// Tells the front end, when one is wired in, how far a stage has come.
inline void ReportProgress(AppState& app, ProgressStage stage, int64_t done, int64_t total) {
  if (app.ui != nullptr) app.ui->ReportProgress(stage, done, total);
}

}  // namespace tarvel

#endif  // TARVEL_APP_REPORT_H_
