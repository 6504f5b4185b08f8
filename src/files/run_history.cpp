#include "files/run_history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <tuple>
#include <utility>

#include "app/entry_table.h"
#include "files/list_format.h"
#include "files/rename_list_reader.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "platform/translatable.h"
#include "platform/unique_fd.h"

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
    while (!bytes.empty()) {
      // Inside a text field every byte up to the next quote is taken as it
      // is: found at once rather than one by one, as most of a list is text.
      if (InTextField()) {
        const size_t n = std::min(bytes.find('"'), bytes.size());
        if (!TakeText(bytes.substr(0, n))) return false;
        bytes.remove_prefix(n);
        if (bytes.empty()) break;
      }
      if (!Take(bytes.front())) return false;
      bytes.remove_prefix(1);
    }
    return true;
  }
  bool Whole() const { return state_ == kFieldStart && field_ == 0 && records_ >= 2; }

 private:
  enum State { kFieldStart, kInField, kQuote, kCr };
  // What a byte is to the byte-order mark.
  enum class Mark { kPast, kPart, kBroken };
  static constexpr size_t kMaxRecord = 1 << 20;

  // Within a field of a row that holds no number, past the byte-order mark.
  bool InTextField() const {
    return state_ == kInField && records_ > 0 && mark_at_ >= kListUtf8Mark.size() &&
           !IsListNumberField(field_ + 1);
  }

  // What Take does with each byte of `text` inside a text field, where none
  // is a quote.
  bool TakeText(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return false;
    if (utf8_) {
      record_.append(text);
      if (record_.size() > kMaxRecord) return false;
    }
    return true;
  }

  bool Take(char c) {
    if (const Mark mark = TakeMark(c); mark != Mark::kPast) return mark == Mark::kPart;
    if (c == '\0') return false;
    if (utf8_) {
      record_ += c;
      if (record_.size() > kMaxRecord) return false;
    }
    switch (state_) {
      case kFieldStart:
        return FieldStart(c);
      case kInField:
        return InField(c);
      case kQuote:
        return AfterQuote(c);
      case kCr:
        return AfterCr(c);
    }
    return false;
  }

  // The first byte tells whether the list starts with a byte-order mark;
  // without one it is in code page 932.
  Mark TakeMark(char c) {
    if (mark_at_ >= kListUtf8Mark.size()) return Mark::kPast;
    if (mark_at_ == 0 && c != kListUtf8Mark[0]) {
      mark_at_ = kListUtf8Mark.size();
      return Mark::kPast;
    }
    if (c != kListUtf8Mark[mark_at_]) return Mark::kBroken;
    utf8_ = ++mark_at_ == kListUtf8Mark.size();
    return Mark::kPart;
  }

  bool FieldStart(char c) {
    if (c != '"') return false;
    state_ = kInField;
    return true;
  }

  bool InField(char c) {
    if (c == '"') {
      state_ = kQuote;
      return true;
    }
    return FieldByte(c);
  }

  // After a quote inside a field: a doubled quote, or the field's end.
  bool AfterQuote(char c) {
    if (c == '"') {
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
  }

  bool AfterCr(char c) {
    if (c != '\n' || field_ != kRenameListColumns) return false;
    if (utf8_ && !IsValidUtf8(record_)) return false;
    record_.clear();
    field_ = 0;
    ++records_;
    state_ = kFieldStart;
    return true;
  }

  bool FieldByte(char c) {
    if (records_ == 0) return false;  // the first record is blank
    if (!IsListNumberField(field_ + 1)) return true;
    if (c < '0' || c > '9') return false;
    value_ = std::min<int64_t>(value_ * 10 + (c - '0'), int64_t{1} << 32);
    ++digits_;
    return true;
  }

  bool EndField() {
    if (++field_ > kRenameListColumns) return false;
    if (records_ > 0 && IsListNumberField(field_)) {
      if (digits_ == 0) return false;
      // RenameFlag or TagFlag 1: the list records applied changes.
      if ((field_ == kListRenameFlag || field_ == kListTagFlag) && value_ == 1) return false;
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
    SetError(error, N_("cannot keep the previous list: ") + read.message);
    return false;
  }
  TextWriteResult w = writer.Commit();
  if (!w.ok) {
    SetError(error, N_("cannot keep the previous list: ") + w.message);
    return false;
  }
  return true;
}

// A kept run's folder is named by the local time it was kept,
// "2026-12-07_140512", with "-2", "-3"... after it when several are kept in
// one second.
constexpr char kRunFolderStamp[] = "%Y-%m-%d_%H%M%S";
// The length of the names kRunFolderStamp makes.
constexpr size_t kRunFolderStampSize = 17;

// Makes a new folder for one kept run (see kRunFolderStamp). Never reuses a
// folder.
bool MakeRunFolder(const std::filesystem::path& history, std::filesystem::path& made,
                   std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(history, ec);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, kRunFolderStamp, &local);
  for (int n = 1; n < 1000; ++n) {
    std::string name = stamp;
    if (n > 1) name += "-" + std::to_string(n);
    std::filesystem::path candidate = history / name;
    if (::mkdir(candidate.c_str(), 0700) == 0) {
      made = candidate;
      return true;
    }
    if (errno != EEXIST) {
      SetError(error, N_("cannot keep the previous list in ") + EscapeBytes(history.native()) +
                          ": " + std::strerror(errno));
      return false;
    }
  }
  SetError(error, N_("cannot keep the previous list: no free folder name in ") +
                      EscapeBytes(history.native()));
  return false;
}

