#include "files/apply_changes.h"

#include <exception>
#include <string_view>

#include "files/id3_tag.h"
#include "app/report.h"
#include "platform/rename.h"
#include "platform/text.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kTagsWritten = u"個のID3Tagを変更しました。";
constexpr std::u16string_view kFilesRenamed = u"個のファイル名を変更しました。";
constexpr std::u16string_view kFoldersRenamed = u"個のフォルダ名を変更しました。";

void SetError(StageDetails* details, std::string text) {
  if (details != nullptr) details->error = std::move(text);
}

// Renames one row's item; false (with the reason in `details`) on failure.
bool RenameEntry(const FileEntry& e, StageDetails* details) {
  return RenameItem(e.OldPath, e.OldName, e.NewPath, e.NewName, details);
}

}  // namespace

bool IsSingleName(std::u16string_view name) {
  constexpr std::u16string_view kForbidden(u"/\0", 2);
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(kForbidden) == std::u16string_view::npos;
}

bool RenameItem(std::u16string_view from_folder, std::u16string_view from_name,
                std::u16string_view to_folder, std::u16string_view to_name, StageDetails* details) {
  std::u16string from = std::u16string(from_folder) + std::u16string(from_name);
  std::u16string to = std::u16string(to_folder) + std::u16string(to_name);
  if (!IsSingleName(from_name) || !IsSingleName(to_name)) {
    SetError(details, "cannot rename " + Utf16ToUtf8(from) + " to " + Utf16ToUtf8(to) +
                          ": not a usable name");
    return false;
  }
  RenameResult result = RenameNoReplace(Utf16ToUtf8(from), Utf16ToUtf8(to));
  if (!result.ok()) {
    SetError(details, result.message);
    return false;
  }
  return true;
}

int32_t WriteTags(AppState& app, RunState& run, StageDetails* details) {
  try {
    int32_t count = 0;
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      ReportProgress(app, ProgressStage::kWriteTags, i, last);
      const FileEntry& e = run.EntryTable[i];
      if (e.TagFlag != 1 || e.IsFile != 1) continue;
      std::u16string path = e.OldPath + e.OldName;
      TagIoStatus status;
      if (UpdateID3TagTexts(path, e.NewTitle, e.NewArtist, e.NewAlbum, /*make_writable=*/true,
                            &status) == 1) {
        ++count;
      } else if (details != nullptr) {
        details->skipped.push_back(Utf16ToUtf8(path) + ": " + DescribeTagIoStatus(status));
      }
    }
    ReportCount(app, count, kTagsWritten);
    return 1;
  } catch (const std::exception& ex) {
    SetError(details, std::string("unexpected error: ") + ex.what());
    return 0;
  }
}

int32_t RenameFiles(AppState& app, RunState& run, StageDetails* details) {
  try {
    int32_t count = 0;
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      ReportProgress(app, ProgressStage::kRenameFiles, i, last);
      const FileEntry& e = run.EntryTable[i];
      if (e.RenameFlag != 1 || e.IsFile != 1) continue;
      if (!RenameEntry(e, details)) return 0;
      ++count;
    }
    ReportCount(app, count, kFilesRenamed);
    return 1;
  } catch (const std::exception& ex) {
    SetError(details, std::string("unexpected error: ") + ex.what());
    return 0;
  }
}

int32_t RenameFolders(AppState& app, RunState& run, StageDetails* details) {
  try {
    int32_t count = 0;
    const size_t last = LastIndex(run);
    for (size_t i = last; i >= 1; --i) {
      ReportProgress(app, ProgressStage::kRenameFolders, last - i + 1, last);
      const FileEntry& e = run.EntryTable[i];
      if (e.RenameFlag != 1 || e.IsFile != 0) continue;
      if (!RenameEntry(e, details)) return 0;
      ++count;
    }
    ReportCount(app, count, kFoldersRenamed);
    return 1;
  } catch (const std::exception& ex) {
    SetError(details, std::string("unexpected error: ") + ex.what());
    return 0;
  }
}

}  // namespace tarvel
