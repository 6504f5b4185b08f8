#include "run/scan.h"

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
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

// The file rows whose tags are to be read, as the listing found them: each
// with its address, which stays valid as the table grows. The readers never
// look up the table, which the listing adds to while they read, and the
// listing never changes a row it has handed on.
struct TagRow {
  FileEntry* entry;
  int32_t row;
};
using TagBatch = std::vector<TagRow>;

// The artist and album texts of the last file read, which the next files,
// mostly of the same album, share.
struct LastTexts {
  SharedText artist;
  SharedText album;
};

// `last` once it holds `text`.
const SharedText& Reuse(SharedText& last, const std::u16string& text) {
  if (last != text) last = SharedText(std::u16string_view(text));
  return last;
}

// Puts a file's tag texts into its row. They are copied, not moved: a
// copy takes only the room its text needs, and `tag` keeps its buffers for
// the next file.
void PutTexts(FileEntry& row, const ID3TagData& tag, LastTexts& last) {
  row.OldTitle = tag.Title;
  row.NewTitle = row.OldTitle;
  row.OldArtist = Reuse(last.artist, tag.Artist);
  row.NewArtist = row.OldArtist;
  row.OldAlbum = Reuse(last.album, tag.Album);
  row.NewAlbum = row.OldAlbum;
}

// Reads the tags of the files of `batch` into their rows and, with `found`,
// keeps what the undo record needs of each file. The folders are opened from
// the data folder down, never through a link (one that replaced a folder
// since the listing included), so that a tag is read only inside the library.
void ReadBatch(LibraryFolders& folders, DiskOps& disk, const TagBatch& batch,
               DiskEntryRows* found) {
  ID3TagData tag;
  LastTexts last;
  const SharedText* folder = nullptr;
  std::string folder_bytes, name;
  int dir_fd = -1;
  for (const TagRow& file : batch) {
    FileEntry& row = *file.entry;
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
      found->append(static_cast<size_t>(file.row), std::move(seen));
    }
    if (read == 1) PutTexts(row, tag, last);
  }
}

// Reads the tags of the files the listing hands on: from a large library on,
// a second thread starts reading while the listing goes on, and this thread
// joins it once the listing has ended.
class TagReaders {
 public:
  // Files handed on at once: enough that the hand-over costs little.
  static constexpr size_t kBatchFiles = 512;

  TagReaders(DiskOps& disk, std::string root_bytes, bool keep_found)
      : disk_(disk), root_bytes_(std::move(root_bytes)), keep_found_(keep_found) {}
  TagReaders(const TagReaders&) = delete;
  TagReaders& operator=(const TagReaders&) = delete;
  // A listing that failed or threw leaves the second thread to stop here.
  ~TagReaders() {
    Stop();
    if (second_.joinable()) second_.join();
  }

  // From the listing.
  void Add(TagBatch&& batch);
  // After the listing: reads what is left, waits for the second thread and,
  // when kept, adds what was seen of each file to `found`.
  void Finish(DiskEntryRows* found);

 private:
  // The next batch; false when there is none left.
  bool Take(TagBatch& batch);
  void ReadAll(DiskEntryRows& found);
  void Stop();

  DiskOps& disk_;
  const std::string root_bytes_;
  const bool keep_found_;
  std::mutex mutex_;
  std::condition_variable waiting_;
  std::deque<TagBatch> queue_;
  size_t handed_on_ = 0;  // files, for the decision on a second thread
  bool listed_ = false;   // no more batches come
  bool stopped_ = false;  // the rest is not wanted
  std::thread second_;
  DiskEntryRows second_found_;
  std::exception_ptr second_error_;
};

void TagReaders::Add(TagBatch&& batch) {
  const size_t files = batch.size();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(batch));
  }
  waiting_.notify_one();
  handed_on_ += files;
  if (!second_.joinable() && SecondThreadPays(handed_on_)) {
    second_ = std::thread([this] {
      try {
        ReadAll(second_found_);
      } catch (...) {
        second_error_ = std::current_exception();
        Stop();
      }
    });
  }
}

bool TagReaders::Take(TagBatch& batch) {
  std::unique_lock<std::mutex> lock(mutex_);
  waiting_.wait(lock, [&] { return stopped_ || listed_ || !queue_.empty(); });
  if (stopped_ || queue_.empty()) return false;
  batch = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

void TagReaders::ReadAll(DiskEntryRows& found) {
  LibraryFolders folders(disk_, root_bytes_);
  TagBatch batch;
  while (Take(batch)) ReadBatch(folders, disk_, batch, keep_found_ ? &found : nullptr);
}

void TagReaders::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  waiting_.notify_all();
}

