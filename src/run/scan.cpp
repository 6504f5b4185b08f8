#include "run/scan.h"

#include <cerrno>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "app/report.h"
#include "files/id3_tag.h"
#include "platform/directory.h"
#include "platform/library_folders.h"
#include "platform/text.h"
#include "platform/two_threads.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kProgressMark = u"。";

// Reads the tags of the file rows `rows[from..to)` into their rows and, with
// `found`, keeps what the undo record needs of each file.
// The folders are opened from the data folder down, never through a link
// (one that replaced a folder since the listing included), so that a tag is
// only ever read from inside the library.
void ReadTagPart(RunState& run, DiskOps& disk, const std::string& root_bytes,
                 const std::vector<int32_t>& rows, size_t from, size_t to, DiskEntryRows* found) {
  LibraryFolders folders(disk, root_bytes);
  ID3TagData tag;
  const SharedText* folder = nullptr;
  std::string folder_bytes, name;
  int dir_fd = -1;
  for (size_t k = from; k < to; ++k) {
    FileEntry& row = run.EntryTable[static_cast<size_t>(rows[k])];
    if (folder == nullptr || !row.OldPath.SharesWith(*folder)) {
      folder = &row.OldPath;
      folder_bytes = Utf16ToUtf8(row.OldPath);
      dir_fd = folders.Open(folder_bytes);
    }
    if (dir_fd < 0) continue;  // a folder gone or replaced since its listing: no tags
    name = Utf16ToUtf8(row.OldName);
    // A fresh entry per file: one moved into the record must not stand for
    // the next file when that one cannot be read.
    DiskEntry seen;
    const int32_t read = ReadID3TagAt(dir_fd, name, tag, nullptr, found ? &seen : nullptr, disk);
    if (found != nullptr && seen.has_block) {
      found->append(static_cast<size_t>(rows[k]), std::move(seen));
    }
    if (read == 1) {
      row.OldTitle = tag.Title;
      row.NewTitle = tag.Title;
      row.OldArtist = tag.Artist;
      row.NewArtist = tag.Artist;
      row.OldAlbum = tag.Album;
      row.NewAlbum = tag.Album;
    }
  }
}

class Scanner {
 public:
  Scanner(AppState& app, RunState& run, DiskOps& disk) : app_(app), run_(run), disk_(disk) {}

  bool Scan(const SharedText& folder, const std::string& folder_bytes, size_t depth);
  // Reads the tags of the files the scan found (after Scan).
  void ReadTags(const std::string& root_bytes);
  const ScanError& error() const { return error_; }

 private:
  void LogSkippedName(const std::u16string& folder, std::string_view name_bytes);
  // The UTF-16 form of an entry's name; nothing (with a line in the log
  // when it would have been taken) when it is not UTF-8.
  std::optional<std::u16string> TakenName(EntryKind kind, const std::u16string& folder,
                                          std::string_view name_bytes);
  // Tells the front end that the folder is being entered.
  void ShowFolder();
  // Adds the rows of the entries of `listing`, the folder `folder`, and
  // scans its subfolders when asked. False when one cannot be listed.
  bool AddEntries(const DirectoryListing& listing, const SharedText& folder,
                  const std::string& folder_bytes, size_t depth);

  AppState& app_;
  RunState& run_;
  DiskOps& disk_;
  ScanError error_;
  // One listing per depth, reused for every folder at that depth; a
  // unique_ptr keeps each in place while deeper levels are added.
  std::vector<std::unique_ptr<DirectoryListing>> listings_;
  std::vector<int32_t> tag_rows_;  // the file rows whose tags are to be read
  bool mid_line_ = false;          // the log's last line has no line end yet
  int64_t folders_listed_ = 0;
};

void Scanner::LogSkippedName(const std::u16string& folder, std::string_view name_bytes) {
  std::u16string line;
  if (mid_line_) line += kCrLf;
  line += u"名前がUTF-8でないため対象外にしました：";
  line += folder;
  line += Utf8ToUtf16Lossy(EscapeBytes(name_bytes));
  line += kCrLf;
  app_.ui->AppendLog(line);
  ++run_.SkippedNameCount;
  mid_line_ = false;
}

void Scanner::ShowFolder() {
  if (app_.settings.FlagDisplayLog == 1) {
    app_.ui->AppendLog(kProgressMark);
    mid_line_ = true;
  }
  app_.ui->PumpEvents();
  app_.ui->ReportProgress(ProgressStage::kScan, ++folders_listed_, 0);
}

bool Scanner::Scan(const SharedText& folder, const std::string& folder_bytes, size_t depth) {
  ShowFolder();
  if (listings_.size() <= depth) listings_.push_back(std::make_unique<DirectoryListing>());
  DirectoryListing& listing = *listings_[depth];
  // The data folder may itself be reached through a link; below it links are
  // never followed. The tags are read once the whole tree is listed.
  int open_error = listing.Read(folder_bytes, /*follow_link=*/depth == 0);
  if (open_error != 0) {
    error_.folder = folder;
    error_.sys_errno = open_error;
    return false;
  }
  return AddEntries(listing, folder, folder_bytes, depth);
}

