#include "run/restore_run.h"

#include <optional>

#include "app/report.h"
#include "files/rename_list_reader.h"
#include "files/run_history.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "run/list_check.h"
#include "run/run_guard.h"

namespace tarvel {
namespace {

// The message for a list that cannot be restored from, whether it could not
// be read or holds a row the restore refuses.
constexpr std::u16string_view kUnreadableList = u"CSVファイルの読み込みに失敗しました。";
// Said when the list has no undo record that belongs to it.
constexpr std::u16string_view kUncheckedText =
    u"復元記録（list.csv.undo）がこのリストと合わないため、ファイルの中身・属性・更新日時は"
    u"確かめられません。名前とタグの文字だけを元に戻します。";

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

// The undo record of the list whose bytes are `list_bytes`: the one beside
// it, else the one kept with the same list in the history. Without either,
// when a record was beside the list, the restore goes on from the list's
// texts and says that bytes, modes and times could not be checked.
std::optional<UndoRecord> FindUndoRecord(AppState& app, std::u16string_view list_path,
                                         std::string_view list_bytes, RestoreReport& report) {
  std::optional<UndoRecord> undo =
      ReadUndoRecordFor(Utf16ToUtf8(list_path), list_bytes, &report.undo_notice);
  if (undo) return undo;
  if (auto kept =
          FindKeptListWithRecord(app.folder, list_bytes.size(), ListBytesHash(list_bytes))) {
    undo = ReadUndoRecordFor(*kept, list_bytes, nullptr);
    if (undo) {
      report.undo_record_from = UndoRecordPath(*kept).native();
      report.undo_notice.clear();
      const std::u16string shown = Utf8ToUtf16Lossy(report.undo_record_from);
      Report(app, u"\r\n復元記録は履歴に残されたものを使います。\r\n　ファイル名　：　" + shown + u"\r\n",
             u"");
      return undo;
    }
  }
  if (!report.undo_notice.empty()) {
    report.unchecked = true;
    Report(app, u"\r\n" + std::u16string(kUncheckedText) + u"\r\n", kUncheckedText);
  }
  return std::nullopt;
}

// Notes in the history that the list was restored from, when the restore
// changed something.
void NoteRestoreOf(AppState& app, std::u16string_view list_path, uint64_t list_size,
                   uint64_t list_hash, RestoreReport& report) {
  const RestoreDetails& d = report.details;
  if (d.folders_restored + d.files_restored + d.tags_restored == 0) return;
  NoteRestore(app.folder, list_size, list_hash, Utf16ToUtf8(list_path), &report.history_notice);
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
  const uint64_t list_size = list_bytes.size(), list_hash = ListBytesHash(list_bytes);
  std::optional<UndoRecord> undo = FindUndoRecord(app, list_path, list_bytes, report);
  list_bytes = std::string();
  report.used_undo_record = undo.has_value();
  const UndoRecord* record = undo ? &*undo : nullptr;
  if (app.settings.FlagDisplayLog == 1) {
    app.ui->AppendLog(u"\r\n復元を開始します。\r\n");
  }

  RestoreDetails& details = report.details;
  auto stop = [&](std::u16string_view message, bool blank_line) {
    NoteRestoreOf(app, list_path, list_size, list_hash, report);
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
  NoteRestoreOf(app, list_path, list_size, list_hash, report);
  if (details.NotRestored() > 0 || report.unchecked) {
    report.outcome = RestoreReport::Outcome::kIncomplete;
  }
  return report;
}

}  // namespace tarvel
