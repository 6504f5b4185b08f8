#include "run/scan.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "files/id3_tag.h"
#include "platform/directory.h"
#include "platform/text.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kProgressMark = u"。";
constexpr std::u16string_view kCrLf = u"\r\n";
// A scan with this many files or more reads their tags on two threads: the
// opens and reads of the tags are most of a scan's time.
constexpr size_t kFilesForASecondThread = 2048;

// The folders below the data folder, opened by their paths relative to it
// and never through a link (one that replaced a folder since the listing
// included), so that a tag is only ever read from inside the library.
class LibraryFolders {
 public:
  explicit LibraryFolders(const std::string& root_bytes) : root_bytes_(root_bytes) {
    // The data folder itself may be reached through a link.
    root_ = ::open(root_bytes.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  ~LibraryFolders() {
    Close();
    if (root_ >= 0) ::close(root_);
  }
  LibraryFolders(const LibraryFolders&) = delete;
  LibraryFolders& operator=(const LibraryFolders&) = delete;

  // The open folder at `folder_bytes` (a path below the data folder, ending
  // in "/"), kept until another is asked for; -1 when it cannot be opened.
  int Open(const std::string& folder_bytes) {
    if (fd_ >= 0 && folder_bytes == path_) return fd_;
    Close();
    if (root_ < 0 || folder_bytes.compare(0, root_bytes_.size(), root_bytes_) != 0) return -1;
    std::string relative = folder_bytes.substr(root_bytes_.size());
    if (relative.empty()) relative = ".";
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    fd_ = static_cast<int>(::syscall(SYS_openat2, root_, relative.c_str(), &how, sizeof how));
    if (fd_ < 0 && errno == ENOSYS) {
      // An older kernel: at least the folder itself is no link.
      fd_ = ::openat(root_, relative.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd_ >= 0) path_ = folder_bytes;
    return fd_;
  }

 private:
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  std::string root_bytes_;
  std::string path_;
  int root_ = -1;
  int fd_ = -1;
};

// Reads the tags of the file rows `rows[from..to)` into their rows and, with
// `found`, keeps what the undo record needs of each file.
void ReadTagPart(RunState& run, const std::string& root_bytes, const std::vector<int32_t>& rows,
                 size_t from, size_t to, DiskEntryRows* found) {
  LibraryFolders folders(root_bytes);
  ID3TagData tag;
  DiskEntry seen;
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
    const int32_t read = ReadID3TagAt(dir_fd, name, tag, nullptr, found ? &seen : nullptr);
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
  Scanner(AppState& app, RunState& run) : app_(app), run_(run) {}

  bool Scan(const SharedText& folder, const std::string& folder_bytes, size_t depth);
  // Reads the tags of the files the scan found (after Scan).
  void ReadTags(const std::string& root_bytes);
  const ScanError& error() const { return error_; }

 private:
  void LogSkippedName(const std::u16string& folder, std::string_view name_bytes);

  AppState& app_;
  RunState& run_;
  ScanError error_;
  // One listing per depth, reused for every folder at that depth; a
  // unique_ptr keeps each in place while deeper levels are added.
  std::vector<std::unique_ptr<DirectoryListing>> listings_;
  std::vector<int32_t> tag_rows_;  // the file rows whose tags are to be read
  bool mid_line_ = false;  // the log's last line has no line end yet
  int64_t folders_listed_ = 0;
};

void Scanner::LogSkippedName(const std::u16string& folder, std::string_view name_bytes) {
  std::u16string line;
  if (mid_line_) line += kCrLf;
  line += u"名前がUTF-8でないため対象外にしました：";
  line += folder;
  line += Utf8ToUtf16Lossy(EscapeBytes(name_bytes));
  line += kCrLf;
  if (app_.ui != nullptr) app_.ui->AppendLog(line);
  mid_line_ = false;
}

bool Scanner::Scan(const SharedText& folder, const std::string& folder_bytes, size_t depth) {
  const Settings& settings = app_.settings;
  if (app_.ui != nullptr) {
    if (settings.FlagDisplayLog == 1) {
      app_.ui->AppendLog(kProgressMark);
      mid_line_ = true;
    }
    app_.ui->PumpEvents();
    app_.ui->ReportProgress(ProgressStage::kScan, ++folders_listed_, 0);
  }

  if (listings_.size() <= depth) listings_.push_back(std::make_unique<DirectoryListing>());
  DirectoryListing& listing = *listings_[depth];
  // The data folder may itself be reached through a link; below it links are
  // never followed. The tags are read once the whole tree is listed.
  const bool read_tags = settings.FlagConvertID3Tag == 1;
  int open_error = listing.Read(folder_bytes, /*follow_link=*/depth == 0);
  if (open_error != 0) {
    error_.folder = folder;
    error_.sys_errno = open_error;
    return false;
  }

  const bool folder_rows = settings.FlagRenameFolderName == 1;
  const bool recurse = settings.FlagRenameSubfolders == 1;
  for (size_t i = 0; i < listing.size(); ++i) {
    std::string_view name_bytes = listing.name(i);
    switch (listing.kind(i)) {
      case EntryKind::kFolder: {
        if (!folder_rows && !recurse) break;
        std::optional<std::u16string> name = Utf8ToUtf16(name_bytes);
        if (!name) {
          LogSkippedName(folder, name_bytes);
          break;
        }
        if (folder_rows) AddEntry(run_, folder, *name, 0);
        if (recurse) {
          SharedText sub(folder + *name + u"/");  // shared by the rows of its items
          std::string sub_bytes = folder_bytes;
          sub_bytes.append(name_bytes).push_back('/');
          if (!Scan(sub, sub_bytes, depth + 1)) return false;
        }
        break;
      }
      case EntryKind::kFile: {
        std::optional<std::u16string> name = Utf8ToUtf16(name_bytes);
        if (!name) {
          // Only a name that would have been taken is worth a line.
          if (EndsInMp3(Utf8ToUtf16Lossy(name_bytes))) LogSkippedName(folder, name_bytes);
          break;
        }
        if (!EndsInMp3(*name)) break;
        AddEntry(run_, folder, *name, 1);
        if (read_tags) tag_rows_.push_back(run_.EntryCount);
        break;
      }
      case EntryKind::kSymlink:
      case EntryKind::kOther:
        break;  // links, devices, pipes and sockets are no MP3 files
    }
  }
  return true;
}

void Scanner::ReadTags(const std::string& root_bytes) {
  const Settings& settings = app_.settings;
  // What the undo record needs of each file is kept only for a run that
  // writes the record and may change something.
  const bool keep_found = settings.FlagCreateCSVFile == 1 &&
                          (settings.FlagCheckOnlyFilename != 1 || settings.FlagCheckOnlyID3Tag != 1);
  DiskEntryRows* found = keep_found ? &run_.FoundOnDisk : nullptr;
  const size_t n = tag_rows_.size();
  if (n < kFilesForASecondThread || std::thread::hardware_concurrency() < 2) {
    ReadTagPart(run_, root_bytes, tag_rows_, 0, n, found);
    return;
  }
  // The second half of the files on a second thread, each half into rows of
  // its own; the rows stay in place, since the table no longer grows.
  DiskEntryRows second_found;
  std::exception_ptr second_error;
  std::thread worker([&] {
    try {
      ReadTagPart(run_, root_bytes, tag_rows_, n / 2, n, found ? &second_found : nullptr);
    } catch (...) {
      second_error = std::current_exception();
    }
  });
  try {
    ReadTagPart(run_, root_bytes, tag_rows_, 0, n / 2, found);
  } catch (...) {
    worker.join();
    throw;
  }
  worker.join();
  if (second_error) std::rethrow_exception(second_error);
  if (found != nullptr) found->append(std::move(second_found));
}

}  // namespace

bool EndsInMp3(std::u16string_view name) {
  std::u16string_view tail = name.size() > 3 ? name.substr(name.size() - 3) : name;
  bool ascii = true;
  for (char16_t c : tail) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    return tail.size() == 3 && (tail[0] | 0x20) == u'm' && (tail[1] | 0x20) == u'p' &&
           tail[2] == u'3';
  }
  return TextEquals(tail, u"mp3");
}

int32_t ScanFolder(AppState& app, RunState& run, std::u16string_view path, ScanError* error) {
  std::u16string folder(path);
  if (folder.empty() || folder.find(u'\0') != std::u16string::npos) {
    // An empty path would otherwise become "/" and scan the whole system.
    if (error != nullptr) *error = ScanError{folder, folder.empty() ? ENOENT : EINVAL};
    return 0;
  }
  if (folder.back() != u'/') folder += u'/';
  try {
    Scanner scanner(app, run);
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