// "2026-12-07_140512-2" is shown as "2026-12-07 14:05:12-2"; a name of
// another form as it is.
std::string ShownTime(const std::string& name) {
  if (name.size() < kRunFolderStampSize || name[10] != '_') return EscapeBytes(name);
  return name.substr(0, 10) + " " + name.substr(11, 2) + ":" + name.substr(13, 2) + ":" +
         name.substr(15, 2) + name.substr(kRunFolderStampSize);
}

// A list as the file of restores knows it: its size and hash.
using ListKey = std::pair<uint64_t, uint64_t>;

// Counts the rows of the kept list and finds the outermost folder it names;
// a list that cannot be read is left as unreadable. `key` receives the
// list's size and hash.
void ReadKeptList(HistoryEntry& entry, ListKey* key = nullptr) {
  RunState run;
  std::string bytes;
  if (ReadRenameList(Utf8ToUtf16Lossy(entry.list.native()), run, nullptr, &bytes) != 1) return;
  if (key != nullptr) *key = {bytes.size(), ListBytesHash(bytes)};
  std::string().swap(bytes);  // let go of the buffer
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

// Kept runs go by the time in their folder's name, then by the number after
// it: "-10" was kept after "-9", though it sorts before it as text.
std::tuple<std::string, size_t, std::string> HistoryOrder(const HistoryEntry& e) {
  const std::string name = e.list.parent_path().filename().native();
  const size_t dash = name.size() > kRunFolderStampSize && name[kRunFolderStampSize] == '-'
                          ? kRunFolderStampSize
                          : name.size();
  size_t n = 1;
  std::from_chars(name.data() + std::min(dash + 1, name.size()), name.data() + name.size(), n);
  return std::make_tuple(name.substr(0, dash), n, name);
}

// The file in the history folder that notes each restore: one line
// "YYYY-MM-DD HH:MM:SS <list size> <list hash, 16 hex digits> <list path>".
constexpr std::string_view kRestoresName = "restores";

std::string LocalTime(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// The size and hash after `key` ("list 123 0123456789abcdef") in the first
// lines of a record; false when they are not there.
bool ParseListKey(std::string_view text, std::string_view key, ListKey& out) {
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(key)) continue;
    line.remove_prefix(key.size());
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() - space - 1 != 16) return false;
    auto size = std::from_chars(line.data(), line.data() + space, out.first);
    auto hash = std::from_chars(line.data() + space + 1, line.data() + line.size(), out.second, 16);
    return size.ec == std::errc() && size.ptr == line.data() + space && hash.ec == std::errc() &&
           hash.ptr == line.data() + line.size();
  }
  return false;
}

// The list that the record at `path` says it belongs to, from its first
// lines.
std::optional<ListKey> RecordListKey(const std::filesystem::path& path) {
  std::string head;
  TextReadResult read = ReadFileInPieces(
      path,
      [&](std::string_view piece) {
        head = piece.substr(0, 512);
        return false;
      },
      512);
  ListKey key;
  if (!read.ok() || !head.starts_with("tarvel-undo ") || !ParseListKey(head, "list ", key)) {
    return std::nullopt;
  }
  return key;
}

