#include "files/undo_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "files/id3_tag.h"
#include "files/list_format.h"
#include "platform/disk_ops.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "platform/two_threads.h"

namespace tarvel {
namespace {

constexpr std::string_view kMagic = "tarvel-undo 2";
// Records of the first version have no times, hashes or file system facts.
constexpr std::string_view kMagicV1 = "tarvel-undo 1";
constexpr size_t kBlockSize = kTagBlockSize;

// What a row the run changes is on disk now, looked at without following a
// link: for a file whose tag the run writes, with its last 128 bytes. False
// when it cannot be looked at.
bool LookAt(DiskOps& disk, const std::string& path, bool writes_tag, UndoEntry& entry) {
  if (writes_tag) return CaptureFileAt(disk, AT_FDCWD, path, entry);
  struct stat st;
  if (disk.FStatAt(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  entry.dev = st.st_dev;
  entry.ino = st.st_ino;
  entry.mode = st.st_mode & 07777;
  entry.size = entry.is_file ? static_cast<uint64_t>(st.st_size) : 0;
  entry.mtime = FileTime{st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec)};
  entry.has_mtime = true;
  return true;
}

// Whether the file system that holds `path` keeps inode numbers; false when
// it cannot be learnt.
bool InodesKeptAt(DiskOps& disk, const std::string& path) {
  UniqueFd fd = disk.OpenAt(AT_FDCWD, path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  return fd && KeepsInodeNumbersOf(disk, fd.get());
}

// Fills in what the scan does not learn of the record's rows: whether their
// file systems keep inode numbers (asked once per device), the hash of the
// block each tag write leaves, and the times of the folders the run renames
// in (looked at once per folder).
void CompleteRecord(const RunState& run, UndoRecord& record, DiskOps& disk) {
  std::unordered_map<uint64_t, bool> kept_by_device;
  for (auto& [row, entry] : record.rows) {
    auto [it, added] = kept_by_device.try_emplace(entry.dev, false);
    if (added) {
      const FileEntry& e = run.EntryTable[row];
      it->second = InodesKeptAt(disk, Utf16ToUtf8(e.OldPath + e.OldName));
    }
    entry.inode_kept = it->second;
  }
  // The hashes of a large record are made on two threads, each half of the
  // entries in its own places.
  auto hash = [&](size_t from, size_t to) {
    for (size_t k = from; k < to; ++k) {
      auto& [row, entry] = record.rows.Slot(k);
      const FileEntry& e = run.EntryTable[row];
      if (e.IsFile == 1 && e.TagFlag == 1 && entry.has_block) {
        entry.after_hash = UpdatedBlockHash(entry, e.NewTitle, e.NewArtist, e.NewAlbum);
        entry.has_after = true;
      }
    }
  };
  RunInHalves(record.rows.size(), hash);
  std::unordered_set<std::u16string_view> folders;
  const size_t last = LastIndex(run);
  for (size_t i = 1; i <= last; ++i) {
    const FileEntry& e = run.EntryTable[i];
    if (e.RenameFlag != 1 || !folders.insert(e.OldPath.view()).second) continue;
    struct stat st;
    if (disk.FStatAt(AT_FDCWD, Utf16ToUtf8(e.OldPath).c_str(), &st, 0) != 0) continue;
    record.folder_times.push_back(
        {i, FileTime{st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec)}});
  }
}

// Keeps what the scan saw of a row in the record when it serves: the same
// kind, and the tag bytes when the run writes the tag. Trims what the run
// does not need.
bool KeepScanned(UndoEntry& entry, bool is_file, bool writes_tag) {
  if (entry.is_file != is_file) return false;
  if (!writes_tag) {
    entry.block.clear();
    entry.had_tag = false;
  }
  entry.has_block = writes_tag && entry.has_block;
  return !writes_tag || entry.has_block;
}

bool Unhex(std::string_view text, std::string& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    auto r = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (r.ec != std::errc() || r.ptr != text.data() + i + 2) return false;
    out += static_cast<char>(value);
  }
  return true;
}

template <typename T>
bool Number(std::string_view text, T& value, int base = 10) {
  if (text.empty()) return false;
  auto r = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i <= line.size()) {
    size_t space = line.find(' ', i);
    if (space == std::string_view::npos) space = line.size();
    words.push_back(line.substr(i, space - i));
    i = space + 1;
  }
  return words;
}

}  // namespace

std::filesystem::path UndoRecordPath(const std::filesystem::path& list_path) {
  std::filesystem::path p = list_path;
  p += ".undo";
  return p;
}

uint64_t ListBytesHash(std::string_view bytes, uint64_t hash) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

