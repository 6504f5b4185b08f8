#include "files/rename_plan.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <unordered_map>

#include "files/file_stage.h"
#include "platform/text.h"

namespace tarvel {
namespace {

size_t Depth(std::u16string_view folder) {
  return static_cast<size_t>(std::count(folder.begin(), folder.end(), u'/'));
}

// How the folder of `members` compares names. `folding` is asked only when
// two different names of theirs could be one name under some folding, so
// that a folder of plain names is never looked at.
NameFolding FolderFolding(const std::vector<PlannedMove>& moves, const std::vector<size_t>& members,
                          const FoldingOf& folding) {
  if (!folding) return {};
  std::unordered_map<std::u16string, std::u16string_view> seen;
  for (size_t m : members) {
    for (std::u16string_view name : {moves[m].from.view(), moves[m].to.view()}) {
      auto [it, added] = seen.emplace(FoldedName(name, kWidestFolding), name);
      if (!added && it->second != name) return folding(moves[m].folder.str());
    }
  }
  return {};
}

// The plan of one folder's moves. Names are held by their key under the
// folder's folding, so that two spellings of one name are one slot.
class FolderPlan {
 public:
  FolderPlan(const std::vector<PlannedMove>& moves, NameFolding folding,
             std::vector<RenameStep>& steps)
      : moves_(moves), folding_(folding), steps_(steps) {}

  // Plans `members` into the steps.
  void Plan(const std::vector<size_t>& members) {
    for (size_t m : members) {
      if (moves_[m].from == moves_[m].to) continue;
      holder_.emplace(Key(moves_[m].from), m);
      current_[m] = moves_[m].from;
    }
    for (size_t first : members) {
      if (current_.count(first)) Walk(first);
    }
  }

 private:
  std::u16string Key(std::u16string_view name) const { return FoldedName(name, folding_); }

  // Follows the chain of moves whose targets are held by the next one, and
  // carries it out from its far end back.
  void Walk(size_t first) {
    std::vector<size_t> path{first};
    on_path_[first] = true;
    while (!path.empty()) {
      const size_t m = path.back();
      auto blocker = holder_.find(Key(moves_[m].to));
      if (blocker == holder_.end() || blocker->second == m) {
        Finish(m);
        on_path_[m] = false;
        path.pop_back();
        continue;
      }
      const size_t next = blocker->second;
      if (on_path_[next]) {
        // A cycle: `next` moves aside; its name is then free for `m`.
        MoveAside(next);
        continue;
      }
      path.push_back(next);
      on_path_[next] = true;
    }
  }

  void MoveAside(size_t m) {
    SharedText temp(TemporaryRenameName(current_[m]));
    steps_.push_back({m, current_[m], temp, true});
    holder_.erase(Key(current_[m]));
    holder_.emplace(Key(temp), m);
    current_[m] = std::move(temp);
  }

  // The move's own step. A move to another spelling of its own name (the
  // folder would find the target taken by the entry itself) goes through
  // the temporary name first.
  void Finish(size_t m) {
    if (current_[m] == moves_[m].from && Key(moves_[m].from) == Key(moves_[m].to)) MoveAside(m);
    steps_.push_back({m, current_[m], moves_[m].to, false});
    holder_.erase(Key(current_[m]));
    current_.erase(m);
  }

  const std::vector<PlannedMove>& moves_;
  NameFolding folding_;
  std::vector<RenameStep>& steps_;
  // The name each pending move currently holds (by key), and the move
  // holding it.
  std::unordered_map<std::u16string, size_t> holder_;
  std::unordered_map<size_t, SharedText> current_;
  std::unordered_map<size_t, bool> on_path_;
};

}  // namespace

std::u16string TemporaryRenameName(std::u16string_view name) {
  uint64_t hash = 14695981039346656037ull;
  for (char16_t c : name) {
    hash ^= static_cast<uint64_t>(c);
    hash *= 1099511628211ull;
  }
  static constexpr char16_t kHex[] = u"0123456789abcdef";
  std::u16string text = u".tarvel-move-";
  for (int shift = 60; shift >= 0; shift -= 4) text += kHex[(hash >> shift) & 0xF];
  return text;
}

std::vector<RenameStep> PlanRenames(const std::vector<PlannedMove>& moves, FolderOrder order,
                                    const FoldingOf& folding) {
  // Folders in order of first appearance, then by depth as asked.
  std::map<std::u16string_view, size_t> folder_index;
  std::vector<std::vector<size_t>> folders;
  std::vector<size_t> depth;
  for (size_t m = 0; m < moves.size(); ++m) {
    auto [it, added] = folder_index.emplace(moves[m].folder.view(), folders.size());
    if (added) {
      folders.emplace_back();
      depth.push_back(Depth(moves[m].folder));
    }
    folders[it->second].push_back(m);
  }
  std::vector<size_t> folder_order(folders.size());
  for (size_t i = 0; i < folder_order.size(); ++i) folder_order[i] = i;
  std::stable_sort(folder_order.begin(), folder_order.end(), [&](size_t a, size_t b) {
    return order == FolderOrder::kDeepestFirst ? depth[a] > depth[b] : depth[a] < depth[b];
  });
  std::vector<RenameStep> steps;
  steps.reserve(moves.size());
  for (size_t f : folder_order) {
    FolderPlan(moves, FolderFolding(moves, folders[f], folding), steps).Plan(folders[f]);
  }
  return steps;
}

bool ExecuteRenames(const std::vector<PlannedMove>& moves, const std::vector<RenameStep>& steps,
                    bool stop_at_failure, const std::function<void(size_t move)>& done,
                    const std::function<void(size_t move, const std::string& reason)>& failed,
                    LibraryFolders& folders) {
  bool all = true;
  // Moves that failed: their later steps are passed over.
  std::vector<bool> given_up(moves.size(), false);
  // Moves whose entry waits under its temporary name.
  std::map<size_t, SharedText> aside;
  auto give_up = [&](size_t move, const std::string& reason) {
    all = false;
    given_up[move] = true;
    auto it = aside.find(move);
    if (it != aside.end()) {
      // Back to its own name when that is still free; otherwise it stays
      // under the temporary name, where a restore looks for it.
      RenameItem(folders, moves[move].folder, it->second, moves[move].folder, moves[move].from);
      aside.erase(it);
    }
    if (failed) failed(move, reason);
  };
  for (const RenameStep& step : steps) {
    if (given_up[step.move]) continue;
    const PlannedMove& m = moves[step.move];
    StageResult result = RenameItem(folders, m.folder, step.from, m.folder, step.to);
    if (result.ok()) {
      if (step.temporary) {
        aside[step.move] = step.to;
      } else {
        aside.erase(step.move);
        if (done) done(step.move);
      }
      continue;
    }
    give_up(step.move, result.message);
    // A cycle that lost one of its moves cannot close: the others that wait
    // aside go back as well.
    while (!aside.empty()) {
      const size_t other = aside.begin()->first;
      give_up(other, "cannot rename " + Utf16ToUtf8(m.folder + moves[other].from) +
                         ": it was to make room in a cycle that could not be completed");
    }
    if (stop_at_failure) return false;
  }
  return all;
}

}  // namespace tarvel
