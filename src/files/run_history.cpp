#include "files/run_history.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <tuple>

#include "app/entry_table.h"
#include "files/rename_list.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "platform/text_file.h"

namespace tarvel {
namespace {

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// Reads a list a byte at a time and tells whether it is a list as this
// program writes it (every field quoted, 14 fields, CR LF after each record,
// a blank first record and at least one row, whole numbers in the number and
// flag fields, no NUL, valid UTF-8 behind a byte-order mark) whose rows
// change nothing on disk (no RenameFlag or TagFlag 1). The quote, comma, CR
// and LF bytes it goes by never occur inside a character of code page 932 or
// UTF-8, so no decoding is needed; only one record's bytes are held.
class QuietListScan {
 public:
  // False as soon as the bytes cannot be such a list.
  bool Feed(std::string_view bytes) {
    for (char c : bytes) {
      if (!Take(c)) return false;
    }
    return true;
  }
  bool Whole() const { return state_ == kFieldStart && field_ == 0 && records_ >= 2; }

 private:
  enum State { kFieldStart, kInField, kQuote, kCr };
  static constexpr std::string_view kMark = "\xEF\xBB\xBF";
  static constexpr size_t kMaxRecord = 1 << 20;

  bool Take(char c) {
    if (mark_at_ < kMark.size()) {
      if (mark_at_ == 0 && c != kMark[0]) {
        mark_at_ = kMark.size();  // no mark: code page 932
      } else {
        if (c != kMark[mark_at_]) return false;
        utf8_ = ++mark_at_ == kMark.size();
        return true;
      }
    }
    if (c == '\0') return false;
    if (utf8_) {
      record_ += c;
      if (record_.size() > kMaxRecord) return false;
    }
    switch (state_) {
      case kFieldStart:
        if (c != '"') return false;
        state_ = kInField;
        return true;
      case kInField:
        if (c == '"') {
          state_ = kQuote;
          return true;
        }
        return FieldByte(c);
      case kQuote:
        if (c == '"') {  // a doubled quote
          state_ = kInField;
          return FieldByte(c);
        }
        if (c == ',') {
          state_ = kFieldStart;
          return EndField();
        }
        if (c == '\r') {
          state_ = kCr;
          return EndField();
        }
        return false;
      case kCr:
        if (c != '\n' || field_ != kRenameListColumns) return false;
        if (utf8_ && !IsValidUtf8(record_)) return false;
        record_.clear();
        field_ = 0;
        ++records_;
        state_ = kFieldStart;
        return true;
    }
    return false;
  }

  bool IsNumberField() const {
    const int32_t f = field_ + 1;
    return f == 1 || f == 12 || f == 13 || f == 14;
  }

  bool FieldByte(char c) {
    if (records_ == 0) return false;  // the first record is blank
    if (!IsNumberField()) return true;
    if (c < '0' || c > '9') return false;
    value_ = std::min<int64_t>(value_ * 10 + (c - '0'), int64_t{1} << 32);
    ++digits_;
    return true;
  }

  bool EndField() {
    if (++field_ > kRenameListColumns) return false;
    if (records_ > 0 && (field_ == 1 || field_ >= 12)) {
      if (digits_ == 0) return false;
      // RenameFlag or TagFlag 1: the list records applied changes.
      if ((field_ == 12 || field_ == 13) && value_ == 1) return false;
    }
    digits_ = 0;
    value_ = 0;
    return true;
  }