UndoRecord CaptureUndoRecord(RunState& run, DiskOps& disk) {
  UndoRecord record;
  // What the scan saw is taken over in place: the entries of the rows the
  // run changes move down over those it leaves alone, so that the record
  // never holds a second copy of them. Rows the scan did not keep are looked
  // at on disk now and merged in at the end.
  DiskEntryRows& rows = record.rows;
  rows = std::move(run.FoundOnDisk);
  run.FoundOnDisk.clear();
  DiskEntryRows looked_up;
  size_t next = 0, kept = 0;
  const size_t last = LastIndex(run);
  for (size_t i = 1; i <= last; ++i) {
    const FileEntry& e = run.EntryTable[i];
    if (e.RenameFlag != 1 && e.TagFlag != 1) continue;
    const bool writes_tag = e.IsFile == 1 && e.TagFlag == 1;
    while (next < rows.size() && rows.Slot(next).first < i) ++next;
    if (next < rows.size() && rows.Slot(next).first == i &&
        KeepScanned(rows.Slot(next++).second, e.IsFile == 1, writes_tag)) {
      if (kept != next - 1) rows.Slot(kept) = std::move(rows.Slot(next - 1));
      ++kept;
      continue;
    }
    UndoEntry entry;
    entry.is_file = e.IsFile == 1;
    if (LookAt(disk, Utf16ToUtf8(e.OldPath + e.OldName), writes_tag, entry)) {
      looked_up.append(i, std::move(entry));
    }
  }
  rows.truncate(kept);
  rows.merge(std::move(looked_up));
  CompleteRecord(run, record, disk);
  return record;
}

std::string FormatUndoRecord(const UndoRecord& record) {
  return FormatUndoRecord(record, record.list_size, record.list_hash);
}

std::string FormatUndoRecord(const UndoRecord& record, uint64_t list_size, uint64_t list_hash) {
  // Sized once, so that growing it never holds two copies.
  constexpr size_t kRowFixed = 5 * 21 + 3 * 17 + 32;  // numbers, time, hashes, blanks
  constexpr size_t kTimeLine = 2 * 21 + 12;
  size_t size = kMagic.size() + 80 + record.folder_times.size() * kTimeLine;
  for (const auto& [row, e] : record.rows) {
    size += kRowFixed + (e.had_tag ? 2 * kBlockSize : 5);
  }
  std::string out;
  out.reserve(size);
  WriteUndoRecord(record, list_size, list_hash, [&](std::string_view piece) { out += piece; });
  return out;
}

namespace {

// Appends `value` in `base` to `out`.
void AppendNumber(std::string& out, uint64_t value, int base = 10) {
  char buffer[24];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value, base);
  out.append(buffer, r.ptr);
}

// Appends `value` as 16 lower-case hex digits.
void AppendHash(std::string& out, uint64_t value) {
  const size_t at = out.size();
  AppendNumber(out, value, 16);
  out.insert(at, 16 - (out.size() - at), '0');
}

// Appends a time as seconds (signed), a dot and nine digits of nanoseconds.
void AppendTime(std::string& out, const FileTime& time) {
  char buffer[24];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, time.sec);
  out.append(buffer, r.ptr);
  out += '.';
  const size_t at = out.size();
  AppendNumber(out, time.nsec % 1000000000u);
  out.insert(at, 9 - (out.size() - at), '0');
}

// Appends the block's bytes as hex. A digit at a time through append would
// check the capacity 256 times a row: the digits go through a buffer of one
// block.
void AppendHex(std::string& out, const TagBytes& block) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char hex[2 * kBlockSize];
  const size_t n = block.size();
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(block.data()[i]);
    hex[2 * i] = kDigits[c >> 4];
    hex[2 * i + 1] = kDigits[c & 0xF];
  }
  out.append(hex, 2 * n);
}

// Appends the line of one row.
void AppendRow(std::string& out, size_t row, const UndoEntry& e) {
  AppendNumber(out, row);
  out += e.is_file ? " f " : " d ";
  AppendNumber(out, e.dev);
  out += ' ';
  AppendNumber(out, e.ino);
  out += e.inode_kept ? " k " : " v ";
  AppendNumber(out, e.mode, 8);
  out += ' ';
  AppendNumber(out, e.size);
  out += ' ';
  if (e.has_mtime) {
    AppendTime(out, e.mtime);
  } else {
    out += '-';
  }
  out += ' ';
  if (e.has_last) {
    AppendHash(out, e.last_hash);
  } else {
    out += '-';
  }
  out += ' ';
  if (!e.has_block) {
    out += '-';
  } else if (!e.had_tag) {
    out += "notag";
  } else {
    AppendHex(out, e.block);
  }
  out += ' ';
  if (e.has_after) {
    AppendHash(out, e.after_hash);
  } else {
    out += '-';
  }
  out += '\n';
}

}  // namespace

