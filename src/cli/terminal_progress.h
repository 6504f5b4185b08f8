// The progress line of tarvel-cli: one line on a terminal, rewritten in
// place as a stage advances and erased at the end. The log on standard
// output is never touched by it.
#ifndef TARVEL_CLI_TERMINAL_PROGRESS_H_
#define TARVEL_CLI_TERMINAL_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "app/front_end.h"

namespace tarvel {

// The text of the line: what the stage does, the count, the total where it
// is known and the rate (left out while `rate_per_second` is negative).
std::string ProgressLine(ProgressStage stage, int64_t done, int64_t total, double rate_per_second);

// A whole number with thousands separators: 1234567 → "1,234,567".
std::string GroupedNumber(int64_t n);

class TerminalProgress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // The smallest time between two redraws: at most ten a second.
  static constexpr std::chrono::milliseconds kMinInterval{100};

  // Draws on the file descriptor `fd` (a terminal), `width` columns wide (0:
  // asks the terminal, and takes 80 when it cannot tell).
  explicit TerminalProgress(int fd, Clock clock = std::chrono::steady_clock::now, int width = 0);
  ~TerminalProgress() { Clear(); }
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  // Notes how far `stage` has come; redraws when the last redraw is at least
  // kMinInterval ago.
  void Update(ProgressStage stage, int64_t done, int64_t total);
  // Erases the line when one is shown (before the log writes to the same
  // terminal, and at the end).
  void Clear();
  bool shown() const { return shown_; }
  int redraws() const { return redraws_; }

 private:
  void Write(const std::string& bytes);

  int fd_;
  Clock clock_;
  int width_;
  bool started_ = false;
  ProgressStage stage_ = ProgressStage::kScan;
  std::chrono::steady_clock::time_point stage_start_{};
  std::chrono::steady_clock::time_point last_draw_{};
  bool drawn_once_ = false;
  bool shown_ = false;
  int redraws_ = 0;
};

}  // namespace tarvel

#endif  // TARVEL_CLI_TERMINAL_PROGRESS_H_
