#include "app/change_plan.h"

#include <utility>

namespace tarvel {
namespace {

struct NoticeName {
  RowNotice bit;
  std::u16string_view text;
};
constexpr NoticeName kNoticeNames[] = {
    {kNoticeNumbered, u"重複番号を付加"}, {kNoticeRepaired, u"使えない文字を修正"},
    {kNoticeShortened, u"長さを制限"},    {kNoticeFullWidth, u"全角文字が残る"},
    {kNoticeReadingGuess, u"読みを推測"}, {kNoticePlayerLimit, u"プレーヤーの制限を超える"},
};

std::u16string TagChange(const SharedText& before, const SharedText& after) {
  return before == after ? std::u16string() : ChangeText(before, after);
}

}  // namespace

std::u16string ChangeText(std::u16string_view before, std::u16string_view after) {
  std::u16string text(before);
  text += u" → ";
  text += after;
  return text;
}

std::u16string NoticeText(uint8_t notices) {
  std::u16string text;
  for (const NoticeName& n : kNoticeNames) {
    if ((notices & n.bit) == 0) continue;
    if (!text.empty()) text += u"、";
    text += n.text;
  }
  return text;
}

std::u16string RelativeFolder(std::u16string_view folder_path, std::u16string_view data_folder) {
  std::u16string_view path = folder_path;
  if (path.size() > 1 && path.back() == u'/') path.remove_suffix(1);
  std::u16string_view base = data_folder;
  if (base.size() > 1 && base.back() == u'/') base.remove_suffix(1);
  if (path == base) return u".";
  // Below the data folder: what follows its "/" (the root folder ends in
  // one already).
  const size_t cut = base.ends_with(u'/') ? base.size() : base.size() + 1;
  if (path.size() > cut && path.starts_with(base) && path[cut - 1] == u'/') {
    return std::u16string(path.substr(cut));
  }
  return std::u16string(path);
}

namespace {

bool TagsChanged(const FileEntry& e) {
  return e.IsFile == 1 &&
         (e.NewTitle != e.OldTitle || e.NewArtist != e.OldArtist || e.NewAlbum != e.OldAlbum);
}

bool InPlan(const FileEntry& e) {
  return e.NewName != e.OldName || TagsChanged(e) || e.Notices != 0;
}

}  // namespace

std::shared_ptr<const ChangePlan> MakeChangePlan(const RunState& run,
                                                 std::u16string_view data_folder, bool check_only) {
  auto plan = std::make_shared<ChangePlan>();
  plan->data_folder = data_folder;
  plan->check_only = check_only;
  // Counted first: a vector grown by doubling would hold up to twice the
  // rows, and a third more while it moves them.
  size_t count = 0;
  for (int32_t i = 1; i <= run.EntryCount; ++i) count += InPlan(run.EntryTable[i]) ? 1 : 0;
  plan->rows.reserve(count);
  // The rows of a folder follow each other and share its path: its relative
  // form is made once and shared too.
  SharedText last_path;
  SharedText last_folder;
  for (int32_t i = 1; i <= run.EntryCount; ++i) {
    const FileEntry& e = run.EntryTable[i];
    if (!InPlan(e)) continue;
    const bool name_changed = e.NewName != e.OldName;
    const bool tags_changed = TagsChanged(e);
    if (!(e.OldPath == last_path) || last_folder.empty()) {
      last_path = e.OldPath;
      last_folder = SharedText(RelativeFolder(e.OldPath, data_folder));
    }
    PlanRow row;
    row.row = i;
    row.folder = last_folder;
    row.is_file = e.IsFile == 1;
    row.old_name = e.OldName;
    if (name_changed) row.new_name = e.NewName;
    if (tags_changed) {
      row.title = TagChange(e.OldTitle, e.NewTitle);
      row.artist = TagChange(e.OldArtist, e.NewArtist);
      row.album = TagChange(e.OldAlbum, e.NewAlbum);
    }
    row.notices = e.Notices;
    plan->rows.push_back(std::move(row));
  }
  return plan;
}

}  // namespace tarvel
