#include "run/run_driver.h"

#include <sys/stat.h>

#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "app/change_plan.h"
#include "app/report.h"
#include "files/apply_changes.h"
#include "files/file_stage.h"
#include "files/preflight.h"
#include "files/rename_list.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "platform/translatable.h"
#include "platform/two_threads.h"
#include "run/conversion_pass.h"
#include "run/run_guard.h"
#include "run/scan.h"

namespace tarvel {
namespace {

bool DataFolderExists(const std::u16string& path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::stat(Utf16ToUtf8(path).c_str(), &st) == 0;
}

// True when `path` (which exists) is the root folder, under whatever name:
// "/", "//", "/..", or a link to it.
bool IsRootFolder(const std::u16string& path) {
  struct stat st {
  }, root{};
  return ::stat(Utf16ToUtf8(path).c_str(), &st) == 0 && ::stat("/", &root) == 0 &&
         st.st_dev == root.st_dev && st.st_ino == root.st_ino;
}

void AddDifference(std::u16string& block, std::u16string_view label_old,
                   std::u16string_view label_new, const SharedText& old_text,
                   const SharedText& new_text) {
  if (old_text == new_text) return;
  block += label_old;
  block += old_text;
  block += kCrLf;
  block += label_new;
  block += new_text;
  block += kCrLf;
}

// `text` in a message box, or in the log followed by `line_ends` CR LF.
void ReportLine(AppState& app, std::u16string_view text, int line_ends) {
  std::u16string log(text);
  for (int i = 0; i < line_ends; ++i) log += kCrLf;
  Report(app, log, text);
}

// What the stages of one run share.
struct RunContext {
  AppState& app;
  RunState& run;
  RunGuard& guard;
  RunReport& report;
  DiskOps& disk;
  // What the list cannot hold (tag bytes, modes, which inode is which), kept
  // beside it; the tag writes check against it that each file is still what
  // the record says.
  std::optional<UndoRecord> undo;
  // The plan as the conversion pass left it, shown when the run ends.
  std::shared_ptr<const ChangePlan> plan;
};

// After a stage: go on with the next one, or end the run as the report says.
enum class Next { kGoOn, kEnd };

Next Stop(RunContext& c, std::string detail = {}) {
  c.report.outcome = RunReport::Outcome::kStopped;
  c.report.detail = std::move(detail);
  return Next::kEnd;
}

// A stage that fails after the scan: its message, the abort line, the end
// of the run. `leading` for the messages that can follow the scan's open
// line.
Next Abort(RunContext& c, std::u16string_view message, bool leading, std::string detail = {}) {
  ReportAbort(c.app, message, leading, true);
  return Stop(c, std::move(detail));
}

// The data folder must name something; an empty setting names nothing. The
// root folder is no library: a run there would reach the whole system, and
// its list could never be restored.
Next CheckDataFolder(RunContext& c) {
  const std::u16string& folder = c.app.settings.PathDataFolder;
  if (!DataFolderExists(folder)) {
    c.app.ui->ShowMessage(u"データフォルダが無効です");
    c.report.outcome = RunReport::Outcome::kInvalidFolder;
    return Next::kEnd;
  }
  if (!IsRootFolder(folder)) return Next::kGoOn;
  c.app.ui->ShowMessage(
      u"ルートフォルダ（/）はデータフォルダにできません。\r\n"
      u"MP3ファイルの入ったフォルダを選んでください。");
  c.report.outcome = RunReport::Outcome::kInvalidFolder;
  c.report.detail =
      N_("the data folder ") + Utf16ToUtf8(folder) +
      N_(" is the root folder /, not a library: choose the folder that holds the music");
  return Next::kEnd;
}

Next LockLibrary(RunContext& c) {
  if (c.guard.LockLibrary(c.app.settings.PathDataFolder, &c.report.detail)) return Next::kGoOn;
  c.report.outcome = RunReport::Outcome::kBusy;
  return Next::kEnd;
}

Next Scan(RunContext& c) {
  ResetEntryTable(c.run);
  if (c.app.settings.FlagDisplayLog == 1) {
    c.app.ui->ShowLog();
    c.app.ui->AppendLog(u"ファイル名の取得を開始しています");
  }
  ScanError error;
  if (ScanFolder(c.app, c.run, c.app.settings.PathDataFolder, &error, c.disk) != 0)
    return Next::kGoOn;
  std::string detail = N_("cannot list ") + Utf16ToUtf8(error.folder);
  if (error.sys_errno != 0) detail += std::string(": ") + std::strerror(error.sys_errno);
  return Abort(c, u"ファイル名の取得に失敗しました。", true, std::move(detail));
}

Next CountEntries(RunContext& c) {
  if (c.run.EntryCount < 1) return Abort(c, u"有効なファイルが見つかりません", true);
  Report(c.app,
         std::u16string(kCrLf) + DecimalText(c.run.EntryCount) + u"個のファイル名を取得しました。" +
             std::u16string(kCrLf) + std::u16string(kCrLf),
         u"");
  return Next::kGoOn;
}

// The pass reports what it can itself; a failure ends the run silently.
Next Convert(RunContext& c) {
  if (ConvertEntries(c.app, c.run, &c.report.switched_to_check_only) == 0) {
    return Stop(c, N_("the conversion pass failed"));
  }
  const Settings& s = c.app.settings;
  const bool check_only = (s.FlagConvertFilename != 1 || s.FlagCheckOnlyFilename == 1) &&
                          (s.FlagConvertID3Tag != 1 || s.FlagCheckOnlyID3Tag == 1);
  if (c.app.ui->WantsPlan()) c.plan = MakeChangePlan(c.run, s.PathDataFolder, check_only);
  return Next::kGoOn;
}

// Where row `i` is, as the log shows it.
std::u16string RowPath(const RunState& run, size_t i) {
  const FileEntry& e = run.EntryTable[i];
  return e.OldPath + e.OldName;
}

// The log's account of a change that cannot be made, the first line
// included.
std::u16string RefusalText(const RunState& run, const PreflightRefusal& r) {
  const std::u16string move = RowPath(run, r.row) + u" → " + run.EntryTable[r.row].NewName;
  std::u16string text = u"変更を始める前の確認で、実行できない変更が見つかりました。";
  text += u"何も変更していません。\r\n";
  switch (r.code) {
    case PreflightCode::kNameTooLong:
      text += u"新しい名前が長すぎます（" + DecimalText(static_cast<int64_t>(r.name_bytes)) +
              u"バイト、このフォルダでは" + DecimalText(static_cast<int64_t>(r.name_max)) +
              u"バイトまで）：" + move +
              u"\r\n「拡張子を除くファイル名を…文字に制限する」で名前を短くしてください。";
      break;
    case PreflightCode::kTaken:
      text += u"新しい名前はほかのファイルまたはフォルダが使っています：" + move;
      break;
    case PreflightCode::kSameNewName:
      text += u"ほかの項目（" + RowPath(run, r.other_row) + u"）も同じ名前に変更されます：" + move;
      break;
    case PreflightCode::kUnusableName:
      text += u"使えない名前です：" + move;
      break;
    case PreflightCode::kMissing:
      text += u"ファイルまたはフォルダが見つかりません：" + RowPath(run, r.row);
      break;
    case PreflightCode::kUnreachable:
    case PreflightCode::kOk:
      text += u"フォルダを開けません（リンクの先は扱いません）：" + RowPath(run, r.row);
      break;
  }
  return text;
}

// The log's line for a file whose tag the run leaves alone, and the English
// one for the report.
std::u16string TagSkipLine(const RunState& run, const TagSkip& skip) {
  if (skip.reason == TagSkip::Reason::kTooShort) {
    return u"128バイトに満たないファイルなので、ID3Tagは書き込みません：" + RowPath(run, skip.row);
  }
  return u"同じファイルの別の名前（ハードリンク）なので、ID3Tagは「" + RowPath(run, skip.same_as) +
         u"」に一度だけ書き込みます：" + RowPath(run, skip.row);
}
std::string TagSkipDetail(const RunState& run, const TagSkip& skip) {
  const std::string path = Utf16ToUtf8(RowPath(run, skip.row));
  if (skip.reason == TagSkip::Reason::kTooShort) {
    return N_("tag left alone: ") + path + ": " + std::to_string(skip.size) +
           N_(" bytes, too short to hold a tag");
  }
  return N_("tag left alone: ") + path + N_(": the same file as ") +
         Utf16ToUtf8(RowPath(run, skip.same_as)) + N_(" (a hard link), whose tag is written once");
}

// Everything that can be known before the first change, before the list is
// written: a change that cannot be made refuses the run while nothing is
// changed; a file that cannot take its tag, or takes it under another name,
// keeps it as it is (TagFlag 0 in the list), with a line in the log.
Next CheckBeforeChanges(RunContext& c) {
  const std::string library = LibraryFolderOf(c.run, c.app.settings.PathDataFolder);
  TagPlan tags = SettleTagWrites(c.run, library, c.disk);
  PreflightRefusal refusal = tags.refusal;
  if (refusal.ok()) refusal = CheckRenames(c.run, library, c.disk);
  if (!refusal.ok()) {
    ReportAbort(c.app, RefusalText(c.run, refusal), true, true);
    c.report.outcome = RunReport::Outcome::kRefused;
    c.report.detail = N_("before any change: ") + refusal.detail;
    return Next::kEnd;
  }
  if (tags.skipped.empty()) return Next::kGoOn;
  std::u16string log;
  for (const TagSkip& skip : tags.skipped) {
    log += TagSkipLine(c.run, skip) + std::u16string(kCrLf);
    c.report.tags_left_alone.push_back(TagSkipDetail(c.run, skip));
  }
  Report(c.app, log,
         DecimalText(static_cast<int64_t>(tags.skipped.size())) +
             u"個のファイルはID3Tagを書き込めないため、変更しません"
             u"（128バイトに満たないファイル、または同じファイルの別の名前）。");
  return Next::kGoOn;
}

// The list, and the undo record beside it.
int32_t CallWriteRenameList(RunContext& c, std::string* error) {
  c.undo = CaptureUndoRecord(c.run, c.disk);
  return WriteRenameList(c.app, c.run, &c.report.list_path, error, &*c.undo);
}

// The list is on disk before anything changes.
Next WriteList(RunContext& c) {
  if (c.app.settings.FlagCreateCSVFile != 1) return Next::kGoOn;
  std::string error;
  if (CallWriteRenameList(c, &error) == 0) {
    return Abort(c, u"CSVファイルの作成に失敗しました。", true, std::move(error));
  }
  c.report.list_written = true;
  return Next::kGoOn;
}

// The listing shows every difference, also those that check-only keeps
// from being applied.
Next ListChanges(RunContext& c) {
  if (c.run.ChangeCount == 0) {
    ReportLine(c.app, u"名前の変更されるファイルはありません。", 2);
    return Next::kEnd;
  }
  if (c.app.settings.FlagDisplayLog == 1) {
    c.app.ui->AppendLog(u"以下のファイルの名前を変更します。\r\n");
    // The rows' blocks are made a piece of rows at a time (two pieces side
    // by side on a large table) and shown in the order of the rows.
    constexpr size_t kPieceRows = 1024;
    MakePiecesInOrder(
        1, static_cast<size_t>(c.run.EntryCount) + 1, kPieceRows,
        [&](size_t from, size_t to) {
          std::u16string piece;
          for (size_t i = from; i < to; ++i) piece += ChangeListing(c.run.EntryTable[i]);
          return piece;
        },
        [&](const std::u16string& piece) {
          if (!piece.empty()) c.app.ui->AppendLog(piece);
        });
  }
  ReportLine(c.app, DecimalText(c.run.ChangeCount) + u"個のファイルまたはフォルダが変更されます。",
             2);
  return Next::kGoOn;
}

int32_t CallWriteTags(RunContext& c, StageResult* details) {
  return WriteTags(c.app, c.run, details, c.undo ? &*c.undo : nullptr, c.disk);
}

int32_t CallRenameFiles(RunContext& c, StageResult* details) {
  return RenameFiles(c.app, c.run, details, c.disk);
}

int32_t CallRenameFolders(RunContext& c, StageResult* details) {
  return RenameFolders(c.app, c.run, details, c.disk);
}

// One of the three stages that change the disk: whether the settings ask
// for it, the stage itself, and what is said when it fails or is passed
// over.
struct DiskStage {
  bool (*wanted)(const Settings& s);
  int32_t (*apply)(RunContext& c, StageResult* details);
  std::u16string_view failed;
  std::u16string_view check_only;
};

// Tags while every file still has its old name, then file names inside
// folders that still have their old names, then folder names, innermost
// first.
constexpr DiskStage kDiskStages[] = {
    {[](const Settings& s) { return s.FlagConvertID3Tag == 1 && s.FlagCheckOnlyID3Tag != 1; },
     CallWriteTags, u"ID3Tagの変換中にエラーが発生しました。",
     u"ID3Tagはチェックのみなので、変換しません。"},
    {[](const Settings& s) { return s.FlagConvertFilename == 1 && s.FlagCheckOnlyFilename != 1; },
     CallRenameFiles, u"ファイル名の変換中にエラーが発生しました。",
     u"ファイル名はチェックのみなので、変換しません。"},
    {[](const Settings& s) {
       return s.FlagConvertFilename == 1 && s.FlagRenameFolderName == 1 &&
              s.FlagCheckOnlyFilename != 1;
     },
     CallRenameFolders, u"フォルダ名の変換中にエラーが発生しました。",
     u"フォルダ名はチェックのみなので、変換しません。"},
};

Next ApplyChanges(RunContext& c) {
  for (const DiskStage& stage : kDiskStages) {
    if (!stage.wanted(c.app.settings)) {
      ReportLine(c.app, stage.check_only, 1);
      continue;
    }
    StageResult details;
    if (stage.apply(c, &details) == 0) return Abort(c, stage.failed, false, details.message);
  }
  return Next::kEnd;
}

// The stages of a run in their order; each one ends the run or hands on.
constexpr Next (*kRunStages[])(RunContext&) = {
    // Nothing on disk changes in these, so a refusal leaves no list either.
    CheckDataFolder, LockLibrary, Scan,         CountEntries, Convert, CheckBeforeChanges,  //
    WriteList,       ListChanges, ApplyChanges,
};

// A front end for a pass that only makes the plan: the log and the messages
// are kept back, the rest goes to the real one.
class QuietFrontEnd : public FrontEnd {
 public:
  explicit QuietFrontEnd(FrontEnd& real) : real_(real) {}
  void AppendLog(std::u16string_view) override {}
  void ShowMessage(std::u16string_view text) override { messages.emplace_back(text); }
  void ShowLog() override {}
  void PumpEvents() override { real_.PumpEvents(); }
  void TickCheckOnlyBoxes() override {}
  void ReportProgress(ProgressStage stage, int64_t done, int64_t total) override {
    real_.ReportProgress(stage, done, total);
  }
  bool WantsPlan() const override { return real_.WantsPlan(); }

