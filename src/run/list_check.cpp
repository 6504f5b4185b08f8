#include "run/list_check.h"

#include <sys/stat.h>

#include <string_view>
#include <unordered_map>
#include <vector>

#include "files/file_stage.h"
#include "platform/text.h"
#include "run/scan.h"

namespace tarvel {
namespace {

std::string Quoted(std::u16string_view text) { return "\"" + Utf16ToUtf8(text) + "\""; }

bool HasNul(std::u16string_view text) { return text.find(u'\0') != std::u16string_view::npos; }

// What is wrong with a folder path of a row, or empty.
std::string PathProblem(std::u16string_view path) {
  if (path.empty()) return "is empty";
  if (HasNul(path)) return "holds a NUL character";
  if (path.front() != u'/') return "is not absolute";
  if (path.back() != u'/') return "does not end in \"/\"";
  // Between the leading and the trailing "/": one name after another.
  std::u16string_view inner = path.substr(1, path.size() - 1);
  while (!inner.empty()) {
    size_t slash = inner.find(u'/');
    std::u16string_view segment = inner.substr(0, slash);
    if (segment.empty()) return "holds an empty segment (\"//\")";
    if (segment == u"." || segment == u"..") return "holds a \".\" or \"..\" segment";
    inner.remove_prefix(slash + 1);
  }
  return {};
}

std::string NameProblem(std::u16string_view name, bool is_file, bool new_name) {
  // A run records the name it could not give ("．．" made "..") as it came
  // out; the restore takes such a row as never renamed and uses no part of it.
  if (new_name && (name.empty() || name == u"." || name == u"..")) return {};
  if (name.empty()) return "is empty";
  if (HasNul(name)) return "holds a NUL character";
  if (name == u"." || name == u"..") return "is \".\" or \"..\"";
  if (name.find(u'/') != std::u16string_view::npos) return "is not a single name (holds \"/\")";
  // The names the scan takes as MP3 files ("song.MP3", "song.ｍｐ３").
  if (is_file && !EndsInMp3(name)) return "does not name an MP3 file";
  return {};
}

// What stands at a path below the library, looked at without following a
// link at its end.
enum class Standing { kFolder, kLink, kNothingToEnter };

// Looks at the folders below a library, each path once.
class LinkFinder {
 public:
  // The first link on the way to the row folder `old_folder` (a path below
  // `library`, in old names), or empty. `renamed` maps a renamed folder's
  // old path to its new name.
  std::u16string FindOnTheWay(const std::u16string& library, std::u16string_view old_folder,
                              const std::unordered_map<std::u16string, std::u16string>& renamed) {
    // The paths at which the folder of the level reached stands: its old
    // name and, while a restore is not done, its new one.
    std::vector<std::u16string> reached = {library};
    std::u16string old_path = library;
    std::u16string_view rest = old_folder.substr(library.size());
    while (!rest.empty() && !reached.empty()) {
      const size_t slash = rest.find(u'/');
      const std::u16string_view name = rest.substr(0, slash);
      rest.remove_prefix(slash + 1);
      old_path.append(name).push_back(u'/');
      auto renamed_to = renamed.find(old_path);
      std::vector<std::u16string> next;
      for (const std::u16string& parent : reached) {
        std::u16string path = parent + std::u16string(name) + u"/";
        const Standing under_old = Look(path);
        if (under_old == Standing::kLink) return path.substr(0, path.size() - 1);
        if (under_old == Standing::kFolder) next.push_back(std::move(path));
        if (renamed_to == renamed.end()) continue;
        // A link on the new name of a folder that is still under its old
        // one (a run stopped there) is not on the way.
        path = parent + renamed_to->second + u"/";
        const Standing under_new = Look(path);
        if (under_new == Standing::kLink && under_old != Standing::kFolder) {
          return path.substr(0, path.size() - 1);
        }
        if (under_new == Standing::kFolder) next.push_back(std::move(path));
      }
      reached = std::move(next);
    }
    return {};
  }

