#include "run/scan.h"

#include <fcntl.h>

#include <cerrno>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "files/id3_tag.h"
#include "platform/directory.h"
#include "platform/text.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kProgressMark = u"。";
constexpr std::u16string_view kCrLf = u"\r\n";
constexpr size_t kMaxOpenDepth = 64;

class Scanner {
 public:
  Scanner(AppState& app, RunState& run) : app_(app), run_(run) {}

  bool Scan(const SharedText& folder, const std::string& folder_bytes, size_t depth);
  const ScanError& error() const { return error_; }

 private:
  void LogSkippedName(const std::u16string& folder, std::string_view name_bytes);

  AppState& app_;
  RunState& run_;
  ScanError error_;
  // One listing per depth, reused for every folder at that depth; a
  // unique_ptr keeps each in place while deeper levels are added.
  std::vector<std::unique_ptr<DirectoryListing>> listings_;
  ID3TagData tag_;
  DiskEntry seen_;
  std::string file_path_;
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
  // never followed, even one that replaced a folder since it was listed.
  // The folder stays open while its files' tags are read, so each file is
  // opened by its name alone; past a depth no real library reaches, full
  // paths keep the number of open folders bounded.
  const bool read_tags = settings.FlagConvertID3Tag == 1;
  // What the undo record needs of each file is kept only for a run that
  // writes the record and may change something.
  const bool keep_found = settings.FlagCreateCSVFile == 1 &&
                          (settings.FlagCheckOnlyFilename != 1 || settings.FlagCheckOnlyID3Tag != 1);
  int open_error = listing.Read(folder_bytes, /*follow_link=*/depth == 0,
                                /*keep_open=*/read_tags && depth < kMaxOpenDepth);
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
        FileEntry& row = AddEntry(run_, folder, *name, 1);
        if (read_tags) {
          int32_t found;
          if (listing.fd() >= 0) {
            file_path_.assign(name_bytes);
            found = ReadID3TagAt(listing.fd(), file_path_, tag_, nullptr,
                                 keep_found ? &seen_ : nullptr);
          } else {
            file_path_.assign(folder_bytes).append(name_bytes);
            found = ReadID3TagAt(AT_FDCWD, file_path_, tag_, nullptr,
                                 keep_found ? &seen_ : nullptr);
          }
          if (keep_found && seen_.has_block) {
            run_.FoundOnDisk.emplace_hint(run_.FoundOnDisk.end(),
                                          static_cast<size_t>(run_.EntryCount), seen_);
          }
          if (found == 1) {
            row.OldTitle = tag_.Title;
            row.NewTitle = tag_.Title;
            row.OldArtist = tag_.Artist;
            row.NewArtist = tag_.Artist;
            row.OldAlbum = tag_.Album;
            row.NewAlbum = tag_.Album;
          }
        }
        break;
      }
      case EntryKind::kSymlink:
      case EntryKind::kOther:
        break;  // links, devices, pipes and sockets are no MP3 files
    }
  }
  listing.Close();
  return true;
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
    bool ok = scanner.Scan(SharedText(folder), Utf16ToUtf8(folder), 0);
    if (!ok && error != nullptr) *error = scanner.error();
    return ok ? 1 : 0;
  } catch (const std::exception&) {
    if (error != nullptr) *error = ScanError{folder, 0};
    return 0;
  }
}

}  // namespace tarvel
