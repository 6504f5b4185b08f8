#include "run/export_plan.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "app/change_plan.h"
#include "files/export_copy.h"
#include "files/id3_tag.h"
#include "platform/name_folding.h"
#include "platform/text.h"
#include "run/run_driver.h"

namespace tarvel {
namespace {

// The longest name most file systems take, in bytes.
constexpr size_t kNameMax = 255;

std::string JoinPath(const std::string& folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string path = folder;
  path += '/';
  path += name;
  return path;
}

// Builds the items of one table: keeps, for every folder of the library
// (relative, "" for the library itself), where it goes in the copy.
class PlanBuilder {
 public:
  PlanBuilder(const Settings& settings, ExportPlan& plan, DiskOps& disk, int library_fd)
      : settings_(settings), plan_(plan), disk_(disk), library_fd_(library_fd) {
    targets_.emplace(std::string(), std::string());
  }

  bool Add(int32_t row_index, const FileEntry& row, std::u16string_view data_folder,
           std::string* error) {
    std::u16string relative = RelativeFolder(row.OldPath, data_folder);
    if (relative == u".") relative.clear();
    const std::string folder = Utf16ToUtf8(relative);
    const std::string parent = FolderTarget(folder);
    const bool renamed = settings_.FlagConvertFilename == 1 &&
                         (row.IsFile == 1 || settings_.FlagRenameFolderName == 1);
    ExportItem item;
    item.is_file = row.IsFile == 1;
    item.row = row_index;
    item.source = JoinPath(folder, Utf16ToUtf8(row.OldName));
    item.target = JoinPath(parent, Utf16ToUtf8(renamed ? row.NewName : row.OldName));
    if (!item.is_file) {
      targets_[item.source] = item.target;
      AddItem(std::move(item));
      return true;
    }
    if (!ReadFile(row, item, error)) return false;
    AddItem(std::move(item));
    return true;
  }

 private:
  // Where the folder `folder` goes; a folder with no row of its own (the
  // scan went into it without listing folders) keeps its name and gets an
  // item the first time something in it is placed.
  std::string FolderTarget(const std::string& folder) {
    if (auto it = targets_.find(folder); it != targets_.end()) return it->second;
    const size_t slash = folder.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : folder.substr(0, slash);
    const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    ExportItem item;
    item.source = folder;
    item.target = JoinPath(FolderTarget(parent), name);
    targets_[folder] = item.target;
    std::string target = item.target;
    AddItem(std::move(item));
    return target;
  }

  void AddItem(ExportItem item) {
    if (item.is_file) {
      ++plan_.file_count;
      plan_.byte_count += item.size();
    } else {
      ++plan_.folder_count;
    }
    plan_.items.push_back(std::move(item));
  }

  // The size and last bytes of the file, and from them what its copy holds.
  bool ReadFile(const FileEntry& row, ExportItem& item, std::string* error) {
    UniqueFd fd = OpenExportSource(disk_, library_fd_, item.source);
    struct stat st {};
    if (!fd || disk_.FStat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      const int err = errno;
      *error = "cannot read " + plan_.library + "/" + item.source + ": " +
               (fd && !S_ISREG(st.st_mode) ? std::string("not a plain file") : std::strerror(err));
      return false;
    }
    item.source_size = static_cast<uint64_t>(st.st_size);
    item.audio_size = item.source_size;
    const bool texts_changed = row.NewTitle != row.OldTitle || row.NewArtist != row.OldArtist ||
                               row.NewAlbum != row.OldAlbum;
    // A file shorter than a tag cannot hold one: a run leaves it alone.
    if (settings_.FlagConvertID3Tag != 1 || !texts_changed || item.source_size < kTagBlockSize) {
      return true;
    }
    char last[kTagBlockSize];
    const Transfer read = ReadAt(disk_, fd.get(), last, kTagBlockSize,
                                 static_cast<off_t>(item.source_size - kTagBlockSize));
    if (!read.ok()) {
      *error = "cannot read " + plan_.library + "/" + item.source + ": " +
               (read.error != 0 ? std::strerror(read.error) : "shorter than it was");
      return false;
    }
    if (std::memcmp(last, "TAG", 3) == 0) item.audio_size -= kTagBlockSize;
    item.tag = UpdatedTagBlock(last, row.NewTitle, row.NewArtist, row.NewAlbum);
    return true;
  }

