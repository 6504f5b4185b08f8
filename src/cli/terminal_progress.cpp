#include "cli/terminal_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

#include "cli/cli_text.h"

namespace tarvel {
namespace {

// "Erase to the end of the line" of every terminal since the VT100.
constexpr const char* kEraseLine = "\x1b[K";

const char* StageText(ProgressStage stage) {
  switch (stage) {
    case ProgressStage::kScan:
      return Tr("Scanning folders");
    case ProgressStage::kConvert:
      return Tr("Converting");
    case ProgressStage::kWriteTags:
      return Tr("Writing tags");
    case ProgressStage::kRenameFiles:
      return Tr("Renaming files");
    case ProgressStage::kRenameFolders:
      return Tr("Renaming folders");
    case ProgressStage::kRestoreFolders:
      return Tr("Restoring folder names");
    case ProgressStage::kRestoreFiles:
      return Tr("Restoring file names");
    case ProgressStage::kRestoreTags:
      return Tr("Restoring tags");
    case ProgressStage::kExport:
      return Tr("Copying files");
  }
  return Tr("Working");
}

// The count with its unit, which goes with the last number shown: "1
// folder", "2 folders", "1 of 2 rows".
std::string CountText(ProgressStage stage, int64_t done, int64_t total) {
  const int64_t last = total > 0 ? total : done;
  const auto n = static_cast<unsigned long>(last < 0 ? -last : last);
  if (total <= 0) {
    return Fill(stage == ProgressStage::kScan     ? TrN("{1} folder", "{1} folders", n)
                : stage == ProgressStage::kExport ? TrN("{1} file", "{1} files", n)
                                                  : TrN("{1} row", "{1} rows", n),
                {GroupedNumber(done)});
  }
  return Fill(stage == ProgressStage::kScan     ? TrN("{1} of {2} folder", "{1} of {2} folders", n)
              : stage == ProgressStage::kExport ? TrN("{1} of {2} file", "{1} of {2} files", n)
                                                : TrN("{1} of {2} row", "{1} of {2} rows", n),
              {GroupedNumber(done), GroupedNumber(total)});
}

int TerminalWidth(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

std::string GroupedNumber(int64_t n) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return n < 0 ? "-" + out : out;
}

std::string ProgressLine(ProgressStage stage, int64_t done, int64_t total, double rate_per_second) {
  std::string line = Fill(Tr("{1}: {2}"), {StageText(stage), CountText(stage, done, total)});
  if (total > 0 && done <= total) {
    line += " (" + std::to_string(done * 100 / total) + "%)";
  }
  if (rate_per_second >= 0 && std::isfinite(rate_per_second)) {
    line += Fill(Tr(", {1}/s"), {GroupedNumber(std::llround(rate_per_second))});
  }
  return line;
}

TerminalProgress::TerminalProgress(int fd, Clock clock, int width)
    : fd_(fd), clock_(std::move(clock)), width_(width > 0 ? width : TerminalWidth(fd)) {}

void TerminalProgress::Update(ProgressStage stage, int64_t done, int64_t total) {
  const auto now = clock_();
  if (!started_ || stage != stage_) {
    started_ = true;
    stage_ = stage;
    stage_start_ = now;
  }
  if (drawn_once_ && now - last_draw_ < kMinInterval) return;
  drawn_once_ = true;
  last_draw_ = now;
  // The rate is shown once the stage has run long enough for it to mean
  // something.
  const double seconds = std::chrono::duration<double>(now - stage_start_).count();
  const double rate = seconds >= 0.5 ? static_cast<double>(done) / seconds : -1.0;
  std::string line = ProgressLine(stage, done, total, rate);
  // A line as wide as the terminal would wrap, and the carriage return would
  // then no longer reach its start.
  if (width_ > 1 && DisplayColumns(line) > static_cast<size_t>(width_ - 1)) {
    line = CutToColumns(line, static_cast<size_t>(width_ - 1));
  }
  Write("\r" + line + kEraseLine);
  shown_ = true;
  ++redraws_;
}

void TerminalProgress::Clear() {
  if (!shown_) return;
  Write(std::string("\r") + kEraseLine);
  shown_ = false;
}

void TerminalProgress::Write(const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::write(fd_, bytes.data() + off, bytes.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a terminal that went away: the run goes on without the line
    off += static_cast<size_t>(n);
  }
}

}  // namespace tarvel
