#include "files/run_history.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "app/entry_table.h"
#include "files/rename_list.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "platform/text_file.h"

namespace tarvel {
namespace {

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

bool RecordsAppliedChanges(const RunState& run) {
  for (size_t i = 1; i <= LastIndex(run); ++i) {
    if (run.EntryTable[i].RenameFlag == 1 || run.EntryTable[i].TagFlag == 1) return true;
  }
  return false;
}

// Makes a new folder for one kept run, named by the local date and time, with
// "-2", "-3"... when several are kept in one second. Never reuses a folder.
bool MakeRunFolder(const std::filesystem::path& history, std::filesystem::path& made,
                   std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(history, ec);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H%M%S", &local);
  for (int n = 1; n < 1000; ++n) {
    std::string name = stamp;
    if (n > 1) name += "-" + std::to_string(n);
    std::filesystem::path candidate = history / name;
    if (::mkdir(candidate.c_str(), 0700) == 0) {
      made = candidate;
      return true;
    }
    if (errno != EEXIST) {
      SetError(error, "cannot keep the previous list in " + EscapeBytes(history.native()) + ": " +
                          std::strerror(errno));
      return false;
    }
  }
  SetError(error, "cannot keep the previous list: no free folder name in " +
                      EscapeBytes(history.native()));
  return false;
}

}  // namespace

bool KeepPreviousList(const AppFolder& folder, const std::filesystem::path& list_path,
                      std::string* error) {
  struct stat st;
  if (::lstat(list_path.c_str(), &st) != 0 && errno == ENOENT) return true;
  RunState previous;
  std::string bytes;
  if (ReadRenameList(Utf8ToUtf16Lossy(list_path.native()), previous, nullptr, &bytes) == 1) {
    if (!RecordsAppliedChanges(previous)) return true;
  } else {
    // Not a list as far as the reader can tell: keep its bytes all the same.
    TextReadResult read = ReadFileBytes(list_path, bytes);
    if (!read.ok()) {
      SetError(error, "cannot keep the previous list: " + read.message);
      return false;
    }
  }
  if (folder.history_dir.empty()) {
    SetError(error, "cannot keep the previous list: no history folder");
    return false;
  }
  std::filesystem::path kept;
  if (!MakeRunFolder(folder.history_dir, kept, error)) return false;
  std::string undo;
  if (ReadFileBytes(UndoRecordPath(list_path), undo).ok()) {
    TextWriteResult w = WriteFileAtomically(UndoRecordPath(kept / kHistoryListName), undo);
    if (!w.ok) {
      SetError(error, "cannot keep the previous list: " + w.message);
      return false;
    }
  }
  TextWriteResult w = WriteFileAtomically(kept / kHistoryListName, bytes);
  if (!w.ok) {
    SetError(error, "cannot keep the previous list: " + w.message);
    return false;
  }
  return true;
}

std::vector<HistoryEntry> ListHistory(const AppFolder& folder) {
  std::vector<HistoryEntry> out;
  std::error_code ec;
  if (folder.history_dir.empty()) return out;
  for (auto it = std::filesystem::directory_iterator(folder.history_dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (!it->is_directory(ec)) continue;
    HistoryEntry entry;
    entry.list = it->path() / kHistoryListName;
    if (!std::filesystem::exists(entry.list, ec)) continue;
    // "2026-12-07_140512-2" is shown as "2026-12-07 14:05:12".
    std::string name = it->path().filename().native();
    if (name.size() >= 17 && name[10] == '_') {
      entry.time = name.substr(0, 10) + " " + name.substr(11, 2) + ":" + name.substr(13, 2) + ":" +
                   name.substr(15, 2) + name.substr(17);
    } else {
      entry.time = EscapeBytes(name);
    }
    RunState run;
    if (ReadRenameList(Utf8ToUtf16Lossy(entry.list.native()), run) == 1) {
      entry.readable = true;
      for (size_t i = 1; i <= LastIndex(run); ++i) {
        const FileEntry& e = run.EntryTable[i];
        ++entry.rows;
        if (e.RenameFlag == 1) ++entry.renames;
        if (e.TagFlag == 1) ++entry.tags;
        if (entry.folder.empty() || e.OldPath.size() < entry.folder.size()) {
          entry.folder = e.OldPath;
        }
      }
    }
    out.push_back(std::move(entry));
  }
  std::sort(out.begin(), out.end(),
            [](const HistoryEntry& a, const HistoryEntry& b) { return a.list < b.list; });
  return out;
}

}  // namespace tarvel