std::optional<std::u16string> Scanner::TakenName(EntryKind kind, const std::u16string& folder,
                                                 std::string_view name_bytes) {
  std::optional<std::u16string> name = Utf8ToUtf16(name_bytes);
  if (name) return name;
  // Only a name that would have been taken is worth a line.
  if (kind == EntryKind::kFolder || EndsInMp3(Utf8ToUtf16Lossy(name_bytes))) {
    LogSkippedName(folder, name_bytes);
  }
  return std::nullopt;
}

bool Scanner::AddEntries(const DirectoryListing& listing, const SharedText& folder,
                         const std::string& folder_bytes, size_t depth) {
  const Settings& settings = app_.settings;
  const bool read_tags = settings.FlagConvertID3Tag == 1;
  const bool folder_rows = settings.FlagRenameFolderName == 1;
  const bool recurse = settings.FlagRenameSubfolders == 1;
  for (size_t i = 0; i < listing.size(); ++i) {
    std::string_view name_bytes = listing.name(i);
    // Hidden entries (the Trash, caches, a player's own files, a killed
    // run's temporary names) are passed over, as file managers pass them.
    if (name_bytes.starts_with('.')) continue;
    const EntryKind kind = listing.kind(i);
    // Links, devices, pipes and sockets are no MP3 files.
    if (kind == EntryKind::kSymlink || kind == EntryKind::kOther) continue;
    if (kind == EntryKind::kFolder && !folder_rows && !recurse) continue;
    std::optional<std::u16string> name = TakenName(kind, folder, name_bytes);
    if (!name) continue;
    if (kind == EntryKind::kFile) {
      if (!EndsInMp3(*name)) continue;
      AddEntry(run_, folder, *name, 1);
      if (read_tags) tag_rows_.push_back(run_.EntryCount);
      continue;
    }
    if (folder_rows) AddEntry(run_, folder, *name, 0);
    if (!recurse) continue;
    SharedText sub(folder + *name + u"/");  // shared by the rows of its items
    std::string sub_bytes = folder_bytes;
    sub_bytes.append(name_bytes).push_back('/');
    if (!Scan(sub, sub_bytes, depth + 1)) return false;
  }
  return true;
}

void Scanner::ReadTags(const std::string& root_bytes) {
  const Settings& settings = app_.settings;
  // What the undo record needs of each file is kept only for a run that
  // writes the record and may change something.
  const bool keep_found = settings.FlagCreateCSVFile == 1 && (settings.FlagCheckOnlyFilename != 1 ||
                                                              settings.FlagCheckOnlyID3Tag != 1);
  DiskEntryRows* found = keep_found ? &run_.FoundOnDisk : nullptr;
  const size_t n = tag_rows_.size();
  if (!SecondThreadPays(n)) {
    ReadTagPart(run_, disk_, root_bytes, tag_rows_, 0, n, found);
    return;
  }
  // The second half of the files on a second thread, each half into rows of
  // its own; the rows stay in place, since the table no longer grows.
  DiskEntryRows second_found;
  RunInTwoParts([&] { ReadTagPart(run_, disk_, root_bytes, tag_rows_, 0, n / 2, found); },
                [&] {
                  ReadTagPart(run_, disk_, root_bytes, tag_rows_, n / 2, n,
                              found ? &second_found : nullptr);
                },
                nullptr);
  if (found != nullptr) found->append(std::move(second_found));
}

}  // namespace

bool EndsInMp3(std::u16string_view name) {
  std::u16string_view tail = name.size() > 3 ? name.substr(name.size() - 3) : name;
  if (IsAscii(tail)) {
    return tail.size() == 3 && (tail[0] | 0x20) == u'm' && (tail[1] | 0x20) == u'p' &&
           tail[2] == u'3';
  }
  return TextEquals(tail, u"mp3");
}

int32_t ScanFolder(AppState& app, RunState& run, std::u16string_view path, ScanError* error,
                   DiskOps& disk) {
  std::u16string folder(path);
  if (folder.empty() || folder.find(u'\0') != std::u16string::npos) {
    // An empty path would otherwise become "/" and scan the whole system.
    if (error != nullptr) *error = ScanError{folder, folder.empty() ? ENOENT : EINVAL};
    return 0;
  }
  if (folder.back() != u'/') folder += u'/';
  try {
    Scanner scanner(app, run, disk);
    const std::string folder_bytes = Utf16ToUtf8(folder);
    bool ok = scanner.Scan(SharedText(folder), folder_bytes, 0);
    if (ok) scanner.ReadTags(folder_bytes);
    if (!ok && error != nullptr) *error = scanner.error();
    return ok ? 1 : 0;
  } catch (const std::exception&) {
    if (error != nullptr) *error = ScanError{folder, 0};
    return 0;
  }
}

}  // namespace tarvel