void TagReaders::Finish(DiskEntryRows* found) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listed_ = true;
  }
  waiting_.notify_all();
  DiskEntryRows own;
  ReadAll(own);
  if (second_.joinable()) second_.join();
  if (second_error_) std::rethrow_exception(second_error_);
  if (found != nullptr) {
    found->merge(std::move(own));
    found->merge(std::move(second_found_));
  }
}

class Scanner {
 public:
  Scanner(AppState& app, RunState& run, DiskOps& disk, const std::string& root_bytes)
      : app_(app), run_(run), readers_(disk, root_bytes, KeepsFound(app.settings)) {}

  bool Scan(const SharedText& folder, const std::string& folder_bytes, size_t depth);
  // Puts the tags of the files the scan found into their rows (after Scan).
  void ReadTags();
  const ScanError& error() const { return error_; }

 private:
  void LogSkippedName(std::u16string_view folder, std::string_view name_bytes);
  // The UTF-16 form of an entry's name; nothing (with a line in the log
  // when it would have been taken) when it is not UTF-8.
  std::optional<std::u16string> TakenName(EntryKind kind, std::u16string_view folder,
                                          std::string_view name_bytes);
  // Tells the front end that the folder is being entered.
  void ShowFolder();
  // Adds the row of an MP3 file and, with `read_tag`, hands it on to the
  // tag readers.
  void AddFile(const SharedText& folder, const std::u16string& name, bool read_tag);
  // Adds the rows of the entries of `listing`, the folder `folder`, and
  // scans its subfolders when asked. False when one cannot be listed.
  bool AddEntries(const DirectoryListing& listing, const SharedText& folder,
                  const std::string& folder_bytes, size_t depth);

  // What the undo record needs of each file is kept only for a run that
  // writes the record and may change something.
  static bool KeepsFound(const Settings& s) {
    return s.FlagCreateCSVFile == 1 && (s.FlagCheckOnlyFilename != 1 || s.FlagCheckOnlyID3Tag != 1);
  }

  AppState& app_;
  RunState& run_;
  ScanError error_;
  // One listing per depth, reused for every folder at that depth; a
  // unique_ptr keeps each in place while deeper levels are added.
  std::vector<std::unique_ptr<DirectoryListing>> listings_;
  TagReaders readers_;
  TagBatch batch_;         // files not yet handed on to the readers
  bool mid_line_ = false;  // the log's last line has no line end yet
  int64_t folders_listed_ = 0;
};

void Scanner::LogSkippedName(std::u16string_view folder, std::string_view name_bytes) {
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

std::optional<std::u16string> Scanner::TakenName(EntryKind kind, std::u16string_view folder,
                                                 std::string_view name_bytes) {
  std::optional<std::u16string> name = Utf8ToUtf16(name_bytes);
  if (name) return name;
  // Only a name that would have been taken is worth a line.
  if (kind == EntryKind::kFolder || EndsInMp3(Utf8ToUtf16Lossy(name_bytes))) {
    LogSkippedName(folder, name_bytes);
  }
  return std::nullopt;
}

void Scanner::AddFile(const SharedText& folder, const std::u16string& name, bool read_tag) {
  FileEntry& row = AddEntry(run_, folder, name, 1);
  if (!read_tag) return;
  batch_.push_back({&row, run_.EntryCount});
  if (batch_.size() >= TagReaders::kBatchFiles) readers_.Add(std::exchange(batch_, {}));
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
      if (EndsInMp3(*name)) AddFile(folder, *name, read_tags);
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

void Scanner::ReadTags() {
  if (!batch_.empty()) readers_.Add(std::exchange(batch_, {}));
  readers_.Finish(KeepsFound(app_.settings) ? &run_.FoundOnDisk : nullptr);
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
    const std::string folder_bytes = Utf16ToUtf8(folder);
    Scanner scanner(app, run, disk, folder_bytes);
    bool ok = scanner.Scan(SharedText(folder), folder_bytes, 0);
    if (ok) scanner.ReadTags();
    if (!ok && error != nullptr) *error = scanner.error();
    return ok ? 1 : 0;
  } catch (const std::exception&) {
    if (error != nullptr) *error = ScanError{folder, 0};
    return 0;
  }
}

}  // namespace tarvel
