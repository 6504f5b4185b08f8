#include "run/run_report.h"

#include "app/report.h"
#include "platform/text.h"

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

bool RunGuard::LockLibrary(std::u16string_view folder, std::string* detail) {
  std::string why;
  const std::filesystem::path path(Utf16ToUtf8(folder));
  const LibraryLock::Status status = library_lock_.Take(path, &why);
  if (status == LibraryLock::Status::kTaken) return true;
  if (detail != nullptr) *detail = why;
  std::u16string text(kLibraryBusyMessage);
  if (status == LibraryLock::Status::kFailed) text = u"ロックファイルを作成できません。";
  text += kCrLf;
  text += kAbortLine;
  if (app_.ui != nullptr) app_.ui->ShowMessage(text);
  return false;
}

}  // namespace tarvel
