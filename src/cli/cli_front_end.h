// The command line's front end: the log and every message go to standard
// output as UTF-8, one line per line (CR LF becomes LF).
#ifndef TARVEL_CLI_CLI_FRONT_END_H_
#define TARVEL_CLI_CLI_FRONT_END_H_

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "app/front_end.h"
#include "cli/terminal_progress.h"

namespace tarvel {

class CliFrontEnd : public FrontEnd {
 public:
  explicit CliFrontEnd(std::FILE* out = stdout)
      : out_(out), to_terminal_(::isatty(::fileno(out)) == 1) {}
  ~CliFrontEnd() override { Finish(); }

  void AppendLog(std::u16string_view text) override;
  void ShowMessage(std::u16string_view text) override;
  void ShowLog() override {}
  void PumpEvents() override {}
  void TickCheckOnlyBoxes() override {}
  void ReportProgress(ProgressStage stage, int64_t done, int64_t total) override;

  // Shows the run's progress on `progress` (none: no progress is shown).
  // `shares_screen`: the log goes to the same terminal, so the line is
  // erased before the log writes and waits while a log line is open.
  void ShowProgressOn(TerminalProgress* progress, bool shares_screen) {
    progress_ = progress;
    progress_shares_screen_ = shares_screen;
  }

  // Ends an open line so that the shell prompt starts on its own line.
  void Finish();

 private:
  void Write(std::u16string_view text);

  std::FILE* out_;
  const bool to_terminal_;
  std::chrono::steady_clock::time_point last_flush_{};
  bool pending_cr_ = false;  // a CR at the end of the last piece, waiting for its LF
  bool at_line_start_ = true;
  TerminalProgress* progress_ = nullptr;
  bool progress_shares_screen_ = false;
};

}  // namespace tarvel

#endif  // TARVEL_CLI_CLI_FRONT_END_H_