void WriteUndoRecord(const UndoRecord& record, uint64_t list_size, uint64_t list_hash,
                     const std::function<void(std::string_view)>& sink) {
  // Lines gather in a buffer of a few kilobytes that goes to `sink` whenever
  // it is nearly full; a line is at most about 400 bytes.
  constexpr size_t kPiece = size_t{16} * 1024;
  std::string out;
  out.reserve(kPiece + 1024);
  out += kMagic;
  out += "\nlist ";
  AppendNumber(out, list_size);
  out += ' ';
  AppendHash(out, list_hash);
  out += "\nrows ";
  AppendNumber(out, record.rows.size());
  out += '\n';
  auto flush = [&] {
    if (out.size() < kPiece) return;
    sink(out);
    out.clear();
  };
  for (const auto& [row, e] : record.rows) {
    AppendRow(out, row, e);
    flush();
  }
  out += "folders ";
  AppendNumber(out, record.folder_times.size());
  out += '\n';
  for (const FolderTime& folder : record.folder_times) {
    AppendNumber(out, folder.row);
    out += ' ';
    AppendTime(out, folder.mtime);
    out += '\n';
    flush();
  }
  out += "end\n";
  sink(out);
}

namespace {

// Reads a time written by AppendTime.
bool ParseTime(std::string_view text, FileTime& time) {
  const size_t dot = text.find('.');
  if (dot == std::string_view::npos || text.size() - dot - 1 != 9) return false;
  return Number(text.substr(0, dot), time.sec) && Number(text.substr(dot + 1), time.nsec) &&
         time.nsec < 1000000000u;
}

// Reads a 16-digit hash, or "-" for none.
bool ParseHash(std::string_view text, bool& has, uint64_t& value) {
  has = text != "-";
  return !has || (text.size() == 16 && Number(text, value, 16));
}

// Reads the tag field: "-", "notag" or the 256 hex digits of a tag block.
bool ParseTagField(std::string_view text, UndoEntry& e) {
  if (text == "-") return true;
  e.has_block = true;
  if (text == "notag") return true;
  std::string block;
  if (!Unhex(text, block) || block.size() != kBlockSize || block.compare(0, 3, "TAG") != 0 ||
      e.size < kBlockSize) {
    return false;
  }
  e.block.assign(block.data(), block.size());
  e.had_tag = true;
  return true;
}

// Reads one row line of a record of `version` 1 or 2.
bool ParseRow(std::string_view line, int version, size_t& row, UndoEntry& e) {
  auto w = Words(line);
  // Version 2 adds, after the inode, whether the file system keeps inode
  // numbers, and after the size, the time and the hash of the last bytes,
  // and after the tag, the hash of the block the run writes.
  const size_t fields = version == 1 ? 7 : 11;
  if (w.size() != fields || !Number(w[0], row) || (w[1] != "f" && w[1] != "d") ||
      !Number(w[2], e.dev) || !Number(w[3], e.ino)) {
    return false;
  }
  e.is_file = w[1] == "f";
  size_t next = 4;
  if (version == 2) {
    if (w[4] != "k" && w[4] != "v") return false;
    e.inode_kept = w[4] == "k";
    next = 5;
  }
  if (!Number(w[next], e.mode, 8) || e.mode > 07777 || !Number(w[next + 1], e.size)) return false;
  if (version == 1) return ParseTagField(w[6], e);
  e.has_mtime = w[7] != "-";
  if (e.has_mtime && !ParseTime(w[7], e.mtime)) return false;
  return ParseHash(w[8], e.has_last, e.last_hash) && ParseTagField(w[9], e) &&
         ParseHash(w[10], e.has_after, e.after_hash);
}

// Reads a record a line at a time, as its file is read a piece at a time:
// the header, `rows` rows, then (version 2) the folders' times, then "end"
// and nothing after it. Anything out of place breaks the record.
class RecordParser {
 public:
  // Takes the bytes of the record from where the last piece ended.
  void Take(std::string_view bytes) {
    while (!bytes.empty() && !broken_) {
      const size_t nl = bytes.find('\n');
      if (nl == std::string_view::npos) {
        partial_.append(bytes);
        return;
      }
      if (partial_.empty()) {
        Line(bytes.substr(0, nl));
      } else {
        partial_.append(bytes.substr(0, nl));
        Line(partial_);
        partial_.clear();
      }
      bytes.remove_prefix(nl + 1);
    }
  }

