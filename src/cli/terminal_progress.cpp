#include "cli/terminal_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

namespace tarvel {
namespace {

// "Erase to the end of the line" of every terminal since the VT100.
constexpr const char* kEraseLine = "\x1b[K";

const char* StageText(ProgressStage stage) {
  switch (stage) {
    case ProgressStage::kScan:
      return "Scanning folders";
    case ProgressStage::kConvert:
      return "Converting";
    case ProgressStage::kWriteTags:
      return "Writing tags";
    case ProgressStage::kRenameFiles:
      return "Renaming files";
    case ProgressStage::kRenameFolders:
      return "Renaming folders";
    case ProgressStage::kRestoreFolders:
      return "Restoring folder names";
    case ProgressStage::kRestoreFiles:
      return "Restoring file names";
    case ProgressStage::kRestoreTags:
      return "Restoring tags";
    case ProgressStage::kExport:
      return "Copying files";
  }
  return "Working";
}

// The unit after the last number shown: "1 folder", "2 folders", "1 of 2 rows".
const char* UnitText(ProgressStage stage, int64_t last_number) {
  if (stage == ProgressStage::kScan) return last_number == 1 ? "folder" : "folders";
  if (stage == ProgressStage::kExport) return last_number == 1 ? "file" : "files";
  return last_number == 1 ? "row" : "rows";
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
  std::string line = std::string(StageText(stage)) + ": " + GroupedNumber(done);
  if (total > 0) line += " of " + GroupedNumber(total);
  line += std::string(" ") + UnitText(stage, total > 0 ? total : done);
  if (total > 0 && done <= total) {
    line += " (" + std::to_string(done * 100 / total) + "%)";
  }
  if (rate_per_second >= 0 && std::isfinite(rate_per_second)) {
    line += ", " + GroupedNumber(std::llround(rate_per_second)) + "/s";
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
  // then no longer reach its start. The text is ASCII, one column a byte.
  if (width_ > 1 && line.size() > static_cast<size_t>(width_ - 1)) line.resize(width_ - 1);
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
