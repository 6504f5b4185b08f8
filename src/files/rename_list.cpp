#include "files/rename_list.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "app/report.h"
#include "files/list_format.h"
#include "files/run_history.h"
#include "files/undo_record.h"
#include "platform/csv.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "platform/translatable.h"
#include "platform/two_threads.h"
#include "platform/unique_fd.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kWrittenText = u"変換リストをCSVファイルに出力しました。";
constexpr std::u16string_view kFileNameLabel = u"　ファイル名　：　";

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// The 14 fields of one row, numbers as decimal text.
struct ListRecord {
  std::u16string number, rename, tag, is_file;
  std::u16string_view fields[kRenameListColumns];
  ListRecord(int32_t i, const FileEntry& e)
      : number(DecimalText(i)),
        rename(DecimalText(e.RenameFlag)),
        tag(DecimalText(e.TagFlag)),
        is_file(DecimalText(e.IsFile)),
        fields{number,     e.OldPath,  e.OldName,   e.NewPath,  e.NewName, e.OldTitle, e.OldArtist,
               e.OldAlbum, e.NewTitle, e.NewArtist, e.NewAlbum, rename,    tag,        is_file} {}
};

// The same choice as EncodeTextBytes (code page 932 when the text survives
// it, else UTF-8 behind a byte-order mark), made per distinct character: a
// list repeats a few hundred characters millions of times, and code page 932
// maps each character on its own, so the whole text survives exactly when
// each of its characters does.
bool ListSurvivesCp932(const RunState& run, int32_t count) {
  enum : uint8_t { kUnknown, kSurvives, kLost };
  std::vector<uint8_t> known(0x10000, kUnknown);
  for (int32_t i = 1; i <= count; ++i) {
    const FileEntry& e = run.EntryTable[static_cast<size_t>(i)];
    for (const SharedText* text :
         {&e.OldPath, &e.OldName, &e.NewPath, &e.NewName, &e.OldTitle, &e.OldArtist, &e.OldAlbum,
          &e.NewTitle, &e.NewArtist, &e.NewAlbum}) {
      for (char16_t c : *text) {
        uint8_t& k = known[c];
        if (k == kUnknown) k = SurvivesCp932(std::u16string_view(&c, 1)) ? kSurvives : kLost;
        if (k == kLost) return false;
      }
    }
  }
  return true;
}

// Puts the finished record (or, with `record` null, no record) and then the
// list in place. The record goes first, so that a list on disk always has its
// record beside it; should the list then fail to go in place, the record that
// was there is put back from a second name made for it beforehand, so that
// the old list keeps its own record. `touch_record` false leaves any record
// alone (a list written without one).
bool PutListInPlace(AtomicFileWriter& list, AtomicFileWriter* record, bool touch_record,
                    std::string* error) {
  const std::filesystem::path record_path = UndoRecordPath(list.path());
  // Beside the list's temporary file, whose name is unique.
  const std::string backup = list.temp_path() + ".undo";
  bool had_record = false, backed_up = false;
  if (touch_record) {
    backed_up = ::link(record_path.c_str(), backup.c_str()) == 0;
    // Without hard links (some file systems) the old record cannot be put
    // back, but it is not lost unless the list then fails to go in place.
    had_record = backed_up || errno != ENOENT;
    if (record != nullptr) {
      TextWriteResult r = record->Commit();
      if (!r.ok) {
        if (backed_up) ::unlink(backup.c_str());
        SetError(error, r.message);
        return false;
      }
    } else {
      // Nothing is to change (a check-only run): no record, and none left
      // over from an earlier list (which the history has kept).
      ::unlink(record_path.c_str());
    }
  }
  TextWriteResult written = list.Commit();
  if (!written.ok) {
    if (backed_up) {
      ::rename(backup.c_str(), record_path.c_str());
    } else if (touch_record && !had_record) {
      ::unlink(record_path.c_str());
    }
    SetError(error, written.message);
    return false;
  }
  if (backed_up) ::unlink(backup.c_str());
  return true;
}

// The lock file in the program's list folder (hidden; kept, never removed:
// removing a lock file while another process waits on it would let a third
// lock a new file of the same name).
constexpr char kListLockName[] = ".list.csv.lock";