 private:
  Standing Look(const std::u16string& path) {
    auto [it, inserted] = seen_.try_emplace(path, Standing::kNothingToEnter);
    if (!inserted) return it->second;
    struct stat st {};
    const std::string bytes = Utf16ToUtf8(std::u16string_view(path).substr(0, path.size() - 1));
    if (::lstat(bytes.c_str(), &st) == 0) {
      if (S_ISLNK(st.st_mode)) it->second = Standing::kLink;
      if (S_ISDIR(st.st_mode)) it->second = Standing::kFolder;
    }
    return it->second;
  }

  std::unordered_map<std::u16string, Standing> seen_;
};

}  // namespace

ListCheck CheckRestoreList(const RunState& run) {
  ListCheck check;
  auto fail = [&](size_t row, const std::string& what) {
    check.ok = false;
    check.problem = "row " + std::to_string(row) + " of the list: " + what;
    check.common_folder.clear();
    return check;
  };
  std::u16string common;
  for (size_t i = 1; i <= LastIndex(run); ++i) {
    const FileEntry& e = run.EntryTable[i];
    const bool is_file = e.IsFile == 1;
    struct Field {
      const char* name;
      const SharedText& value;
      bool is_path;
    };
    const Field fields[] = {{"OldPath", e.OldPath, true},
                            {"NewPath", e.NewPath, true},
                            {"OldName", e.OldName, false},
                            {"NewName", e.NewName, false}};
    for (const Field& f : fields) {
      std::string problem =
          f.is_path ? PathProblem(f.value) : NameProblem(f.value, is_file, &f.value == &e.NewName);
      if (!problem.empty()) {
        return fail(i, std::string(f.name) + " " + Quoted(f.value) + " " + problem);
      }
    }
    // A restore only renames back within the folder the run renamed in.
    if (e.NewPath != e.OldPath) {
      return fail(i, "NewPath " + Quoted(e.NewPath) + " differs from OldPath " + Quoted(e.OldPath));
    }
    // A run records the items of its library folder first, so the folder
    // of row 1 is the library: every later row lies in it or below it.
    if (i == 1) {
      common = e.OldPath;
      if (common == u"/") return fail(i, "OldPath \"/\" is the root folder, not a library");
    } else if (!e.OldPath.starts_with(common)) {
      return fail(i, "OldPath " + Quoted(e.OldPath) + " lies outside the folder of row 1, " +
                         Quoted(common));
    }
  }
  check.common_folder = common;
  return check;
}

void MoveLibrary(RunState& run, std::u16string_view from, std::u16string_view to) {
  std::u16string target(to);
  if (target.empty() || target.back() != u'/') target += u'/';
  if (target == from) return;
  // The rows of one folder share their path text, and keep sharing it.
  SharedText last_from;
  SharedText last_to;
  for (size_t i = 1; i <= LastIndex(run); ++i) {
    FileEntry& e = run.EntryTable[i];
    for (SharedText* path : {&e.OldPath, &e.NewPath}) {
      if (!path->starts_with(from)) continue;
      if (!path->SharesWith(last_from)) {
        last_from = *path;
        last_to = target + path->substr(from.size());
      }
      *path = last_to;
    }
  }
}

ListCheck CheckRowsReachWithoutLinks(const RunState& run, std::u16string_view library) {
  ListCheck check;
  const std::u16string root(library);
  std::unordered_map<std::u16string, std::u16string> renamed;
  for (size_t i = 1; i <= LastIndex(run); ++i) {
    const FileEntry& e = run.EntryTable[i];
    if (e.IsFile == 0 && e.RenameFlag == 1 && IsSingleName(e.NewName)) {
      renamed[e.OldPath + e.OldName + u"/"] = e.NewName;
    }
  }
  LinkFinder finder;
  for (size_t i = 1; i <= LastIndex(run); ++i) {
    const FileEntry& e = run.EntryTable[i];
    if (!e.OldPath.starts_with(root)) continue;  // refused by CheckRestoreList
    const std::u16string link = finder.FindOnTheWay(root, e.OldPath, renamed);
    if (link.empty()) continue;
    check.ok = false;
    check.problem = "row " + std::to_string(i) + " of the list: its folder " + Quoted(e.OldPath) +
                    " is reached through the symbolic link " + Quoted(link) +
                    "; a restore follows no link";
    return check;
  }
  check.common_folder = root;
  return check;
}

}  // namespace tarvel
