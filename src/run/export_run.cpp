#include "run/export_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "files/export_copy.h"
#include "platform/directory.h"
#include "platform/library_lock.h"
#include "run/run_guard.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using Outcome = ExportReport::Outcome;

ExportReport Ended(ExportReport report, Outcome outcome, std::string detail) {
  report.outcome = outcome;
  report.detail = std::move(detail);
  return report;
}

// Entries that systems put at the top of a stick by themselves; a
// destination holding only these counts as empty.
bool MadeBySystem(std::string_view name) {
  static constexpr std::string_view kNames[] = {"System Volume Information",
                                                "$RECYCLE.BIN",
                                                ".Spotlight-V100",
                                                ".fseventsd",
                                                ".Trashes",
                                                "lost+found",
                                                ".metadata_never_index"};
  for (std::string_view known : kNames) {
    if (name == known) return true;
  }
  return name.starts_with(".Trash-");
}

std::string Join(const std::string& folder, std::string_view name) {
  return folder.empty() ? std::string(name) : folder + "/" + std::string(name);
}

// What the destination holds already, found by walking it: each entry must
// be a folder or file of the plan (an earlier export of it), a temporary of
// one (removed), or an entry a system makes on a stick.
class DestinationWalk {
 public:
  DestinationWalk(const ExportPlan& plan, std::string root) : root_(std::move(root)) {
    for (const ExportItem& item : plan.items)
      (item.is_file ? files_ : folders_).insert(item.target);
  }

  // False, with `detail`, at the first entry of another kind.
  bool Walk(const std::string& folder, std::string* detail) {
    DirectoryListing listing;
    const std::string path = Join(root_, folder);
    if (const int err = listing.Read(path, false); err != 0) {
      *detail = "cannot list " + path + ": " + std::strerror(err);
      return false;
    }
    std::vector<std::string> below;
    for (size_t i = 0; i < listing.size(); ++i) {
      const std::string name(listing.name(i));
      const std::string relative = Join(folder, name);
      const EntryKind kind = listing.kind(i);
      if (kind == EntryKind::kFile && name.starts_with(kExportPartPrefix)) {
        if (::unlink(Join(root_, relative).c_str()) == 0) ++parts_removed;
      } else if (kind == EntryKind::kFolder && folders_.count(relative) > 0) {
        below.push_back(relative);
      } else if (kind == EntryKind::kFile && files_.count(relative) > 0) {
        present.insert(relative);
      } else if (!folder.empty() || !MadeBySystem(name)) {
        *detail = root_ + " is not empty and is no export of this library (it holds " + relative +
                  "): choose an empty folder";
        return false;
      }
    }
    for (const std::string& next : below) {
      present.insert(next);
      if (!Walk(next, detail)) return false;
    }
    return true;
  }

  std::unordered_set<std::string> present;  // the plan's folders and files found
  int64_t parts_removed = 0;

 private:
  std::string root_;
  std::unordered_set<std::string> folders_;
  std::unordered_set<std::string> files_;
};