  size_t mark_at_ = 0;
  bool utf8_ = false;
  State state_ = kFieldStart;
  int32_t field_ = 0;  // fields ended in this record
  int32_t records_ = 0;
  int64_t value_ = 0;
  int32_t digits_ = 0;
  std::string record_;  // the record's bytes so far (UTF-8 only)
};

// True when the file at `path` is a list whose rows change nothing, read a
// piece at a time. Lists of any other form (one written by hand or by another
// program, which the list reader may still take) count as lists that matter:
// more may be kept than must be, never less.
bool IsQuietList(const std::filesystem::path& path) {
  QuietListScan scan;
  bool quiet = true;
  TextReadResult read =
      ReadFileInPieces(path, [&](std::string_view piece) { return quiet = scan.Feed(piece); });
  return read.ok() && quiet && scan.Whole();
}

// Copies the file at `from` to `to` a piece at a time through a temporary
// file. False, with `error`, when it cannot; `read` tells whether reading
// `from` was what failed.
bool CopyFile(const std::filesystem::path& from, const std::filesystem::path& to,
              TextReadResult& read, std::string* error) {
  AtomicFileWriter writer(to);
  read = ReadFileInPieces(from, [&](std::string_view piece) { return writer.Append(piece); });
  if (!read.ok()) {
    SetError(error, "cannot keep the previous list: " + read.message);
    return false;
  }
  TextWriteResult w = writer.Commit();
  if (!w.ok) {
    SetError(error, "cannot keep the previous list: " + w.message);
    return false;
  }
  return true;
}

// Makes a new folder for one kept run, named by the local date and time, with
// "-2", "-3"... when several are kept in one second. Never reuses a folder.
bool MakeRunFolder(const std::filesystem::path& history, std::filesystem::path& made,
                   std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(history, ec);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H%M%S", &local);
  for (int n = 1; n < 1000; ++n) {
    std::string name = stamp;
    if (n > 1) name += "-" + std::to_string(n);
    std::filesystem::path candidate = history / name;
    if (::mkdir(candidate.c_str(), 0700) == 0) {
      made = candidate;
      return true;
    }
    if (errno != EEXIST) {
      SetError(error, "cannot keep the previous list in " + EscapeBytes(history.native()) + ": " +
                          std::strerror(errno));
      return false;
    }
  }
  SetError(error, "cannot keep the previous list: no free folder name in " +
                      EscapeBytes(history.native()));
  return false;
}

}  // namespace

bool KeepPreviousList(const AppFolder& folder, const std::filesystem::path& list_path,
                      std::string* error) {
  struct stat st;
  if (::lstat(list_path.c_str(), &st) != 0 && errno == ENOENT) return true;
  // Read a piece at a time: a list can be tens of megabytes, and it is
  // replaced while the run that replaces it is in memory.
  if (IsQuietList(list_path)) return true;
  // Not a list that changes nothing (or not one as far as can be told): keep
  // its bytes all the same, when they can be read.
  if (TextReadResult read = ReadFileInPieces(list_path, [](std::string_view) { return false; });
      !read.ok()) {
    SetError(error, "cannot keep the previous list: " + read.message);
    return false;
  }
  if (folder.history_dir.empty()) {
    SetError(error, "cannot keep the previous list: no history folder");
    return false;
  }
  std::filesystem::path kept;
  if (!MakeRunFolder(folder.history_dir, kept, error)) return false;
  TextReadResult read;
  std::string undo_error;
  if (!CopyFile(UndoRecordPath(list_path), UndoRecordPath(kept / kHistoryListName), read,
                &undo_error) &&
      read.ok()) {
    // A record that cannot be read is left behind, as a list without one.
    SetError(error, undo_error);
    return false;
  }
  return CopyFile(list_path, kept / kHistoryListName, read, error);
}

std::vector<HistoryEntry> ListHistory(const AppFolder& folder) {
  std::vector<HistoryEntry> out;
  std::error_code ec;
  if (folder.history_dir.empty()) return out;
  for (auto it = std::filesystem::directory_iterator(folder.history_dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (!it->is_directory(ec)) continue;
    HistoryEntry entry;
    entry.list = it->path() / kHistoryListName;
    if (!std::filesystem::exists(entry.list, ec)) continue;
    // "2026-12-07_140512-2" is shown as "2026-12-07 14:05:12".
    std::string name = it->path().filename().native();
    if (name.size() >= 17 && name[10] == '_') {
      entry.time = name.substr(0, 10) + " " + name.substr(11, 2) + ":" + name.substr(13, 2) + ":" +
                   name.substr(15, 2) + name.substr(17);
    } else {
      entry.time = EscapeBytes(name);
    }
    RunState run;
    if (ReadRenameList(Utf8ToUtf16Lossy(entry.list.native()), run) == 1) {
      entry.readable = true;
      for (size_t i = 1; i <= LastIndex(run); ++i) {
        const FileEntry& e = run.EntryTable[i];
        ++entry.rows;
        if (e.RenameFlag == 1) ++entry.renames;
        if (e.TagFlag == 1) ++entry.tags;
        if (entry.folder.empty() || e.OldPath.size() < entry.folder.size()) {
          entry.folder = e.OldPath;
        }
      }
    }
    out.push_back(std::move(entry));
  }
  // By the time in the name, then by the number after it: "-10" was kept
  // after "-9", though it sorts before it as text.
  auto order = [](const HistoryEntry& e) {
    const std::string name = e.list.parent_path().filename().native();
    const size_t dash = name.size() > 17 && name[17] == '-' ? 17 : name.size();
    size_t n = 1;
    std::from_chars(name.data() + std::min(dash + 1, name.size()), name.data() + name.size(), n);
    return std::make_tuple(name.substr(0, dash), n, name);
  };
  std::sort(out.begin(), out.end(),
            [&](const HistoryEntry& a, const HistoryEntry& b) { return order(a) < order(b); });
  return out;
}

}  // namespace tarvel
