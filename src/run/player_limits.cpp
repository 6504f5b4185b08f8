#include "run/player_limits.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "files/iso_image.h"
#include "platform/name_folding.h"
#include "platform/text.h"
#include "run/conversion_pass.h"

namespace tarvel {
namespace {

constexpr uint64_t kMegabyte = uint64_t{1024} * 1024;

std::string_view ParentOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view LastName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

int64_t Depth(std::string_view path) {
  return 1 + static_cast<int64_t>(std::count(path.begin(), path.end(), '/'));
}

std::string FolderName(std::string_view folder) {
  return folder.empty() ? std::string("the top of the copy") : "the folder " + std::string(folder);
}

LimitViolation Violation(PlayerLimit limit, std::string where, int64_t figure, int64_t allowed,
                         std::string detail) {
  LimitViolation v;
  v.limit = limit;
  v.where = std::move(where);
  v.figure = figure;
  v.allowed = allowed;
  v.detail = std::move(detail);
  return v;
}

// Folder depth and name length, item by item.
void CheckItems(const ExportPlan& plan, const PlayerLimits& limits,
                std::vector<LimitViolation>& out) {
  for (size_t i = 0; i < plan.items.size(); ++i) {
    const ExportItem& item = plan.items[i];
    if (item.is_file || Depth(item.target) <= limits.max_depth) continue;
    const int64_t depth = Depth(item.target);
    out.push_back(Violation(PlayerLimit::kDepth, item.target, depth, limits.max_depth,
                            "folder depth: the folder " + item.target + " lies " +
                                std::to_string(depth) + " folders deep; the player reads " +
                                std::to_string(limits.max_depth)));
    out.back().items.push_back(i);
  }
  for (size_t i = 0; i < plan.items.size(); ++i) {
    const std::string& target = plan.items[i].target;
    const std::string_view name = LastName(target);
    const auto length = static_cast<int64_t>(JolietLength(name));
    if (length <= limits.max_name_length) continue;
    out.push_back(Violation(PlayerLimit::kNameLength, target, length, limits.max_name_length,
                            "name length: the name " + std::string(name) + " (in " + target +
                                ") has " + std::to_string(length) +
                                " characters; the player shows " +
                                std::to_string(limits.max_name_length)));
    out.back().items.push_back(i);
  }
}

// Files in each folder, folders in all, the size of the files.
void CheckCounts(const ExportPlan& plan, const PlayerLimits& limits,
                 std::vector<LimitViolation>& out) {
  std::vector<std::string_view> order;  // folders in the order their first file comes
  std::unordered_map<std::string_view, std::vector<size_t>> files;
  std::vector<size_t> folders;
  std::vector<size_t> past_size;
  const uint64_t max_bytes = static_cast<uint64_t>(limits.max_megabytes) * kMegabyte;
  uint64_t bytes = 0;
  for (size_t i = 0; i < plan.items.size(); ++i) {
    const ExportItem& item = plan.items[i];
    if (!item.is_file) {
      folders.push_back(i);
      continue;
    }
    auto [it, added] = files.try_emplace(ParentOf(item.target));
    if (added) order.push_back(it->first);
    it->second.push_back(i);
    bytes += item.size();
    if (limits.max_megabytes > 0 && bytes > max_bytes) past_size.push_back(i);
  }
  for (std::string_view folder : order) {
    const std::vector<size_t>& in = files[folder];
    const auto count = static_cast<int64_t>(in.size());
    if (count <= limits.max_files_in_folder) continue;
    out.push_back(Violation(
        PlayerLimit::kFilesInFolder, std::string(folder), count, limits.max_files_in_folder,
        "files in a folder: " + FolderName(folder) + " holds " + std::to_string(count) +
            " files; the player reads " + std::to_string(limits.max_files_in_folder)));
    out.back().items.assign(in.begin() + limits.max_files_in_folder, in.end());
  }
  if (static_cast<int64_t>(folders.size()) > limits.max_folders) {
    const auto count = static_cast<int64_t>(folders.size());
    out.push_back(Violation(PlayerLimit::kFolders, "", count, limits.max_folders,
                            "folders: the copy has " + std::to_string(count) +
                                " folders; the player reads " +
                                std::to_string(limits.max_folders)));
    out.back().items.assign(folders.begin() + limits.max_folders, folders.end());
  }
  if (!past_size.empty()) {
    const auto megabytes = static_cast<int64_t>((bytes + kMegabyte - 1) / kMegabyte);
    out.push_back(Violation(PlayerLimit::kSize, "", megabytes, limits.max_megabytes,
                            "size: the copy holds " + std::to_string(megabytes) +
                                " MB; the player's medium holds " +
                                std::to_string(limits.max_megabytes) + " MB"));
    out.back().items = std::move(past_size);
  }
}

// The names of the parts of the folder `item`: numbered from 1, a number
// passed over when another item beside the folder has that name.
bool PartNames(const ExportPlan& plan, size_t item, size_t parts, const PlayerLimits& limits,
               std::vector<std::string>& names, std::string* error) {
  const std::string& target = plan.items[item].target;
  const std::string_view parent = ParentOf(target);
  std::unordered_set<std::u16string> taken;
  for (size_t i = 0; i < plan.items.size(); ++i) {
    if (i != item && ParentOf(plan.items[i].target) == parent) {
      taken.insert(FoldedName(Utf8ToUtf16Lossy(LastName(plan.items[i].target)), kWidestFolding));
    }
  }
  const std::u16string name = Utf8ToUtf16Lossy(LastName(target));
  const int32_t length = std::min(limits.part_name_length, limits.max_name_length);
  int32_t number = 0;
  while (names.size() < parts) {
    std::u16string part;
    try {
      part = MakeUniqueName(name, ++number, length, false);
    } catch (const std::invalid_argument&) {
      *error = "cannot number the parts of the folder " + target + " within " +
               std::to_string(length) + " characters";
      return false;
    }
    if (!taken.insert(FoldedName(part, kWidestFolding)).second) continue;
    const std::string utf8 = Utf16ToUtf8(part);
    names.push_back(parent.empty() ? utf8 : std::string(parent) + "/" + utf8);
  }
  return true;
}

// Splits the folder `item` of the plan, which holds `files` files.
bool SplitFolder(ExportPlan& plan, size_t item, int64_t files, const PlayerLimits& limits,
                 std::string* error) {
  const int64_t per_part = limits.max_files_in_folder;
  const auto parts = static_cast<size_t>((files + per_part - 1) / per_part);
  std::vector<std::string> names;
  if (!PartNames(plan, item, parts, limits, names, error)) return false;
  const ExportItem folder = plan.items[item];
  const std::string old_prefix = folder.target + "/";
  std::vector<ExportItem> items;
  items.reserve(plan.items.size() + parts - 1);
  int64_t placed = 0;
  for (size_t i = 0; i < plan.items.size(); ++i) {
    ExportItem& it = plan.items[i];
    if (i == item) it.target = names[0];
    if (i == item || !it.target.starts_with(old_prefix)) {
      items.push_back(std::move(it));
      continue;
    }
    const std::string rest = it.target.substr(old_prefix.size());
    size_t part = 0;
    if (it.is_file && rest.find('/') == std::string::npos) {
      const int64_t index = placed++;
      part = static_cast<size_t>(index / per_part);
      // A part's folder comes just before its first file.
      if (part > 0 && index % per_part == 0) {
        ExportItem made;
        made.source = folder.source;
        made.target = names[part];
        items.push_back(std::move(made));
      }
    }
    it.target = names[part] + "/" + rest;
    items.push_back(std::move(it));
  }
  plan.items = std::move(items);
  plan.folder_count += static_cast<int64_t>(parts) - 1;
  return true;
}

}  // namespace

PlayerLimits LimitsOf(const Settings& settings) {
  PlayerLimits limits;
  limits.max_depth = settings.MaxFolderDepth;
  limits.max_folders = settings.MaxFolderCount;
  limits.max_files_in_folder = settings.MaxFilesInFolder;
  limits.max_name_length = settings.MaxNameLength;
  limits.max_megabytes = settings.MaxMegabytes;
  if (settings.FlagConvertFilename == 1 && settings.FlagLimit30Char == 1) {
    limits.part_name_length = settings.LengthName;
  }
  return limits;
}

std::vector<LimitViolation> CheckPlayerLimits(const ExportPlan& plan, const PlayerLimits& limits) {
  std::vector<LimitViolation> out;
  CheckItems(plan, limits, out);
  CheckCounts(plan, limits, out);
  return out;
}

bool SplitFullFolders(ExportPlan& plan, const PlayerLimits& limits, int64_t* split,
                      std::string* error) {
  *split = 0;
  if (limits.max_files_in_folder < 1) return true;
  // One folder at a time: a split changes the paths below it.
  for (;;) {
    std::unordered_map<std::string_view, int64_t> files;
    for (const ExportItem& item : plan.items) {
      if (item.is_file) ++files[ParentOf(item.target)];
    }
    size_t full = plan.items.size();
    int64_t count = 0;
    for (size_t i = 0; i < plan.items.size() && full == plan.items.size(); ++i) {
      const ExportItem& item = plan.items[i];
      if (item.is_file) continue;
      const auto found = files.find(item.target);
      if (found != files.end() && found->second > limits.max_files_in_folder) {
        full = i;
        count = found->second;
      }
    }
    if (full == plan.items.size()) return true;
    if (!SplitFolder(plan, full, count, limits, error)) return false;
    ++*split;
  }
}

RunReport MakePlayerExportPlan(AppState& app, ExportPlan& plan, PlayerCheck& check, DiskOps& disk) {
  check = PlayerCheck{};
  RunState run;
  RunReport report = MakeExportPlan(app, plan, run, disk);
  if (report.outcome != RunReport::Outcome::kCompleted) return report;
  const PlayerLimits limits = LimitsOf(app.settings);
  if (app.settings.FlagSplitFolders == 1) {
    SplitFullFolders(plan, limits, &check.folders_split, &check.split_error);
  }
  check.violations = CheckPlayerLimits(plan, limits);
  for (const LimitViolation& v : check.violations) {
    for (size_t i : v.items) {
      const int32_t row = plan.items[i].row;
      if (row > 0 && row <= run.EntryCount) run.EntryTable[row].Notices |= kNoticePlayerLimit;
    }
  }
  if (app.ui->WantsPlan()) check.changes = MakeChangePlan(run, app.settings.PathDataFolder, true);
  return report;
}

std::string RefusalText(const PlayerCheck& check) {
  std::string text;
  for (const LimitViolation& v : check.violations) {
    text += v.detail;
    text += '\n';
  }
  if (!check.split_error.empty()) text += check.split_error + "\n";
  return text + "the player cannot read the copy as it stands; nothing was written";
}

}  // namespace tarvel