  std::vector<std::u16string> messages;

 private:
  FrontEnd& real_;
};

// The stages of a pass that only makes the plan.
constexpr Next (*kPlanStages[])(RunContext&) = {
    CheckDataFolder, LockLibrary, Scan, CountEntries, Convert,
};

}  // namespace

RunReport PlanConversion(AppState& app, RunState& run, DiskOps& disk) {
  RunReport report;
  RunGuard guard(app);
  if (!guard.acquired()) {
    report.outcome = RunReport::Outcome::kBusy;
    return report;
  }
  FrontEnd* real = app.ui;
  QuietFrontEnd quiet(*real);
  const Settings kept = app.settings;
  // Messages rather than the log, so that what ends the pass is kept back
  // apart from the notices of the rows.
  app.settings.FlagDisplayLog = 0;
  app.ui = &quiet;
  RunContext context{app, run, guard, report, disk, std::nullopt, nullptr};
  for (auto* stage : kPlanStages) {
    if (stage(context) == Next::kEnd) break;
  }
  app.ui = real;
  app.settings = kept;
  if (report.outcome != RunReport::Outcome::kCompleted) {
    for (const std::u16string& text : quiet.messages) real->ShowMessage(text);
    return report;
  }
  if (context.plan) real->ShowPlan(std::move(context.plan), false);
  return report;
}

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
  RunContext context{app, run, guard, report, disk, std::nullopt, nullptr};
  for (auto* stage : kRunStages) {
    if (stage(context) == Next::kEnd) break;
  }
  if (context.plan) {
    const bool open = context.plan->check_only && run.ChangeCount > 0;
    app.ui->ShowPlan(std::move(context.plan), open);
  }
  return report;
}

}  // namespace tarvel