// Holds the lock of a list folder that several libraries share: keeping the
// list there in the history and putting the next one in place happen inside
// it, so that a second run cannot replace a list between the two. Waits
// while another run holds it (the section is short: a copy and two renames).
// Where the file system refuses flock, or the lock file cannot be made, the
// section runs without it: it is still only as long as those few steps.
class ListFolderLock {
 public:
  explicit ListFolderLock(const std::filesystem::path& folder)
      : fd_(::open((folder / kListLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                   0600)) {
    if (!fd_) return;
    int rc;
    do {
      rc = ::flock(fd_.get(), LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) fd_.reset();
  }
  // Closing the descriptor gives the lock up.

 private:
  UniqueFd fd_;
};

}  // namespace

void FormatRenameList(const RunState& run, int32_t count,
                      const std::function<void(std::string_view)>& sink) {
  const bool cp932 = ListSurvivesCp932(run, count);
  if (!cp932) sink(kListUtf8Mark);
  auto encoded = [cp932](const std::u16string& text) {
    return cp932 ? EncodeCp932(text) : Utf16ToUtf8(text);
  };
  const std::u16string_view blank[kRenameListColumns] = {};
  std::u16string text;
  AppendCSVRecord(text, blank, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
  sink(encoded(text));
  // Rows encoded at once: enough that each hand-over to `sink` is worth its
  // cost, few enough that the pieces in hand stay small.
  constexpr size_t kPieceRows = 1024;
  MakePiecesInOrder(
      1, static_cast<size_t>(count) + 1, kPieceRows,
      [&](size_t from, size_t to) {
        std::u16string piece;
        for (size_t i = from; i < to; ++i) {
          ListRecord record(static_cast<int32_t>(i), run.EntryTable[i]);
          AppendCSVRecord(piece, record.fields, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
        }
        return encoded(piece);
      },
      [&](const std::string& piece) { sink(piece); });
}

bool RenameListPath(const AppState& app, std::filesystem::path& path, std::u16string& shown,
                    std::string* error) {
  if (app.settings.FlagPathSaveCSV != 0) {
    const std::u16string& folder = app.settings.PathDataFolder;
    if (folder.empty()) {
      SetError(error, "no data folder is set");
      return false;
    }
    shown = folder;
    if (shown.back() != u'/') shown += u'/';
    shown.append(kRenameListName.begin(), kRenameListName.end());  // ASCII
    path = Utf16ToUtf8(shown);
    return true;
  }
  std::optional<std::filesystem::path> folder = app.folder.ListFolder(error);
  if (!folder) return false;
  path = *folder / kRenameListName;
  shown = Utf8ToUtf16Lossy(path.native());
  return true;
}

namespace {

// Writes the list of rows 1..`count` of `run` into `list` and, when `undo`
// has rows, its record into `record` (made here, beside the list), each
// whole under its temporary name; nothing is put in place. On a failure the
// writers remove their temporary files when they go, so neither file on
// disk changes; false, with `error`.
bool WriteListFiles(const RunState& run, int32_t count, const UndoRecord* undo,
                    AtomicFileWriter& list, std::optional<AtomicFileWriter>& record,
                    std::size_t max_bytes, std::string* error) {
  if (!list.ok()) {
    SetError(error, list.message());
    return false;
  }
  // A list or record no restore could read back is not written at all: the
  // run stops here, before anything on disk has changed. The bytes past the
  // limit are still counted, not written, so that the message is whole.
  auto too_large = [&](const char* what, uint64_t size) {
    if (size <= max_bytes) return false;
    SetError(error, what + (": " + std::to_string(size) + " > " + std::to_string(max_bytes)));
    return true;
  };
  ListBytesKey key;
  FormatRenameList(run, count, [&](std::string_view piece) {
    key.Add(piece);
    if (key.size <= max_bytes) list.Append(piece);
  });
  if (too_large(N_("the list would be larger than a restore can read"), key.size)) return false;
  if (!list.Finish()) {
    SetError(error, list.message());
    return false;
  }
  if (undo != nullptr && !undo->rows.empty()) {
    record.emplace(UndoRecordPath(list.path()));
    uint64_t record_size = 0;
    WriteUndoRecord(*undo, key.size, key.hash, [&](std::string_view piece) {
      record_size += piece.size();
      if (record_size <= max_bytes) record->Append(piece);
    });
    if (too_large(N_("the undo record would be larger than a restore can read"), record_size)) {
      return false;
    }
    if (!record->Finish()) {
      SetError(error, record->message());
      return false;
    }
  }
  return true;
}

}  // namespace

int32_t WriteRenameList(AppState& app, const RunState& run, std::u16string* written_path,
                        std::string* error, const UndoRecord* undo, const ListLockedStep& in_lock,
                        std::size_t max_bytes) {
  try {
    const int32_t count = run.EntryCount;
    if (count < 0 || static_cast<size_t>(count) >= run.EntryTable.size()) {
      SetError(error, "the table holds fewer rows than its count says");
      return 0;
    }
    std::filesystem::path path;
    std::u16string shown;
    if (!RenameListPath(app, path, shown, error)) return 0;

    AtomicFileWriter list(path);
    std::optional<AtomicFileWriter> record;
    if (!WriteListFiles(run, count, undo, list, record, max_bytes, error)) return 0;
    {
      // A list in the data folder belongs to that library, which the run
      // holds for its whole length; the program's own list folder is shared
      // by every library.
      std::optional<ListFolderLock> lock;
      if (app.settings.FlagPathSaveCSV == 0) lock.emplace(path.parent_path());
      // The list about to be replaced may be the only record of a run.
      if (!KeepPreviousList(app.folder, path, error)) return 0;
      if (in_lock) in_lock();
      if (!PutListInPlace(list, record ? &*record : nullptr, undo != nullptr, error)) return 0;
    }

    std::u16string box(kWrittenText);
    box += u"\r\n";
    box += kFileNameLabel;
    box += shown;
    Report(app, u"\r\n" + box + u"\r\n\r\n", box);
    if (written_path != nullptr) *written_path = std::move(shown);
    return 1;
  } catch (const std::exception& e) {
    SetError(error, std::string("unexpected error: ") + e.what());
    return 0;
  }
}

}  // namespace tarvel