  // The record, when the bytes taken make a whole one (a last line without
  // its line feed is a record cut short).
  std::optional<UndoRecord> Finish() {
    if (broken_ || !partial_.empty() || next_ != Next::kNothing) return std::nullopt;
    return std::move(record_);
  }

 private:
  enum class Next { kMagic, kList, kRows, kRow, kFolders, kFolder, kEnd, kNothing };

  void Line(std::string_view line) {
    switch (next_) {
      case Next::kMagic:
        version_ = line == kMagic ? 2 : line == kMagicV1 ? 1 : 0;
        Expect(version_ != 0, Next::kList);
        return;
      case Next::kList: {
        auto w = Words(line);
        Expect(w.size() == 3 && w[0] == "list" && Number(w[1], record_.list_size) &&
                   w[2].size() == 16 && Number(w[2], record_.list_hash, 16),
               Next::kRows);
        return;
      }
      case Next::kRows: {
        auto w = Words(line);
        const bool ok = w.size() == 2 && w[0] == "rows" && Number(w[1], left_);
        Expect(ok, left_ > 0 ? Next::kRow : AfterRows());
        return;
      }
      case Next::kRow: {
        UndoEntry e;
        size_t row = 0;
        // This program writes the rows in order, each once: a row twice or
        // out of order is a record changed by hand or broken.
        const bool ok =
            ParseRow(line, version_, row, e) &&
            (record_.rows.empty() || record_.rows.Slot(record_.rows.size() - 1).first < row);
        if (ok) record_.rows.append(row, std::move(e));
        Expect(ok, --left_ > 0 ? Next::kRow : AfterRows());
        return;
      }
      case Next::kFolders: {
        auto w = Words(line);
        const bool ok = w.size() == 2 && w[0] == "folders" && Number(w[1], left_);
        Expect(ok, left_ > 0 ? Next::kFolder : Next::kEnd);
        return;
      }
      case Next::kFolder: {
        auto w = Words(line);
        FolderTime folder;
        const bool ok =
            w.size() == 2 && Number(w[0], folder.row) && ParseTime(w[1], folder.mtime) &&
            (record_.folder_times.empty() || record_.folder_times.back().row < folder.row);
        if (ok) record_.folder_times.push_back(folder);
        Expect(ok, --left_ > 0 ? Next::kFolder : Next::kEnd);
        return;
      }
      case Next::kEnd:
        Expect(line == "end", Next::kNothing);
        return;
      case Next::kNothing:
        broken_ = true;
        return;
    }
  }

  // Version 1 has no folders' times.
  Next AfterRows() const { return version_ == 1 ? Next::kEnd : Next::kFolders; }

  void Expect(bool ok, Next next) {
    if (ok) {
      next_ = next;
    } else {
      broken_ = true;
    }
  }

  Next next_ = Next::kMagic;
  int version_ = 0;
  size_t left_ = 0;
  bool broken_ = false;
  std::string partial_;
  UndoRecord record_;
};

}  // namespace

ListBytesKey KeyOfListBytes(std::string_view bytes) { return {bytes.size(), ListBytesHash(bytes)}; }

std::optional<UndoRecord> ParseUndoRecord(std::string_view bytes) {
  RecordParser parser;
  parser.Take(bytes);
  return parser.Finish();
}

std::optional<UndoRecord> ReadUndoRecordFor(const std::filesystem::path& list_path,
                                            const ListBytesKey& list, std::string* notice) {
  const std::filesystem::path path = UndoRecordPath(list_path);
  // Read a piece at a time: a record of a million rows is some 350 MB.
  RecordParser parser;
  TextReadResult read = ReadFileInPieces(path, [&parser](std::string_view piece) {
    parser.Take(piece);
    return true;
  });
  if (!read.ok()) {
    if (read.code != TextReadResult::Code::kNotFound && notice != nullptr) *notice = read.message;
    return std::nullopt;
  }
  std::optional<UndoRecord> record = parser.Finish();
  if (!record) {
    if (notice != nullptr) *notice = EscapeBytes(path.native()) + ": not a whole undo record";
    return std::nullopt;
  }
  if (record->list_size != list.size || record->list_hash != list.hash) {
    if (notice != nullptr) *notice = EscapeBytes(path.native()) + ": belongs to another list";
    return std::nullopt;
  }
  return record;
}

std::optional<UndoRecord> ReadUndoRecordFor(const std::filesystem::path& list_path,
                                            std::string_view list_bytes, std::string* notice) {
  return ReadUndoRecordFor(list_path, KeyOfListBytes(list_bytes), notice);
}

}  // namespace tarvel
