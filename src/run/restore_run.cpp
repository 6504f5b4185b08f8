#include "run/restore_run.h"

#include <optional>

#include "app/report.h"
#include "files/rename_list_reader.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "run/list_check.h"
#include "run/run_guard.h"

namespace tarvel {
namespace {

// The message for a list that cannot be restored from, whether it could not
// be read or holds a row the restore refuses.
constexpr std::u16string_view kUnreadableList = u"CSVファイルの読み込みに失敗しました。";

// Called right after the list was read: checks it (a bad list is reported
// as an unreadable one, naming the first bad row in `report.detail`) and
// takes the library lock of its common folder into `guard` (refused while
// another run or restore works on that library). False, with
// `report.outcome` set, when the restore must not go on.
bool AdmitRestoreList(AppState& app, const RunState& run, RunGuard& guard, RestoreReport& report) {
  ListCheck check = CheckRestoreList(run);
  if (!check.ok) {
    ReportAbort(app, kUnreadableList, false, true);
    report.outcome = RestoreReport::Outcome::kListUnreadable;
    report.detail = check.problem;
    return false;
  }
  if (check.common_folder.empty()) return true;  // nothing to restore
  if (!guard.LockLibrary(check.common_folder, &report.detail)) {
    report.outcome = RestoreReport::Outcome::kBusy;
    return false;
  }
  return true;
}

}  // namespace

RestoreReport RunRestore(AppState& app, RunState& run, std::u16string_view list_path,
                         DiskOps& disk) {
  RestoreReport report;
  RunGuard guard(app);
  if (!guard.acquired()) {
    report.outcome = RestoreReport::Outcome::kBusy;
    return report;
  }
  if (app.settings.FlagDisplayLog == 1) app.ui->ShowLog();

  std::string list_bytes;
  if (ReadRenameList(list_path, run, &report.detail, &list_bytes) == 0) {
    ReportAbort(app, kUnreadableList, false, true);
    report.outcome = RestoreReport::Outcome::kListUnreadable;
    return report;
  }
  // The paths in the list are checked before anything changes.
  if (!AdmitRestoreList(app, run, guard, report)) return report;
  std::optional<UndoRecord> undo =
      ReadUndoRecordFor(Utf16ToUtf8(list_path), list_bytes, &report.undo_notice);
  list_bytes.clear();
  report.used_undo_record = undo.has_value();
  const UndoRecord* record = undo ? &*undo : nullptr;
  if (app.settings.FlagDisplayLog == 1) {
    app.ui->AppendLog(u"\r\n復元を開始します。\r\n");
  }

  RestoreDetails& details = report.details;
  auto stop = [&](std::u16string_view message, bool blank_line) {
    ReportAbort(app, message, false, blank_line);
    report.outcome = RestoreReport::Outcome::kStopped;
    report.detail = details.error;
    return report;
  };
  if (RestoreFolders(app, run, details, record, disk) == 0) {
    return stop(u"フォルダ名の復元中にエラーが発生しました。", false);
  }
  if (RestoreFiles(app, run, details, record, disk) == 0) {
    return stop(u"ファイル名の復元中にエラーが発生しました。", true);
  }
  if (RestoreTags(app, run, details, record, disk) == 0) {
    return stop(u"ID3Tagの復元中にエラーが発生しました。", true);
  }
  ReportAlreadyRestored(app, details);
  if (details.NotRestored() > 0) report.outcome = RestoreReport::Outcome::kIncomplete;
  return report;
}

}  // namespace tarvel
