#include "run/restore_run.h"

#include <sys/stat.h>

#include <optional>
#include <string>
#include <utility>

#include "app/report.h"
#include "files/rename_list.h"
#include "files/rename_list_reader.h"
#include "files/run_history.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "platform/translatable.h"
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

// Shown when the list's library folder is not there, followed by the folder.
constexpr std::u16string_view kLibraryMissing =
    u"変換したフォルダが見つかりません。\r\n　フォルダ名　：　";

bool IsFolder(std::u16string_view path) {
  struct stat st {};
  return ::stat(Utf16ToUtf8(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Ends the restore before anything changed on a list it refuses.
bool RefuseList(AppState& app, RestoreReport& report, std::string problem) {
  ReportAbort(app, kUnreadableList, false, true);
  report.outcome = RestoreReport::Outcome::kListUnreadable;
  report.detail = std::move(problem);
  return false;
}

bool RefuseMissingLibrary(AppState& app, RestoreReport& report, std::u16string_view folder) {
  ReportAbort(app, std::u16string(kLibraryMissing) + std::u16string(folder), false, true);
  report.outcome = RestoreReport::Outcome::kLibraryMissing;
  report.detail = N_("the library folder ") + Utf16ToUtf8(folder) + N_(" does not exist");
  return false;
}

// Where the library listed at `listed` lies now: `given` when there is one,
// else `listed` itself while it exists, else the front end's answer.
std::optional<std::u16string> PlaceOfLibrary(AppState& app, const std::u16string& listed,
                                             std::u16string_view given) {
  if (!given.empty()) return std::u16string(given);
  if (IsFolder(listed)) return listed;
  return app.ui->AskLibraryFolder(listed);
}

// Called right after the list was read: checks it (a bad list is reported
// as an unreadable one, naming the first bad row in `report.detail`), takes
// it to where its library lies now (`moved` says whether that is another
// place), checks that no row is reached through a link, and takes the
// library lock into `guard` (refused while another run or restore works on
// that library). False, with `report.outcome` set, when the restore must
// not go on.
bool AdmitRestoreList(AppState& app, RunState& run, std::u16string_view library, RunGuard& guard,
                      RestoreReport& report, bool& moved) {
  ListCheck check = CheckRestoreList(run);
  if (!check.ok) return RefuseList(app, report, check.problem);
  if (check.common_folder.empty()) return true;  // nothing to restore
  const std::u16string listed = check.common_folder;
  std::optional<std::u16string> place = PlaceOfLibrary(app, listed, library);
  if (!place) return RefuseMissingLibrary(app, report, listed);
  MoveLibrary(run, listed, *place);
  // The list's own checks again, on the paths that are used now.
  check = CheckRestoreList(run);
  if (!check.ok) return RefuseList(app, report, check.problem);
  moved = check.common_folder != listed;
  if (!IsFolder(check.common_folder)) return RefuseMissingLibrary(app, report, check.common_folder);
  check = CheckRowsReachWithoutLinks(run, check.common_folder);
  if (!check.ok) return RefuseList(app, report, check.problem);
  if (!guard.LockLibrary(check.common_folder, &report.detail)) {
    report.outcome = RestoreReport::Outcome::kBusy;
    return false;
  }
  return true;
}

// A copied library's items are other entries of the file system than the
// ones the record names: their device and inode numbers say nothing, so
// they are not compared (device 0 is none a folder lies on).
void ForgetEntryNumbers(UndoRecord& record) {
  for (auto& [row, entry] : record.rows) {
    entry.dev = 0;
    entry.ino = 0;
  }
}

// What tells the encoding of a list without a byte-order mark that reads
// both ways: its undo record, and which of its names are on disk.
ListEncodingClues EncodingClues(const AppFolder& folder, std::u16string_view list_path) {
  ListEncodingClues clues;
  clues.exists = [](std::u16string_view path) {
    struct stat st;
    return ::lstat(Utf16ToUtf8(path).c_str(), &st) == 0;
  };
  const std::filesystem::path path = Utf16ToUtf8(list_path);
  clues.has_record = [&folder, path](const ListBytesKey& list) {
    return ReadUndoRecordFor(path, list, nullptr) ||
           FindKeptListWithRecord(folder, list.size, list.hash);
  };
  struct stat st;
  clues.record_beside = ::lstat(UndoRecordPath(path).c_str(), &st) == 0;
  return clues;
}

// The undo record that belongs to the list `list`: the one beside the list
// at `list_path`, else the one kept with the same list in the history
// (`from` then names it).
std::optional<UndoRecord> RecordOfBytes(const AppFolder& folder, std::u16string_view list_path,
                                        const ListBytesKey& list, std::string* notice,
                                        std::string& from) {
  std::optional<UndoRecord> undo = ReadUndoRecordFor(Utf16ToUtf8(list_path), list, notice);
  if (undo) return undo;
  if (auto kept = FindKeptListWithRecord(folder, list.size, list.hash)) {
    undo = ReadUndoRecordFor(*kept, list, nullptr);
    if (undo) from = UndoRecordPath(*kept).native();
  }
  return undo;
}

// The undo record of the list `list` read into `run`, looked for by its
// bytes and then by the bytes this program would write for the same rows (a list re-saved by an
// editor in another encoding, or with other quotes, still finds its record). Without one, when a
// record was beside the list, the restore goes on from the list's texts and says that bytes, modes
// and times could not be checked.
std::optional<UndoRecord> FindUndoRecord(AppState& app, const RunState& run,
                                         std::u16string_view list_path, const ListBytesKey& list,
                                         RestoreReport& report) {
  std::string& from = report.undo_record_from;
  std::optional<UndoRecord> undo =
      RecordOfBytes(app.folder, list_path, list, &report.undo_notice, from);
  if (!undo) {
    ListBytesKey written;
    FormatRenameList(run, static_cast<int32_t>(LastIndex(run)),
                     [&written](std::string_view piece) { written.Add(piece); });
    if (written != list) undo = RecordOfBytes(app.folder, list_path, written, nullptr, from);
  }
  if (undo) {
    report.undo_notice.clear();
    if (!from.empty()) {
      Report(app,
             u"\r\n復元記録は履歴に残されたものを使います。\r\n　ファイル名　：　" +
                 Utf8ToUtf16Lossy(from) + u"\r\n",
             u"");
    }
  } else if (!report.undo_notice.empty()) {
    report.unchecked = true;
    Report(app, u"\r\n" + std::u16string(kUncheckedText) + u"\r\n", kUncheckedText);
  }
  return undo;
}

// Notes in the history that the list was restored from, when the restore
// changed something.
void NoteRestoreOf(AppState& app, std::u16string_view list_path, const ListBytesKey& list,
                   RestoreReport& report) {
  const RestoreDetails& d = report.details;
  if (d.folders_restored + d.files_restored + d.tags_restored == 0) return;
  NoteRestore(app.folder, list.size, list.hash, Utf16ToUtf8(list_path), &report.history_notice);
}

}  // namespace

RestoreReport RunRestore(AppState& app, RunState& run, std::u16string_view list_path,
                         std::u16string_view library, DiskOps& disk) {
  RestoreReport report;
  RunGuard guard(app);
  if (!guard.acquired()) {
    report.outcome = RestoreReport::Outcome::kBusy;
    return report;
  }
  if (app.settings.FlagDisplayLog == 1) app.ui->ShowLog();

  ListBytesKey list;
  {
    // Only the list's size and hash are kept of its bytes.
    std::string list_bytes;
    const ListEncodingClues clues = EncodingClues(app.folder, list_path);
    if (ReadRenameList(list_path, run, &report.detail, &list_bytes, &clues) == 0) {
      ReportAbort(app, kUnreadableList, false, true);
      report.outcome = RestoreReport::Outcome::kListUnreadable;
      return report;
    }
    list = KeyOfListBytes(list_bytes);
  }
  // The record is looked for while the rows still name the places the run
  // knew: the bytes this program would write for them must be the list's.
  std::optional<UndoRecord> undo = FindUndoRecord(app, run, list_path, list, report);
  // The paths in the list are checked before anything changes.
  bool moved = false;
  if (!AdmitRestoreList(app, run, library, guard, report, moved)) return report;
  if (undo && moved) ForgetEntryNumbers(*undo);
  report.used_undo_record = undo.has_value();
  const UndoRecord* record = undo ? &*undo : nullptr;
  if (app.settings.FlagDisplayLog == 1) {
    app.ui->AppendLog(u"\r\n復元を開始します。\r\n");
  }

  RestoreDetails& details = report.details;
  auto stop = [&](std::u16string_view message, bool blank_line) {
    NoteRestoreOf(app, list_path, list, report);
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
  NoteRestoreOf(app, list_path, list, report);
  if (details.NotRestored() > 0 || report.unchecked) {
    report.outcome = RestoreReport::Outcome::kIncomplete;
  }
  return report;
}

}  // namespace tarvel
