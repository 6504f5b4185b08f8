#include "run/list_check.h"

#include <string_view>

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
      const std::u16string& value;
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

}  // namespace tarvel
