// How the list writer, the apply stages, the restore stages and the run
// drivers tell the user what they did: in the log when FlagDisplayLog is 1,
// else in a message box. The file stages get a Reporter, not the whole
// program state.
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

// What a stage that works on files is given of the program's state: the
// front end it tells what it did, whether that goes to the log or into
// message boxes, and the data folder of the run (the library the stage must
// stay inside). Made from the state where a stage is called, so the stages
// see nothing else of it.
class Reporter {
 public:
  Reporter(FrontEnd& ui, bool display_log, std::u16string_view data_folder = {})
      : ui_(&ui), display_log_(display_log), data_folder_(data_folder) {}
  // The front end, FlagDisplayLog and PathDataFolder of `app` as they are
  // now. Not explicit: a stage is called with the state it runs in.
  Reporter(const AppState& app)  // NOLINT(google-explicit-constructor)
      : Reporter(*app.ui, app.settings.FlagDisplayLog == 1, app.settings.PathDataFolder) {}

  FrontEnd& ui() const { return *ui_; }
  bool display_log() const { return display_log_; }
  std::u16string_view data_folder() const { return data_folder_; }

 private:
  FrontEnd* ui_;
  bool display_log_;
  std::u16string data_folder_;
};

// Appends `log_text` to the log (FlagDisplayLog 1) or shows `box_text` in a
// message box (none when it is empty).
inline void Report(const Reporter& reporter, std::u16string_view log_text,
                   std::u16string_view box_text) {
  if (reporter.display_log()) {
    reporter.ui().AppendLog(log_text);
  } else if (!box_text.empty()) {
    reporter.ui().ShowMessage(box_text);
  }
}
inline void Report(AppState& app, std::u16string_view log_text, std::u16string_view box_text) {
  Report(Reporter(app), log_text, box_text);
}

// Reports a count: the number in decimal followed directly by `text`, with
// CR LF after it in the log.
inline void ReportCount(const Reporter& reporter, int32_t count, std::u16string_view text) {
  std::u16string box = DecimalText(count) + std::u16string(text);
  Report(reporter, box + std::u16string(kCrLf), box);
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
inline void ReportProgress(const Reporter& reporter, ProgressStage stage, int64_t done,
                           int64_t total) {
  reporter.ui().ReportProgress(stage, done, total);
}

}  // namespace tarvel

#endif  // TARVEL_APP_REPORT_H_
