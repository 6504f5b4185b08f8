#include "files/restore.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string_view>

#include "app/report.h"
#include "files/apply_changes.h"
#include "files/id3_tag.h"
#include "files/rename_list.h"
#include "platform/text.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kCrLf = u"\r\n";
constexpr std::u16string_view kFoldersRestored = u"個のフォルダ名を復元しました。";
constexpr std::u16string_view kFilesRestored = u"個のファイル名を復元しました。";
constexpr std::u16string_view kTagsRestored = u"個のID3Tagを復元しました。";

// What a path names, without following a link at its end.
struct PathInfo {
  bool exists = false;
  int lookup_errno = 0;  // why the lookup failed, when it did
  struct stat st {};
  bool IsDirectory() const { return exists && S_ISDIR(st.st_mode); }
  bool IsPlainFile() const { return exists && S_ISREG(st.st_mode); }
  bool SameEntryAs(const PathInfo& other) const {
    return exists && other.exists && st.st_dev == other.st.st_dev && st.st_ino == other.st.st_ino;
  }
  // Nothing is there for certain (as opposed to a lookup that was refused).
  bool Absent() const { return !exists && (lookup_errno == ENOENT || lookup_errno == ENOTDIR); }
};

PathInfo LookUp(const std::u16string& path) {
  PathInfo info;
  const std::string bytes = Utf16ToUtf8(path);
  if (::lstat(bytes.c_str(), &info.st) == 0) {
    info.exists = true;
  } else {
    info.lookup_errno = errno;
  }
  return info;
}

}  // namespace

int32_t RestoreFolders(AppState& app, RunState& run, RestoreDetails& details) {
  try {
    int32_t count = 0;
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      ReportProgress(app, ProgressStage::kRestoreFolders, i, last);
      const FileEntry& e = run.EntryTable[i];
      if (e.RenameFlag != 1 || e.IsFile != 0) continue;
      // A run that stopped before renaming this folder left it under its old
      // name (so did an earlier restore): nothing to put back. The new name
      // then holds nothing, or something that is no folder (what refused the
      // rename). Two folders under both names are left to the rename, which
      // refuses to replace the old one.
      std::u16string new_full = e.NewPath + e.NewName;
      std::u16string old_full = e.OldPath + e.OldName;
      if (new_full != old_full && LookUp(old_full).IsDirectory()) {
        PathInfo now = LookUp(new_full);
        if (now.Absent() || (now.exists && !now.IsDirectory())) continue;
      }
      StageDetails stage;
      if (!RenameItem(e.NewPath, e.NewName, e.OldPath, e.OldName, &stage)) {
        details.error = stage.error;
        return 0;
      }
      ++count;
    }
    details.folders_restored = count;
    ReportCount(app, count, kFoldersRestored);
    return 1;
  } catch (const std::exception& ex) {
    details.error = std::string("unexpected error: ") + ex.what();
    return 0;
  }
}

int32_t RestoreFiles(AppState& app, RunState& run, RestoreDetails& details) {
  try {
    int32_t count = 0;
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      ReportProgress(app, ProgressStage::kRestoreFiles, i, last);
      const FileEntry& e = run.EntryTable[i];
      if (e.RenameFlag != 1 || e.IsFile != 1) continue;
      std::u16string new_full = e.NewPath + e.NewName;
      std::u16string old_full = e.OldPath + e.OldName;
      PathInfo now = LookUp(new_full);
      if (!now.IsPlainFile()) {
        Report(app,
               u"見つからないファイルがあります。\r\n　ファイル名　：　" + new_full +
                   std::u16string(kCrLf),
               u"見つからないファイルがあります。\r\n　ファイル名　：　" + new_full);
        details.missing.push_back(Utf16ToUtf8(new_full));
        continue;
      }
      // Something else under the old name is left alone. The old name finding
      // this very file (a case-only change on a case-insensitive file system,
      // or a list whose names are equal) is no conflict.
      PathInfo before = LookUp(old_full);
      if (before.exists && !before.SameEntryAs(now)) {
        std::u16string text = u"復元に失敗したファイルがあります。\r\n　現在のファイル名　：　" +
                              new_full + u"\r\n　　元のファイル名　：　" + old_full +
                              u"\r\n　手動で復元をお願いします。";
        // The log gets its own line end, so that the next report starts on
        // a line of its own.
        Report(app, text + std::u16string(kCrLf), text);
        details.conflicts.push_back(Utf16ToUtf8(new_full) + " -> " + Utf16ToUtf8(old_full));
        details.conflict_rows.push_back(i);
        continue;
      }
      StageDetails stage;
      if (!RenameItem(e.NewPath, e.NewName, e.OldPath, e.OldName, &stage)) {
        details.error = stage.error;
        return 0;
      }
      ++count;
    }
    details.files_restored = count;
    ReportCount(app, count, kFilesRestored);
    return 1;
  } catch (const std::exception& ex) {
    details.error = std::string("unexpected error: ") + ex.what();
    return 0;
  }
}

int32_t RestoreTags(AppState& app, RunState& run, RestoreDetails& details) {
  try {
    int32_t count = 0;
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      ReportProgress(app, ProgressStage::kRestoreTags, i, last);
      const FileEntry& e = run.EntryTable[i];
      if (e.TagFlag != 1 || e.IsFile != 1) continue;
      std::u16string path = e.OldPath + e.OldName;
      if (std::binary_search(details.conflict_rows.begin(), details.conflict_rows.end(), i)) {
        details.skipped.push_back(Utf16ToUtf8(path) +
                                  ": holds another file, the converted one was not restored");
        continue;
      }
      if (!IsSingleName(e.OldName) || !LookUp(path).IsPlainFile()) {
        details.skipped.push_back(Utf16ToUtf8(path) + ": no file under this name");
        continue;
      }
      TagIoStatus status;
      if (UpdateID3TagTexts(path, e.OldTitle, e.OldArtist, e.OldAlbum, /*make_writable=*/true,
                            &status) == 1) {
        ++count;
      } else {
        details.skipped.push_back(Utf16ToUtf8(path) + ": " + DescribeTagIoStatus(status));
      }
    }
    details.tags_restored = count;
    ReportCount(app, count, kTagsRestored);
    return 1;
  } catch (const std::exception& ex) {
    details.error = std::string("unexpected error: ") + ex.what();
    return 0;
  }
}

}  // namespace tarvel
