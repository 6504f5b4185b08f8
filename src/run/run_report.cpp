#include "run/run_report.h"

#include "app/report.h"

namespace tarvel {

void ReportAbort(AppState& app, std::u16string_view message, bool leading_line_end,
                 bool trailing_blank_line) {
  std::u16string box = std::u16string(message) + std::u16string(kCrLf) + std::u16string(kAbortLine);
  std::u16string log = leading_line_end ? std::u16string(kCrLf) : std::u16string();
  log += box;
  log += kCrLf;
  if (trailing_blank_line) log += kCrLf;
  Report(app, log, box);
}

}  // namespace tarvel
