#include "cli/cli_front_end.h"

#include <string>

#include "platform/text.h"

namespace tarvel {

void CliFrontEnd::Write(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (pending_cr_) {
      pending_cr_ = false;
      if (c == u'\n') {
        out.push_back(u'\n');
        continue;
      }
      out.push_back(u'\n');  // a lone CR still ends a line
    }
    if (c == u'\r') {
      pending_cr_ = true;
    } else {
      out.push_back(c);
    }
  }
  if (out.empty()) return;
  if (progress_ != nullptr && progress_shares_screen_) progress_->Clear();
  at_line_start_ = out.back() == u'\n';
  std::string bytes = Utf16ToUtf8(out);
  std::fwrite(bytes.data(), 1, bytes.size(), out_);
  // An open line (the progress marks of the scan) is shown at once on a
  // terminal, and in a file or a pipe at most ten times a second (a mark a
  // folder would be tens of thousands of writes on a large library); whole
  // lines go through the stream's buffer, which matters for a listing of
  // 100,000 changes.
  if (at_line_start_) return;
  const auto now = std::chrono::steady_clock::now();
  if (to_terminal_ || now - last_flush_ >= std::chrono::milliseconds(100)) {
    std::fflush(out_);
    last_flush_ = now;
  }
}

void CliFrontEnd::AppendLog(std::u16string_view text) { Write(text); }

void CliFrontEnd::ShowMessage(std::u16string_view text) {
  if (pending_cr_) Write(u"\n");
  if (!at_line_start_) Write(u"\n");
  Write(text);
  Write(u"\n");
}

void CliFrontEnd::ReportProgress(ProgressStage stage, int64_t done, int64_t total) {
  if (progress_ == nullptr) return;
  // On a shared screen the line would run on from an open log line (the
  // scan's marks) and erase it again.
  if (progress_shares_screen_ && (!at_line_start_ || pending_cr_)) return;
  progress_->Update(stage, done, total);
}

void CliFrontEnd::Finish() {
  if (progress_ != nullptr) progress_->Clear();
  if (pending_cr_) {
    pending_cr_ = false;
    std::fputc('\n', out_);
    at_line_start_ = true;
  }
  if (!at_line_start_) {
    std::fputc('\n', out_);
    at_line_start_ = true;
  }
  std::fflush(out_);
}

}  // namespace tarvel