  const Settings& settings_;
  ExportPlan& plan_;
  DiskOps& disk_;
  int library_fd_;
  std::unordered_map<std::string, std::string> targets_;
};

// A front end that keeps the plan from the change table: the export shows
// its own progress and summary, and the table of a run stays as it was.
class NoPlanFrontEnd : public FrontEnd {
 public:
  explicit NoPlanFrontEnd(FrontEnd& real) : real_(real) {}
  void AppendLog(std::u16string_view text) override { real_.AppendLog(text); }
  void ShowMessage(std::u16string_view text) override { real_.ShowMessage(text); }
  void ShowLog() override { real_.ShowLog(); }
  void PumpEvents() override { real_.PumpEvents(); }
  void TickCheckOnlyBoxes() override {}
  void ReportProgress(ProgressStage stage, int64_t done, int64_t total) override {
    real_.ReportProgress(stage, done, total);
  }

 private:
  FrontEnd& real_;
};

}  // namespace

bool DeriveExportPlan(const RunState& run, const Settings& settings, const std::string& library,
                      ExportPlan& plan, std::string* error, DiskOps& disk) {
  plan = ExportPlan{};
  plan.library = library;
  std::string own;
  if (error == nullptr) error = &own;
  UniqueFd library_fd =
      disk.OpenAt(AT_FDCWD, library.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (!library_fd) {
    *error = "cannot open " + library + ": " + std::strerror(errno);
    return false;
  }
  const std::u16string data_folder = Utf8ToUtf16Lossy(library);
  PlanBuilder builder(settings, plan, disk, library_fd.get());
  for (int32_t i = 1; i <= run.EntryCount; ++i) {
    if (!builder.Add(i, run.EntryTable[i], data_folder, error)) return false;
  }
  return true;
}

RunReport MakeExportPlan(AppState& app, ExportPlan& plan, DiskOps& disk) {
  RunState run;
  return MakeExportPlan(app, plan, run, disk);
}

RunReport MakeExportPlan(AppState& app, ExportPlan& plan, RunState& run, DiskOps& disk) {
  const Settings kept = app.settings;
  // The copy is made as a real run would change the library.
  app.settings.FlagCheckOnlyFilename = 0;
  app.settings.FlagCheckOnlyID3Tag = 0;
  FrontEnd* real = app.ui;
  NoPlanFrontEnd quiet(*real);
  app.ui = &quiet;
  RunReport report = PlanConversion(app, run, disk);
  app.ui = real;
  app.settings = kept;
  if (report.outcome != RunReport::Outcome::kCompleted) return report;
  std::string library = Utf16ToUtf8(kept.PathDataFolder);
  while (library.size() > 1 && library.back() == '/') library.pop_back();
  if (!DeriveExportPlan(run, kept, library, plan, &report.detail, disk)) {
    report.outcome = RunReport::Outcome::kStopped;
  }
  return report;
}

std::vector<ExportPlanProblem> CheckExportPlan(const ExportPlan& plan) {
  std::vector<ExportPlanProblem> problems;
  std::unordered_set<std::string> taken;
  for (size_t i = 0; i < plan.items.size(); ++i) {
    const std::string& target = plan.items[i].target;
    size_t start = 0;
    while (start <= target.size()) {
      size_t end = target.find('/', start);
      if (end == std::string::npos) end = target.size();
      const std::string_view name = std::string_view(target).substr(start, end - start);
      if (name.empty() || name == "." || name == ".." || name.size() > kNameMax ||
          name.find('\0') != std::string_view::npos) {
        problems.push_back({i, "unusable name in the copy: " + target});
        break;
      }
      start = end + 1;
    }
    if (!taken.insert(FoldedName(std::string_view(target), kWidestFolding)).second) {
      problems.push_back({i, "two items would get the same name in the copy: " + target});
    }
  }
  return problems;
}

}  // namespace tarvel