// When each list was last restored, from the history's file of restores.
std::map<ListKey, std::string> ReadRestores(const AppFolder& folder) {
  std::map<ListKey, std::string> out;
  std::string bytes;
  if (folder.history_dir.empty() ||
      !ReadFileBytes(folder.history_dir / kRestoresName, bytes).ok()) {
    return out;
  }
  constexpr size_t kTimeSize = 19;  // "YYYY-MM-DD HH:MM:SS"
  for (size_t at = 0; at < bytes.size();) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    const std::string_view line = std::string_view(bytes).substr(at, end - at);
    at = end + 1;
    ListKey key;
    if (line.size() <= kTimeSize + 1 || line[kTimeSize] != ' ') continue;
    // The path after the hash may hold spaces: only size and hash are read.
    std::string_view rest = line.substr(kTimeSize + 1);
    const size_t second = rest.find(' ', rest.find(' ') + 1);
    if (!ParseListKey(rest.substr(0, second), "", key)) continue;
    out[key] = std::string(line.substr(0, kTimeSize));  // later lines are later restores
  }
  return out;
}

// The kept runs, oldest first, with their lists and times (not read yet).
std::vector<HistoryEntry> KeptRuns(const AppFolder& folder) {
  std::vector<HistoryEntry> out;
  std::error_code ec;
  if (folder.history_dir.empty()) return out;
  for (auto it = std::filesystem::directory_iterator(folder.history_dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (!it->is_directory(ec)) continue;
    HistoryEntry entry;
    entry.list = it->path() / kHistoryListName;
    if (!std::filesystem::exists(entry.list, ec)) continue;
    entry.time = ShownTime(it->path().filename().native());
    out.push_back(std::move(entry));
  }
  std::sort(out.begin(), out.end(), [](const HistoryEntry& a, const HistoryEntry& b) {
    return HistoryOrder(a) < HistoryOrder(b);
  });
  return out;
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
    SetError(error, N_("cannot keep the previous list: ") + read.message);
    return false;
  }
  if (folder.history_dir.empty()) {
    SetError(error, N_("cannot keep the previous list: no history folder"));
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
  std::vector<HistoryEntry> out = KeptRuns(folder);
  for (HistoryEntry& entry : out) ReadKeptList(entry);
  return out;
}

}  // namespace tarvel

namespace tarvel {

std::vector<HistoryEntry> ListRuns(const AppFolder& folder,
                                   const std::filesystem::path& current_list, RunOrder order) {
  std::vector<HistoryEntry> out = KeptRuns(folder);
  const std::map<ListKey, std::string> restores = ReadRestores(folder);
  struct stat st;
  const bool has_current =
      !current_list.empty() && ::stat(current_list.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  if (has_current) {
    HistoryEntry entry;
    entry.list = current_list;
    entry.current = true;
    entry.time = LocalTime(st.st_mtime);
    out.push_back(std::move(entry));
  }
  for (HistoryEntry& entry : out) {
    ListKey key{0, 0};
    ReadKeptList(entry, &key);
    if (auto it = restores.find(key); entry.readable && it != restores.end()) {
      entry.restored = it->second;
    }
  }
  if (order == RunOrder::kNewestFirst) std::reverse(out.begin(), out.end());
  return out;
}

bool NoteRestore(const AppFolder& folder, uint64_t list_size, uint64_t list_hash,
                 const std::filesystem::path& list_path, std::string* error) {
  if (folder.history_dir.empty()) {
    SetError(error, N_("cannot note the restore: no history folder"));
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder.history_dir, ec);
  const std::filesystem::path path = folder.history_dir / kRestoresName;
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(list_hash));
  const std::string line = LocalTime(std::time(nullptr)) + " " + std::to_string(list_size) + " " +
                           hash + " " + EscapeBytes(list_path.native()) + "\n";
  // One write of a short line in append mode: lines of two restores at once
  // do not mix.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (!fd || ::write(fd.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
      fd.Close() != 0) {
    SetError(error, N_("cannot note the restore in ") + EscapeBytes(path.native()) + ": " +
                        std::strerror(errno));
    return false;
  }
  return true;
}

std::optional<std::filesystem::path> FindKeptListWithRecord(const AppFolder& folder,
                                                            uint64_t list_size,
                                                            uint64_t list_hash) {
  std::vector<HistoryEntry> kept = KeptRuns(folder);
  // The latest first: a list kept twice is most likely the one just replaced.
  std::reverse(kept.begin(), kept.end());
  for (const HistoryEntry& entry : kept) {
    std::optional<ListKey> key = RecordListKey(UndoRecordPath(entry.list));
    if (key && key->first == list_size && key->second == list_hash) return entry.list;
  }
  return std::nullopt;
}

}  // namespace tarvel