// The destination as a folder to write into: not inside the library,
// created when missing. False with the report's outcome set otherwise.
bool MakeDestination(const ExportPlan& plan, const std::string& destination, ExportReport& report) {
  std::error_code ec;
  const fs::path library = fs::weakly_canonical(plan.library, ec);
  const fs::path target = fs::weakly_canonical(destination, ec);
  const bool inside =
      !library.empty() && !target.empty() &&
      std::mismatch(library.begin(), library.end(), target.begin(), target.end()).first ==
          library.end();
  if (inside) {
    report = Ended(report, Outcome::kInvalidFolder,
                   destination + " lies in the library " + plan.library +
                       ", which an export never writes: choose a folder outside it");
    return false;
  }
  struct stat st {};
  if (::stat(destination.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    report = Ended(report, Outcome::kInvalidFolder, destination + " is not a folder");
    return false;
  }
  fs::create_directories(destination, ec);
  if (ec) {
    report = Ended(report, Outcome::kInvalidFolder,
                   "cannot create " + destination + ": " + ec.message());
    return false;
  }
  return true;
}

// Writes the items of a plan into an open destination.
class ExportWriter {
 public:
  ExportWriter(const ExportPlan& plan, FrontEnd& ui, DiskOps& disk, ExportOptions options,
               ExportReport& report)
      : plan_(plan), ui_(ui), disk_(disk), options_(options), report_(report) {}

  bool Open(const std::string& destination) {
    dest_ = destination;
    dest_fd_ = disk_.OpenAt(AT_FDCWD, destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    library_fd_ = disk_.OpenAt(AT_FDCWD, plan_.library.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dest_fd_ && library_fd_) return true;
    report_ = Ended(
        report_, Outcome::kStopped,
        "cannot open " + (dest_fd_ ? plan_.library : destination) + ": " + std::strerror(errno));
    return false;
  }

  // Which files are there already; false (refused) when the rest does not
  // fit into the room left.
  bool Settle(const std::unordered_set<std::string>& present) {
    struct statfs room {};
    if (disk_.FStatFs(dest_fd_.get(), &room) != 0) {
      report_ = Ended(report_, Outcome::kStopped,
                      "cannot learn the free space of " + dest_ + ": " + std::strerror(errno));
      return false;
    }
    const uint64_t block = room.f_frsize > 0 ? room.f_frsize : room.f_bsize;
    const auto rounded = [block](uint64_t n) {
      return block == 0 ? n : (n + block - 1) / block * block;
    };
    uint64_t needed = 0;
    done_.assign(plan_.items.size(), false);
    for (size_t i = 0; i < plan_.items.size(); ++i) {
      const ExportItem& item = plan_.items[i];
      if (present.count(item.target) > 0) {
        done_[i] = !item.is_file || ExportFileInPlace(disk_, Job(item));
      }
      if (!done_[i]) needed += item.is_file ? rounded(item.size()) : block;
    }
    const uint64_t free = static_cast<uint64_t>(room.f_bavail) * block;
    if (needed <= free) return true;
    report_.bytes_needed = needed;
    report_.bytes_free = free;
    report_ = Ended(report_, Outcome::kRefused,
                    "not enough room in " + dest_ + ": " + std::to_string(needed) +
                        " bytes to write, " + std::to_string(free) + " free; nothing was copied");
    return false;
  }

  bool WriteAll() {
    const int64_t total = plan_.file_count;
    int64_t files = 0;
    for (size_t i = 0; i < plan_.items.size(); ++i) {
      const ExportItem& item = plan_.items[i];
      if (!(done_[i] ? Skip(item) : Write(item))) {
        DropPending();
        return false;
      }
      if (!item.is_file) continue;
      ui_.ReportProgress(ProgressStage::kExport, ++files, total);
      ui_.PumpEvents();
    }
    if (!Finish()) return false;
    // Done means on the disk: the stick may come out as soon as it is said.
    if (::syncfs(dest_fd_.get()) != 0)
      return Stopped(std::string("cannot flush: ") + std::strerror(errno));
    return true;
  }

 private:
  bool Skip(const ExportItem& item) {
    if (item.is_file) ++report_.files_skipped;
    return true;
  }

  bool Write(const ExportItem& item) {
    if (!item.is_file) {
      if (::mkdirat(dest_fd_.get(), item.target.c_str(), 0755) != 0 && errno != EEXIST) {
        report_ = Ended(
            report_, Outcome::kStopped,
            "cannot create the folder " + Join(dest_, item.target) + ": " + std::strerror(errno));
        return false;
      }
      ++report_.folders_made;
      return true;
    }
    std::string error;
    Pending next{Job(item), {ExportPartName(pending_.size()), UniqueFd()}};
    if (next.job.target_dir_fd < 0 ||
        !WriteExportPart(disk_, next.job, options_.kernel_copy, next.part, &error)) {
      if (error.empty()) error = "cannot open the folder of " + item.target;
      return Stopped(error);
    }
    pending_bytes_ += item.size();
    pending_.push_back(std::move(next));
    return (pending_.size() < kBatchFiles && pending_bytes_ < kBatchBytes) || Finish();
  }

  // Puts the copies written so far in place: each is flushed (its data is
  // on its way since it was written, and the flushes of one batch share
  // their journal commits) and renamed.
  bool Finish() {
    for (size_t i = 0; i < pending_.size(); ++i) {
      Pending& p = pending_[i];
      std::string error;
      if (!FinishExportPart(disk_, p.job, p.part, &error, options_.flush)) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(i) + 1);
        DropPending();
        return Stopped(error);
      }
      ++report_.files_written;
      report_.bytes_written += p.job.size();
    }
    pending_.clear();
    pending_bytes_ = 0;
    retired_.clear();
    return true;
  }

  void DropPending() {
    for (Pending& p : pending_) DropExportPart(p.job, p.part);
    pending_.clear();
  }

  bool Stopped(const std::string& error) {
    report_ = Ended(report_, Outcome::kStopped, "export to " + dest_ + ": " + error);
    return false;
  }

  // The copy of `item`, with its folder open (kept while the items of one
  // folder follow each other).
  ExportFileJob Job(const ExportItem& item) {
    ExportFileJob job;
    const size_t slash = item.target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : item.target.substr(0, slash);
    if (!folder_fd_ || folder != folder_) {
      // The copies in hand still need their folder to be put in place.
      if (folder_fd_) retired_.push_back(std::move(folder_fd_));
      folder_ = folder;
      folder_fd_ = disk_.OpenAt(dest_fd_.get(), folder.c_str(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    }
    job.source_dir_fd = library_fd_.get();
    job.source = item.source;
    job.source_size = item.source_size;
    job.audio_size = item.audio_size;
    job.tag = item.tag;
    job.target_dir_fd = folder_fd_.get();
    job.target_name = slash == std::string::npos ? item.target : item.target.substr(slash + 1);
    return job;
  }

  const ExportPlan& plan_;
  FrontEnd& ui_;
  DiskOps& disk_;
  ExportOptions options_;
  ExportReport& report_;
  std::string dest_;
  UniqueFd dest_fd_;
  UniqueFd library_fd_;
  UniqueFd folder_fd_;
  std::string folder_;
  std::vector<bool> done_;  // by item: already in the copy

  // Copies written but not yet in place, flushed together once there are
  // this many of them or of their bytes: one flush per file costs a disk
  // round trip each and makes a copy many times slower than cp.
  static constexpr size_t kBatchFiles = 128;
  static constexpr uint64_t kBatchBytes = uint64_t{64} << 20;
  struct Pending {
    ExportFileJob job;
    ExportPart part;
  };
  std::vector<Pending> pending_;
  uint64_t pending_bytes_ = 0;
  std::vector<UniqueFd> retired_;  // folders of the copies in hand
};

}  // namespace

ExportReport WriteExport(const ExportPlan& plan, const std::string& destination, FrontEnd& ui,
                         DiskOps& disk, ExportOptions options) {
  ExportReport report;
  if (const auto problems = CheckExportPlan(plan); !problems.empty()) {
    return Ended(report, Outcome::kRefused, problems.front().detail + "; nothing was copied");
  }
  if (!MakeDestination(plan, destination, report)) return report;
  DestinationWalk walk(plan, destination);
  std::string detail;
  if (!walk.Walk("", &detail)) return Ended(report, Outcome::kInvalidFolder, detail);
  report.parts_removed = walk.parts_removed;
  ExportWriter writer(plan, ui, disk, options, report);
  if (writer.Open(destination) && writer.Settle(walk.present)) writer.WriteAll();
  return report;
}

ExportReport RunExport(AppState& app, const std::string& destination, DiskOps& disk,
                       ExportOptions options) {
  ExportPlan plan;
  PlayerCheck player;
  ExportReport report = ReportOfPlan<ExportReport>(MakePlayerExportPlan(app, plan, player, disk));
  report.player = std::move(player);
  if (report.outcome != Outcome::kCompleted) return report;
  if (!report.player.violations.empty()) {
    std::string text = RefusalText(report.player);
    return Ended(std::move(report), Outcome::kRefused, std::move(text));
  }
  // No run or restore renames the library while it is copied.
  RunGuard guard(app);
  LibraryLock lock;
  std::string why;
  if (!guard.acquired() || lock.Take(plan.library, &why) != LibraryLock::Status::kTaken) {
    return Ended(report, Outcome::kBusy, why);
  }
  ExportReport written = WriteExport(plan, destination, *app.ui, disk, options);
  written.player = std::move(report.player);
  return written;
}

}  // namespace tarvel
