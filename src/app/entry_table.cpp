#include "app/entry_table.h"

namespace tarvel {

void ResetEntryTable(RunState& state) {
  state.EntryTable.clear();  // gives back the memory of a large run
  state.EntryTable.emplace_back();
  state.EntryCount = 0;
  state.SkippedNameCount = 0;
  state.FoundOnDisk.clear();
}

FileEntry& AddEntry(RunState& state, const SharedText& folder_path, std::u16string_view name,
                    int32_t is_file) {
  if (state.EntryTable.empty()) state.EntryTable.emplace_back();  // slot 0
  FileEntry& row = state.EntryTable.emplace_back();
  row.OldPath = folder_path;
  row.NewPath = folder_path;
  row.OldName = name;
  row.NewName = row.OldName;
  row.IsFile = is_file;
  state.EntryCount = static_cast<int32_t>(state.EntryTable.size() - 1);
  return row;
}

FileEntry& AddEntry(RunState& state, std::u16string_view folder_path, std::u16string_view name,
                    int32_t is_file) {
  return AddEntry(state, SharedText(folder_path), name, is_file);
}

}  // namespace tarvel
