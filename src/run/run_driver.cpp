#include "run/run_driver.h"

#include <sys/stat.h>

#include <cstring>
#include <optional>

#include "app/report.h"
#include "files/apply_changes.h"
#include "files/rename_list.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "run/conversion_pass.h"
#include "run/run_report.h"
#include "run/scan.h"

namespace tarvel {
namespace {

// A stage failure: the message and the abort line; `leading` for the rows
// that can follow the open start line of the scan.
void ReportAbort(AppState& app, std::u16string_view message, bool leading) {
  tarvel::ReportAbort(app, message, leading, true);
}

void ReportSkip(AppState& app, std::u16string_view message) {
  Report(app, std::u16string(message) + std::u16string(kCrLf), message);
}

bool DataFolderExists(const std::u16string& path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::stat(Utf16ToUtf8(path).c_str(), &st) == 0;
}

void AddDifference(std::u16string& block, std::u16string_view label_old,
                   std::u16string_view label_new, const std::u16string& old_text,
                   const std::u16string& new_text) {
  if (old_text == new_text) return;
  block += label_old;
  block += old_text;
  block += kCrLf;
  block += label_new;
  block += new_text;
  block += kCrLf;
}

RunReport Stopped(RunReport report, std::string detail = {}) {
  report.outcome = RunReport::Outcome::kStopped;
  report.detail = std::move(detail);
  return report;
}

}  // namespace

std::u16string ChangeListing(const FileEntry& row) {
  std::u16string block;
  if (row.NewName != row.OldName) {
    block += row.IsFile == 1 ? u"　　（ファイル名）" : u"　　（フォルダ名）";
    block += row.NewName;
    block += kCrLf;
  }
  AddDifference(block, u"　　（旧ID3Tag<ｱｰﾃｨｽﾄ名>）", u"　　（新ID3Tag<ｱｰﾃｨｽﾄ名>）", row.OldArtist,
                row.NewArtist);
  AddDifference(block, u"　　（旧ID3Tag<ｱﾙﾊﾞﾑ名>）", u"　　（新ID3Tag<ｱﾙﾊﾞﾑ名>）", row.OldAlbum,
                row.NewAlbum);
  AddDifference(block, u"　　（旧ID3Tag<ﾀｲﾄﾙ名>）", u"　　（新ID3Tag<ﾀｲﾄﾙ名>）", row.OldTitle,
                row.NewTitle);
  if (block.empty()) return block;
  return u"　" + row.OldName + std::u16string(kCrLf) + block;
}

RunReport RunConversion(AppState& app, RunState& run, DiskOps& disk) {
  RunReport report;
  RunGuard guard(app);
  if (!guard.acquired()) {
    report.outcome = RunReport::Outcome::kBusy;
    return report;
  }

  // 1. The data folder must name something; an empty setting names nothing.
  if (!DataFolderExists(app.settings.PathDataFolder)) {
    app.ui->ShowMessage(u"データフォルダが無効です");
    report.outcome = RunReport::Outcome::kInvalidFolder;
    return report;
  }
  if (!guard.LockLibrary(app.settings.PathDataFolder, &report.detail)) {
    report.outcome = RunReport::Outcome::kBusy;
    return report;
  }

  // 2-3.
  ResetEntryTable(run);
  if (app.settings.FlagDisplayLog == 1) {
    app.ui->ShowLog();
    app.ui->AppendLog(u"ファイル名の取得を開始しています");
  }

  // 4. Scan.
  ScanError scan_error;
  if (ScanFolder(app, run, app.settings.PathDataFolder, &scan_error, disk) == 0) {
    ReportAbort(app, u"ファイル名の取得に失敗しました。", true);
    std::string detail = "cannot list " + Utf16ToUtf8(scan_error.folder);
    if (scan_error.sys_errno != 0) detail += std::string(": ") + std::strerror(scan_error.sys_errno);
    return Stopped(std::move(report), std::move(detail));
  }

  // 5-6.
  if (run.EntryCount < 1) {
    ReportAbort(app, u"有効なファイルが見つかりません", true);
    return Stopped(std::move(report));
  }
  Report(app,
         std::u16string(kCrLf) + DecimalText(run.EntryCount) + u"個のファイル名を取得しました。" +
             std::u16string(kCrLf) + std::u16string(kCrLf),
         u"");

  // 7. The pass reports what it can itself; a failure ends the run silently.
  const bool was_applying =
      app.settings.FlagCheckOnlyFilename != 1 || app.settings.FlagCheckOnlyID3Tag != 1;
  if (ConvertEntries(app, run) == 0) return Stopped(std::move(report), "the conversion pass failed");
  report.switched_to_check_only = was_applying && app.settings.FlagCheckOnlyFilename == 1 &&
                                  app.settings.FlagCheckOnlyID3Tag == 1;

  // 8. The list is on disk before anything changes.
  // What the list cannot hold (tag bytes, modes, which inode is which) is
  // kept beside it; the tag writes check against it that each file is still
  // what the record says.
  std::optional<UndoRecord> undo;
  if (app.settings.FlagCreateCSVFile == 1) {
    std::string error;
    undo = CaptureUndoRecord(run, disk);
    if (WriteRenameList(app, run, &report.list_path, &error, &*undo) == 0) {
      ReportAbort(app, u"CSVファイルの作成に失敗しました。", true);
      return Stopped(std::move(report), std::move(error));
    }
    report.list_written = true;
  }

  // 9.
  if (run.ChangeCount == 0) {
    std::u16string text = u"名前の変更されるファイルはありません。";
    Report(app, text + std::u16string(kCrLf) + std::u16string(kCrLf), text);
    return report;
  }

  // 10-11. The listing shows every difference, also those that check-only
  // keeps from being applied.
  if (app.settings.FlagDisplayLog == 1) {
    app.ui->AppendLog(u"以下のファイルの名前を変更します。\r\n");
    for (int32_t i = 1; i <= run.EntryCount; ++i) {
      std::u16string block = ChangeListing(run.EntryTable[i]);
      if (!block.empty()) app.ui->AppendLog(block);
    }
  }
  {
    std::u16string text = DecimalText(run.ChangeCount) + u"個のファイルまたはフォルダが変更されます。";
    Report(app, text + std::u16string(kCrLf) + std::u16string(kCrLf), text);
  }

  const Settings& s = app.settings;
  StageResult details;
  // 12. Tags, while every file still has its old name.
  if (s.FlagConvertID3Tag == 1 && s.FlagCheckOnlyID3Tag != 1) {
    if (WriteTags(app, run, &details, undo ? &*undo : nullptr, disk) == 0) {
      ReportAbort(app, u"ID3Tagの変換中にエラーが発生しました。", false);
      return Stopped(std::move(report), details.message);
    }
  } else {
    ReportSkip(app, u"ID3Tagはチェックのみなので、変換しません。");
  }

  // 13. File names, inside folders that still have their old names.
  if (s.FlagConvertFilename == 1 && s.FlagCheckOnlyFilename != 1) {
    details = {};
    if (RenameFiles(app, run, &details, disk) == 0) {
      ReportAbort(app, u"ファイル名の変換中にエラーが発生しました。", false);
      return Stopped(std::move(report), details.message);
    }
  } else {
    ReportSkip(app, u"ファイル名はチェックのみなので、変換しません。");
  }

  // 14. Folder names, innermost first.
  if (s.FlagConvertFilename == 1 && s.FlagRenameFolderName == 1 && s.FlagCheckOnlyFilename != 1) {
    details = {};
    if (RenameFolders(app, run, &details, disk) == 0) {
      ReportAbort(app, u"フォルダ名の変換中にエラーが発生しました。", false);
      return Stopped(std::move(report), details.message);
    }
  } else {
    ReportSkip(app, u"フォルダ名はチェックのみなので、変換しません。");
  }
  return report;
}

}  // namespace tarvel
