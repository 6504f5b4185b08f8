// What the conversion run and the restore run share: the guard that keeps
// two of them from running at once, and how a stage that fails says so.
#ifndef TARVEL_RUN_RUN_REPORT_H_
#define TARVEL_RUN_RUN_REPORT_H_

#include <string>
#include <string_view>

#include "app/app_state.h"
#include "platform/library_lock.h"

namespace tarvel {

inline constexpr std::u16string_view kCrLf = u"\r\n";
// The line that follows every message of a stage that ends a run.
inline constexpr std::u16string_view kAbortLine = u"処理を中断します。";

// Keeps a second run (or a restore) from starting while one is in progress;
// the front ends let window events through during a run.
class RunGuard {
 public:
  explicit RunGuard(AppState& app) : app_(app), acquired_(!app.run_in_progress) {
    if (acquired_) app_.run_in_progress = true;
  }
  ~RunGuard() {
    if (acquired_) app_.run_in_progress = false;
  }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;
  bool acquired() const { return acquired_; }

  // Takes the lock of the library at `folder` for the rest of the run, so
  // that no other process runs on it meanwhile. When it cannot be taken,
  // shows why in a message and returns false with the reason (UTF-8) in
  // `detail`.
  bool LockLibrary(std::u16string_view folder, std::string* detail);

 private:
  AppState& app_;
  bool acquired_;
  LibraryLock library_lock_;
};

// Shown when another run or restore already works on the library.
inline constexpr std::u16string_view kLibraryBusyMessage =
    u"このフォルダでは別の変換または復元が実行中です。";

// Reports a stage that ends the run: `message`, CR LF and the abort line in
// a message box, or in the log followed by CR LF, with one more CR LF before
// it (`leading_line_end`, for a message that can follow an open line) and
// one blank line after it (`trailing_blank_line`).
void ReportAbort(AppState& app, std::u16string_view message, bool leading_line_end,
                 bool trailing_blank_line);

}  // namespace tarvel

#endif  // TARVEL_RUN_RUN_REPORT_H_
