#include "run/run_guard.h"

#include "app/report.h"
#include "platform/text.h"

namespace tarvel {

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
  app_.ui->ShowMessage(text);
  return false;
}

}  // namespace tarvel
