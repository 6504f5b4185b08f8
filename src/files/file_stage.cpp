#include "files/file_stage.h"

#include <cerrno>
#include <cstring>

#include "platform/rename.h"
#include "platform/text.h"
#include "platform/translatable.h"

namespace tarvel {
namespace {

StageCode CodeOf(RenameResult::Code code) {
  switch (code) {
    case RenameResult::Code::kOk:
      return StageCode::kOk;
    case RenameResult::Code::kSourceMissing:
      return StageCode::kMissing;
    case RenameResult::Code::kTargetExists:
      return StageCode::kTaken;
    case RenameResult::Code::kInvalidName:
      return StageCode::kUnusableName;
    case RenameResult::Code::kFailed:
      break;
  }
  return StageCode::kRefused;
}

// A rename whose folder could not be opened: a folder gone reads as the old
// name not being found, as a rename by the full path would say.
StageResult FolderRefused(int error, const std::string& from, const std::string& to) {
  StageResult r;
  r.sys_errno = error;
  std::string why;
  if (error == ENOENT || error == ENOTDIR) {
    r.code = StageCode::kMissing;
    why = N_("the old name cannot be found");
  } else if (IsOutsideLibraryError(error)) {
    r.code = StageCode::kOutsideLibrary;
    why = N_("its folder is reached through a link or lies outside the library");
  } else {
    r.code = StageCode::kRefused;
    why = N_("refused");
  }
  r.message = N_("cannot rename ") + from + " to " + to + ": " + why;
  if (error != 0) r.message += std::string(" (") + std::strerror(error) + ")";
  return r;
}

}  // namespace

bool IsSingleName(std::u16string_view name) {
  constexpr std::u16string_view kForbidden(u"/\0", 2);
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(kForbidden) == std::u16string_view::npos;
}

std::string LibraryFolderOf(const RunState& run, std::u16string_view preferred) {
  std::u16string root(preferred);
  if (!root.empty() && root.back() != u'/') root += u'/';
  const size_t last = LastIndex(run);
  bool all_below = !root.empty();
  for (size_t i = 1; i <= last && all_below; ++i) {
    all_below = run.EntryTable[i].OldPath.starts_with(root);
  }
  if (all_below || last == 0) return Utf16ToUtf8(root);
  // The longest folder path that every row's folder starts with.
  std::u16string_view common = run.EntryTable[1].OldPath;
  for (size_t i = 2; i <= last; ++i) {
    std::u16string_view path = run.EntryTable[i].OldPath;
    size_t n = 0;
    while (n < common.size() && n < path.size() && common[n] == path[n]) ++n;
    common = common.substr(0, n);
  }
  const size_t slash = common.rfind(u'/');
  return Utf16ToUtf8(slash == std::u16string_view::npos ? std::u16string_view()
                                                        : common.substr(0, slash + 1));
}

StageResult RenameItem(LibraryFolders& folders, std::u16string_view from_folder,
                       std::u16string_view from_name, std::u16string_view to_folder,
                       std::u16string_view to_name) {
  const std::string from_shown = Utf16ToUtf8(from_folder);
  const std::string to_shown = Utf16ToUtf8(to_folder);
  if (!IsSingleName(from_name) || !IsSingleName(to_name)) {
    return StageResult{StageCode::kUnusableName, 0,
                       N_("cannot rename ") + from_shown + Utf16ToUtf8(from_name) + " to " +
                           to_shown + Utf16ToUtf8(to_name) + ": not a usable name"};
  }
  const std::string from = Utf16ToUtf8(from_name), to = Utf16ToUtf8(to_name);
  const int from_dir = folders.Open(from_shown);
  if (from_dir < 0) return FolderRefused(errno, from_shown + from, to_shown + to);
  RenameResult result;
  if (from_folder == to_folder) {
    result = RenameNoReplaceAt(from_dir, from, to, from_shown, folders.disk());
  } else {
    // Only a hand-made list moves an item between folders.
    LibraryFolders target(folders.disk(), folders.root());
    const int to_dir = target.Open(to_shown);
    if (to_dir < 0) return FolderRefused(errno, from_shown + from, to_shown + to);
    result =
        RenameNoReplaceBetween(folders.disk(), from_dir, from, to_dir, to, from_shown, to_shown);
  }
  if (result.ok()) return {};
  return StageResult{CodeOf(result.code), result.error, std::move(result.message)};
}

}  // namespace tarvel
